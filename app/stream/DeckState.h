#pragma once

#include "VinylType.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platora {

// What a deck is doing or what is wrong with its signal. Fault states are told only once
// they have held a while, so a record that plays, stops and plays again raises none.
enum class DeckState {
    none,
    decoding,
    stopped,
    noSignal,
    tooQuiet,
    clipping,
    oneChannelSilent,
    wrongType,
    notInTable,
    noisy,
    backwards,
    speedOutOfRange,
    inputLost,
    endOfRecord,  // past the last cycle of a shift-register side
};

// A deck's signal over about the last second, formed from its counters.
struct DeckMeasures {
    VinylType vinylType = FinalScratch;
    std::array<std::int32_t, 2> level{};      // each channel's, in the last block
    std::array<double, 2> carrierHz{};        // half the zero crossings per second, each channel
    std::array<double, 2> recentCarrierHz{};  // the same since the look before
    double fullScaleShare = 0.0;              // of all samples
    double peaksPerSecond = 0.0;              // the decoder's
    double bitPeaksPerSecond = 0.0;           // of those, the ones that gave a bit
    std::uint32_t framesNotInTable = 0;       // in the last second
    std::int32_t timecodesPerSecond = 0;
    bool frameLately = false;  // since the look before
    float speed = 0.0f;
    bool speedOutOfRange = false;
    bool endOfRecord = false;
};

// The state these measures point to, before any holding; never none or inputLost.
DeckState judge(const DeckMeasures& measures);
// The pinned word of a state, and the hint that may follow it (empty for none).
const char* stateName(DeckState state);
std::string stateHint(DeckState state, const DeckMeasures& measures);

// Which channel is the louder; the other type's carrier near this one's frequency (and this
// type's not): what finding and judging the type go by.
std::size_t louder(const DeckMeasures& measures);
bool closeToCarrier(double hz, double carrierHz);
VinylType otherType(VinylType type);
bool looksLikeOtherType(double carrierHz, VinylType type);

}  // namespace platora
