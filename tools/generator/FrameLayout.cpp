#include "FrameLayout.h"

#include "FinalScratchCodeTable.h"

#include <algorithm>
#include <numeric>

namespace platora {

namespace {

constexpr std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr std::int64_t floorMod(std::int64_t a, std::int64_t b) { return a - floorDiv(a, b) * b; }

// Leading-channel bits 27..16 of a FinalScratch code, oldest (bit 27) first.
constexpr int patternBits = 12;
constexpr std::uint32_t patternCrestMask = 0xAAA;  // bits 11, 9, ..., 1: the crests

constexpr bool allowedPattern(std::uint32_t pattern) {
    for (int shift = 0; shift + 4 <= patternBits; ++shift)
        if (((pattern >> shift) & 0xF) == 0xE) return false;  // 1110 read oldest first
    return (pattern & patternCrestMask) != patternCrestMask;  // crests need a low level too
}

constexpr std::size_t allowedPatternCount() {
    std::size_t count = 0;
    for (std::uint32_t p = 0; p < (1u << patternBits); ++p) count += allowedPattern(p) ? 1 : 0;
    return count;
}

constexpr std::size_t patternCount = allowedPatternCount();

constexpr std::array<std::uint16_t, patternCount> makePatterns() {
    std::array<std::uint16_t, patternCount> patterns{};
    std::size_t n = 0;
    for (std::uint32_t p = 0; p < (1u << patternBits); ++p)
        if (allowedPattern(p)) patterns[n++] = static_cast<std::uint16_t>(p);
    return patterns;
}

constexpr std::array<std::uint16_t, patternCount> patterns = makePatterns();

// The lagging channel's eight crests and eight troughs each get a byte that is neither
// all zeros nor all ones.
constexpr std::uint64_t mixedByteCount = 254;
constexpr std::uint64_t codeSpace = patternCount * mixedByteCount * mixedByteCount;
// Spreads neighbouring frames over the code space; a bijection because it is coprime.
constexpr std::uint64_t frameScatter = 2654435761u % codeSpace;
static_assert(std::gcd(frameScatter, codeSpace) == 1);

constexpr std::uint32_t finalScratchSync = 0xE0000000;

constexpr std::uint32_t interleave(std::uint32_t crests, std::uint32_t troughs) {
    std::uint32_t half = 0;
    for (int i = 0; i < 8; ++i) {
        half |= ((crests >> (7 - i)) & 1u) << (15 - 2 * i);
        half |= ((troughs >> (7 - i)) & 1u) << (14 - 2 * i);
    }
    return half;
}

}  // namespace

std::uint32_t MixvibesFrames::word(std::int64_t frame) {
    auto number = static_cast<std::uint32_t>(frame) & 0x1FFFF;
    return number | ((number & 0x1F) << 17);
}

int MixvibesFrames::bitOfPeak(std::int64_t peak) {
    if (floorMod(peak, 2) == 0) {
        // The sync run of frame f: peaks 88f - 90 .. 88f - 84.
        std::int64_t frame = floorDiv(peak + 2, peaksPerFrame) + 1;
        bool inSync = floorMod(peak + 2, peaksPerFrame) <= 6;
        return inSync && frame >= 0 && frame <= maxFrame ? 0 : 1;
    }
    if (floorMod(peak, 4) == 1) return 0;  // lagging crests carry nothing
    std::int64_t frame = floorDiv(peak, peaksPerFrame) + 1;
    if (frame < 0 || frame > maxFrame) return 0;
    auto bit = static_cast<int>((floorMod(peak, peaksPerFrame) - 3) / 4);
    return static_cast<int>((word(frame) >> bit) & 1u);
}

std::uint32_t FinalScratchFrames::maxRowCount() {
    // Values of more frames would not fit the table's 32 bits, and a larger file the loader refuses.
    constexpr std::uint64_t framesWithin32BitValues = 10'000'000;
    constexpr std::uint64_t rowsTheLoaderTakes =
        FinalScratchCodeTable::largestFileBytes / sizeof(FinalScratchCodeTable::Row);
    return static_cast<std::uint32_t>(std::min({codeSpace, framesWithin32BitValues, rowsTheLoaderTakes}));
}

std::uint32_t FinalScratchFrames::code(std::int64_t frame) {
    std::uint64_t m = (static_cast<std::uint64_t>(frame) % codeSpace) * frameScatter % codeSpace;
    std::uint32_t pattern = patterns[m % patternCount];
    m /= patternCount;
    auto crests = static_cast<std::uint32_t>(1 + m % mixedByteCount);
    auto troughs = static_cast<std::uint32_t>(1 + m / mixedByteCount);
    return finalScratchSync | (pattern << 16) | interleave(crests, troughs);
}

std::uint32_t FinalScratchFrames::value(std::int64_t frame) {
    // 44100 x (32 frame + 31) / 4 / 1200 = 147 (32 frame + 31) / 16, rounded; never a tie.
    auto peak = static_cast<std::uint64_t>(peaksPerFrame * frame + peaksPerFrame - 1);
    return static_cast<std::uint32_t>((147 * peak + 8) / 16);
}

int FinalScratchFrames::bitOfPeak(std::int64_t peak) const {
    std::int64_t frame = floorDiv(peak, peaksPerFrame);
    if (frame < 0 || frame >= rowCount_) return 1;
    auto i = static_cast<int>(floorMod(peak, peaksPerFrame));
    int bit = i % 2 == 0 ? 31 - i / 2 : 15 - i / 2;
    return static_cast<int>((code(frame) >> bit) & 1u);
}

std::vector<FinalScratchCodeTable::Row> FinalScratchFrames::table() const {
    std::vector<FinalScratchCodeTable::Row> rows(rowCount_);
    for (std::uint32_t frame = 0; frame < rowCount_; ++frame) rows[frame] = {code(frame), value(frame)};
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.code < b.code; });
    return rows;
}

std::vector<FinalScratchCodeTable::Row> syntheticFinalScratchTable(std::uint32_t rows) {
    return FinalScratchFrames(rows).table();
}

}  // namespace platora
