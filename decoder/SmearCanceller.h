#pragma once

#include "LevelSplit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace platora {

// A worn stylus loses the treble, and each half cycle then runs on into the next: a peak
// after a high one comes out lower than its own level, one after a low one higher, and a
// Mixvibes record at speed no longer shows its two levels apart. Added back, a share of the
// extreme before restores them. The share is learnt from the peaks themselves: it is the
// one that leaves each peak closest to the level it is read as (the channel's LevelSplit,
// which the restored peaks teach in turn), so a clean signal keeps a share near none.
// One per channel; audio thread only; allocates nothing.
class SmearCanceller {
public:
    // The step between the levels the split starts from, high over low: its halfway point
    // lies under the high level even at the shallowest depth the decoder reads (1.12), and
    // a deeper record's low peaks fall below it at once.
    static constexpr float startingDepth = 1.2f;

    // level: where the front end brings the high peaks.
    void reset(float level) {
        previous_ = 0;
        share_ = 0.0f;
        high_ = false;
        split_.reset(level, level / startingDepth);
    }

    // value: the extreme just found, signed; returns it with the smear of the one before undone.
    std::int32_t operator()(std::int32_t value) {
        const float raw = static_cast<float>(std::abs(value));
        const float before = static_cast<float>(std::abs(previous_));
        previous_ = value;
        const float level = raw + share_ * before;
        high_ = split_.isHigh(level);
        sure_ = split_.isSure(level);
        const float error = level - split_.centre(high_);
        split_.learn(level, high_);
        const float top = split_.high();
        if (top > 0.0f) share_ = std::clamp(share_ - shareStep * error * before / (top * top), 0.0f, largestShare);
        const auto magnitude = static_cast<std::int32_t>(std::min(level, 32767.0f));
        return value < 0 ? -magnitude : magnitude;
    }

    // Whether the last extreme was read as a high one.
    bool high() const { return high_; }
    // Whether it lay clearly on its side.
    bool sure() const { return sure_; }
    const LevelSplit& split() const { return split_; }

private:
    static constexpr float shareStep = 1.0f / 256.0f;
    static constexpr float largestShare = 0.6f;
    std::int32_t previous_ = 0;
    float share_ = 0.0f;
    bool high_ = false;
    bool sure_ = false;
    LevelSplit split_;
};

}  // namespace platora
