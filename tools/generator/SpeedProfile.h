#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platora {

// How fast the simulated record turns over time: piecewise linear segments, then the
// last speed held forever, optionally modulated by a slow sinusoidal wow.
// Speed 1.0 = nominal, negative = backwards, 0 = stopped.
// Read-only once built, so one profile can drive any number of generators.
class SpeedProfile {
public:
    // Constant speed 1.0.
    SpeedProfile();

    // Segments separated by commas, each SPEED:SECONDS (constant), FROM->TO:SECONDS (linear
    // ramp) or, as the last segment only, a bare SPEED held forever.
    // Example: "1:5,1->-1:2,0:1". On failure returns nothing and sets `error` to one line.
    static std::optional<SpeedProfile> parse(std::string_view text, std::string& error);

    // Appends a segment; fromSpeed == toSpeed is a constant one. seconds > 0, or infinite
    // for a last segment that never ends.
    void addSegment(double fromSpeed, double toSpeed, double seconds);

    // speed(t) = base(t) x (1 + depth x sin(2 pi rateHz t)). depth 0 switches it off.
    void setWow(double depth, double rateHz);

    // Sum of the segment lengths; infinite when the last segment never ends.
    double duration() const;

    // Speed at time t >= 0 (s).
    double speedAt(double t) const;

    // Record seconds covered from time 0 to t >= 0: the exact integral of speedAt, so long
    // renders do not drift. `hint` caches the segment of the previous call; start it at 0.
    double distanceAt(double t, std::size_t& hint) const;
    double distanceAt(double t) const;

private:
    struct Segment {
        double start;  // s
        double fromSpeed;
        double slope;            // speed per s
        double distanceAtStart;  // record seconds covered before this segment
    };

    std::size_t segmentAt(double t, std::size_t hint) const;
    double baseIntegral(const Segment& segment, double t) const;
    double wowIntegral(const Segment& segment, double t) const;
    void rebuild();

    struct Piece {
        double fromSpeed;
        double toSpeed;
        double seconds;
    };
    std::vector<Piece> pieces_;
    std::vector<Segment> segments_;  // pieces_ plus the held end speed, with running sums
    double wowDepth_ = 0.0;
    double wowRadiansPerSecond_ = 0.0;
};

}  // namespace platora
