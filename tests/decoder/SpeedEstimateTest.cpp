#include "DecoderProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

namespace platora {
namespace {

constexpr double mixvibesPeakMs = 1000.0 / 12000;
constexpr double finalScratchPeakMs = 1000.0 / 4800;

class SpeedEstimate : public ::testing::Test {
protected:
    void start(VinylType type) {
        decoder.reset(44100, {type});
    }
    TimecodeDecoder decoder;
    TimecodeDecoderProbe probe{decoder};
};

TEST_F(SpeedEstimate, peakRateGivesTheMagnitudeAndTheLeadingChannelTheDirection) {
    struct Case {
        VinylType type;
        int leadingChannel;
        double intervalMs;
        float speed;
    };
    for (const Case& c : {Case{FinalScratch, 1, finalScratchPeakMs, 1.0f}, Case{Mixvibes, 0, mixvibesPeakMs / 2, 2.0f},
                          Case{FinalScratch, 0, finalScratchPeakMs, -1.0f}, Case{Mixvibes, 1, mixvibesPeakMs, -1.0f}}) {
        start(c.type);
        storeRun(probe, c.leadingChannel, 40, c.intervalMs);
        probe.estimateSpeed();
        EXPECT_NEAR(decoder.getSpeed(), c.speed, 1e-5f) << "type " << c.type << " leading " << c.leadingChannel;
    }
}

TEST_F(SpeedEstimate, oneReversedTermOfThirtyTwoRaisesTheMagnitude) {
    start(Mixvibes);
    // Entry 1 is a lagging crest where a trough belongs; it is X of the first term only,
    // whose Z is on channel 1, so that term's direction rests on X.
    storeRun(probe, 0, 34, mixvibesPeakMs, 0.0, 1);
    probe.store(makePeak(Peak::crest, 0, 1, 34 * mixvibesPeakMs));
    probe.store(makePeak(Peak::crest, 0, 0, 99.0));  // entry 0 takes no part
    probe.estimateSpeed();
    EXPECT_NEAR(decoder.getSpeed(), 32.0f / 30.0f, 1e-4f);
}

TEST_F(SpeedEstimate, onlyTheThirtyFourNewestPeaksBeforeEntryZeroCount) {
    start(Mixvibes);
    storeRun(probe, 0, 6, 50.0);  // wildly slow and too old to matter
    storeRun(probe, 0, 35, mixvibesPeakMs, 1000.0);
    probe.estimateSpeed();
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 1e-5f);
}

// Frames are read at a peak only while the estimate is positive, so the sign taken from the
// fixed-point sum must be that of the float sum, also where the terms nearly cancel.
TEST(SpeedWindowSign, isThatOfTheFloatSumWheneverItIsSure) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> term(-3.0, 3.0), exponent(-8.0, -1.0);
    SpeedWindow window;
    int sure = 0;
    for (int round = 0; round < 20000; ++round) {
        double sum = 0.0;
        for (int k = 1; k < SpeedWindow::length; ++k) {
            window.push(term(random));
            sum += window.term(-1, 0);  // the newest term, not yet in the window
        }
        const double residue = (round % 2 ? 1.0 : -1.0) * std::pow(10.0, exponent(random));
        window.push(residue - sum);  // the whole window sums to about the residue
        window.push(0.0);
        const SpeedWindow::Sign sign = window.sign();
        if (sign == SpeedWindow::Sign::unsure) continue;
        ++sure;
        ASSERT_EQ(sign == SpeedWindow::Sign::positive, window.estimate(SpeedWindow::length, 0) > 0.0f) << round;
    }
    EXPECT_GT(sure, 2000);
}

// The audio thread publishes an estimate's window, whose sum the reader forms: a reader on
// another thread must see whole windows and values only.
TEST(PublishedSpeed, aReaderOnAnotherThreadNeverSeesAWindowTornByAWrite) {
    SpeedWindow ones, twos;  // every term 1: speed 1; every term 2: speed 0.5
    for (int i = 0; i <= SpeedWindow::length; ++i) {
        ones.push(1.0);
        twos.push(2.0);
    }
    PublishedSpeed speed;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 30000; ++i) {
            speed.set(i % 3 == 0 ? ones : twos, SpeedWindow::length);
            if (i % 3 == 2) speed.set(0.25f);
        }
        done = true;
    });
    int torn = 0;
    for (int reads = 0; !done || reads < 1000; ++reads) {
        const float value = speed.get();
        torn += value != 1.0f && value != 0.5f && value != 0.25f;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace platora
