#include "DeckState.h"

#include "TimecodeDecoder.h"

#include <cmath>

namespace platora {

namespace {

// Below this nothing is there at all (-48 dBFS).
constexpr std::int32_t noSignalLevel = 128;
// The decoder sees a swing only once it comes back by its hysteresis; two low half cycles
// in a row swing by half the level each way, so below this level they make no peak.
constexpr std::int32_t tooQuietLevel = TimecodeDecoder::hysteresis;
constexpr std::int32_t silentChannelRatio = 10;  // -20 dB against the other channel
constexpr double clippingShare = 0.01;
// Faults are judged only on a carrier above mains hum and its first harmonic: a hum alone is
// no record turning, and a record slower than this is being handled.
constexpr double turningCarrierHz = 150.0;
constexpr double carrierTolerance = 0.2;  // either way of a format's carrier at nominal speed
// A clean carrier gives four peaks a cycle (a crest and a trough on each channel); noise adds
// peaks that carry no bit. Bits per peak tell less: a clean Mixvibes record gives 3 in 4, noise 2 in 3.
constexpr double noisyPeakExcess = 1.25;
constexpr double noisyPeaksPerSecond = 200.0;  // a record turning, not a few clicks

double carrierOf(VinylType type) { return vinylFormat(type).carrierHz; }

}  // namespace

bool closeToCarrier(double hz, double carrier) { return std::fabs(hz - carrier) <= carrierTolerance * carrier; }

std::size_t louder(const DeckMeasures& m) { return m.level[1] > m.level[0] ? 1 : 0; }
VinylType otherType(VinylType type) { return type == Mixvibes ? FinalScratch : Mixvibes; }
bool looksLikeOtherType(double hz, VinylType type) {
    return closeToCarrier(hz, carrierOf(otherType(type))) && !closeToCarrier(hz, carrierOf(type));
}

DeckState judge(const DeckMeasures& m) {
    const std::size_t loud = louder(m);
    const std::int32_t level = m.level[loud];
    const bool turning = m.carrierHz[loud] >= turningCarrierHz;
    if (level < noSignalLevel) return DeckState::noSignal;
    if (m.fullScaleShare > clippingShare) return DeckState::clipping;
    if (m.endOfRecord) return DeckState::endOfRecord;
    // The other format's carrier explains whatever speed is read from it; which speed that is
    // depends on where in the signal decoding began.
    if (m.speedOutOfRange && !(turning && looksLikeOtherType(m.carrierHz[loud], m.vinylType)))
        return DeckState::speedOutOfRange;
    if (turning && m.level[1 - loud] * silentChannelRatio < level) return DeckState::oneChannelSilent;
    if (turning && level < tooQuietLevel) return DeckState::tooQuiet;
    if (turning && m.timecodesPerSecond == 0) {
        if (looksLikeOtherType(m.carrierHz[loud], m.vinylType)) return DeckState::wrongType;
        if (m.framesNotInTable > 0) return DeckState::notInTable;
        // Before noisy: played backwards, the bits read are no better than noise.
        if (m.speed < 0.0f) return DeckState::backwards;
        if (m.peaksPerSecond >= noisyPeaksPerSecond &&
            m.peaksPerSecond > noisyPeakExcess * peaksPerCycle * m.carrierHz[loud])
            return DeckState::noisy;
    }
    if (turning && m.speed < 0.0f) return DeckState::backwards;
    if (m.speed != 0.0f) return DeckState::decoding;
    // The decoder's speed 0 says only that it made nothing of the peaks; a record that stopped
    // takes its carrier with it, one under heavy noise does not.
    if (m.recentCarrierHz[loud] >= turningCarrierHz) return DeckState::noisy;
    return DeckState::stopped;
}

const char* stateName(DeckState state) {
    switch (state) {
        case DeckState::decoding:
            return "decoding";
        case DeckState::stopped:
            return "stopped";
        case DeckState::noSignal:
            return "no signal";
        case DeckState::tooQuiet:
            return "too quiet";
        case DeckState::clipping:
            return "clipping";
        case DeckState::oneChannelSilent:
            return "one channel silent";
        case DeckState::wrongType:
            return "wrong type";
        case DeckState::notInTable:
            return "not in table";
        case DeckState::noisy:
            return "noisy";
        case DeckState::backwards:
            return "backwards";
        case DeckState::speedOutOfRange:
            return "speed out of range";
        case DeckState::inputLost:
            return "input lost";
        case DeckState::endOfRecord:
            return "end of record";
        case DeckState::none:
            break;
    }
    return "";
}

std::string stateHint(DeckState state, const DeckMeasures& m) {
    switch (state) {
        case DeckState::tooQuiet:
            return "try --preamp auto or the phono input";
        case DeckState::clipping:
            return "lower the preamp gain, or use the line input";
        case DeckState::oneChannelSilent:
            return std::string(louder(m) == 0 ? "right" : "left") + " carries nothing; check the cable";
        case DeckState::wrongType:
            return std::string("the record looks like ") + vinylFormat(otherType(m.vinylType)).optionName +
                   "; or choose auto";
        case DeckState::notInTable:
            return "the FinalScratch code table lacks this record's codes";
        case DeckState::noisy:
            return "check the ground, the cables and the stylus";
        case DeckState::backwards:
            return "a backspin, or left and right swapped";
        case DeckState::speedOutOfRange:
            return "sent as 0";
        default:
            return "";
    }
}

}  // namespace platora
