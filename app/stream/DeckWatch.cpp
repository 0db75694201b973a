#include "DeckWatch.h"

#include "CaptureController.h"

#include <algorithm>

namespace platora {

namespace {

constexpr std::size_t updatesPerSecond = 10;
constexpr double msPerSecond = 1000.0;
// A state shows only once it has held this many updates, so a record that slows through
// the threshold does not write a line per update; a fault must hold longer.
constexpr int updatesToSettle = 5;
constexpr int faultUpdatesToSettle = 10;
constexpr int backwardsUpdatesToSettle = 30;  // a scratch backwards is no fault
constexpr int unknownQuality = -1;
// The share of peaks that carry a bit on a perfect signal played forward: every FinalScratch
// peak, three in four Mixvibes peaks (one of the four kinds of peak keeps its level). The
// shift-register types count only the peaks that carry their bits.
double bitCarryingShare(VinylType vinylType) {
    return vinylType == FinalScratch || shiftRegisterFormat(vinylType) != nullptr ? 1.0 : 0.75;
}

bool isFault(DeckState state) {
    return state != DeckState::decoding && state != DeckState::stopped && state != DeckState::noSignal &&
           state != DeckState::inputLost && state != DeckState::endOfRecord;
}

int updatesToShow(DeckState state) {
    if (state == DeckState::inputLost) return 1;
    if (state == DeckState::backwards) return backwardsUpdatesToSettle;
    return isFault(state) ? faultUpdatesToSettle : updatesToSettle;
}

}  // namespace

DeckWatch::DeckWatch(Deck& deck, bool automaticType) : deck(&deck), finder(automaticType) {
    deck.withhold(automaticType);
}

void DeckWatch::measure() {
    signal.push_back(deck->diagnosis().read());
    const TimecodeDecoder& decoder = deck->decoder();
    decoded.push_back({decoder.peaksSeen(), decoder.peaksWithBits(), decoder.framesNotInTable()});
    if (signal.size() > updatesPerSecond + 1) {
        signal.erase(signal.begin());
        decoded.erase(decoded.begin());
    }
    // Unsigned differences stay right across the counters' wrap.
    const SignalDiagnosis::Reading& first = signal.front();
    const SignalDiagnosis::Reading& before = signal[signal.size() > 1 ? signal.size() - 2 : 0];
    const SignalDiagnosis::Reading& last = signal.back();
    const std::uint32_t frames = last.frames - first.frames;
    const double seconds = static_cast<double>(frames) / CaptureController::sampleRateHz;
    const std::uint32_t recentFrames = last.frames - before.frames;
    const double recentSeconds = static_cast<double>(recentFrames) / CaptureController::sampleRateHz;
    now.vinylType = deck->vinylType();
    now.level = last.level;
    for (int ch = 0; ch < 2; ++ch) {
        now.carrierHz[ch] = frames == 0 ? 0.0 : (last.crossings[ch] - first.crossings[ch]) / 2.0 / seconds;
        now.recentCarrierHz[ch] =
            recentFrames == 0 ? 0.0 : (last.crossings[ch] - before.crossings[ch]) / 2.0 / recentSeconds;
    }
    now.fullScaleShare = frames == 0 ? 0.0 : (last.fullScaleSamples - first.fullScaleSamples) / (2.0 * frames);
    now.peaksPerSecond = frames == 0 ? 0.0 : (decoded.back()[0] - decoded.front()[0]) / seconds;
    now.bitPeaksPerSecond = frames == 0 ? 0.0 : (decoded.back()[1] - decoded.front()[1]) / seconds;
    now.framesNotInTable = decoded.back()[2] - decoded.front()[2];
    const float ageMs = decoder.positionAgeMs();
    now.frameLately = ageMs >= 0.0f && ageMs <= recentSeconds * msPerSecond;
    now.timecodesPerSecond = deck->getTimecodesPerSecond();
    now.speed = deck->getSpeed();
    now.speedOutOfRange = deck->speedRefused();
    now.endOfRecord = decoder.atEndOfRecord();
}

bool DeckWatch::update(bool inputLost) {
    measure();
    if (!inputLost) finder.find(*deck, now);
    DeckState state = inputLost ? DeckState::inputLost : judge(now);
    // Until the type is found, what the signal reads under the type tried tells nothing, its
    // direction included.
    if (finder.findsType() && !finder.confirmed() &&
        (state == DeckState::wrongType || state == DeckState::decoding || state == DeckState::backwards))
        state = shownState;
    candidateUpdates = state == candidate ? candidateUpdates + 1 : 1;
    candidate = state;
    const bool changed = state != shownState && candidateUpdates >= updatesToShow(state);
    if (changed) shownState = state;
    changeUntaken = changeUntaken || changed;
    deck->withhold(shownState == DeckState::wrongType || finder.inDoubt(now));
    return changed;
}

bool DeckWatch::takeChange() {
    const bool changed = changeUntaken;
    changeUntaken = false;
    return changed;
}

std::string DeckWatch::lineHint() const {
    if (shownState == DeckState::decoding && finder.lastFound())
        return std::string("found ") + vinylFormat(*finder.lastFound()).optionName;
    return stateHint(shownState, now);
}

int DeckWatch::qualityPercent() const {
    if (now.peaksPerSecond == 0.0) return unknownQuality;
    const double share = now.bitPeaksPerSecond / (now.peaksPerSecond * bitCarryingShare(now.vinylType));
    return static_cast<int>(100.0 * std::min(share, 1.0) + 0.5);
}


}  // namespace platora
