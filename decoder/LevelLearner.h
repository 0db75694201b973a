#pragma once

#include <algorithm>
#include <array>
#include <cmath>

namespace platora {

// Tells a bit peak's two levels apart on one channel without a calibration: the centres of
// the high and the low level are found afresh at every peak among the last `window` peaks
// (two-means, the older peaks weighing less), and a peak is
// read by the threshold halfway between them. Any depth from about 1.1:1 to 3:1 and any level suit it, since only the
// centres' own spread sets the threshold, and a level that moves (the front end still
// finding its gain after a needle drop) leaves the window within `window` peaks. A
// shift register of up to 23 bits never repeats a bit more than 23 times, so the window
// always holds both levels. A peak close to the threshold reads as unsure, so that the
// bits a position is read from are ones the levels tell clearly. Not LevelSplit's running
// centres: they take a hundred peaks to move to a new level, where a needle drop on these
// formats is to be read within a few dozen bits.
// Audio thread only; allocates nothing.
class LevelLearner {
public:
    static constexpr int unsure = -1;
    static constexpr int window = 24;
    static constexpr int fewestPeaks = 4;
    static constexpr float firstSplit = 1.05f;  // high / low before two levels count as seen
    static constexpr int refinements = 2;
    static constexpr float unsureShare = 0.15f;  // of the gap, either side of the threshold
    // A peak this many peaks old weighs half: the level the front end settles on after a
    // needle drop outweighs the rise before it within a few peaks.
    static constexpr float halfLifePeaks = 6.0f;

    LevelLearner() {
        for (int age = 0; age < window; ++age)
            weights_[static_cast<std::size_t>(age)] = std::exp2(-static_cast<float>(age) / halfLifePeaks);
    }

    void reset() { held_ = 0; }

    // amplitude: a bit peak's size (> 0). Returns 1, 0 or unsure.
    int operator()(float amplitude) {
        if (!(amplitude > 0.0f)) return unsure;
        // Each peak is kept twice, window apart, so that the newest `window` always lie in
        // one run from newest_: the loops below run over plain arrays.
        newest_ = (newest_ + window - 1) % window;
        twice_[static_cast<std::size_t>(newest_)] = twice_[static_cast<std::size_t>(newest_ + window)] = amplitude;
        held_ = std::min(held_ + 1, window);
        if (held_ < fewestPeaks) return unsure;
        const float* byAge = twice_.data() + newest_;
        float lowest = amplitude, highest = amplitude, sum = 0.0f, weight = 0.0f;
        for (int age = 0; age < held_; ++age) {
            const float a = byAge[age];
            lowest = std::min(lowest, a);
            highest = std::max(highest, a);
            sum += weights_[static_cast<std::size_t>(age)] * a;
            weight += weights_[static_cast<std::size_t>(age)];
        }
        if (!(highest > firstSplit * lowest)) return unsure;
        // Split first at the mean, which lies between the extremes, so that each side keeps a
        // member at every refinement.
        float threshold = sum / weight;
        float high = highest, low = lowest;
        for (int r = 0; r < refinements; ++r) {
            float highSum = 0.0f, highWeight = 0.0f;
            for (int age = 0; age < held_; ++age) {
                const float a = byAge[age];
                const float w = a > threshold ? weights_[static_cast<std::size_t>(age)] : 0.0f;
                highSum += w * a;
                highWeight += w;
            }
            high = highSum / highWeight;
            low = (sum - highSum) / (weight - highWeight);
            threshold = (high + low) / 2.0f;
        }
        high_ = high;
        low_ = low;
        if (std::fabs(amplitude - threshold) < unsureShare * (high - low)) return unsure;
        return amplitude > threshold ? 1 : 0;
    }

    float high() const { return high_; }
    float low() const { return low_; }

private:
    std::array<float, 2 * window> twice_{};
    int newest_ = 0;
    std::array<float, window> weights_{};  // by age in peaks
    int held_ = 0;
    float high_ = 0.0f, low_ = 0.0f;
};

}  // namespace platora
