#include "SpeedProfile.h"

#include <gtest/gtest.h>

#include <cmath>

namespace platora {
namespace {

SpeedProfile parsed(const char* text) {
    std::string error;
    auto profile = SpeedProfile::parse(text, error);
    EXPECT_TRUE(profile.has_value()) << text << ": " << error;
    return profile.value_or(SpeedProfile{});
}

TEST(SpeedProfile, DistanceIsTheAreaUnderTheSpeedAndTheLastSpeedHoldsForever) {
    struct Case {
        const char* profile;
        double t, distance, speed;
    };
    const Case cases[] = {
        {"0.5:2,0.5->2:3,-1:1", 2.0, 1.0, 0.5},       {"0.5:2,0.5->2:3,-1:1", 3.5, 2.3125, 1.25},
        {"0.5:2,0.5->2:3,-1:1", 4.0, 3.0, 1.5},       {"0.5:2,0.5->2:3,-1:1", 8.0, 1.75, -1.0},
        {"1:1,1->-0.5:1", 4.0, 0.25, -0.5},           {"1:2,0:1,-1:1.5", 2.7, 2.0, 0.0},
        {"1:2,0:1,-1:1.5", 4.5, 0.5, -1.0},           {"2:1,-1", 5.0, -2.0, -1.0},
        {"+1:1e0,-1.5->+0.5:0.5,-2", 1.0, 1.0, -1.5}, {"+1:1e0,-1.5->+0.5:0.5,-2", 9.0, -14.25, -2.0},
    };
    for (const Case& c : cases) {
        const SpeedProfile profile = parsed(c.profile);
        EXPECT_NEAR(profile.distanceAt(c.t), c.distance, 1e-12) << c.profile << " at " << c.t;
        EXPECT_DOUBLE_EQ(profile.speedAt(c.t), c.speed) << c.profile << " at " << c.t;
    }
    EXPECT_DOUBLE_EQ(parsed("0.5:2,0.5->2:3,-1:1").duration(), 6.0);
    EXPECT_TRUE(std::isinf(parsed("2:1,-1").duration()));
    EXPECT_TRUE(std::isinf(SpeedProfile{}.duration()));
    EXPECT_DOUBLE_EQ(SpeedProfile{}.distanceAt(123.0), 123.0);
}

TEST(SpeedProfile, WowPositionIsTheIntegralOfTheModulatedSpeed) {
    SpeedProfile profile = parsed("1:1.3,1->-1:2.1,-0.4:1");
    profile.setWow(0.05, 1.7);
    // Simpson's rule over speedAt, between the segments' ends.
    auto integrate = [&](double from, double to) {
        constexpr int steps = 20000;
        const double h = (to - from) / steps;
        double sum = profile.speedAt(from + 1e-12) + profile.speedAt(to - 1e-12);
        for (int i = 1; i < steps; ++i) sum += (i % 2 ? 4.0 : 2.0) * profile.speedAt(from + i * h);
        return sum * h / 3.0;
    };
    double start = 0.0, distance = 0.0;
    for (double t : {0.9, 1.3, 2.0, 3.4, 4.4, 6.0}) {
        distance += integrate(start, t);
        start = t;
        EXPECT_NEAR(profile.distanceAt(t), distance, 1e-9) << t;
    }
    EXPECT_NEAR(profile.speedAt(0.25 / 1.7), 1.05, 1e-12);
}

TEST(SpeedProfile, StaleHintGivesTheSameDistanceAsAFreshSearch) {
    const SpeedProfile profile = parsed("1:1,2:1,3:1,4:1,5:1");
    std::size_t hint = 0;
    EXPECT_DOUBLE_EQ(profile.distanceAt(4.5, hint), 1 + 2 + 3 + 4 + 2.5);
    EXPECT_DOUBLE_EQ(profile.distanceAt(0.5, hint), 0.5);  // the hint points far ahead
    EXPECT_DOUBLE_EQ(profile.distanceAt(3.0, hint), 6.0);  // exactly on a boundary
}

TEST(SpeedProfile, RefusesMalformedSegmentsWithOneLine) {
    for (const char* text : {"", "1:", "1:0", "1:-2", "x", "1->2", "2,1:1", "1:5,", ",1:5", "200:1", "1:nan", "1:inf",
                             "1:1e308", "1->:1", "->1:1", "1:2:3", "1 :2"}) {
        std::string error;
        EXPECT_FALSE(SpeedProfile::parse(text, error).has_value()) << "'" << text << "'";
        EXPECT_FALSE(error.empty()) << "'" << text << "'";
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

}  // namespace
}  // namespace platora
