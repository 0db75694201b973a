#pragma once

#include "VinylType.h"

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platora {

// A control record whose every carrier cycle carries one bit of a maximal-length shift
// register of `bits` bits: the register's state after k forward steps from the seed names
// cycle k, and its lowest bit is the bit cycle k carries.
struct ShiftRegisterFormat {
    VinylType type;
    int bits;
    std::uint32_t seed;
    std::uint32_t taps;
    std::uint32_t cycles;  // on the side, run-out included
    int bitChannel;        // the channel whose peaks carry the bits
    bool positivePeaks;    // the bits ride on that channel's positive peaks (else negative)

    int leadingChannel() const { return vinylFormat(type).leadingChannel; }
    std::uint32_t mask() const { return (1u << bits) - 1u; }
    std::uint32_t feedback() const { return taps | 1u; }

    // One cycle on: the new top bit is the parity of the state's tapped bits.
    std::uint32_t forward(std::uint32_t state) const {
        const auto p = static_cast<std::uint32_t>(std::popcount(state & feedback()) & 1);
        return (state >> 1) | (p << (bits - 1));
    }
    // One cycle back: the bit shifted in at the bottom is the one whose tapped parity gives
    // back the top bit the forward step made. Bit 0 is always tapped, so it always exists.
    std::uint32_t backward(std::uint32_t state) const {
        const std::uint32_t shifted = (state << 1) & mask();
        const auto top = state >> (bits - 1);
        const auto p = static_cast<std::uint32_t>(std::popcount(shifted & feedback()) & 1);
        return shifted | (p ^ top);
    }
    // The top bit the next forward step shifts in, i.e. the bit of the cycle after the
    // window's newest.
    std::uint32_t nextBit(std::uint32_t state) const {
        return static_cast<std::uint32_t>(std::popcount(state & feedback()) & 1);
    }
};

inline constexpr ShiftRegisterFormat shiftRegisterFormats[] = {
    {SeratoA, 20, 0x59017, 0x361e4, 712000, rightChannel, true},
    {SeratoB, 20, 0x8f3c6, 0x4f0d8, 922000, rightChannel, true},
    {SeratoCd, 20, 0xd8b40, 0x34d54, 950000, rightChannel, true},
    {TraktorA, 23, 0x134503, 0x041040, 1500000, leftChannel, false},
    {TraktorB, 23, 0x32066c, 0x041040, 2110000, leftChannel, false},
    {MixvibesV2, 20, 0x22c90, 0x00008, 950000, rightChannel, true},
    {Mixvibes7Inch, 20, 0x22c90, 0x00008, 312000, rightChannel, true},
    {PioneerA, 20, 0x78370, 0x7933a, 635000, rightChannel, false},
    {PioneerB, 20, 0xf7012, 0x2ef1c, 918500, rightChannel, false},
};

// Nothing for FinalScratch, Mixvibes and any other value.
inline const ShiftRegisterFormat* shiftRegisterFormat(std::int32_t type) {
    for (const ShiftRegisterFormat& format : shiftRegisterFormats)
        if (format.type == type) return &format;
    return nullptr;
}

// Register state -> cycle on the side. States are bucketed by their high 16 bits; an entry
// holds the state's remaining low bits above the cycle (22 bits, enough for 4 M cycles), and
// a bucket's entries are scanned: about a dozen for a 20-bit side, 32 for the longest side.
// Memory: 4 bytes a cycle on the side plus 256 KiB (3.0 MiB for serato-a, 8.3 MiB for traktor-b).
class PositionTable {
public:
    static constexpr int cycleBits = 22;
    static constexpr int bucketBits = 16;

    explicit PositionTable(const ShiftRegisterFormat& format);

    // The cycle whose window is `state` (bits of cycles k .. k + N - 1, oldest lowest), if on the side.
    // Allocates nothing; any thread.
    std::optional<std::uint32_t> cycleOf(std::uint32_t state) const;
    std::size_t bytes() const { return entries_.size() * sizeof(std::uint32_t) + starts_.size() * sizeof(std::uint32_t); }

    // The table of a shift-register type (nullptr for any other), built on the first call for
    // it (allocates, some ms), then shared: later calls allocate nothing and take no lock. Any thread.
    static const PositionTable* of(std::int32_t type);

private:
    int lowBits_;
    std::uint32_t lowMask_;
    std::vector<std::uint32_t> starts_;   // first entry of each bucket, and one past the last
    std::vector<std::uint32_t> entries_;  // low state bits << cycleBits | cycle
};

static_assert(PositionTable::cycleBits + 23 - PositionTable::bucketBits <= 32);

}  // namespace platora
