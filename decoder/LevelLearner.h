#pragma once

#include <algorithm>
#include <array>
#include <cmath>

namespace platora {

// Tells a bit peak's two levels apart on one channel without a calibration: the centres of
// the high and the low level are found afresh at every peak among the last `window` peaks
// (two-means split first at their mean, the older peaks weighing less), and a peak is
// read by the threshold halfway between them. Any depth from about 1.1:1 to 3:1 and any level suit it, since only the
// centres' own spread sets the threshold, and a level that moves (the front end still
// finding its gain after a needle drop) leaves the window within `window` peaks. A
// shift register of up to 23 bits never repeats a bit more than 23 times, so the window
// always holds both levels. A peak close to the threshold reads as unsure, so that the
// bits a position is read from are ones the levels tell clearly.
// Audio thread only; allocates nothing.
class LevelLearner {
public:
    static constexpr int unsure = -1;
    static constexpr int window = 24;
    static constexpr int fewestPeaks = 4;
    static constexpr float firstSplit = 1.05f;  // high / low before two levels count as seen
    static constexpr int refinements = 3;
    static constexpr float unsureShare = 0.15f;  // of the gap, either side of the threshold
    // A peak this many peaks old weighs half: the level the front end settles on after a
    // needle drop outweighs the rise before it within a few peaks.
    static constexpr float halfLifePeaks = 6.0f;

    LevelLearner() {
        for (int age = 0; age < window; ++age)
            weights_[static_cast<std::size_t>(age)] = std::exp2(-static_cast<float>(age) / halfLifePeaks);
    }

    void reset() { count_ = 0; }

    // amplitude: a bit peak's size (> 0). Returns 1, 0 or unsure.
    int operator()(float amplitude) {
        if (!(amplitude > 0.0f)) return unsure;
        recent_[static_cast<std::size_t>(count_ % window)] = amplitude;
        if (++count_ >= 2 * window) count_ -= window;
        const int held = std::min(count_, window);
        if (held < fewestPeaks) return unsure;
        const auto begin = recent_.begin();
        const auto [lowest, highest] = std::minmax_element(begin, begin + held);
        if (!(*highest > firstSplit * *lowest)) return unsure;
        float sum = 0.0f, weight = 0.0f;
        for (int age = 0; age < held; ++age) {
            sum += weights_[static_cast<std::size_t>(age)] * recent_[static_cast<std::size_t>((count_ - 1 - age) % window)];
            weight += weights_[static_cast<std::size_t>(age)];
        }
        // The mean lies between the extremes, so each side keeps a member at every refinement.
        float threshold = sum / weight;
        float high = *highest, low = *lowest;
        for (int r = 0; r < refinements; ++r) {
            float highSum = 0.0f, lowSum = 0.0f, highWeight = 0.0f, lowWeight = 0.0f;
            for (int age = 0; age < held; ++age) {
                const float a = recent_[static_cast<std::size_t>((count_ - 1 - age) % window)];
                const float w = weights_[static_cast<std::size_t>(age)];
                const bool above = a > threshold;
                highSum += above ? w * a : 0.0f;
                highWeight += above ? w : 0.0f;
                lowSum += above ? 0.0f : w * a;
                lowWeight += above ? 0.0f : w;
            }
            high = highSum / highWeight;
            low = lowSum / lowWeight;
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
    std::array<float, window> recent_{};
    std::array<float, window> weights_{};  // by age in peaks
    int count_ = 0;
    float high_ = 0.0f, low_ = 0.0f;
};

}  // namespace platora
