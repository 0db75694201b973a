#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace platora {

// A worn stylus loses the treble, and each half cycle then runs on into the next: a peak
// after a high one comes out lower than its own level, one after a low one higher, and a
// Mixvibes record at speed no longer shows its two levels apart. Added back, a share of the
// extreme before restores them. The share is learnt from the peaks themselves: it is the
// one that leaves each peak closest to the level it is read as (high or low, split halfway
// between the two as they stand), so a clean signal keeps a share near none.
// One per channel; audio thread only; allocates nothing.
class SmearCanceller {
public:
    void reset(float level) {
        previous_ = 0;
        share_ = 0.0f;
        high_ = level;
        low_ = level / 2.0f;
    }

    // value: the extreme just found, signed; returns it with the smear of the one before undone.
    std::int32_t operator()(std::int32_t value) {
        const float raw = static_cast<float>(std::abs(value));
        const float before = static_cast<float>(std::abs(previous_));
        previous_ = value;
        const float level = raw + share_ * before;
        const bool high = level > (high_ + low_) / 2.0f;
        float& mean = high ? high_ : low_;
        const float error = level - mean;
        mean += levelStep * error;
        if (high_ > 0.0f)
            share_ = std::clamp(share_ - shareStep * error * before / (high_ * high_), 0.0f, largestShare);
        const auto magnitude = static_cast<std::int32_t>(std::min(level, 32767.0f));
        return value < 0 ? -magnitude : magnitude;
    }

    float share() const { return share_; }

private:
    static constexpr float levelStep = 1.0f / 64.0f;
    static constexpr float shareStep = 1.0f / 256.0f;
    static constexpr float largestShare = 0.6f;
    std::int32_t previous_ = 0;
    float share_ = 0.0f;
    float high_ = 0.0f, low_ = 0.0f;
};

}  // namespace platora
