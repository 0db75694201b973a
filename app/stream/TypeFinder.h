#pragma once

#include "Deck.h"
#include "DeckState.h"

#include <cstdint>
#include <optional>

namespace platora {

// Finds an automatic deck's type from its signal: a frame confirms the type tried; a carrier
// that stays near the other type's switches the deck to it, and a calibration left at the
// type's default follows the type. Main thread, about ten times a second; a deck of a
// fixed type is left alone.
class TypeFinder {
public:
    explicit TypeFinder(bool automatic) : automatic(automatic) {}

    bool findsType() const { return automatic; }
    void find(Deck& deck, const DeckMeasures& now);
    bool confirmed() const { return typeConfirmed; }
    // Not confirmed yet, or a record of the other type seemingly put on.
    bool inDoubt(const DeckMeasures& now) const;
    // The type found since the last call, once per finding.
    std::optional<VinylType> takeFound();
    // The type confirmed last, until the deck tries another.
    std::optional<VinylType> lastFound() const { return lastFoundType; }

private:
    bool automatic;
    bool typeConfirmed = false;
    int otherCarrierUpdates = 0;
    std::uint32_t triedTypes = 0;  // bit per type tried since a type was last confirmed
    std::optional<VinylType> found;
    std::optional<VinylType> lastFoundType;
};

}  // namespace platora
