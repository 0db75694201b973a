#include "DecoderProbe.h"

#include <gtest/gtest.h>

namespace platora {
namespace {

// Four stored peaks E4 (oldest) .. E1 (newest), then a decision on a new peak p.
// E2 is p's channel's previous peak, E4 the one of p's kind before it.
class BitDecision : public ::testing::Test {
protected:
    void SetUp() override {
        decoder.setVinylType(FinalScratch);
        decoder.reset(44100);
    }
    void storeFour(Peak e4, Peak e2, std::int32_t e2Kind) {
        e2.kind = e2Kind;
        probe.store(e4);
        probe.store(makePeak(Peak::trough, -5000, 1));
        probe.store(e2);
        probe.store(makePeak(Peak::crest, 5000, 1));
    }
    std::int32_t decide(Peak p) {
        probe.insertPeak(p);
        return probe.entry(0).bit;
    }
    TimecodeDecoder decoder;
    TimecodeDecoderProbe probe{decoder};
};

TEST_F(BitDecision, noDecisionUntilFourPeaksAreStored) {
    decoder.setCalibration(1.2f);
    for (int i = 0; i < 3; ++i) probe.insertPeak(makePeak(Peak::crest, 8000, 0, 0.0, 1));
    EXPECT_EQ(decide(makePeak(Peak::crest, 8000, 0, 0.0, 1)), 1);  // its own bit, undecided
    EXPECT_EQ(probe.validBitCount(), 0);
}

TEST_F(BitDecision, ratioEqualToTheCalibrationValueIsAStep) {
    // Previous swing 1000, current swing 2000: ratio 0.5, inverse 2.
    decoder.setCalibration(2.0f);
    storeFour(makePeak(Peak::trough, 0, 0, 0.0, 0), makePeak(0, 1000, 0), Peak::crest);
    EXPECT_EQ(decide(makePeak(Peak::trough, -1000, 0)), 1);  // deeper trough: the larger level
    EXPECT_EQ(probe.validBitCount(), 1);
}

TEST_F(BitDecision, ratioJustInsideTheCalibrationValueIsSteadyAndKeepsTheLevel) {
    decoder.setCalibration(2.001f);
    storeFour(makePeak(Peak::trough, 0, 0, 0.0, 0), makePeak(0, 1000, 0), Peak::crest);
    EXPECT_EQ(decide(makePeak(Peak::trough, -1000, 0)), 0);
    EXPECT_EQ(probe.validBitCount(), 1);
}

TEST_F(BitDecision, equalValuesDecideByTheKindOfThePreviousPeak) {
    decoder.setCalibration(1.0f);  // no ratio is steady at 1 or less
    storeFour(makePeak(Peak::trough, -3000, 0, 0.0, 1), makePeak(0, 3000, 0), Peak::crest);
    EXPECT_EQ(decide(makePeak(Peak::trough, -3000, 0)), 0);

    decoder.reset(44100);
    storeFour(makePeak(Peak::crest, 3000, 0, 0.0, 0), makePeak(0, -3000, 0), Peak::trough);
    EXPECT_EQ(decide(makePeak(Peak::crest, 3000, 0)), 1);
}

TEST_F(BitDecision, aSecondGrowthInARowIsInconsistentAndRestartsTheCount) {
    decoder.setCalibration(1.2f);
    probe.setValidBitCount(50);
    storeFour(makePeak(Peak::crest, 10000, 0, 0.0, 1), makePeak(0, -10000, 0), Peak::trough);
    EXPECT_EQ(decide(makePeak(Peak::crest, 20000, 0)), Peak::noBit);
    EXPECT_EQ(probe.validBitCount(), 0);
}

TEST_F(BitDecision, aShrinkAfterAGrowthIsConsistent) {
    decoder.setCalibration(1.2f);
    probe.setValidBitCount(50);
    storeFour(makePeak(Peak::crest, 20000, 0, 0.0, 1), makePeak(0, -10000, 0), Peak::trough);
    EXPECT_EQ(decide(makePeak(Peak::crest, 10000, 0)), 0);
    EXPECT_EQ(probe.validBitCount(), 51);
}

TEST_F(BitDecision, steadySwingAfterAnUndecidedPeakLeavesBitAndCountAlone) {
    decoder.setCalibration(1.2f);
    probe.setValidBitCount(7);
    storeFour(makePeak(Peak::crest, 10000, 0, 0.0, Peak::noBit), makePeak(0, -10000, 0), Peak::trough);
    EXPECT_EQ(decide(makePeak(Peak::crest, 10000, 0, 0.0, 1)), 1);
    EXPECT_EQ(probe.validBitCount(), 7);
}

TEST_F(BitDecision, zeroSwingsAreSteps) {
    decoder.setCalibration(3.9f);
    // Current swing 0: infinite ratio.
    storeFour(makePeak(Peak::crest, 10000, 0, 0.0, 1), makePeak(0, -10000, 0), Peak::trough);
    EXPECT_EQ(decide(makePeak(Peak::crest, -10000, 0)), 0);
    // Both swings 0: undefined ratio.
    decoder.reset(44100);
    storeFour(makePeak(Peak::crest, 0, 0, 0.0, 1), makePeak(0, 0, 0), Peak::trough);
    EXPECT_EQ(decide(makePeak(Peak::crest, 0, 0)), Peak::noBit);  // same bit as E4: inconsistent
}

TEST_F(BitDecision, historyHoldsOneLessThanTwoFrames) {
    decoder.setCalibration(1.2f);
    for (int i = 0; i < 64; ++i) probe.insertPeak(makePeak(i % 2, 1000, 0));
    EXPECT_EQ(probe.historySize(), 63u);
    probe.insertPeak(makePeak(Peak::crest, 1000, 0));
    EXPECT_EQ(probe.historySize(), 63u);

    decoder.setVinylType(Mixvibes);
    decoder.reset(44100);
    for (int i = 0; i < 200; ++i) probe.insertPeak(makePeak(Peak::crest, static_cast<std::int16_t>(i), 0));
    EXPECT_EQ(probe.historySize(), 181u);
    EXPECT_EQ(probe.entry(0).value, 199);
    EXPECT_EQ(probe.entry(180).value, 19);
}

}  // namespace
}  // namespace platora
