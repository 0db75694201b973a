#include "LiveStatus.h"

#include "ConsoleControl.h"
#include "ScopeDrawing.h"
#include "ScratchMessages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace platora {

namespace {

constexpr std::size_t updatesPerSecond = 10;
// A state shows only once it has held this many updates, so a record that slows through
// the threshold does not write a line per update; a fault must hold longer.
constexpr int updatesToSettle = 5;
constexpr int faultUpdatesToSettle = 10;
constexpr int backwardsUpdatesToSettle = 30;  // a scratch backwards is no fault
constexpr int otherCarrierUpdatesToSwitch = 5;
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
constexpr double peaksPerCycle = 4.0;
constexpr double noisyPeakExcess = 1.25;
constexpr double noisyPeaksPerSecond = 200.0;  // a record turning, not a few clicks
constexpr int unknownQuality = -1;
// The share of peaks that carry a bit on a perfect signal played forward: every FinalScratch
// peak, three in four Mixvibes peaks (one of the four kinds of peak keeps its level).
double bitCarryingShare(std::int32_t vinylType) { return vinylType == FinalScratch ? 1.0 : 0.75; }
constexpr int scopeRowsMin = 3;
constexpr int scopeRowsMax = 8;

double carrierOf(std::int32_t type) { return vinylFormat(static_cast<VinylType>(type)).carrierHz; }
VinylType otherType(std::int32_t type) { return type == Mixvibes ? FinalScratch : Mixvibes; }

bool closeToCarrier(double hz, double carrier) { return std::fabs(hz - carrier) <= carrierTolerance * carrier; }

std::size_t louder(const DeckMeasures& m) { return m.level[1] > m.level[0] ? 1 : 0; }

bool isFault(DeckState state) {
    return state != DeckState::decoding && state != DeckState::stopped && state != DeckState::noSignal &&
           state != DeckState::inputLost;
}

int updatesToShow(DeckState state) {
    if (state == DeckState::inputLost) return 1;
    if (state == DeckState::backwards) return backwardsUpdatesToSettle;
    return isFault(state) ? faultUpdatesToSettle : updatesToSettle;
}

}  // namespace

DeckState judge(const DeckMeasures& m) {
    const std::size_t loud = louder(m);
    const std::int32_t level = m.level[loud];
    const bool turning = m.carrierHz[loud] >= turningCarrierHz;
    if (level < noSignalLevel) return DeckState::noSignal;
    if (m.fullScaleShare > clippingShare) return DeckState::clipping;
    if (m.speedOutOfRange) return DeckState::speedOutOfRange;
    if (turning && m.level[1 - loud] * silentChannelRatio < level) return DeckState::oneChannelSilent;
    if (turning && level < tooQuietLevel) return DeckState::tooQuiet;
    if (turning && m.timecodesPerSecond == 0) {
        const std::int32_t other = otherType(m.vinylType);
        const double hz = m.carrierHz[loud];
        if (closeToCarrier(hz, carrierOf(other)) && !closeToCarrier(hz, carrierOf(m.vinylType)))
            return DeckState::wrongType;
        if (m.framesNotInTable > 0) return DeckState::notInTable;
        // Before noisy: played backwards, the bits read are no better than noise.
        if (m.speed < 0.0f) return DeckState::backwards;
        if (m.peaksPerSecond >= noisyPeaksPerSecond &&
            m.peaksPerSecond > noisyPeakExcess * peaksPerCycle * m.carrierHz[loud])
            return DeckState::noisy;
    }
    if (turning && m.speed < 0.0f) return DeckState::backwards;
    if (m.speed != 0.0f) return DeckState::decoding;
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

bool DeckWatch::update(Deck& deck, bool inputLost) {
    signal.push_back(deck.diagnosis().read());
    const TimecodeDecoder& decoder = deck.decoder();
    decoded.push_back({decoder.getPeaksSeen(), decoder.getPeaksWithBits(), decoder.getFramesNotInTable()});
    if (signal.size() > updatesPerSecond + 1) {
        signal.erase(signal.begin());
        decoded.erase(decoded.begin());
    }
    // Unsigned differences stay right across the counters' wrap.
    const SignalDiagnosis::Reading& first = signal.front();
    const SignalDiagnosis::Reading& last = signal.back();
    const std::uint32_t frames = last.frames - first.frames;
    const double seconds = static_cast<double>(frames) / CaptureController::sampleRateHz;
    now.vinylType = deck.vinylType();
    now.level = last.level;
    for (int ch = 0; ch < 2; ++ch)
        now.carrierHz[ch] = frames == 0 ? 0.0 : (last.crossings[ch] - first.crossings[ch]) / 2.0 / seconds;
    now.fullScaleShare = frames == 0 ? 0.0 : (last.fullScaleSamples - first.fullScaleSamples) / (2.0 * frames);
    now.peaksPerSecond = frames == 0 ? 0.0 : (decoded.back()[0] - decoded.front()[0]) / seconds;
    now.bitPeaksPerSecond = frames == 0 ? 0.0 : (decoded.back()[1] - decoded.front()[1]) / seconds;
    now.framesNotInTable = decoded.back()[2] - decoded.front()[2];
    now.timecodesPerSecond = deck.getTimecodesPerSecond();
    now.speed = deck.getSpeed();
    now.speedOutOfRange = deck.speedRefused();

    if (automaticType && !inputLost) findType(deck);
    DeckState state = inputLost ? DeckState::inputLost : judge(now);
    // Until the type is found, what the signal reads under the type tried tells nothing.
    if (automaticType && !typeConfirmed && (state == DeckState::wrongType || state == DeckState::decoding))
        state = shownState;
    candidateUpdates = state == candidate ? candidateUpdates + 1 : 1;
    candidate = state;
    if (state == shownState || candidateUpdates < updatesToShow(state)) return false;
    shownState = state;
    return true;
}

void DeckWatch::findType(Deck& deck) {
    const std::int32_t type = deck.vinylType();
    // A FinalScratch frame missing from the table is a frame of the type all the same.
    if (now.timecodesPerSecond > 0 || now.framesNotInTable > 0) {
        if (!typeConfirmed) found = lastFound = type;
        typeConfirmed = true;
        otherCarrierUpdates = 0;
        return;
    }
    const double hz = now.carrierHz[louder(now)];
    if (!closeToCarrier(hz, carrierOf(otherType(type))) || closeToCarrier(hz, carrierOf(type))) {
        otherCarrierUpdates = 0;
        return;
    }
    if (++otherCarrierUpdates < otherCarrierUpdatesToSwitch) return;
    deck.requestVinylType(otherType(type));
    // A calibration left at the type's default follows the type.
    const auto current = static_cast<VinylType>(type);
    if (deck.decoder().getCalibration() == vinylFormat(current).defaultCalibration)
        deck.setCalibration(vinylFormat(otherType(current)).defaultCalibration);
    typeConfirmed = false;
    lastFound = -1;
    otherCarrierUpdates = 0;
}

std::int32_t DeckWatch::takeFoundType() {
    const std::int32_t type = found;
    found = -1;
    return type;
}

std::string DeckWatch::lineHint() const {
    if (shownState == DeckState::decoding && lastFound >= 0)
        return std::string("found ") + vinylFormat(static_cast<VinylType>(lastFound)).optionName;
    return stateHint(shownState, now);
}

int DeckWatch::qualityPercent() const {
    if (now.peaksPerSecond == 0.0) return unknownQuality;
    const double share = now.bitPeaksPerSecond / (now.peaksPerSecond * bitCarryingShare(now.vinylType));
    return static_cast<int>(100.0 * std::min(share, 1.0) + 0.5);
}

LiveStatus::LiveStatus(CaptureController& controller, Output output, bool scope, const std::vector<bool>& automaticType)
    : controller(controller), output(output), scope(scope) {
    for (std::size_t i = 0; i < controller.deckCount(); ++i)
        watches.emplace_back(i < automaticType.size() && automaticType[i]);
}

std::string LiveStatus::describe(std::size_t index, float position, float speed, std::int32_t tps, std::int32_t level,
                                 int qualityPercent, float depth, const std::string& state) {
    char quality[16] = "  --";
    if (qualityPercent >= 0) std::snprintf(quality, sizeof quality, "%3d%%", qualityPercent);
    char depthText[16] = "  --";
    if (depth > 0.0f) std::snprintf(depthText, sizeof depthText, "%4.2f", static_cast<double>(depth));
    char line[176];
    std::snprintf(line, sizeof line,
                  "deck %zu: position %9.3f s  speed %7.1f %%  tps %4d  level %5.3f  quality %s  depth %s  ", index,
                  static_cast<double>(position), speed * speedPercent, static_cast<int>(tps), level / levelFullScale,
                  quality, depthText);
    return line + state;
}

void LiveStatus::update(bool inputLost) {
    std::string screen;
    std::size_t lines = 0;
    for (std::size_t i = 0; i < watches.size(); ++i) {
        Deck& deck = controller.deck(i);
        DeckWatch& watch = watches[i];
        const bool changed = watch.update(deck, inputLost);
        const std::int32_t found = watch.takeFoundType();
        if (output == Output::terminal) {
            screen += terminalLines(i, deck, watch, inputLost, lines);
            continue;
        }
        if (output != Output::log) continue;
        if (found >= 0) std::printf("deck %zu: found %s\n", i, vinylFormat(static_cast<VinylType>(found)).optionName);
        if (changed) {
            const std::string hint = stateHint(watch.shown(), watch.measures());
            std::printf("deck %zu: %s%s%s\n", i, stateName(watch.shown()), hint.empty() ? "" : ": ", hint.c_str());
        }
    }
    if (output == Output::terminal) {
        // Back up over the lines drawn last time and draw them anew.
        if (linesDrawn > 0) std::printf("\x1b[%zuA", linesDrawn);
        std::fputs(screen.c_str(), stdout);
        std::fputs("\x1b[J", stdout);  // what a taller drawing left below
        linesDrawn = lines;
    }
    std::fflush(stdout);
}

std::string LiveStatus::terminalLines(std::size_t index, Deck& deck, const DeckWatch& watch, bool inputLost,
                                      std::size_t& lineCount) const {
    std::string state = stateName(watch.shown());
    if (const std::string hint = watch.lineHint(); !hint.empty()) state += ": " + hint;
    // Erase each line, then write it: no trailing leftovers from a longer one.
    const std::string erase = "\r\x1b[2K";
    // The values sent, not the decoder's: while the input is lost they differ.
    const DeckReading sent = deck.reading(inputLost);
    const std::string line =
        describe(index, sent.position, sent.speed, sent.timecodesPerSecond, sent.level, watch.qualityPercent(),
                 deck.decoder().getDepth(), state);
    int columns = 0;
    int rows = 0;
    terminalSize(columns, rows);
    // A line longer than the terminal would wrap, and the redraw would no longer find its start.
    const auto width = static_cast<std::size_t>(std::max(columns - 1, 1));
    const std::string figures = line.substr(0, line.size() - state.size());
    if (!scope) {
        if (line.size() <= width) {
            ++lineCount;
            return erase + line + "\n";
        }
        lineCount += 2;
        return erase + figures.substr(0, width) + "\n" + erase + "  " + state.substr(0, width - 2) + "\n";
    }
    const int deckRows = std::clamp((rows - 1) / static_cast<int>(watches.size()), scopeRowsMin, scopeRowsMax);
    const int scopeColumns = 2 * deckRows;  // a braille dot is as wide as it is tall
    const auto textColumns = static_cast<std::size_t>(std::max(columns - scopeColumns - 3, 0));
    // The live line beside the scope's first row, its state beside the second.
    const std::vector<std::string> drawing = drawScope(deck.scope().copy(), scopeColumns, deckRows);
    std::string out;
    for (int r = 0; r < deckRows; ++r) {
        const std::string text = r == 0 ? figures : r == 1 ? state : "";
        out += erase + drawing[static_cast<std::size_t>(r)] + "  " + text.substr(0, textColumns) + "\n";
    }
    lineCount += static_cast<std::size_t>(deckRows);
    return out;
}

void LiveStatus::announce(const std::string& line) {
    if (output == Output::terminal && linesDrawn > 0) {
        // Up to the first deck line, and everything below it erased.
        std::printf("\x1b[%zuA\r\x1b[J", linesDrawn);
        linesDrawn = 0;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void LiveStatus::rejoined() {
    for (std::size_t i = 0; i < watches.size(); ++i) {
        watches[i].restart();
        if (output == Output::log) std::printf("deck %zu: rejoined\n", i);
    }
    std::fflush(stdout);
}

}  // namespace platora
