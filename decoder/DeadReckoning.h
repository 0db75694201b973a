#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace platora {

// Where a record that plays on has got to while its frames are lost: moved on by the speed
// from where it was last put, but no farther than the peaks since the last frame let it
// go, however stale the speed. The speed is the frames' own, from frames taken some ms
// apart, while it is fresh and the peaks agree with it: steadier than the peaks' across a
// gap. Audio thread only; allocates nothing.
class DeadReckoning {
public:
    static constexpr double slopeSpanMs = 20.0;          // frames this far apart give the frames' speed
    static constexpr double slopeStaleMs = 200.0;        // older than this, it no longer describes the record
    static constexpr double plausibleSpeedRatio = 0.25;  // the frames' speed is trusted this close to the peaks'

    void reset(double stepSeconds) {
        stepSeconds_ = stepSeconds;
        slopeFromTime = frameSpeedTime = -1.0;
        netSteps = netStepsAtFrame = 0;
        steppedBack_ = false;
    }

    // A stored peak's speed term: its sign is the step the record made.
    void peakStored(double term) { netSteps += term > 0.0 ? 1 : term < 0.0 ? -1 : 0; }
    // A frame was taken at timeMs; jumped: it is not where the frames before led, so no
    // speed is formed across it.
    void frameTaken(double position, double timeMs, bool jumped) {
        if (jumped) slopeFromTime = frameSpeedTime = -1.0;
        const double span = timeMs - slopeFromTime;
        if (slopeFromTime >= 0.0 && span < slopeSpanMs) return;
        if (slopeFromTime >= 0.0 && span <= slopeStaleMs) {
            frameSpeed = (position - slopeFrom) * msPerSecond / span;
            frameSpeedTime = timeMs;
        }
        slopeFrom = position;
        slopeFromTime = timeMs;
    }
    // A frame set the position.
    void frameRead(double position) {
        framePosition = position;
        netStepsAtFrame = netSteps;
        steppedBack_ = false;
    }
    // A step back moved the position: the reckoning has no frame's place to start from.
    void stepBack() { steppedBack_ = true; }
    bool fromFrame() const { return !steppedBack_; }

    // The frames' speed while it is fresh at nowMs and agrees with the peaks', else the peaks'.
    double speed(double peakSpeed, double nowMs) const {
        const bool fresh = frameSpeedTime >= 0.0 && nowMs - frameSpeedTime <= slopeStaleMs;
        const bool plausible = std::fabs(frameSpeed - peakSpeed) <= plausibleSpeedRatio * std::fabs(peakSpeed);
        return fresh && plausible ? frameSpeed : peakSpeed;
    }
    // Where the record should be at timeMs, at speed from `from` (s) at fromMs.
    double position(double from, double fromMs, double timeMs, double speed) const {
        const double bySpeed = from + speed * (timeMs - fromMs) / msPerSecond;
        const double byPeaks = framePosition + static_cast<double>(netSteps - netStepsAtFrame) * stepSeconds_;
        return speed >= 0.0 ? std::min(bySpeed, byPeaks) : std::max(bySpeed, byPeaks);
    }

private:
    static constexpr double msPerSecond = 1000.0;

    double stepSeconds_ = 0.0;
    double slopeFrom = 0.0, slopeFromTime = -1.0;    // s, ms (negative: none)
    double frameSpeed = 0.0, frameSpeedTime = -1.0;  // record s per s, ms (negative: none)
    double framePosition = 0.0;
    std::int64_t netSteps = 0, netStepsAtFrame = 0;  // forward steps less backward ones
    bool steppedBack_ = false;
};

}  // namespace platora
