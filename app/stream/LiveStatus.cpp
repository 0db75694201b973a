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
constexpr double msPerSecond = 1000.0;
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
// peak, three in four Mixvibes peaks (one of the four kinds of peak keeps its level). The
// shift-register types count only the peaks that carry their bits.
double bitCarryingShare(std::int32_t vinylType) {
    return vinylType == FinalScratch || shiftRegisterFormat(vinylType) != nullptr ? 1.0 : 0.75;
}
constexpr int scopeRowsMin = 3;
constexpr int scopeRowsMax = 8;

double carrierOf(std::int32_t type) { return vinylFormat(static_cast<VinylType>(type)).carrierHz; }
VinylType otherType(std::int32_t type) { return type == Mixvibes ? FinalScratch : Mixvibes; }

bool closeToCarrier(double hz, double carrier) { return std::fabs(hz - carrier) <= carrierTolerance * carrier; }
bool looksLikeOtherType(double hz, std::int32_t type) {
    return closeToCarrier(hz, carrierOf(otherType(type))) && !closeToCarrier(hz, carrierOf(type));
}

std::size_t louder(const DeckMeasures& m) { return m.level[1] > m.level[0] ? 1 : 0; }

// Mixvibes' 7" carries the 12"'s code: no signal tells them apart, and the longer side reads both.
bool findable(std::int32_t type) { return type != Mixvibes7Inch; }

// The type an automatic deck tries next on a carrier of hz that `type` reads nothing of: of
// those not tried yet whose carrier hz is close to, the nearest (other sides and makes on the
// same carrier among them); -1 when there is none.
std::int32_t nextType(std::int32_t type, double hz, std::uint32_t tried) {
    std::int32_t best = -1;
    double bestDistance = 0.0;
    for (const VinylFormat& format : vinylFormats) {
        if (format.type == type || !findable(format.type) || ((tried >> format.type) & 1u) != 0) continue;
        if (!closeToCarrier(hz, format.carrierHz)) continue;
        const double distance = std::fabs(hz - format.carrierHz) / format.carrierHz;
        if (best < 0 || distance < bestDistance) {
            best = format.type;
            bestDistance = distance;
        }
    }
    return best;
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

DeckState judge(const DeckMeasures& m) {
    const std::size_t loud = louder(m);
    const std::int32_t level = m.level[loud];
    const bool turning = m.carrierHz[loud] >= turningCarrierHz;
    if (level < noSignalLevel) return DeckState::noSignal;
    if (m.fullScaleShare > clippingShare) return DeckState::clipping;
    if (m.endOfRecord) return DeckState::endOfRecord;
    if (m.speedOutOfRange) return DeckState::speedOutOfRange;
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

DeckWatch::DeckWatch(Deck& deck, bool automaticType) : deck(&deck), automaticType(automaticType) {
    deck.withhold(automaticType);
}

bool DeckWatch::update(bool inputLost) {
    signal.push_back(deck->diagnosis().read());
    const TimecodeDecoder& decoder = deck->decoder();
    decoded.push_back({decoder.getPeaksSeen(), decoder.getPeaksWithBits(), decoder.getFramesNotInTable()});
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
    const float ageMs = decoder.getPositionAgeMs();
    now.frameLately = ageMs >= 0.0f && ageMs <= recentSeconds * msPerSecond;
    now.timecodesPerSecond = deck->getTimecodesPerSecond();
    now.speed = deck->getSpeed();
    now.speedOutOfRange = deck->speedRefused();
    now.endOfRecord = decoder.atEndOfRecord();

    if (automaticType && !inputLost) findType();
    DeckState state = inputLost ? DeckState::inputLost : judge(now);
    // Until the type is found, what the signal reads under the type tried tells nothing, its
    // direction included.
    if (automaticType && !typeConfirmed &&
        (state == DeckState::wrongType || state == DeckState::decoding || state == DeckState::backwards))
        state = shownState;
    candidateUpdates = state == candidate ? candidateUpdates + 1 : 1;
    candidate = state;
    const bool changed = state != shownState && candidateUpdates >= updatesToShow(state);
    if (changed) shownState = state;
    deck->withhold(typeInDoubt());
    return changed;
}

bool DeckWatch::typeInDoubt() const {
    if (shownState == DeckState::wrongType) return true;
    if (!automaticType) return false;
    if (!typeConfirmed || otherCarrierUpdates > 0) return true;
    // A record of the other type put on: the frames of the old one are counted for a second
    // yet, while the reading of the new one by the old type already reaches the host.
    return !now.frameLately && looksLikeOtherType(now.recentCarrierHz[louder(now)], now.vinylType);
}

void DeckWatch::findType() {
    Deck& deck = *this->deck;
    const std::int32_t type = deck.vinylType();
    // A FinalScratch frame missing from the table is a frame of the type all the same.
    // A frame read lately confirms the type before the second its count takes, so that a
    // carrier other types share is not tried on them meanwhile; the shift-register types count
    // their timecodes only once a lock has held, at once, and a lock alone may be a chance one.
    const bool readLately = now.frameLately && shiftRegisterFormat(type) == nullptr;
    if (now.timecodesPerSecond > 0 || now.framesNotInTable > 0 || readLately) {
        if (!typeConfirmed) found = lastFound = type;
        typeConfirmed = true;
        otherCarrierUpdates = 0;
        triedTypes = 0;
        return;
    }
    const double hz = now.carrierHz[louder(now)];
    triedTypes |= 1u << type;
    std::int32_t next = nextType(type, hz, triedTypes);
    if (next < 0 && triedTypes != 1u << type) {
        triedTypes = 1u << type;  // every candidate tried: round again
        next = nextType(type, hz, triedTypes);
    }
    if (next < 0) {
        otherCarrierUpdates = 0;
        return;
    }
    if (++otherCarrierUpdates < otherCarrierUpdatesToSwitch) return;
    deck.requestVinylType(next);
    // A calibration left at the type's default follows the type.
    const auto current = static_cast<VinylType>(type);
    const DecodingMode mode = deck.decoder().getDecodingMode();
    if (deck.decoder().getCalibration() == vinylFormat(current).calibrationFor(mode))
        deck.setCalibration(vinylFormat(static_cast<VinylType>(next)).calibrationFor(mode));
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
        watches.emplace_back(controller.deck(i), i < automaticType.size() && automaticType[i]);
}

std::string LiveStatus::describe(std::size_t index, float position, float speed, std::int32_t tps, std::int32_t level,
                                 int qualityPercent, const std::string& state) {
    char quality[16] = "  --";
    if (qualityPercent >= 0) std::snprintf(quality, sizeof quality, "%3d%%", qualityPercent);
    char line[160];
    std::snprintf(line, sizeof line, "deck %zu: position %9.3f s  speed %7.1f %%  tps %4d  level %5.3f  quality %s  ",
                  index, static_cast<double>(position), speed * speedPercent, static_cast<int>(tps),
                  level / levelFullScale, quality);
    return line + state;
}

void LiveStatus::update(bool inputLost) {
    std::string screen;
    std::size_t lines = 0;
    for (std::size_t i = 0; i < watches.size(); ++i) {
        Deck& deck = controller.deck(i);
        DeckWatch& watch = watches[i];
        const bool changed = watch.update(inputLost);
        const std::int32_t found = watch.takeFoundType();
        if (output == Output::terminal) {
            screen += terminalLines(i, deck, watch, inputLost, lines);
            continue;
        }
        if (output != Output::log) continue;
        const std::string name = "deck " + std::to_string(i) + ": ";
        if (found >= 0) console.line(name + "found " + vinylFormat(static_cast<VinylType>(found)).optionName);
        if (changed) {
            const std::string hint = stateHint(watch.shown(), watch.measures());
            console.line(name + stateName(watch.shown()) + (hint.empty() ? "" : ": ") + hint);
        }
    }
    if (output == Output::terminal) console.redraw(screen, lines);
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
        describe(index, sent.position, sent.speed, sent.timecodesPerSecond, sent.level, watch.qualityPercent(), state);
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

void LiveStatus::announce(const std::string& line) { console.line(line); }

void LiveStatus::rejoined() {
    for (std::size_t i = 0; i < watches.size(); ++i) {
        watches[i].restart();
        if (output == Output::log) console.line("deck " + std::to_string(i) + ": rejoined");
    }
}

}  // namespace platora
