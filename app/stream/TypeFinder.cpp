#include "TypeFinder.h"

#include <cmath>

namespace platora {

namespace {

constexpr int otherCarrierUpdatesToSwitch = 5;

// Mixvibes' 7" carries the 12"'s code: no signal tells them apart, and the longer side reads both.
bool findable(VinylType type) { return type != Mixvibes7Inch; }

// The type an automatic deck tries next on a carrier of hz that `type` reads nothing of: of
// those not tried yet whose carrier hz is close to, the nearest (other sides and makes on the
// same carrier among them); nothing when there is none.
std::optional<VinylType> nextType(VinylType type, double hz, std::uint32_t tried) {
    std::optional<VinylType> best;
    double bestDistance = 0.0;
    for (const VinylFormat& format : vinylFormats) {
        if (format.type == type || !findable(format.type) || ((tried >> format.type) & 1u) != 0) continue;
        if (!closeToCarrier(hz, format.carrierHz)) continue;
        const double distance = std::fabs(hz - format.carrierHz) / format.carrierHz;
        if (!best || distance < bestDistance) {
            best = format.type;
            bestDistance = distance;
        }
    }
    return best;
}

// The format whose carrier lies nearest hz, relatively.
VinylType nearestType(double hz) {
    VinylType best = FinalScratch;
    double bestDistance = -1.0;
    for (const VinylFormat& format : vinylFormats) {
        const double distance = std::fabs(hz - format.carrierHz) / format.carrierHz;
        if (bestDistance < 0.0 || distance < bestDistance) {
            best = format.type;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace

void TypeFinder::find(Deck& deck, const DeckMeasures& now) {
    if (!automatic) return;
    const VinylType type = deck.vinylType();
    // A FinalScratch frame missing from the table is a frame of the type all the same.
    // A frame read lately confirms the type before the second its count takes, so that a
    // carrier other types share is not tried on them meanwhile; the shift-register types count
    // their timecodes only once a lock has held, at once, and a lock alone may be a chance one.
    const bool readLately = now.frameLately && shiftRegisterFormat(type) == nullptr;
    // Robust mode's level split lets another format's carrier match a FinalScratch sync by
    // chance, frame after frame: a frame the table lacks speaks for FinalScratch only on a
    // carrier nearer its own than any other format's.
    const double hz = now.carrierHz[louder(now)];
    const bool notInTable = type == FinalScratch && now.framesNotInTable > 0 && nearestType(hz) == type;
    if (now.timecodesPerSecond > 0 || notInTable || readLately) {
        if (!typeConfirmed) found = lastFoundType = type;
        typeConfirmed = true;
        otherCarrierUpdates = 0;
        triedTypes = 0;
        return;
    }
    triedTypes |= 1u << type;
    std::optional<VinylType> next = nextType(type, hz, triedTypes);
    if (!next && triedTypes != 1u << type) {
        triedTypes = 1u << type;  // every candidate tried: round again
        next = nextType(type, hz, triedTypes);
    }
    if (!next) {
        otherCarrierUpdates = 0;
        return;
    }
    if (++otherCarrierUpdates < otherCarrierUpdatesToSwitch) return;
    deck.requestVinylType(*next);
    // A calibration left at the type's default follows the type.
    if (deck.decoder().calibration() == vinylFormat(type).defaultCalibration)
        deck.setCalibration(vinylFormat(*next).defaultCalibration);
    typeConfirmed = false;
    lastFoundType.reset();
    otherCarrierUpdates = 0;
}

bool TypeFinder::inDoubt(const DeckMeasures& now) const {
    if (!automatic) return false;
    if (!typeConfirmed || otherCarrierUpdates > 0) return true;
    // A record of the other type put on: the frames of the old one are counted for a second
    // yet, while the reading of the new one by the old type already reaches the host.
    return !now.frameLately && looksLikeOtherType(now.recentCarrierHz[louder(now)], now.vinylType);
}

std::optional<VinylType> TypeFinder::takeFound() {
    const std::optional<VinylType> type = found;
    found.reset();
    return type;
}

}  // namespace platora
