#include "FrameLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace platora {
namespace {

// The decoder's view: w[length - 1] is the peak just passed, w[0] the oldest.
template <class BitOf>
std::vector<int> windowEndingAt(std::int64_t newestPeak, int length, BitOf bitOf) {
    std::vector<int> w(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) w[static_cast<std::size_t>(i)] = bitOf(newestPeak - (length - 1) + i);
    return w;
}

constexpr int mixvibesWindow = 91;
constexpr int finalScratchWindow = 32;

std::vector<int> mixvibesWindowEndingAt(std::int64_t peak) {
    return windowEndingAt(peak, mixvibesWindow, MixvibesFrames::bitOfPeak);
}

bool mixvibesSync(const std::vector<int>& w) { return w[0] == 0 && w[2] == 0 && w[4] == 0 && w[6] == 0; }

std::uint32_t mixvibesWord(const std::vector<int>& w) {
    std::uint32_t word = 0;
    for (int b = 0; b < 22; ++b) word |= static_cast<std::uint32_t>(w[static_cast<std::size_t>(5 + 4 * b)]) << b;
    return word;
}

bool finalScratchSync(const std::vector<int>& w) { return w[0] == 1 && w[2] == 1 && w[4] == 1 && w[6] == 0; }

std::uint32_t finalScratchCode(const std::vector<int>& w) {
    std::uint32_t code = 0;
    for (int j = 0; j < 16; ++j) {
        code |= static_cast<std::uint32_t>(w[static_cast<std::size_t>(2 * j)]) << (31 - j);
        code |= static_cast<std::uint32_t>(w[static_cast<std::size_t>(2 * j + 1)]) << (15 - j);
    }
    return code;
}

TEST(MixvibesFrames, WindowOfFrameKCarriesSyncFrameNumberAndCheckWhenPeak88kPasses) {
    for (std::int64_t frame : {0L, 1L, 31L, 32L, 1000L, 77777L, 0x1FFFEL, 0x1FFFFL}) {
        SCOPED_TRACE(frame);
        std::vector<int> w = mixvibesWindowEndingAt(88 * frame);
        EXPECT_TRUE(mixvibesSync(w));
        std::uint32_t word = mixvibesWord(w);
        EXPECT_EQ(word & 0x1FFFF, static_cast<std::uint32_t>(frame));
        EXPECT_EQ((word >> 17) & 0x1F, static_cast<std::uint32_t>(frame) & 0x1F);
    }
}

TEST(MixvibesFrames, LeadingPeaksCarryFourZerosPerFrameAndOnesElsewhere) {
    for (std::int64_t frame : {1L, 5000L}) {
        std::vector<int> w = mixvibesWindowEndingAt(88 * frame);
        for (int i = 0; i < mixvibesWindow; i += 2) {
            bool syncOfThisOrNextFrame = i <= 6 || i >= 88;
            EXPECT_EQ(w[static_cast<std::size_t>(i)], syncOfThisOrNextFrame ? 0 : 1) << "position " << i;
        }
    }
}

TEST(MixvibesFrames, SyncShowsOnlyInWindowsThatEndOnAFrameBoundary) {
    // Every leading peak ends a window the decoder tries; only the aligned ones may pass.
    for (std::int64_t peak = 88 * 40 - 200; peak <= 88 * 44 + 200; peak += 2)
        EXPECT_EQ(mixvibesSync(mixvibesWindowEndingAt(peak)), peak % 88 == 0) << "peak " << peak;
}

TEST(MixvibesFrames, FramesOutsideTheSeventeenBitRangeCarryNoSync) {
    EXPECT_FALSE(mixvibesSync(mixvibesWindowEndingAt(-88)));
    EXPECT_TRUE(mixvibesSync(mixvibesWindowEndingAt(0)));
    EXPECT_TRUE(mixvibesSync(mixvibesWindowEndingAt(88 * MixvibesFrames::maxFrame)));
    EXPECT_FALSE(mixvibesSync(mixvibesWindowEndingAt(88 * (MixvibesFrames::maxFrame + 1))));
    for (std::int64_t peak = -88 * 5; peak < 0; peak += 2) EXPECT_FALSE(mixvibesSync(mixvibesWindowEndingAt(peak)));
}

TEST(MixvibesFrames, LaggingCrestsCarryZeroAndLaggingTroughsTheWord) {
    std::int64_t frame = 0x15555;  // alternating bits: a shifted word cannot match
    std::vector<int> w = mixvibesWindowEndingAt(88 * frame);
    for (int i = 3; i < mixvibesWindow; i += 4) EXPECT_EQ(w[static_cast<std::size_t>(i)], 0) << "crest at " << i;
    EXPECT_EQ(mixvibesWord(w), MixvibesFrames::word(frame));
}

class FinalScratchLayout : public ::testing::Test {
protected:
    static constexpr std::uint32_t rows = FinalScratchFrames::defaultRowCount;
    FinalScratchFrames frames{rows};

    std::vector<int> windowEndingAt(std::int64_t peak) const {
        return platora::windowEndingAt(peak, finalScratchWindow, [this](std::int64_t j) { return frames.bitOfPeak(j); });
    }
};

TEST_F(FinalScratchLayout, EveryFrameHasItsOwnCodeStartingWithTheSync) {
    std::vector<std::uint32_t> codes(rows);
    for (std::uint32_t k = 0; k < rows; ++k) codes[k] = FinalScratchFrames::code(k);
    for (std::uint32_t code : codes) ASSERT_EQ(code >> 28, 0xEu) << std::hex << code;
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end());
}

TEST_F(FinalScratchLayout, CodesStayDistinctUpToTheLargestRowCount) {
    std::uint32_t top = FinalScratchFrames::maxRowCount();
    std::vector<std::uint32_t> codes;
    for (std::uint32_t k = top - 20000; k < top; ++k) codes.push_back(FinalScratchFrames::code(k));
    for (std::uint32_t k = 0; k < 20000; ++k) codes.push_back(FinalScratchFrames::code(k));
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end());
    EXPECT_LT(FinalScratchFrames::value(top - 1), 0xFFFFFFFFu);
}

TEST_F(FinalScratchLayout, WindowOfFrameKReadsItsCodeWhenPeak32kPlus31Passes) {
    for (std::int64_t frame : {0L, 1L, 2L, 4095L, 100000L, static_cast<long>(rows) - 1}) {
        std::vector<int> w = windowEndingAt(32 * frame + 31);
        EXPECT_TRUE(finalScratchSync(w));
        EXPECT_EQ(finalScratchCode(w), FinalScratchFrames::code(frame)) << "frame " << frame;
    }
}

TEST_F(FinalScratchLayout, SyncNeverShowsInAMisalignedWindowOfAnyFrame) {
    // The decoder reads at every lagging (odd) peak; only 32k + 31 may show the sync.
    // Runs over the whole table and past both of its ends.
    for (std::int64_t peak = -32 * 3 + 1; peak < 32 * (static_cast<std::int64_t>(rows) + 3); peak += 2) {
        bool sync = frames.bitOfPeak(peak - 31) == 1 && frames.bitOfPeak(peak - 29) == 1 &&
                    frames.bitOfPeak(peak - 27) == 1 && frames.bitOfPeak(peak - 25) == 0;
        std::int64_t frame = (peak - 31) / 32;
        bool aligned = (peak + 1) % 32 == 0 && peak >= 31 && frame < rows;
        ASSERT_EQ(sync, aligned) << "peak " << peak;
    }
}

TEST_F(FinalScratchLayout, EachPeakStreamCarriesBothLevelsInEveryFrame) {
    // Crests and troughs of each channel are decided separately; a stream stuck at one
    // level would never get a decided bit.
    for (std::uint32_t k = 0; k < rows; ++k) {
        int seen[4][2] = {};
        for (int i = 0; i < 32; ++i) ++seen[i % 4][frames.bitOfPeak(32 * static_cast<std::int64_t>(k) + i)];
        for (int stream = 0; stream < 4; ++stream)
            ASSERT_TRUE(seen[stream][0] > 0 && seen[stream][1] > 0) << "frame " << k << " stream " << stream;
    }
}

TEST_F(FinalScratchLayout, FramesBeyondTheRowsCarryNoSync) {
    FinalScratchFrames small(10);
    auto w = [&](std::int64_t peak) {
        return platora::windowEndingAt(peak, finalScratchWindow, [&](std::int64_t j) { return small.bitOfPeak(j); });
    };
    EXPECT_TRUE(finalScratchSync(w(32 * 9 + 31)));
    EXPECT_FALSE(finalScratchSync(w(32 * 10 + 31)));
    EXPECT_FALSE(finalScratchSync(w(-1)));
}

TEST_F(FinalScratchLayout, ValueIsWhereTheWindowCompletesInSamplesAt44100) {
    for (std::int64_t frame : {0L, 1L, 12345L, static_cast<long>(rows) - 1}) {
        double seconds = (32.0 * static_cast<double>(frame) + 31.0) / 4.0 / 1200.0;
        EXPECT_EQ(FinalScratchFrames::value(frame), static_cast<std::uint32_t>(std::llround(seconds * 44100.0)));
    }
    EXPECT_EQ(FinalScratchFrames::value(0), 285u);  // 31 peaks = 7.75 cycles = 6.458 ms
}

TEST_F(FinalScratchLayout, TableIsSortedAndLooksEveryFrameUpAfterSaveAndLoad) {
    std::vector<FinalScratchCodeTable::Row> table = frames.table();
    ASSERT_EQ(table.size(), rows);
    for (std::size_t i = 1; i < table.size(); ++i) ASSERT_LT(table[i - 1].code, table[i].code) << "row " << i;

    auto path = std::filesystem::temp_directory_path() / ("platora-gen-table-" + std::to_string(::getpid()));
    std::string error;
    ASSERT_TRUE(FinalScratchCodeTable::save(path.string(), table, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(path), rows * 8u);
    FinalScratchCodeTable loaded;
    ASSERT_TRUE(loaded.load(path.string(), error)) << error;
    std::filesystem::remove(path);

    EXPECT_EQ(loaded.rowCount(), rows);
    EXPECT_FALSE(loaded.isReal());
    for (std::uint32_t k = 0; k < rows; k += 7) {
        auto value = loaded.lookup(FinalScratchFrames::code(k));
        ASSERT_TRUE(value.has_value()) << "frame " << k;
        ASSERT_EQ(*value, FinalScratchFrames::value(k)) << "frame " << k;
    }
}

TEST_F(FinalScratchLayout, SyntheticTableHasTheRequestedRows) {
    EXPECT_EQ(syntheticFinalScratchTable().size(), FinalScratchFrames::defaultRowCount);
    auto small = syntheticFinalScratchTable(3);
    ASSERT_EQ(small.size(), 3u);
    std::vector<std::uint32_t> values;
    for (const auto& row : small) values.push_back(row.value);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::uint32_t>{285, 579, 873}));
}

}  // namespace
}  // namespace platora
