#include "InputWatch.h"

#include <algorithm>

namespace platora {

namespace {

using namespace std::chrono_literals;

constexpr auto reopenPeriod = 1s;
constexpr int silentPeriodsForLoss = 4;
// A loss must be seen within 250 ms, also with the longest buffers.
constexpr auto longestSilence = 200ms;
// A cycle this late means our own thread was held up (a loaded machine), and the audio
// thread most likely with it: its silence meanwhile proves nothing.
constexpr auto ownStall = 50ms;
constexpr auto sourceGrace = 20ms;

}  // namespace

InputWatch::InputWatch(CaptureController& controller, std::int16_t device, unsigned int bufferFrames)
    : controller(controller),
      device(device),
      bufferFrames(bufferFrames),
      lastBlocks(controller.blocksDelivered()),
      lastAdvance(Clock::now()),
      lastCheck(lastAdvance) {
    setSilenceLimit();
}

bool InputWatch::check() {
    const auto now = Clock::now();
    if (now - lastCheck > ownStall) lastAdvance = now;
    lastCheck = now;
    const std::uint32_t blocks = controller.blocksDelivered();
    if (blocks != lastBlocks) {
        lastBlocks = blocks;
        lastAdvance = now;
    }
    // A JACK source that went away leaves the stream running on silence. The server's graph,
    // read while another client changes it, can show no connection for a moment: only one
    // missing for a while counts.
    if (controller.sourceConnected()) lastConnected = now;
    const bool delivering =
        controller.streamRunning() && now - lastAdvance <= silenceLimit && now - lastConnected <= sourceGrace;
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
    if (!controller.open(device, bufferFrames)) return false;
    setSilenceLimit();
    lastAdvance = lastConnected = Clock::now();
    isLost = false;
    return true;
}

void InputWatch::setSilenceLimit() {
    const auto period = std::chrono::duration<double>(static_cast<double>(controller.grantedBufferFrames()) /
                                                      CaptureController::sampleRateHz);
    silenceLimit = std::min<Clock::duration>(std::chrono::duration_cast<Clock::duration>(silentPeriodsForLoss * period),
                                             longestSilence);
}

}  // namespace platora
