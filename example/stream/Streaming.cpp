#include "Streaming.h"

#include "ConsoleControl.h"
#include "LiveStatus.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace platora {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto streamingCycle = 5ms;
constexpr auto statusPeriod = 100ms;
constexpr auto reopenPeriod = 1s;
constexpr int silentPeriodsForLoss = 4;
// A loss must be seen within 250 ms, also with the longest buffers.
constexpr auto longestSilence = 200ms;
// A cycle this late means our own thread was held up (a loaded machine), and the audio
// thread most likely with it: its silence meanwhile proves nothing.
constexpr auto ownStall = 50ms;

// Tells whether the input is lost and brings it back. Main thread.
class InputWatch {
public:
    InputWatch(CaptureController& controller, const StreamingChoices& choices)
        : controller(controller), choices(choices), lastBlocks(controller.blocksDelivered()),
          lastAdvance(Clock::now()), lastCheck(lastAdvance)
    {
        setSilenceLimit();
    }

    bool lost() const { return isLost; }

    // Returns true when the state changed (lost or back).
    bool check()
    {
        const auto now = Clock::now();
        if (now - lastCheck > ownStall) lastAdvance = now;
        lastCheck = now;
        const std::uint32_t blocks = controller.blocksDelivered();
        if (blocks != lastBlocks) {
            lastBlocks = blocks;
            lastAdvance = now;
        }
        const bool delivering = controller.streamRunning() && now - lastAdvance <= silenceLimit;
        if (!isLost) {
            if (delivering) return false;
            isLost = true;
            nextReopen = now + reopenPeriod;
            return true;
        }
        if (delivering) {  // the same stream went on after a pause
            isLost = false;
            return true;
        }
        if (now < nextReopen) return false;
        nextReopen = now + reopenPeriod;
        // The first failure says why; the retries do not repeat it.
        if (!controller.open(choices.deviceIndex, choices.bufferFrames, reopenFailed)) {
            reopenFailed = true;
            return false;
        }
        reopenFailed = false;
        setSilenceLimit();
        lastAdvance = Clock::now();
        isLost = false;
        return true;
    }

private:
    void setSilenceLimit()
    {
        const auto period = std::chrono::duration<double>(static_cast<double>(controller.grantedBufferFrames()) /
                                                          CaptureController::sampleRateHz);
        silenceLimit = std::min<Clock::duration>(std::chrono::duration_cast<Clock::duration>(silentPeriodsForLoss * period),
                                                 longestSilence);
    }

    CaptureController& controller;
    const StreamingChoices& choices;
    Clock::duration silenceLimit{};
    std::uint32_t lastBlocks;
    Clock::time_point lastAdvance;
    Clock::time_point lastCheck;
    Clock::time_point nextReopen;
    bool isLost = false;
    bool reopenFailed = false;
};

void sendAll(CaptureController& controller, bool inputLost)
{
    for (std::size_t i = 0; i < controller.deckCount(); ++i) controller.deck(i).send(inputLost);
}

bool stopping() { return stopRequested.load(std::memory_order_relaxed); }

}  // namespace

void streamDecks(CaptureController& controller, const StreamingChoices& choices)
{
    InputWatch watch(controller, choices);
    const bool live = choices.report == StreamReport::live;
    LiveStatus status(controller, live && ::isatty(STDOUT_FILENO) == 1);
    auto nextStatus = Clock::now();

    // Per block: a thread of its own sends once the callback wakes it (while the input is
    // lost, the main thread wakes it every cycle). The callback itself never sends.
    std::atomic<bool> inputLost{false};
    std::atomic<bool> senderDone{false};
    std::thread sender;
    if (choices.sendPerBlock) {
        sender = std::thread([&] {
            std::uint32_t seen = controller.wakeupCount();
            for (;;) {
                seen = controller.waitForWakeup(seen);
                if (senderDone.load(std::memory_order_acquire)) return;
                sendAll(controller, inputLost.load(std::memory_order_acquire));
            }
        });
    }

    do {
        if (watch.check()) {
            if (watch.lost()) {
                for (std::size_t i = 0; i < controller.deckCount(); ++i) controller.deck(i).holdPosition();
                // Live status shows it in the deck lines.
                if (!live) std::printf("The audio input was lost; it is tried again every second.\n");
            } else {
                if (choices.report == StreamReport::dialogue)
                    std::printf("The audio input is back; streaming goes on.\n");
                if (live) status.rejoined();
            }
            std::fflush(stdout);
            inputLost.store(watch.lost(), std::memory_order_release);
        }
        if (!choices.sendPerBlock) {
            sendAll(controller, watch.lost());
        } else if (watch.lost()) {
            controller.wake();
        }
        if (live && Clock::now() >= nextStatus) {
            status.update(watch.lost());
            nextStatus = Clock::now() + statusPeriod;
        }
        std::this_thread::sleep_for(streamingCycle);
    } while (!stopping());

    if (sender.joinable()) {
        senderDone.store(true, std::memory_order_release);
        controller.wake();
        sender.join();
    }
}

}  // namespace platora
