#pragma once

#include <chrono>
#include <cstdint>

namespace platora {

// Sets a deck's software preamp from its own signal: waits while the input is silent, then
// picks the gain that brings the signal's peaks to about half of full scale, lowers it at
// once when the signal clips, and follows a louder or quieter signal (another record, a
// turned knob) within a second. Silence never raises it. Plain arithmetic on the levels it
// is given; main thread.
class GainFollower {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::int32_t targetLevel = 16360;  // the peaks go past it: about half of full scale
    static constexpr std::int16_t ceiling = 750;
    // Peaks below this many sample units before the gain count as silence: about -56 dBFS,
    // far above an interface's noise and far below any record.
    static constexpr std::int32_t silenceBelow = 50;
    static constexpr Clock::duration window = std::chrono::milliseconds(400);

    explicit GainFollower(Clock::time_point start, std::int16_t gain = 1);

    // One reading of the deck's level (the largest sample of its last block, after the
    // gain); every few milliseconds. Returns the gain to use from now on.
    std::int16_t update(std::int32_t level, Clock::time_point now);
    std::int16_t gain() const { return gain_; }
    // False until a window held a signal: the gain still waits for one.
    bool heardSignal() const { return heard; }

private:
    void startWindow(Clock::time_point now);

    std::int16_t gain_;
    bool heard = false;
    double loudest = 0.0;  // before the gain, over the window so far
    Clock::time_point windowEnd;
};

}  // namespace platora
