#include "DecoderProbe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace platora {
namespace {

constexpr double msPerFrame = 1000.0 / 44100;

class Intake : public ::testing::Test {
protected:
    void SetUp() override {
        decoder.reset(44100, {Mixvibes, DecodingMode::faithful, 1.07f});
    }
    bool feed(const std::vector<std::int16_t>& left, const std::vector<std::int16_t>& right = {}) {
        std::vector<std::int16_t> block;
        for (std::size_t i = 0; i < left.size(); ++i) {
            block.push_back(left[i]);
            block.push_back(i < right.size() ? right[i] : 0);
        }
        return decoder.processBlock(block.data(), static_cast<std::int32_t>(block.size()));
    }
    TimecodeDecoder decoder;
    TimecodeDecoderProbe probe{decoder};
};

TEST_F(Intake, silenceLeavesChannelsUnknownAndTheFirstNonzeroSampleSetsTheDirection) {
    EXPECT_FALSE(feed(std::vector<std::int16_t>(512, 0), std::vector<std::int16_t>(512, 0)));
    EXPECT_EQ(probe.channelState(0), 0);
    EXPECT_EQ(probe.historySize(), 0u);
    feed({0, -5, -600}, {0, 0, 7});
    EXPECT_EQ(probe.channelState(0), -1);
    EXPECT_EQ(probe.trough(0).value, -600);
    EXPECT_EQ(probe.channelState(1), +1);
}

TEST_F(Intake, troughIsHandedOnOnlyWhenTheSignalReturnsByMoreThanTheHysteresis) {
    feed({-3000, -1000});  // exactly 2000 back: not yet
    EXPECT_EQ(probe.historySize(), 0u);
    feed({-999});
    ASSERT_EQ(probe.historySize(), 1u);
    EXPECT_EQ(probe.entry(0).kind, Peak::trough);
    EXPECT_EQ(probe.entry(0).value, -3000);
    EXPECT_EQ(probe.channelState(0), +1);
}

TEST_F(Intake, peakKeepsTheTimeOfItsFirstExtremeSampleNotOfItsDetection) {
    // Trough at frame 1; crest flat over frames 3 to 5, handed on at 500 in frame 6; then a
    // rise with no sample below 500: that trough keeps the older trough's time.
    feed({-100, -3000, 0, 3000, 3000, 3000, 500, 1000, 2600});
    ASSERT_EQ(probe.historySize(), 3u);
    EXPECT_EQ(probe.entry(1).kind, Peak::crest);
    EXPECT_NEAR(probe.entry(1).time, 3 * msPerFrame, 1e-12);
    EXPECT_EQ(probe.entry(0).value, 500);
    EXPECT_NEAR(probe.entry(0).time, 1 * msPerFrame, 1e-12);
}

TEST_F(Intake, channelsShareOneHistoryInSampleOrder) {
    feed({-3000, 0, 0}, {0, -3000, 0});
    ASSERT_EQ(probe.historySize(), 2u);
    EXPECT_EQ(probe.entry(0).channel, 1);
    EXPECT_EQ(probe.entry(1).channel, 0);
}

TEST_F(Intake, levelIsTheLargestMagnitudeOfTheLastBlockAndTimeAdvancesByWholeFramesOnly) {
    feed({-32768, 10}, {3, 4});
    EXPECT_EQ(decoder.getLevel(), 32768);
    feed({100}, {-200});
    EXPECT_EQ(decoder.getLevel(), 200);
    EXPECT_FALSE(decoder.processBlock(nullptr, 0));
    EXPECT_EQ(decoder.getLevel(), 0);

    const double before = probe.timeBase();
    const std::vector<std::int16_t> samples(7, 0);
    decoder.processBlock(samples.data(), 7);  // the odd last sample is channel 0's
    EXPECT_NEAR(probe.timeBase() - before, 3 * msPerFrame, 1e-9);
}

TEST_F(Intake, resetForgetsTheStream) {
    feed({-3000, 0, 3000, 0});
    decoder.reset(44100);
    EXPECT_EQ(probe.historySize(), 0u);
    EXPECT_EQ(probe.timeBase(), 0.0);
    EXPECT_EQ(probe.channelState(0), 0);
    EXPECT_EQ(decoder.getSpeed(), 1.0f);
    EXPECT_EQ(decoder.getPosition(), 0.0f);
}

// A plain quadrature carrier: peaks without bits, so only the step back moves the position.
std::vector<std::int16_t> quadrature(double seconds, bool channel0Leads, int sampleRate) {
    std::vector<std::int16_t> block;
    for (int f = 0; f < static_cast<int>(seconds * sampleRate); ++f) {
        const double phase = 2 * std::numbers::pi * 3000.0 * f / sampleRate;
        block.push_back(static_cast<std::int16_t>(20000 * (channel0Leads ? std::cos(phase) : std::sin(phase))));
        block.push_back(static_cast<std::int16_t>(20000 * (channel0Leads ? std::sin(phase) : std::cos(phase))));
    }
    return block;
}

TEST_F(Intake, speedKeepsSampleResolutionAfterSixHoursOfStream) {
    // At 48000 Hz every Mixvibes peak falls on a whole sample, so the estimate is exact.
    decoder.reset(48000);
    probe.setTimeBase(6 * 3600 * 1000.0);
    const auto block = quadrature(0.05, true, 48000);
    decoder.processBlock(block.data(), static_cast<std::int32_t>(block.size()));
    probe.estimateSpeed();
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 0.001f);
}

TEST_F(Intake, backwardRunFarIntoTheRecordStepsBackWithoutRoundingDrift) {
    probe.setPosition(880.0);
    // Fed one frame at a time: the two channels' peaks are 3.7 frames apart, so each frame
    // that moves the position is one step.
    const auto block = quadrature(1.01, false, 44100);
    int steps = 0;
    for (std::size_t i = 0; i < block.size() && steps < 12000; i += 2) steps += decoder.processBlock(&block[i], 2);
    ASSERT_EQ(steps, 12000);
    EXPECT_NEAR(880.0 - decoder.getPosition(), 1.0, 0.001);
}

}  // namespace
}  // namespace platora
