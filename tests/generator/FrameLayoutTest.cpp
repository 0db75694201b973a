#include "CodeTableFile.h"
#include "FinalScratchCodeTable.h"
#include "FrameLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace platora {
namespace {

// The decoder's view when peak `newest` passes: w[90] is that peak, w[0] the oldest.
std::vector<int> mixvibesWindowEndingAt(std::int64_t newest) {
    std::vector<int> w(91);
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = MixvibesFrames::bitOfPeak(newest - 90 + static_cast<std::int64_t>(i));
    return w;
}

TEST(MixvibesFrames, WindowOfFrameKCarriesSyncFrameNumberAndCheckWhenPeak88kPasses) {
    for (std::int64_t frame : {0L, 1L, 31L, 32L, 1000L, 0x15555L, 0x1FFFEL, 0x1FFFFL}) {
        SCOPED_TRACE(frame);
        const std::vector<int> w = mixvibesWindowEndingAt(88 * frame);
        const bool nextFrame = frame < MixvibesFrames::maxFrame;  // its sync begins at 88
        for (std::size_t i = 0; i < w.size(); i += 2) EXPECT_EQ(w[i], i <= 6 || (i >= 88 && nextFrame) ? 0 : 1) << i;
        for (std::size_t i = 3; i < w.size(); i += 4) EXPECT_EQ(w[i], 0) << "lagging crest at " << i;
        std::uint32_t word = 0;
        for (std::size_t b = 0; b < 22; ++b) word |= static_cast<std::uint32_t>(w[5 + 4 * b]) << b;
        EXPECT_EQ(word & 0x1FFFF, static_cast<std::uint32_t>(frame));
        EXPECT_EQ(word >> 17, static_cast<std::uint32_t>(frame) & 0x1F);
    }
}

TEST(MixvibesFrames, SyncShowsOnlyInWindowsEndingOnAFrameBoundaryWithinTheSeventeenBitRange) {
    constexpr std::int64_t last = MixvibesFrames::maxFrame;
    for (auto [from, to] :
         {std::pair<std::int64_t, std::int64_t>{-88 * 5, 88 * 44}, {88 * (last - 3), 88 * (last + 3)}}) {
        for (std::int64_t peak = from; peak <= to; peak += 2) {
            const auto w = mixvibesWindowEndingAt(peak);
            const bool sync = w[0] == 0 && w[2] == 0 && w[4] == 0 && w[6] == 0;
            ASSERT_EQ(sync, peak % 88 == 0 && peak >= 0 && peak / 88 <= last) << "peak " << peak;
        }
    }
}

class FinalScratchLayout : public ::testing::Test {
protected:
    static constexpr std::uint32_t rows = FinalScratchFrames::defaultRowCount;
    const FinalScratchFrames frames{rows};
};

TEST_F(FinalScratchLayout, SyncShowsOnlyWhereAFramesWindowCompletes) {
    // The decoder reads at every lagging (odd) peak; only 32k + 31 may show the sync.
    // Runs over the whole table and past both of its ends.
    for (std::int64_t peak = -32 * 3 + 1; peak < 32 * (static_cast<std::int64_t>(rows) + 3); peak += 2) {
        const bool sync = frames.bitOfPeak(peak - 31) == 1 && frames.bitOfPeak(peak - 29) == 1 &&
                          frames.bitOfPeak(peak - 27) == 1 && frames.bitOfPeak(peak - 25) == 0;
        ASSERT_EQ(sync, (peak + 1) % 32 == 0 && peak >= 31 && (peak - 31) / 32 < rows) << "peak " << peak;
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

TEST_F(FinalScratchLayout, TableHasADistinctCodeStartingWithTheSyncForEveryFrameAndWhereItsWindowCompletes) {
    const std::vector<FinalScratchCodeTable::Row> table = frames.table();
    ASSERT_EQ(table.size(), rows);
    for (std::size_t i = 1; i < table.size(); ++i) ASSERT_LT(table[i - 1].code, table[i].code) << "row " << i;
    FinalScratchCodeTable loaded;
    ASSERT_TRUE(loaded.assign(table));
    for (std::uint32_t k = 0; k < rows; ++k) {
        ASSERT_EQ(FinalScratchFrames::code(k) >> 28, 0xEu) << "frame " << k;
        const auto samples = static_cast<std::uint32_t>(std::llround((32.0 * k + 31.0) / 4.0 / 1200.0 * 44100.0));
        ASSERT_EQ(loaded.lookup(FinalScratchFrames::code(k)), samples) << "frame " << k;
    }
    std::vector<std::uint32_t> values;
    for (const auto& row : syntheticFinalScratchTable(3)) values.push_back(row.value);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::uint32_t>{285, 579, 873}));  // 31 peaks = 7.75 cycles = 6.458 ms

    // Up to the most rows allowed, codes stay distinct, values within 32 bits, the file loadable.
    const std::uint32_t top = FinalScratchFrames::maxRowCount();
    EXPECT_LE(encodeCodeTable({{}}).size() * top, FinalScratchCodeTable::largestFileBytes);
    std::vector<std::uint32_t> codes;
    for (std::uint32_t k = top - 20000; k < top; ++k) codes.push_back(FinalScratchFrames::code(k));
    for (std::uint32_t k = 0; k < 20000; ++k) codes.push_back(FinalScratchFrames::code(k));
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end());
    EXPECT_LT(FinalScratchFrames::value(top - 1), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace platora
