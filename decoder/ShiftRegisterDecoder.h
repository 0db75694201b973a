#pragma once

#include "LevelLearner.h"
#include "ShiftRegister.h"
#include "SignalConditioner.h"

#include <array>
#include <cstdint>

namespace platora {

// Reads the shift-register formats (ShiftRegister.h) in robust mode: the front end cleans
// the pair, each zero crossing of the reference channel (the one not carrying bits) takes
// the bit channel's value at that moment, which is its peak; the sign of that value and the
// crossing's direction tell which way the record turns, and a peak of the format's polarity
// carries a bit, read by a LevelLearner.
//
// Place: bits read in one direction fill a window of N; once N + confirmBits in a row follow
// the register's rule, the table names the cycle. From then on every bit peak steps the
// register the way the record turns and checks the bit it reads against the one the
// register predicts (the flywheel): a corrupted bit cannot move the position, and only a
// run of misses drops the lock. A place read elsewhere than where the flywheel stands
// within a second of losing the lock must hold for a window longer before it is taken, so
// that one bad bit whose errors happen to follow the rule for a while makes no jump; bits
// that lately kept breaking the rule lengthen the run too, since among wrong bits runs
// that follow the rule for eight bits by chance come every few hundred peaks.
//
// The position is the place of the bit peak just read: cycle k starts at k / carrier seconds
// (at the leading channel's positive peak), and its bit peak lies 0, 1/4, 1/2 or 3/4 of a
// cycle into it. It is never beyond the side's last cycle: past it the decoder reports the
// end of the record.
// Threads: one thread at a time, the audio thread's; setFormat allocates on a type's first use.
class ShiftRegisterDecoder {
public:
    static constexpr int confirmBits = 8;

    // Returns whether the type is a shift-register one; otherwise the decoder stays idle.
    // Allocates only the first time a type's table is asked for (PositionTable::of); after a
    // reset, it starts the decoding over at the same rate.
    bool setFormat(std::int32_t type);
    bool active() const { return format_ != nullptr; }
    void reset(std::int32_t sampleRate);
    // frames of interleaved stereo, the first at startMs on the caller's time base (which
    // runs on across type changes); allocates nothing.
    void process(const std::int16_t* samples, std::int32_t frames, double startMs);

    double timeMs() const { return timeMs_; }
    float speed() const { return speed_; }
    bool hasPosition() const { return positionTimeMs_ >= 0.0; }
    double position() const;                             // s
    double positionTimeMs() const { return positionTimeMs_; }  // of the bit peak that set it; < 0: none
    double lastReadMs() const { return lastReadMs_; }    // a read bit last confirmed the place; < 0: never
    bool endOfRecord() const { return endOfRecord_; }
    bool locked() const { return locked_; }
    std::uint32_t bitPeaks() const { return bitPeaks_; }    // since construction; wraps
    std::uint32_t clearBits() const { return clearBits_; }  // of those, read clearly; wraps
    // Bits read right per second, counted only once a lock has held for a while.
    std::int32_t readsPerSecond() const { return readsPerSecond_; }

private:
    void crossing(int direction, float bitValue, double timeMs);
    void bitPeak(int direction, int bit, double timeMs);
    void acquire(int direction, int bit, double timeMs);
    void take(std::int64_t cycle, std::uint32_t window, double timeMs);
    void followSpeed(int direction, double timeMs);
    void countRead();

    const ShiftRegisterFormat* format_ = nullptr;
    const PositionTable* table_ = nullptr;
    double carrierHz_ = 0.0;
    double peakPhase_ = 0.0;  // cycles from a cycle's start to its bit peak
    std::int32_t sampleRate_ = 0;
    double framePeriodMs_ = 0.0;
    double timeMs_ = 0.0;
    SignalConditioner conditioner_;
    std::array<std::int16_t, 2 * SignalConditioner::chunkFrames> conditioned_{};
    LevelLearner learner_;

    // The reference channel: its state past the hysteresis, and its last sign change.
    int referenceState_ = 0;
    float previousReference_ = 0.0f, previousBit_ = 0.0f;
    float bitAtZero_ = 0.0f;
    double zeroTimeMs_ = -1.0;

    // The speed from the last crossings in one direction.
    static constexpr int speedCrossings = 9;
    std::array<double, speedCrossings> crossingTimes_{};
    int crossingsInDirection_ = 0, crossingDirection_ = 0;
    double lastCrossingMs_ = -1.0;
    float speed_ = 0.0f;

    // Finding the place: the window of bits read in the current direction, how many of
    // them follow the rule in a row, and the direction.
    std::uint32_t search_ = 0;
    int searchRun_ = 0, searchDirection_ = 0;
    int failures_ = 0;  // breaks of the rule lately, held against a new place
    int peaksSinceStart_ = 0;  // bit peaks since the record last started turning, while it settles
    std::uint32_t followed_ = 0;

    // The flywheel: the record lies between the bit peaks of cycles region_ and region_ + 1;
    // window_ holds the bits of cycles region_ - N + 1 .. region_.
    bool flywheel_ = false, locked_ = false;
    std::int64_t region_ = 0;
    std::uint32_t window_ = 0;
    int missScore_ = 0;
    int hitsSinceLock_ = 0;  // up to sureHits
    double lockLostMs_ = -1.0;
    std::int64_t cycle_ = 0;  // the cycle last read
    double positionTimeMs_ = -1.0, lastReadMs_ = -1.0;
    bool endOfRecord_ = false;

    std::uint32_t bitPeaks_ = 0, clearBits_ = 0;
    std::int32_t readsInWindow_ = 0, readsPerSecond_ = 0;
    double readWindowStartMs_ = 0.0;
};

}  // namespace platora
