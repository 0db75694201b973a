#include "LiveStatus.h"

#include "ScratchMessages.h"

#include <algorithm>
#include <cstdio>

namespace platora {

namespace {

constexpr std::size_t updatesPerSecond = 10;
// A state shows in a log only once it has held this many updates, so a record that slows
// through the threshold does not write a line per update.
constexpr int updatesToSettle = 5;
// Swings below half the decoder's hysteresis can make no peak.
constexpr std::int32_t noSignalLevel = TimecodeDecoder::hysteresis / 2;
constexpr int unknownQuality = -1;

// The share of peaks that carry a bit on a perfect signal played forward: every FinalScratch
// peak, three in four Mixvibes peaks (one of the four kinds of peak keeps its level).
double bitCarryingShare(std::int32_t vinylType) { return vinylType == FinalScratch ? 1.0 : 0.75; }

}  // namespace

LiveStatus::LiveStatus(CaptureController& controller, bool onTerminal)
    : controller(controller), onTerminal(onTerminal), tracked(controller.deckCount())
{
}

std::string LiveStatus::describe(std::size_t index, float position, float speed, std::int32_t tps,
                                 std::int32_t level, int qualityPercent, const char* state)
{
    char quality[16] = "  --";
    if (qualityPercent >= 0) std::snprintf(quality, sizeof quality, "%3d%%", qualityPercent);
    char line[160];
    std::snprintf(line, sizeof line, "deck %zu: position %9.3f s  speed %7.1f %%  tps %4d  level %5.3f  quality %s  %s",
                  index, static_cast<double>(position), speed * speedPercent, static_cast<int>(tps),
                  level / levelFullScale, quality, state);
    return line;
}

void LiveStatus::update(bool inputLost)
{
    std::string screen;
    for (std::size_t i = 0; i < tracked.size(); ++i) {
        Deck& deck = controller.deck(i);
        Tracked& t = tracked[i];
        const int quality = qualityPercent(t, deck);
        const State state = stateOf(deck, inputLost);
        if (onTerminal) {
            // Erase the line, then write it: no trailing leftovers from a longer one.
            // The values sent, not the decoder's: while the input is lost they differ.
            const DeckReading sent = deck.reading(inputLost);
            screen += "\r\x1b[2K" +
                      describe(i, sent.position, sent.speed, sent.timecodesPerSecond, sent.level, quality, name(state)) +
                      "\n";
            continue;
        }
        t.candidateUpdates = state == t.candidate ? t.candidateUpdates + 1 : 1;
        t.candidate = state;
        // Losing the input is told at once; other states once they settled.
        if (state != t.shown && (state == State::inputLost || t.candidateUpdates >= updatesToSettle)) {
            t.shown = state;
            std::printf("deck %zu: %s\n", i, name(state));
        }
    }
    if (onTerminal) {
        // Back up over the lines drawn last time and draw them anew.
        if (drawn) std::printf("\x1b[%zuA", tracked.size());
        std::fputs(screen.c_str(), stdout);
        drawn = true;
    }
    std::fflush(stdout);
}

void LiveStatus::rejoined()
{
    if (onTerminal) return;
    for (std::size_t i = 0; i < tracked.size(); ++i) {
        std::printf("deck %zu: rejoined\n", i);
        tracked[i].shown = State::none;
    }
    std::fflush(stdout);
}

void LiveStatus::announce(const std::string& line)
{
    if (onTerminal && drawn) {
        // Up to the first deck line, and everything below it erased.
        std::printf("\x1b[%zuA\r\x1b[J", tracked.size());
        drawn = false;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

LiveStatus::State LiveStatus::stateOf(const Deck& deck, bool inputLost) const
{
    if (inputLost) return State::inputLost;
    if (deck.getLevel() < noSignalLevel) return State::noSignal;
    // Backwards no frame is read, but the peaks still give the speed.
    if (deck.getSpeed() != 0.0f) return State::decoding;
    return State::stopped;
}

int LiveStatus::qualityPercent(Tracked& t, const Deck& deck)
{
    t.peaks.push_back(deck.decoder().getPeaksSeen());
    t.bitPeaks.push_back(deck.decoder().getPeaksWithBits());
    if (t.peaks.size() > updatesPerSecond + 1) {
        t.peaks.erase(t.peaks.begin());
        t.bitPeaks.erase(t.bitPeaks.begin());
    }
    // Unsigned differences stay right across the counters' wrap.
    const std::uint32_t peaks = t.peaks.back() - t.peaks.front();
    const std::uint32_t bits = t.bitPeaks.back() - t.bitPeaks.front();
    if (peaks == 0) return unknownQuality;
    const double share = bits / (peaks * bitCarryingShare(deck.decoder().getVinylType()));
    return static_cast<int>(100.0 * std::min(share, 1.0) + 0.5);
}

const char* LiveStatus::name(State state)
{
    switch (state) {
    case State::decoding: return "decoding";
    case State::stopped: return "stopped";
    case State::noSignal: return "no signal";
    case State::inputLost: return "input lost";
    case State::none: break;
    }
    return "";
}

}  // namespace platora
