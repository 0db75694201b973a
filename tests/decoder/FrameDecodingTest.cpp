#include "DecoderProbe.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace platora {
namespace {

constexpr double mixvibesPeakMs = 1000.0 / 12000;
constexpr double finalScratchPeakMs = 1000.0 / 4800;

// Stores a regular forward run of peaks whose bits are `bits` (oldest first), ending with
// entry 0 on channel 0 at endMs. Kinds and channels follow the type's forward lead.
void storeForwardWindow(TimecodeDecoderProbe& probe, VinylType type, const std::vector<int>& bits,
                        double endMs) {
    const double peakMs = type == Mixvibes ? mixvibesPeakMs : finalScratchPeakMs;
    const int leading = type == Mixvibes ? 0 : 1;
    const std::size_t n = bits.size();
    // Even j are peaks of the leading channel; pick the offset that puts the last on channel 0.
    const std::size_t offset = leading == 0 ? (n - 1) % 2 : n % 2;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t phase = (i + offset) % 4;  // leading crest, lagging crest, leading trough, lagging trough
        const int channel = phase % 2 == 0 ? leading : 1 - leading;
        const std::int32_t kind = phase < 2 ? Peak::crest : Peak::trough;
        probe.store(makePeak(kind, kind == Peak::crest ? 10000 : -10000, static_cast<std::int16_t>(channel),
                               endMs - static_cast<double>(n - 1 - i) * peakMs, bits[i]));
    }
}

std::vector<int> mixvibesWindow(std::uint32_t word) {
    std::vector<int> w(91, 1);
    for (int i : {0, 2, 4, 6}) w[i] = 0;
    for (int k = 0; k < 22; ++k) w[5 + 4 * k] = (word >> k) & 1;
    return w;
}

std::uint32_t mixvibesWord(std::uint32_t frame) { return frame | ((frame & 0x1F) << 17); }

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
        decoder.setVinylType(type);
        decoder.setCalibration(1.1f);
        decoder.reset(44100);
        decoder.setCodeTable(&table);
    }
    void attempt(const std::vector<int>& window, double endMs = 0.0) {
        storeForwardWindow(probe, static_cast<VinylType>(decoder.getVinylType()), window, endMs);
        probe.setValidBitCount(1000);
        probe.decodeFrame();
    }
    FinalScratchCodeTable table;
    TimecodeDecoder decoder;
    TimecodeDecoderProbe probe{decoder};
};

TEST_F(FrameDecoding, mixvibesFrameNumberGivesSecondsAtTwentyTwoCyclesPerFrame) {
    start(Mixvibes);
    attempt(mixvibesWindow(mixvibesWord(1000)));
    EXPECT_EQ(decoder.getPosition(), static_cast<float>(1000 * static_cast<double>(0.007333333f)));
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 1e-5f);
    EXPECT_EQ(probe.framesInWindow(), 1);
}

TEST_F(FrameDecoding, mixvibesCheckMismatchReadsNoFrame) {
    start(Mixvibes);
    attempt(mixvibesWindow(mixvibesWord(1000) ^ (1u << 18)));
    EXPECT_EQ(decoder.getPosition(), 0.0f);
    EXPECT_EQ(probe.framesInWindow(), 0);
}

TEST_F(FrameDecoding, mixvibesSyncNeedsFourZerosOnChannelZero) {
    start(Mixvibes);
    auto window = mixvibesWindow(mixvibesWord(1000));
    window[6] = 1;
    attempt(window);
    EXPECT_EQ(decoder.getPosition(), 0.0f);
}

TEST_F(FrameDecoding, tooFewValidBitsNeitherEstimatesNorDecodes) {
    start(Mixvibes);
    storeForwardWindow(probe, Mixvibes, mixvibesWindow(mixvibesWord(1000)), 0.0);
    probe.setSpeed(0.5f);
    probe.setValidBitCount(90);
    probe.decodeFrame();
    EXPECT_EQ(decoder.getSpeed(), 0.5f);
    EXPECT_EQ(decoder.getPosition(), 0.0f);
}

TEST_F(FrameDecoding, newestPeakOnChannelOneDoesNothing) {
    start(Mixvibes);
    attempt(mixvibesWindow(mixvibesWord(1000)));
    const float before = decoder.getPosition();
    probe.store(makePeak(Peak::crest, 10000, 1, 100.0, 0));
    probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), before);
    EXPECT_EQ(probe.framesInWindow(), 1);
}

TEST_F(FrameDecoding, finalScratchCodeFindsTheFirstRowOfItsCode) {
    start(FinalScratch);
    ASSERT_TRUE(table.assign({{0xE00001E4, 24706}, {0xE00A89BF, 441000}, {0xE00A89BF, 276723}}));
    attempt(finalScratchWindow(0xE00A89BF));
    EXPECT_EQ(decoder.getPosition(), 10.0f);
    EXPECT_NEAR(decoder.getSpeed(), 1.0f, 1e-5f);
}

TEST_F(FrameDecoding, finalScratchCodeMissingFromTheTableReadsNoFrame) {
    start(FinalScratch);
    ASSERT_TRUE(table.assign({{0xE00001E4, 24706}}));
    attempt(finalScratchWindow(0xE00001E5));
    EXPECT_EQ(decoder.getPosition(), 0.0f);
    EXPECT_EQ(probe.framesInWindow(), 0);
}

TEST_F(FrameDecoding, timecodeWindowClosesOnlyMoreThanASecondAfterItOpened) {
    start(Mixvibes);
    const auto window = mixvibesWindow(mixvibesWord(5));
    attempt(window, 1000.0);  // newest peak exactly 1000 ms after the window opened
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 0);
    EXPECT_EQ(probe.framesInWindow(), 1);
    attempt(window, 1000.5);
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 2);
    EXPECT_EQ(probe.tpsWindowStart(), 1000);
    EXPECT_EQ(probe.framesInWindow(), 0);
}

TEST_F(FrameDecoding, calibrationChangeRestartsTheTimecodeCount) {
    start(Mixvibes);
    const auto window = mixvibesWindow(mixvibesWord(5));
    attempt(window, 500.0);
    attempt(window, 1600.0);
    ASSERT_EQ(decoder.getTimecodesPerSecond(), 2);
    decoder.setCalibration(1.2f);
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 0);
    attempt(window, 1700.0);  // more than a second after the restarted window's start at 0
    EXPECT_EQ(decoder.getTimecodesPerSecond(), 1);
}

// Backward run: for Mixvibes, channel 1 leading.
void storeBackward(TimecodeDecoderProbe& probe, int count) {
    for (int j = 0; j < count; ++j) {
        const int phase = j % 4;
        const std::int16_t channel = phase % 2 == 0 ? 1 : 0;
        const std::int32_t kind = phase < 2 ? Peak::crest : Peak::trough;
        probe.store(makePeak(kind, kind == Peak::crest ? 10000 : -10000, channel, j * mixvibesPeakMs));
    }
}

TEST_F(FrameDecoding, stepBackNeedsSixStoredPeaks) {
    start(Mixvibes);
    storeBackward(probe, 5);
    probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), 0.0f);
    probe.store(makePeak(Peak::trough, -10000, 1, 1.0));
    probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), -0.00008333333f);
}

TEST_F(FrameDecoding, stepBackGoesBelowZeroAndForwardPlayNeverStepsBack) {
    start(Mixvibes);
    storeBackward(probe, 8);
    for (int i = 0; i < 3; ++i) probe.decodeFrame();
    EXPECT_NEAR(decoder.getPosition(), -3 * 0.00008333333, 1e-9);

    start(Mixvibes);
    storeForwardWindow(probe, Mixvibes, std::vector<int>(40, -1), 0.0);
    for (int i = 0; i < 3; ++i) probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), 0.0f);
}

TEST_F(FrameDecoding, unknownVinylTypeNeitherDecodesNorStepsBack) {
    start(Mixvibes);
    decoder.setVinylType(7);
    storeBackward(probe, 20);
    probe.decodeFrame();
    EXPECT_EQ(decoder.getPosition(), 0.0f);
}

}  // namespace
}  // namespace platora
