#include "DecoderProbe.h"

#include <gtest/gtest.h>

namespace platora {
namespace {

constexpr double mixvibesPeakMs = 1000.0 / 12000;
constexpr double finalScratchPeakMs = 1000.0 / 4800;

class SpeedEstimate : public ::testing::Test {
protected:
    void start(VinylType type) {
        decoder.setVinylType(type);
        decoder.reset(44100);
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

}  // namespace
}  // namespace platora
