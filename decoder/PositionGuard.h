#pragma once

#include <algorithm>
#include <cmath>

namespace platora {

// Decides whether a frame's position may be taken. A frame that agrees with where the
// record should be is taken at once; one that does not is held until the next frame
// confirms it, so a corrupted frame alone never moves the position while a needle drop
// or a real jump is followed at its second frame.
//
// A frame with a bit in doubt needs more: where the step between the levels is shallow
// against the noise, bits are misread so often that two frames in a row now and then carry
// the same error (Mixvibes' check covers only the five low bits of its number), and would
// confirm a place the record never was. Three frames in doubt agreeing by chance are
// rarer by as much again as two, and four rarer still: a jump then waits for three
// confirmations, about 20 ms on Mixvibes.
//
// The margin: the smallest jump a corrupted Mixvibes frame passing its check makes is
// 32 frames (0.23 s); a FinalScratch code that happens to be in the table lands anywhere.
// Dead reckoning on the speed stays within a few ms over the gaps that noise makes, so
// 40 ms plus a tenth of the time since the position was last known, capped at 0.1 s,
// admits every frame of a record that plays on and no corrupted one.
// Audio thread only; allocates nothing.
class PositionGuard {
public:
    static constexpr double baseMargin = 0.04;    // s
    static constexpr double driftMargin = 0.1;    // s per s since the position was last known
    static constexpr double largestMargin = 0.1;  // s: below the smallest false jump

    static constexpr int doubtfulConfirmations = 3;

    enum class Verdict { follows, jumps, held };

    // frameSeconds: one frame on the record. Two genuine frames in a row agree far more
    // closely than that; half of it still tells a frame read twice, or a run of equal
    // corrupted ones, from a record that moves.
    void reset(double frameSeconds) {
        confirmMargin_ = frameSeconds / 2.0;
        holding_ = false;
        confirmations_ = 0;
    }

    // position (s) read at timeMs; expected: where the record should be then, known only
    // once a frame was taken (sinceMs: how long ago a frame last set it); speed: record
    // seconds per second, to move a held frame on; sure: no bit of the frame was in doubt.
    Verdict admit(double position, double timeMs, bool haveExpected, double expected, double sinceMs, double speed,
                  bool sure = true) {
        const bool agrees = haveExpected && std::fabs(position - expected) <= margin(sinceMs);
        // The same frame read again at the next peaks (bits that never change read as frame
        // 0 at every peak) is no second frame, however well it fits.
        const bool confirms =
            holding_ && std::fabs(position - heldPosition_) > confirmMargin_ &&
            std::fabs(position - (heldPosition_ + speed * (timeMs - heldTimeMs_) / msPerSecond)) <= confirmMargin_;
        confirmations_ = confirms ? confirmations_ + 1 : 0;
        allSure_ = (confirms ? allSure_ : true) && sure;
        const bool jumps = confirmations_ >= (allSure_ ? 1 : doubtfulConfirmations);
        holding_ = !agrees && !jumps;
        if (!holding_) confirmations_ = 0;
        heldPosition_ = position;
        heldTimeMs_ = timeMs;
        return agrees ? Verdict::follows : jumps ? Verdict::jumps : Verdict::held;
    }

    // A frame held, read at heldTimeMs(): the record may have jumped, and until the next frame
    // tells, no one knows where it is.
    bool holding() const { return holding_; }
    double heldTimeMs() const { return heldTimeMs_; }

    static double margin(double sinceMs) {
        return std::min(largestMargin, baseMargin + driftMargin * std::fabs(sinceMs) / msPerSecond);
    }

private:
    static constexpr double msPerSecond = 1000.0;
    double confirmMargin_ = 0.0;
    bool holding_ = false;
    int confirmations_ = 0;  // of the frame held first, by those held since
    bool allSure_ = true;    // every frame held since the first, the first included
    double heldPosition_ = 0.0;
    double heldTimeMs_ = 0.0;
};

}  // namespace platora
