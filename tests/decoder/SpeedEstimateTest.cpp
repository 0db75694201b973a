#include "DecoderProbe.h"

#include <gtest/gtest.h>

namespace platora {
namespace {

// Stores `count` peaks of a regular two-channel run, `intervalMs` apart. `forward` picks
// which channel leads: the type's forward-leading channel, or the other one.
// Phase 0 is a crest of the leading channel.
void storeRun(TimecodeDecoderProbe& probe, VinylType type, int count, double intervalMs, bool forward,
              double startMs = 0.0, int firstPhase = 0) {
    const int typeLead = type == Mixvibes ? 0 : 1;
    const int leading = forward ? typeLead : 1 - typeLead;
    for (int j = 0; j < count; ++j) {
        const int phase = (j + firstPhase) % 4;
        const auto channel = static_cast<std::int16_t>(phase % 2 == 0 ? leading : 1 - leading);
        const std::int32_t kind = phase < 2 ? Peak::crest : Peak::trough;
        probe.store(makePeak(kind, 0, channel, startMs + j * intervalMs));
    }
}

class SpeedEstimate : public ::testing::Test {
protected:
    void start(VinylType type) {
        decoder.setVinylType(type);
        decoder.reset(44100);
    }
    TimecodeDecoder decoder;
    TimecodeDecoderProbe probe{decoder};
};

TEST_F(SpeedEstimate, nominalFinalScratchPaceIsOne) {
    start(FinalScratch);
    storeRun(probe, FinalScratch, 40, 1000.0 / 4800, true);
    probe.estimateSpeed();
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 1e-5f);
}

TEST_F(SpeedEstimate, twiceTheMixvibesPeakRateIsTwo) {
    start(Mixvibes);
    storeRun(probe, Mixvibes, 40, 1000.0 / 24000, true);
    probe.estimateSpeed();
    EXPECT_NEAR(decoder.getSpeed(), 2.0f, 1e-5f);
}

TEST_F(SpeedEstimate, theOtherChannelLeadingIsReverse) {
    for (VinylType type : {FinalScratch, Mixvibes}) {
        start(type);
        storeRun(probe, type, 40, type == Mixvibes ? 1000.0 / 12000 : 1000.0 / 4800, false);
        probe.estimateSpeed();
        EXPECT_NEAR(decoder.getSpeed(), -1.0f, 1e-5f) << "type " << type;
    }
}

TEST_F(SpeedEstimate, oneReversedTermOfThirtyTwoRaisesTheMagnitude) {
    start(Mixvibes);
    // 35 forward peaks whose entry 1 (X of the first term only) then takes the other kind;
    // its term's Z is on channel 1, so the term's direction rests on X.
    constexpr double interval = 1000.0 / 12000;
    storeRun(probe, Mixvibes, 35, interval, true, 0.0, 1);
    probe.store(makePeak(Peak::crest, 0, 0, 99.0));  // entry 0 takes no part
    ASSERT_EQ(probe.entry(3).channel, 1);
    decoder.reset(44100);
    storeRun(probe, Mixvibes, 34, interval, true, 0.0, 1);
    probe.store(makePeak(Peak::crest, 0, 1, 34 * interval));  // a lagging crest where a trough belongs
    probe.store(makePeak(Peak::crest, 0, 0, 99.0));
    probe.estimateSpeed();
    EXPECT_NEAR(decoder.getSpeed(), 32.0f / 30.0f, 1e-4f);
}

TEST_F(SpeedEstimate, onlyTheThirtyFourNewestPeaksBeforeEntryZeroCount) {
    start(Mixvibes);
    storeRun(probe, Mixvibes, 6, 50.0, true);  // wildly slow and too old to matter
    storeRun(probe, Mixvibes, 35, 1000.0 / 12000, true, 1000.0);
    probe.estimateSpeed();
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 1e-5f);
}

}  // namespace
}  // namespace platora
