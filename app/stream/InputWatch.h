#pragma once

#include "CaptureController.h"

#include <chrono>
#include <cstdint>

namespace platora {

// Tells whether the input is lost and brings it back: a stream that stopped, closed, lost
// its JACK source or delivered nothing for four buffer periods (200 ms at most) is lost, and
// the device is then reopened by name about once a second. Main thread; a reopen may take a
// while, so nothing that must keep time may wait on check.
class InputWatch {
public:
    using Clock = std::chrono::steady_clock;

    InputWatch(CaptureController& controller, std::int16_t device, unsigned int bufferFrames);

    bool lost() const { return isLost; }
    // When blocks last came in (or our own thread was last held up).
    Clock::time_point lastDelivery() const { return lastAdvance; }
    // Returns true when the state changed (lost or back).
    bool check();

private:
    void setSilenceLimit();

    CaptureController& controller;
    const std::int16_t device;
    const unsigned int bufferFrames;
    Clock::duration silenceLimit{};
    std::uint32_t lastBlocks;
    Clock::time_point lastAdvance;
    Clock::time_point lastCheck;
    Clock::time_point lastConnected = Clock::now();
    Clock::time_point nextReopen;
    bool isLost = false;
};

}  // namespace platora
