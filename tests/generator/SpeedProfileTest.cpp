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

// Simpson's rule over speedAt, independent of the closed forms under test; `from` and
// `to` must not straddle a jump of the speed.
double integrate(const SpeedProfile& profile, double from, double to) {
    constexpr int steps = 20000;
    double h = (to - from) / steps;
    double sum = profile.speedAt(from + 1e-12) + profile.speedAt(to - 1e-12);
    for (int i = 1; i < steps; ++i) sum += (i % 2 ? 4.0 : 2.0) * profile.speedAt(from + i * h);
    return sum * h / 3.0;
}

TEST(SpeedProfile, DefaultPlaysAtNominalSpeedForever) {
    SpeedProfile profile;
    EXPECT_TRUE(std::isinf(profile.duration()));
    EXPECT_DOUBLE_EQ(profile.speedAt(123.0), 1.0);
    EXPECT_DOUBLE_EQ(profile.distanceAt(123.0), 123.0);
}

TEST(SpeedProfile, PositionAtTheEndOfARampIsTheAreaUnderIt) {
    SpeedProfile profile = parsed("0.5:2,0.5->2:3,-1:1");
    EXPECT_DOUBLE_EQ(profile.duration(), 6.0);
    EXPECT_NEAR(profile.distanceAt(2.0), 1.0, 1e-12);
    EXPECT_NEAR(profile.distanceAt(5.0), 1.0 + 3.0 * 1.25, 1e-12);
    EXPECT_NEAR(profile.distanceAt(3.5), 1.0 + 1.5 * (0.5 + 1.25) / 2.0, 1e-12);
    EXPECT_DOUBLE_EQ(profile.speedAt(3.5), 1.25);
    EXPECT_NEAR(profile.distanceAt(6.0), 4.75 - 1.0, 1e-12);
}

TEST(SpeedProfile, LastSpeedHoldsAfterTheProfileEnds) {
    SpeedProfile profile = parsed("1:1,1->-0.5:1");
    EXPECT_DOUBLE_EQ(profile.speedAt(10.0), -0.5);
    EXPECT_NEAR(profile.distanceAt(4.0), 1.0 + 0.25 - 0.5 * 2.0, 1e-12);
}

TEST(SpeedProfile, StopHoldsThePositionAndReverseWalksBack) {
    SpeedProfile profile = parsed("1:2,0:1,-1:1.5");
    EXPECT_DOUBLE_EQ(profile.distanceAt(2.0), 2.0);
    EXPECT_DOUBLE_EQ(profile.distanceAt(2.7), 2.0);
    EXPECT_DOUBLE_EQ(profile.speedAt(2.5), 0.0);
    EXPECT_NEAR(profile.distanceAt(4.5), 0.5, 1e-12);
}

TEST(SpeedProfile, BareLastSpeedNeverEnds) {
    SpeedProfile profile = parsed("2:1,-1");
    EXPECT_TRUE(std::isinf(profile.duration()));
    EXPECT_NEAR(profile.distanceAt(5.0), 2.0 - 4.0, 1e-12);
}

TEST(SpeedProfile, WowPositionIsTheIntegralOfTheModulatedSpeed) {
    SpeedProfile profile = parsed("1:1.3,1->-1:2.1,-0.4:1");
    profile.setWow(0.05, 1.7);
    double start = 0.0;
    double distance = 0.0;
    for (double t : {0.9, 1.3, 2.0, 3.4, 4.4, 6.0}) {  // the segments' ends are among them
        distance += integrate(profile, start, t);
        start = t;
        EXPECT_NEAR(profile.distanceAt(t), distance, 1e-9) << t;
    }
    EXPECT_NEAR(profile.speedAt(0.25 / 1.7), 1.05, 1e-12);
}

TEST(SpeedProfile, StaleHintGivesTheSameDistanceAsAFreshSearch) {
    SpeedProfile profile = parsed("1:1,2:1,3:1,4:1,5:1");
    std::size_t hint = 0;
    double late = profile.distanceAt(4.5, hint);
    double early = profile.distanceAt(0.5, hint);  // hint now points far ahead
    EXPECT_DOUBLE_EQ(early, 0.5);
    EXPECT_DOUBLE_EQ(late, 1 + 2 + 3 + 4 + 2.5);
    EXPECT_DOUBLE_EQ(profile.distanceAt(3.0, hint), 6.0);  // exactly on a boundary
}

TEST(SpeedProfile, RefusesMalformedSegmentsWithOneLine) {
    for (const char* text : {"", "1:", "1:0", "1:-2", "x", "1->2", "2,1:1", "1:5,", ",1:5", "200:1", "1:nan",
                             "1:inf", "1->:1", "->1:1", "1:2:3", "1 :2"}) {
        std::string error;
        EXPECT_FALSE(SpeedProfile::parse(text, error).has_value()) << "'" << text << "'";
        EXPECT_FALSE(error.empty()) << "'" << text << "'";
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(SpeedProfile, AcceptsSignsAndExponents) {
    SpeedProfile profile = parsed("+1:1e0,-1.5->+0.5:0.5,-2");
    EXPECT_DOUBLE_EQ(profile.speedAt(0.5), 1.0);
    EXPECT_DOUBLE_EQ(profile.speedAt(1.0), -1.5);
    EXPECT_DOUBLE_EQ(profile.speedAt(9.0), -2.0);
}

}  // namespace
}  // namespace platora
