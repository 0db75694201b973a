// The register's steps against states worked out by hand, and the position table.
#include "LevelLearner.h"
#include "ShiftRegister.h"

#include <gtest/gtest.h>

#include <random>

namespace platora {
namespace {

const ShiftRegisterFormat& formatOf(VinylType type) { return *shiftRegisterFormat(type); }

TEST(ShiftRegister, StepsMatchStatesWorkedOutByHand) {
    // serato-a: seed & (taps | 1) = 0x10005, three bits, so a 1 comes in at the top.
    const ShiftRegisterFormat& serato = formatOf(SeratoA);
    EXPECT_EQ(serato.forward(0x59017), 0xAC80Bu);
    EXPECT_EQ(serato.backward(0xAC80B), 0x59017u);
    // mixvibes-v2 taps bits 0 and 3 only: 0 then 1 come in.
    const ShiftRegisterFormat& mixvibes = formatOf(MixvibesV2);
    EXPECT_EQ(mixvibes.forward(0x22c90), 0x11648u);
    EXPECT_EQ(mixvibes.forward(0x11648), 0x88B24u);
    EXPECT_EQ(mixvibes.backward(0x88B24), 0x11648u);
    // traktor-a, 23 bits: one tapped bit set, so the new bit lands at bit 22.
    const ShiftRegisterFormat& traktor = formatOf(TraktorA);
    EXPECT_EQ(traktor.forward(0x134503), 0x49A281u);
    EXPECT_EQ(traktor.backward(0x49A281), 0x134503u);
}

TEST(ShiftRegister, BackwardUndoesForwardForEveryFormat) {
    std::mt19937 random(7);
    for (const ShiftRegisterFormat& format : shiftRegisterFormats) {
        for (int i = 0; i < 1000; ++i) {
            const std::uint32_t state = random() & format.mask();
            EXPECT_EQ(format.backward(format.forward(state)), state) << vinylFormat(format.type).optionName;
            EXPECT_EQ(format.forward(format.backward(state)), state) << vinylFormat(format.type).optionName;
        }
    }
}

// A wrong tap would shorten the cycle, and two places on a side would share a state.
TEST(ShiftRegister, EveryRegisterRunsThroughAllItsStatesBeforeRepeating) {
    for (const ShiftRegisterFormat& format : shiftRegisterFormats) {
        std::uint32_t state = format.seed;
        std::uint32_t steps = 0;
        do {
            state = format.forward(state);
            ++steps;
        } while (state != format.seed && steps <= format.mask());
        EXPECT_EQ(steps, format.mask()) << vinylFormat(format.type).optionName;
        EXPECT_LE(format.cycles, format.mask());
    }
}

TEST(PositionTable, NamesTheCycleOfStatesOnTheSideAndNothingBeyond) {
    for (const VinylType type : {SeratoB, TraktorB, Mixvibes7Inch}) {
        const ShiftRegisterFormat& format = formatOf(type);
        const PositionTable* table = PositionTable::of(type);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(PositionTable::of(type), table);  // built once
        EXPECT_LE(table->bytes(), 16u << 20);
        std::uint32_t state = format.seed;
        std::uint32_t cycle = 0;
        for (const std::uint32_t k : {0u, 1u, 12345u, format.cycles / 2, format.cycles - 1}) {
            for (; cycle < k; ++cycle) state = format.forward(state);
            EXPECT_EQ(table->cycleOf(state), k) << vinylFormat(type).optionName;
        }
        EXPECT_EQ(table->cycleOf(format.forward(state)), std::nullopt);  // the cycle after the side
        EXPECT_EQ(table->cycleOf(format.backward(format.seed)), std::nullopt);  // before its start
        EXPECT_EQ(table->cycleOf(0), std::nullopt);  // no register holds all zeros
    }
    EXPECT_EQ(PositionTable::of(Mixvibes), nullptr);
}

// Depths from 1.1:1 to 3:1 at any level, drifting by half over the run, with no calibration:
// once both levels have been seen every bit read is right, and few are left unsure.
TEST(LevelLearner, ReadsEveryBitRightAtAnyDepthAndLevel) {
    const ShiftRegisterFormat& format = formatOf(PioneerB);
    for (const float depth : {1.1f, 1.4f, 2.0f, 3.0f}) {
        for (const float level : {150.0f, 20000.0f}) {
            LevelLearner learner;
            std::uint32_t state = format.seed;
            int unsure = 0;
            constexpr int peaks = 2000;
            for (int k = 0; k < peaks; ++k, state = format.forward(state)) {
                const int bit = static_cast<int>(state & 1u);
                const float drift = 1.0f - 0.5f * static_cast<float>(k) / peaks;
                const float amplitude = level * drift * (bit != 0 ? 1.0f : 1.0f / depth);
                const int read = learner(amplitude);
                if (k < LevelLearner::window) continue;
                if (read == LevelLearner::unsure) {
                    ++unsure;
                } else {
                    ASSERT_EQ(read, bit) << depth << " " << level << " at " << k;
                }
            }
            EXPECT_LT(unsure, peaks / 50) << depth << " " << level;
        }
    }
}

}  // namespace
}  // namespace platora
