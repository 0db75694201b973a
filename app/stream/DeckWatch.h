#pragma once

#include "Deck.h"
#include "DeckState.h"
#include "TypeFinder.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platora {

// One deck seen from the streaming loop about ten times a second: its counters over the last
// second, the state shown and the one waiting to be shown; an automatic deck's type found
// by its TypeFinder. While the type is in doubt (automatic and not confirmed by a frame, a
// record of the other type seemingly put on, or a type shown as wrong) the deck withholds
// its readings (Deck::withhold).
class DeckWatch {
public:
    // An automatic deck withholds from here on: make the watch before anything is sent. The
    // deck must outlive the watch.
    explicit DeckWatch(Deck& deck, bool automaticType = false);

    // Call about ten times a second. Returns true when the shown state changed.
    bool update(bool inputLost);
    // The input came back: the state starts over.
    void restart() { shownState = candidate = DeckState::none; }

    Deck& watched() const { return *deck; }
    DeckState shown() const { return shownState; }
    const DeckMeasures& measures() const { return now; }
    int qualityPercent() const;  // bits per peak over the last second; -1 without peaks
    // Whether the shown state changed since the last call.
    bool takeChange();
    // The type found since the last call, once per finding (-1: none).
    std::optional<VinylType> takeFoundType() { return finder.takeFound(); }
    // What the live line shows after the state: its hint, or the type found while decoding.
    std::string lineHint() const;

private:
    void measure();

    Deck* deck;
    TypeFinder finder;
    std::vector<SignalDiagnosis::Reading> signal;       // the last second's readings, oldest first
    std::vector<std::array<std::uint32_t, 3>> decoded;  // peaks, peaks with bits, frames not in table
    DeckMeasures now;
    DeckState shownState = DeckState::none;
    DeckState candidate = DeckState::none;
    int candidateUpdates = 0;
    bool changeUntaken = false;
};

}  // namespace platora
