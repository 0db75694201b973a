#pragma once

#include <cmath>
#include <cstdint>

namespace platora {

// Tells a channel's high peaks from its low ones by the two levels they take, learnt from
// the peaks themselves: how deep the step between them is depends on the pressing, the wear,
// the cartridge and the preamp, and nobody can say it beforehand.
//
// Two running cluster centres, high and low; a peak is high when it lies above the point
// halfway between them. Why these and not another split:
// - the two levels are far from equally common (a Mixvibes leading channel is low at 4
//   peaks in 88, its lagging crests always low), so a median or a mean of recent peaks sits
//   inside the larger cluster, while a centre follows its own peaks whatever their share;
// - envelopes (a fast attack, a slow release) sit on the noise's extremes, a centre on its
//   cluster's mean, and noise widens both clusters alike, so halfway stays in the gap;
// - a peak against absolute levels carries the noise of one peak, where a ratio to the
//   swing before carries that of three.
// The centres are kept as a level (the high one) and the low one's ratio to it. Whatever
// moves the channel's level (the front end's gain after a click, a speed that changes the
// cartridge's output) moves both alike, so every peak corrects the level quickly, while the
// ratio, the record's depth, changes only along the record and learns slowly, from the low
// peaks alone.
//
// A centre no peak reaches for a while moves halfway towards the other: a start far from the
// record's depth, or a stretch of one level, would otherwise strand it where no peak ever
// comes again. Not LevelLearner's window of recent peaks: on the frame formats a window that
// short often holds one level only. One per channel; audio thread only; allocates nothing.
class LevelSplit {
public:
    static constexpr float levelStep = 1.0f / 32.0f;   // of the error, at every peak
    static constexpr float ratioStep = 1.0f / 64.0f;   // of the error, at every low peak
    static constexpr std::int32_t strandedAfter = 64;  // peaks read as one level in a row
    static constexpr float highestRatio = 0.98f;       // closer, the two levels are one
    static constexpr float lowestRatio = 0.05f;        // a low level below this is none
    static constexpr float sureShare = 0.3f;           // of the way from halfway to either centre

    // The centres to start from, high > low > 0.
    void reset(float high, float low) {
        level_ = high;
        ratio_ = low / high;
        run_ = 0;
        runHigh_ = false;
    }

    bool isHigh(float level) const { return level > threshold(); }
    // Far enough from halfway that noise would have to be as large as the step to have
    // carried it across.
    bool isSure(float level) const { return std::fabs(level - threshold()) >= sureShare * (high() - low()) / 2.0f; }
    float threshold() const { return (high() + low()) / 2.0f; }
    float high() const { return level_; }
    float low() const { return level_ * ratio_; }
    // The centre a level is read as.
    float centre(bool high) const { return high ? level_ : level_ * ratio_; }

    // Learns from a level read as `high` (what isHigh said of it).
    void learn(float level, bool high) {
        const float share = high ? 1.0f : ratio_;
        level_ += levelStep * (level / share - level_);
        if (!high) ratio_ = std::fmax(std::fmin(ratio_ + ratioStep * (level / level_ - ratio_), highestRatio), lowestRatio);
        run_ = high == runHigh_ ? run_ + 1 : 1;
        runHigh_ = high;
        if (run_ < strandedAfter) return;
        run_ = 0;
        const float middle = (1.0f + ratio_) / 2.0f;
        if (high) {
            ratio_ = middle;  // the low centre comes up
        } else {
            level_ *= middle;  // the high one comes down, the low one stays
            ratio_ = std::fmin(ratio_ / middle, highestRatio);
        }
    }

    // High over low; what the record's depth looks like after the front end.
    float depth() const { return 1.0f / ratio_; }

private:
    float level_ = 0.0f;  // the high centre
    float ratio_ = 1.0f;  // the low centre over the high one
    std::int32_t run_ = 0;
    bool runHigh_ = false;
};

}  // namespace platora
