#include "DecoderProbe.h"

#include <gtest/gtest.h>

namespace platora {
namespace {

constexpr double mixvibesPeakMs = 1000.0 / 12000;
constexpr double finalScratchPeakMs = 1000.0 / 4800;
constexpr float mixvibesStepSeconds = 0.00008333333f;

std::vector<int> mixvibesWindow(std::uint32_t frame, std::uint32_t flippedWordBits = 0) {
    const std::uint32_t word = (frame | ((frame & 0x1F) << 17)) ^ flippedWordBits;
    std::vector<int> w(91, 1);
    for (int i : {0, 2, 4, 6}) w[i] = 0;
    for (int k = 0; k < 22; ++k) w[5 + 4 * k] = (word >> k) & 1;
    return w;
}

std::vector<int> finalScratchWindow(std::uint32_t code) {
    std::vector<int> w(32);
    for (int j = 0; j < 16; ++j) {
        w[2 * j] = (code >> (31 - j)) & 1;
        w[2 * j + 1] = (code >> (15 - j)) & 1;
    }
    return w;
}

class FrameDecoding : public ::testing::Test {
protected:
    void start(VinylType type) {
        decoder.reset(44100, {type, DecodingMode::faithful, 1.1f, &table});
    }
    // Stores the window as a forward run whose newest peak is on channel 0 at endMs.
    void store(const std::vector<int>& window, double endMs = 0.0) {
        const int leading = decoder.vinylType() == Mixvibes ? 0 : 1;
        const double peakMs = leading == 0 ? mixvibesPeakMs : finalScratchPeakMs;
        const std::size_t n = window.size();
        storeRun(probe, leading, n, peakMs, endMs - static_cast<double>(n - 1) * peakMs, (n - 1 + leading) % 2, window);
    }
    void attempt(const std::vector<int>& window, double endMs = 0.0) {
        store(window, endMs);
        probe.setValidBitCount(1000);
        probe.decodeFrame();
    }
    FinalScratchCodeTable table;
    TimecodeDecoder decoder;
    TimecodeDecoderProbe probe{decoder};
};

TEST_F(FrameDecoding, mixvibesFrameNumberGivesSecondsAtTwentyTwoCyclesPerFrame) {
    start(Mixvibes);
    attempt(mixvibesWindow(1000));
    EXPECT_EQ(decoder.getPosition(), static_cast<float>(1000 * static_cast<double>(0.007333333f)));
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 1e-5f);
    EXPECT_EQ(probe.framesInWindow(), 1);
}

TEST_F(FrameDecoding, mixvibesWindowWithACheckMismatchOrABrokenSyncReadsNoFrame) {
    auto brokenSync = mixvibesWindow(1000);
    brokenSync[6] = 1;
    for (const auto& window : {mixvibesWindow(1000, 1u << 18), brokenSync}) {
        start(Mixvibes);
        attempt(window);
        EXPECT_EQ(decoder.getPosition(), 0.0f);
        EXPECT_EQ(probe.framesInWindow(), 0);
    }
}

TEST_F(FrameDecoding, tooFewValidBitsNeitherEstimatesNorDecodes) {
    start(Mixvibes);
    store(mixvibesWindow(1000));
    probe.setSpeed(0.5f);
    probe.setValidBitCount(90);
    probe.decodeFrame();
    EXPECT_EQ(decoder.getSpeed(), 0.5f);
    EXPECT_EQ(decoder.getPosition(), 0.0f);
}

TEST_F(FrameDecoding, finalScratchCodeFindsTheFirstRowOfItsCodeAndAMissingCodeNothing) {
    ASSERT_TRUE(table.assign({{0xE00001E4, 24706}, {0xE00A89BF, 441000}, {0xE00A89BF, 276723}}));
    start(FinalScratch);
    attempt(finalScratchWindow(0xE00A89BF));
    EXPECT_EQ(decoder.getPosition(), 10.0f);
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 1e-5f);
    start(FinalScratch);
    attempt(finalScratchWindow(0xE00001E5));
    EXPECT_EQ(decoder.getPosition(), 0.0f);
    EXPECT_EQ(probe.framesInWindow(), 0);
}

TEST_F(FrameDecoding, timecodeWindowClosesOnlyMoreThanASecondAfterItOpenedAndACalibrationChangeRestartsIt) {
    start(Mixvibes);
    const auto window = mixvibesWindow(5);
    attempt(window, 1000.0);  // newest peak exactly 1000 ms after the window opened
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 0);
    EXPECT_EQ(probe.framesInWindow(), 1);
    attempt(window, 1000.5);
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 2);
    EXPECT_EQ(probe.tpsWindowStart(), 1000);
    EXPECT_EQ(probe.framesInWindow(), 0);

    decoder.setCalibration(1.2f);
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 0);
    attempt(window, 1100.0);  // more than a second after the restarted window's start at 0
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 1);

    // Past 2^31 ms (24.9 days) the window start still holds, so windows keep their length.
    constexpr double lateMs = 2147483648.0 + 10.75;
    attempt(window, lateMs);
    EXPECT_EQ(probe.tpsWindowStart(), 2147483658);
    attempt(window, lateMs + 500.0);
    attempt(window, lateMs + 1000.5);
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 2);
}

TEST_F(FrameDecoding, reverseRunStepsBackOncePerPeakFromTheSixthOnAndBelowZero) {
    start(Mixvibes);
    storeRun(probe, 1, 5, mixvibesPeakMs);
    probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), 0.0f);
    probe.store(makePeak(Peak::trough, -10000, 1, 1.0));
    probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), -mixvibesStepSeconds);
    probe.decodeFrame();
    probe.decodeFrame();
    EXPECT_NEAR(decoder.getPosition(), -3 * mixvibesStepSeconds, 1e-9);
}

TEST_F(FrameDecoding, forwardPlayAndAnUnknownVinylTypeNeverStepBack) {
    start(Mixvibes);
    storeRun(probe, 0, 40, mixvibesPeakMs);
    for (int i = 0; i < 3; ++i) probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), 0.0f);

    start(Mixvibes);
    decoder.setVinylType(static_cast<VinylType>(vinylTypeCount));
    storeRun(probe, 1, 20, mixvibesPeakMs);
    probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), 0.0f);
}

}  // namespace
}  // namespace platora
