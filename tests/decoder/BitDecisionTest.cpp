#include "DecoderProbe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace platora {
namespace {

Peak crest(std::int16_t value, std::int32_t bit = Peak::noBit) { return makePeak(Peak::crest, value, 0, 0.0, bit); }
Peak trough(std::int16_t value, std::int32_t bit = Peak::noBit) { return makePeak(Peak::trough, value, 0, 0.0, bit); }

class BitDecision : public ::testing::Test {
protected:
    void SetUp() override {
        decoder.reset(44100, {FinalScratch});
    }
    TimecodeDecoder decoder;
    TimecodeDecoderProbe probe{decoder};
};

TEST_F(BitDecision, noDecisionUntilFourPeaksAreStored) {
    decoder.setCalibration(1.2f);
    for (int i = 0; i < 4; ++i) probe.insertPeak(crest(8000, 1));
    EXPECT_EQ(probe.entry(0).bit, 1);  // its own bit, undecided
    EXPECT_EQ(probe.validBitCount(), 0);
}

// Stored peaks E4 (oldest) .. E1, then a new peak P on E2's and E4's channel. E2 is P's
// channel's previous peak, E4 the one of P's kind before it; E3 and E1 are on channel 1.
TEST_F(BitDecision, bitFollowsTheSwingRatioAgainstTheCalibrationValueAndTheBitBefore) {
    struct Case {
        const char* what;
        float calibration;
        Peak e4, e2, p;
        std::int32_t countBefore, bit, countAfter;
    };
    // Swing ratios below: previous |E2 - E4| against current |E2 - P|.
    const Case cases[] = {
        {"ratio 1:2 equal to the calibration value is a step", 2.0f, trough(0, 0), crest(1000), trough(-1000), 0, 1, 1},
        {"ratio 1:2 just inside it is steady", 2.001f, trough(0, 0), crest(1000), trough(-1000), 0, 0, 1},
        {"equal values after a crest: the low level", 1.0f, trough(-3000, 1), crest(3000), trough(-3000), 0, 0, 1},
        {"equal values after a trough: the high level", 1.0f, crest(3000, 0), trough(-3000), crest(3000), 0, 1, 1},
        {"growth after growth: inconsistent", 1.2f, crest(10000, 1), trough(-10000), crest(20000), 50, Peak::noBit, 0},
        {"shrink after growth: consistent", 1.2f, crest(20000, 1), trough(-10000), crest(10000), 50, 0, 51},
        {"steady after an undecided peak", 1.2f, crest(10000), trough(-10000), crest(10000, 1), 7, 1, 7},
        {"a zero current swing is a step", 3.9f, crest(10000, 1), trough(-10000), crest(-10000), 0, 0, 1},
        {"two zero swings are a step", 3.9f, crest(0, 1), trough(0), crest(0), 0, Peak::noBit, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        decoder.reset(44100);
        decoder.setCalibration(c.calibration);
        probe.setValidBitCount(c.countBefore);
        for (const Peak& stored : {c.e4, makePeak(Peak::trough, -5000, 1), c.e2, makePeak(Peak::crest, 5000, 1)})
            probe.store(stored);
        probe.insertPeak(c.p);
        EXPECT_EQ(probe.entry(0).bit, c.bit);
        EXPECT_EQ(probe.validBitCount(), c.countAfter);
    }
}

TEST_F(BitDecision, historyHoldsOneLessThanTwoFrames) {
    decoder.setCalibration(1.2f);
    for (int i = 0; i < 65; ++i) probe.insertPeak(makePeak(i % 2, 1000, 0));
    EXPECT_EQ(probe.historySize(), 63u);

    decoder.reset(44100, {Mixvibes});
    for (int i = 0; i < 200; ++i) probe.insertPeak(crest(static_cast<std::int16_t>(i)));
    EXPECT_EQ(probe.historySize(), 181u);
    EXPECT_EQ(probe.entry(0).value, 199);
    EXPECT_EQ(probe.entry(180).value, 19);
}

// Steadiness is decided by products, not quotients; it must agree with the quotients for
// every swing, above all where a ratio meets the limit or rounds onto it (1 / (1 / 93.0) is
// below 93.0 in double).
TEST_F(BitDecision, steadinessDecidedWithoutDividingAgreesWithTheQuotients) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const float limit : {1.07f, 1.2f, 1.25f, 1.453125f, 2.0f, 93.0f, 1.0f, 0.0f, -1.5f, 1e-40f, 1e30f, inf, nan}) {
        for (std::int32_t previous = 0; previous < 65536; ++previous) {
            for (const double meeting : {previous * double{limit}, previous / double{limit}}) {
                const auto near = meeting >= 0.0 && meeting < 65535.0 ? static_cast<std::int32_t>(meeting) : 0;
                for (const std::int32_t current : {near, near + 1, 0}) {
                    const double ratio = static_cast<double>(previous) / current;
                    if (TimecodeDecoderProbe::swingIsSteady(previous, current, limit) !=
                        (ratio < limit && 1.0 / ratio < limit)) {
                        ADD_FAILURE() << previous << " against " << current << " with the limit " << limit;
                        return;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace platora
