#include "GainAndCalibration.h"

#include "Answers.h"
#include "ConsoleControl.h"
#include "GainFollower.h"
#include "SavedCalibration.h"

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <thread>

namespace platora {

namespace {

constexpr int sweepMs = 60000;
// Test seam: a shorter sweep for the end-to-end tests of what follows it.
constexpr const char* sweepMsVariable = "PLATORA_TEST_SWEEP_MS";
constexpr int cycleMs = 50;
constexpr float firstCalibration = 0.1f;
constexpr double calibrationStep = 0.1;
constexpr int cyclesPerValue = 30;  // the value changes in the cycle in which tick reaches this
constexpr float msToSeconds = 0.001f;
// How far the record may travel in one cycle while it plays for the sweep: a quarter to four
// times its nominal speed.
constexpr double cycleSeconds = cycleMs * static_cast<double>(msToSeconds);
constexpr double slowestTravelSeconds = 0.25 * cycleSeconds;
constexpr double fastestTravelSeconds = 4.0 * cycleSeconds;

constexpr std::int16_t gainRow = 13;
constexpr int gainPollMs = 10;
constexpr std::int16_t calibrationRow = 14;

void sleepFor(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

int sweepDurationMs() {
    const char* value = std::getenv(sweepMsVariable);
    const int shortened = value != nullptr ? std::atoi(value) : 0;
    return shortened > 0 && shortened < sweepMs ? shortened / cycleMs * cycleMs : sweepMs;
}

// A value so high that every amplitude looks steady freezes the bits, and the frozen pattern
// passes as a frame at nearly every peak: thousands a second, all at one position. Frames
// count only while the position moves the way a playing record does.
bool recordPlays(float positionBefore, float positionNow) {
    const double travel = static_cast<double>(positionNow) - static_cast<double>(positionBefore);
    return travel >= slowestTravelSeconds && travel <= fastestTravelSeconds;
}

}  // namespace

bool autoAdjustGain(Deck& deck) {
    std::printf("\nStart playback and press <enter> to auto-adjust the volume.\n");
    pauseForKey();
    setCursorPosition(0, gainRow);
    std::printf("calculate needed amplification...                                     \n");
    using Clock = GainFollower::Clock;
    GainFollower follower(Clock::now());
    deck.setPreampGain(follower.gain());
    // Done once a signal set the gain and it held for a whole window.
    auto lastChange = Clock::now();
    bool toldWaiting = false;
    while (!follower.heardSignal() || Clock::now() - lastChange < GainFollower::window) {
        const std::int16_t before = follower.gain();
        const bool heard = follower.heardSignal();
        deck.setPreampGain(follower.update(deck.getLevel(), Clock::now()));
        if (follower.gain() != before || heard != follower.heardSignal()) lastChange = Clock::now();
        if (!follower.heardSignal() && !toldWaiting && Clock::now() - lastChange >= GainFollower::window) {
            std::printf("Waiting for a signal; press <enter> to go on without one.\n");
            std::fflush(stdout);
            toldWaiting = true;
        }
        if (!follower.heardSignal() && lineWaiting(gainPollMs)) {
            pauseForKey();
            std::printf("No signal reached the target level; the software preamp stays at gain 1.\n");
            return false;
        }
        if (follower.heardSignal()) sleepFor(std::chrono::milliseconds(gainPollMs));
    }
    std::printf("The software preamp's gain is %d.\n", follower.gain());
    return true;
}

float runCalibration(Deck& deck, float valueInForce) {
    std::printf("\nStart playback and press <enter> to run calibration.\n");
    pauseForKey();
    int timeLeft = sweepDurationMs();
    float current = firstCalibration;
    float best = firstCalibration;
    std::int32_t bestTps = 0;
    int tick = 0;
    deck.setCalibration(current);
    float position = deck.getPosition();
    for (;;) {
        sleepFor(std::chrono::milliseconds(cycleMs));
        const std::int32_t tps = deck.getTimecodesPerSecond();
        const float positionBefore = position;
        position = deck.getPosition();
        // Strict: on a tie the earlier, smaller value stays.
        if (tps > bestTps && recordPlays(positionBefore, position)) {
            bestTps = tps;
            best = current;
        }
        setCursorPosition(0, calibrationRow);
        std::printf("time left:  %4.2fs  current value: %5.2f  timecodes/s:      %7i\n",
                    static_cast<double>(timeLeft * msToSeconds), static_cast<double>(current), tps);
        std::printf("                    best value:    %5.2f  best timecodes/s: %7i\n", static_cast<double>(best),
                    bestTps);
        std::fflush(stdout);
        if (tick == cyclesPerValue) {
            tick = 0;
            current = static_cast<float>(current + calibrationStep);
            deck.setCalibration(current);
        } else {
            ++tick;
        }
        if (timeLeft == 0) break;
        timeLeft -= cycleMs;
    }
    if (bestTps == 0) {
        best = valueInForce;
        std::printf("No timecode was decoded during the calibration; the calibration value stays %.2f.\n",
                    static_cast<double>(best));
    } else if (!saveCalibrationValue(best)) {
        std::printf("Warning: could not write %s; this value will not be offered at the next start.\n",
                    settingsFileName);
    }
    std::printf("\n Calibration done. Press any key to start the detection.\n");
    pauseForKey();
    return best;
}

}  // namespace platora
