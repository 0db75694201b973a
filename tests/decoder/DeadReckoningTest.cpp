#include "DeadReckoning.h"

#include <gtest/gtest.h>

namespace platora {
namespace {

constexpr double step = 1.0 / 12000;  // s, a Mixvibes peak

TEST(DeadReckoning, GoesByTheSpeedButNoFartherThanThePeaksSinceTheFrameLetIt) {
    DeadReckoning reckoning;
    reckoning.reset(step);
    reckoning.frameRead(10.0);
    for (int i = 0; i < 120; ++i) reckoning.peakStored(+1.0);  // 10 ms of peaks at speed 1
    EXPECT_NEAR(reckoning.position(10.0, 0.0, 5.0, 1.0), 10.005, 1e-12);  // the speed is the nearer
    EXPECT_NEAR(reckoning.position(10.0, 0.0, 50.0, 1.0), 10.0 + 120 * step, 1e-12);  // the peaks are
    for (int i = 0; i < 240; ++i) reckoning.peakStored(-1.0);  // turned back as far again
    EXPECT_NEAR(reckoning.position(10.0, 0.0, 50.0, -1.0), 10.0 - 120 * step, 1e-12);
    reckoning.frameRead(20.0);  // the peaks count from the new frame
    EXPECT_NEAR(reckoning.position(20.0, 0.0, 50.0, 1.0), 20.0, 1e-12);
}

TEST(DeadReckoning, TakesTheFramesSpeedOnlyWhileItIsFreshAgreesWithThePeaksAndSpansNoJump) {
    DeadReckoning reckoning;
    reckoning.reset(step);
    EXPECT_EQ(reckoning.speed(1.0, 0.0), 1.0);  // no frames yet
    reckoning.frameTaken(10.0, 0.0, false);
    reckoning.frameTaken(10.0001, 10.0, false);  // too close to give a speed
    reckoning.frameTaken(10.0205, 20.0, false);  // 1.025 over 20 ms
    EXPECT_NEAR(reckoning.speed(1.0, 30.0), 1.025, 1e-9);
    EXPECT_EQ(reckoning.speed(1.5, 30.0), 1.5);  // the peaks say otherwise
    EXPECT_EQ(reckoning.speed(1.0, 20.0 + DeadReckoning::slopeStaleMs + 1.0), 1.0);  // stale
    // A jump the guard saw, however near the peaks' speed it would make the frames'.
    reckoning.frameTaken(10.0445, 40.0, true);
    EXPECT_EQ(reckoning.speed(1.0, 45.0), 1.0);
    reckoning.frameTaken(10.065, 60.0, false);
    EXPECT_NEAR(reckoning.speed(1.0, 65.0), 1.025, 1e-9);
}

}  // namespace
}  // namespace platora
