#include "SpeedProfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>

namespace platora {

namespace {

constexpr double maxSpeedMagnitude = 100.0;          // far beyond any turntable; catches typos like "1e9"
constexpr double maxSegmentSeconds = 24.0 * 3600.0;  // also keeps every sum of lengths finite
constexpr double infinity = std::numeric_limits<double>::infinity();

bool parseNumber(std::string_view text, double& value) {
    if (text.empty()) return false;
    if (text.front() == '+') text.remove_prefix(1);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

bool parseSpeed(std::string_view text, double& speed) {
    return parseNumber(text, speed) && std::fabs(speed) <= maxSpeedMagnitude;
}

}  // namespace

SpeedProfile::SpeedProfile() { rebuild(); }

std::optional<SpeedProfile> SpeedProfile::parse(std::string_view text, std::string& error) {
    SpeedProfile profile;
    bool open = false;  // a bare speed was given; nothing may follow it
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t comma = text.find(',', begin);
        if (comma == std::string_view::npos) comma = text.size();
        std::string_view item = text.substr(begin, comma - begin);
        auto fail = [&](const char* why) {
            error = "bad speed profile segment '" + std::string(item) + "': " + why;
            return std::nullopt;
        };
        if (open) return fail("only the last segment may omit its length");

        std::string_view speeds = item;
        double seconds = infinity;
        if (std::size_t colon = item.find(':'); colon != std::string_view::npos) {
            speeds = item.substr(0, colon);
            if (!parseNumber(item.substr(colon + 1), seconds) || seconds <= 0.0 || seconds > maxSegmentSeconds)
                return fail("length must be a number of seconds above 0 and at most 86400");
        } else {
            open = true;
        }
        double from = 0.0;
        double to = 0.0;
        if (std::size_t arrow = speeds.find("->"); arrow != std::string_view::npos) {
            if (open) return fail("a ramp needs a length");
            if (!parseSpeed(speeds.substr(0, arrow), from) || !parseSpeed(speeds.substr(arrow + 2), to))
                return fail("speeds must be numbers between -100 and 100");
        } else {
            if (!parseSpeed(speeds, from)) return fail("speed must be a number between -100 and 100");
            to = from;
        }
        profile.addSegment(from, to, seconds);
        begin = comma + 1;
    }
    return profile;
}

void SpeedProfile::addSegment(double fromSpeed, double toSpeed, double seconds) {
    pieces_.push_back({fromSpeed, toSpeed, seconds});
    rebuild();
}

void SpeedProfile::setWow(double depth, double rateHz) {
    wowDepth_ = depth;
    wowRadiansPerSecond_ = 2.0 * std::numbers::pi * rateHz;
    rebuild();
}

double SpeedProfile::duration() const {
    double total = 0.0;
    for (const Piece& piece : pieces_) total += piece.seconds;
    return pieces_.empty() ? infinity : total;
}

void SpeedProfile::rebuild() {
    segments_.clear();
    double start = 0.0;
    double distance = 0.0;
    double lastSpeed = 1.0;
    for (const Piece& piece : pieces_) {
        double slope = std::isinf(piece.seconds) ? 0.0 : (piece.toSpeed - piece.fromSpeed) / piece.seconds;
        Segment segment{start, piece.fromSpeed, slope, distance};
        segments_.push_back(segment);
        if (std::isinf(piece.seconds)) return;
        start += piece.seconds;
        distance += baseIntegral(segment, start) + wowIntegral(segment, start);
        lastSpeed = piece.toSpeed;
    }
    // After the last timed segment its end speed holds.
    segments_.push_back({start, lastSpeed, 0.0, distance});
}

std::size_t SpeedProfile::segmentAt(double t, std::size_t hint) const {
    auto fits = [&](std::size_t i) {
        return segments_[i].start <= t && (i + 1 == segments_.size() || t < segments_[i + 1].start);
    };
    if (hint < segments_.size() && fits(hint)) return hint;
    if (hint + 1 < segments_.size() && fits(hint + 1)) return hint + 1;
    auto after = std::upper_bound(segments_.begin(), segments_.end(), t,
                                  [](double time, const Segment& s) { return time < s.start; });
    return after == segments_.begin() ? 0 : static_cast<std::size_t>(after - segments_.begin()) - 1;
}

double SpeedProfile::baseIntegral(const Segment& segment, double t) const {
    double tau = t - segment.start;
    return segment.fromSpeed * tau + 0.5 * segment.slope * tau * tau;
}

double SpeedProfile::wowIntegral(const Segment& segment, double t) const {
    if (wowDepth_ == 0.0 || wowRadiansPerSecond_ == 0.0) return 0.0;
    // Antiderivative of (from + slope (u - start)) sin(w u).
    const double w = wowRadiansPerSecond_;
    auto antiderivative = [&](double u) {
        double base = segment.fromSpeed + segment.slope * (u - segment.start);
        return -base * std::cos(w * u) / w + segment.slope * std::sin(w * u) / (w * w);
    };
    return wowDepth_ * (antiderivative(t) - antiderivative(segment.start));
}

double SpeedProfile::speedAt(double t) const {
    const Segment& segment = segments_[segmentAt(t, 0)];
    double base = segment.fromSpeed + segment.slope * (t - segment.start);
    return base * (1.0 + wowDepth_ * std::sin(wowRadiansPerSecond_ * t));
}

double SpeedProfile::distanceAt(double t, std::size_t& hint) const {
    hint = segmentAt(t, hint);
    const Segment& segment = segments_[hint];
    return segment.distanceAtStart + baseIntegral(segment, t) + wowIntegral(segment, t);
}

double SpeedProfile::distanceAt(double t) const {
    std::size_t hint = 0;
    return distanceAt(t, hint);
}

}  // namespace platora
