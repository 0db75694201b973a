#pragma once

#include "FinalScratchCodeTable.h"
#include "VinylType.h"

#include <array>
#include <cstdint>
#include <vector>

namespace platora {

// Which bit each peak of the signal carries. Peaks are numbered along the record:
// peak j lies at carrier phase j / 4 cycles, so even peaks belong to the leading
// channel and odd peaks to the lagging one; peak 0 is at the start of the record.

// Mixvibes: frame k occupies the 91 peaks 88k - 90 .. 88k and is read when peak 88k
// passes, at record position k x 22 / 3000 s. Leading-channel peaks carry the sync: the
// four at 88k - 90, -88, -86, -84 carry 0, all others 1. Lagging troughs (88k - 85 + 4b,
// b = 0..21) carry bit b of the word: the 17-bit frame number, low bit first, then its
// low five bits again. Lagging crests carry 0. Frames outside 0..maxFrame carry no sync
// (all leading peaks 1) and a zero word.
struct MixvibesFrames {
    static constexpr std::int64_t peaksPerFrame = vinylFormat(Mixvibes).frameCycles * peaksPerCycle;
    static constexpr std::int64_t maxFrame = 0x1FFFF;

    static std::uint32_t word(std::int64_t frame);
    static int bitOfPeak(std::int64_t peak);
};

// FinalScratch: frame k occupies peaks 32k .. 32k + 31 and is read when peak 32k + 31
// passes. Its 32-bit code holds the leading channel's 16 bits (peaks 32k, 32k + 2, ...)
// in bits 31..16 and the lagging channel's 16 bits in bits 15..0, oldest first.
// Codes are synthetic, distinct and deterministic from k:
// - bits 31..28 are the sync 1110; bits 27..16 never contain 1110, so the sync shows
//   in the leading channel's bit stream at frame starts only;
// - within every frame each of the four peak streams (crests and troughs of each
//   channel) carries both levels, so bit decisions settle within one frame.
// Frames outside 0..rowCount - 1 carry all ones: no sync.
class FinalScratchFrames {
public:
    static constexpr std::uint32_t defaultRowCount = 135872;  // as many rows as the real table
    static constexpr std::int64_t peaksPerFrame = vinylFormat(FinalScratch).windowPeaks;
    static constexpr double valueRateHz = nominalSampleRateHz;  // the table's values count samples at this rate

    explicit FinalScratchFrames(std::uint32_t rowCount = defaultRowCount) : rowCount_(rowCount) {}

    // The most frames the rule gives distinct codes and 32-bit values (about 18 hours).
    static std::uint32_t maxRowCount();

    std::uint32_t rowCount() const { return rowCount_; }
    // frame < maxRowCount().
    static std::uint32_t code(std::int64_t frame);
    // Where frame's window completes (peak 32k + 31), in samples at valueRateHz.
    static std::uint32_t value(std::int64_t frame);
    int bitOfPeak(std::int64_t peak) const;

    // Rows (code, value) for frames 0..rowCount - 1, sorted by code.
    std::vector<FinalScratchCodeTable::Row> table() const;

private:
    std::uint32_t rowCount_;
};

// The synthetic table with `rows` rows (benchmarks use the full size).
std::vector<FinalScratchCodeTable::Row> syntheticFinalScratchTable(
    std::uint32_t rows = FinalScratchFrames::defaultRowCount);

}  // namespace platora
