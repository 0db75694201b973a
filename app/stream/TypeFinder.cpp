#include "TypeFinder.h"

namespace platora {

namespace {

constexpr int otherCarrierUpdatesToSwitch = 5;

}  // namespace

void TypeFinder::find(Deck& deck, const DeckMeasures& now) {
    if (!automatic) return;
    const std::int32_t type = deck.vinylType();
    // A FinalScratch frame missing from the table is a frame of the type all the same.
    if (now.timecodesPerSecond > 0 || now.framesNotInTable > 0) {
        if (!typeConfirmed) found = lastFoundType = type;
        typeConfirmed = true;
        otherCarrierUpdates = 0;
        return;
    }
    if (!looksLikeOtherType(now.carrierHz[louder(now)], type)) {
        otherCarrierUpdates = 0;
        return;
    }
    if (++otherCarrierUpdates < otherCarrierUpdatesToSwitch) return;
    deck.requestVinylType(otherType(type));
    const auto current = static_cast<VinylType>(type);
    // A calibration left at the type's default follows the type.
    if (deck.decoder().getCalibration() == vinylFormat(current).defaultCalibration)
        deck.setCalibration(vinylFormat(otherType(current)).defaultCalibration);
    typeConfirmed = false;
    lastFoundType = -1;
    otherCarrierUpdates = 0;
}

bool TypeFinder::inDoubt(const DeckMeasures& now) const {
    if (!automatic) return false;
    if (!typeConfirmed || otherCarrierUpdates > 0) return true;
    // A record of the other type put on: the frames of the old one are counted for a second
    // yet, while the reading of the new one by the old type already reaches the host.
    return !now.frameLately && looksLikeOtherType(now.recentCarrierHz[louder(now)], now.vinylType);
}

std::int32_t TypeFinder::takeFound() {
    const std::int32_t type = found;
    found = -1;
    return type;
}

}  // namespace platora
