#include "GainFollower.h"

#include <algorithm>
#include <cmath>

namespace platora {

namespace {

constexpr std::int32_t clipped = 32767;  // the conditioning saturates here
// A new gain within this ratio of the one in force changes nothing: the peaks of one record
// vary from window to window.
constexpr double keepRatio = 1.25;

}  // namespace

GainFollower::GainFollower(Clock::time_point start, std::int16_t gain) : gain_(std::max<std::int16_t>(gain, 1)) {
    startWindow(start);
}

void GainFollower::startWindow(Clock::time_point now) {
    loudest = 0.0;
    windowEnd = now + window;
}

std::int16_t GainFollower::update(std::int32_t level, Clock::time_point now) {
    if (level >= clipped) {
        // A clipped signal reads no frame: halve now, and measure anew.
        gain_ = std::max<std::int16_t>(1, static_cast<std::int16_t>(gain_ / 2));
        heard = true;
        startWindow(now);
        return gain_;
    }
    loudest = std::max(loudest, static_cast<double>(level) / gain_);
    if (now < windowEnd) return gain_;
    if (loudest >= silenceBelow) {
        // The least whole gain that lifts the peaks past the target, unless that would clip.
        const double past = std::ceil((targetLevel + 1) / loudest);
        const double unclipped = std::floor((clipped - 1) / loudest);
        const double wanted = std::clamp(std::min(past, unclipped), 1.0, static_cast<double>(ceiling));
        if (!heard || wanted > gain_ * keepRatio || wanted * keepRatio < gain_)
            gain_ = static_cast<std::int16_t>(wanted);
        heard = true;
    }
    startWindow(now);
    return gain_;
}

}  // namespace platora
