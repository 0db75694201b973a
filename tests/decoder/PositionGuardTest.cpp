#include "PositionGuard.h"

#include <gtest/gtest.h>

#include <vector>

namespace platora {
namespace {

using Verdict = PositionGuard::Verdict;

constexpr double frame = 0.0073333;  // s, a Mixvibes frame; one arrives every 7.33 ms at speed 1

struct Read {
    double position;  // s
    Verdict expected;
};

// Frames read one frame interval apart at speed 1; the track expected plays on from 100 s.
// sure: whether each frame's bits all were.
void expectVerdicts(const char* name, const std::vector<Read>& reads, bool sure = true) {
    PositionGuard guard;
    guard.reset(frame);
    double taken = 100.0;
    double takenAt = 0.0;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        const double now = 1000.0 * frame * static_cast<double>(i + 1);
        const double expected = taken + (now - takenAt) / 1000.0;
        const Verdict verdict = guard.admit(reads[i].position, now, true, expected, now - takenAt, 1.0, sure);
        EXPECT_EQ(verdict, reads[i].expected) << name << ", frame " << i;
        if (verdict != Verdict::held) {
            taken = reads[i].position;
            takenAt = now;
        }
    }
}

TEST(PositionGuard, ACorruptedFrameAloneIsHeldAndARealJumpIsTakenAtItsSecondFrame) {
    const double next = 100.0 + frame;
    expectVerdicts("playing on", {{next, Verdict::follows}, {next + frame, Verdict::follows}});
    // A Mixvibes frame number with one bit wrong above the check: 32 frames off.
    expectVerdicts(
        "corrupted frame",
        {{next + 32 * frame, Verdict::held}, {next + frame, Verdict::follows}, {next + 2 * frame, Verdict::follows}});
    expectVerdicts("two corrupted frames apart", {{next + 32 * frame, Verdict::held},
                                                  {next + frame - 64 * frame, Verdict::held},
                                                  {next + 2 * frame, Verdict::follows}});
    expectVerdicts("needle drop",
                   {{300.0, Verdict::held}, {300.0 + frame, Verdict::jumps}, {300.0 + 2 * frame, Verdict::follows}});
    // The same corrupted reading twice cannot be a record that moves.
    expectVerdicts("a frame read twice", {{300.0, Verdict::held}, {300.0, Verdict::held}});
}

TEST(PositionGuard, FramesWithBitsInDoubtFollowAtOnceButJumpOnlyAtTheirFourthFrame) {
    const double next = 100.0 + frame;
    expectVerdicts("playing on", {{next, Verdict::follows}, {next + frame, Verdict::follows}}, false);
    // The same bit misread in two frames in a row: a place the record never was.
    expectVerdicts("one error twice",
                   {{next + 32 * frame, Verdict::held},
                    {next + 33 * frame, Verdict::held},
                    {next + 2 * frame, Verdict::follows}},
                   false);
    expectVerdicts("needle drop",
                   {{300.0, Verdict::held},
                    {300.0 + frame, Verdict::held},
                    {300.0 + 2 * frame, Verdict::held},
                    {300.0 + 3 * frame, Verdict::jumps}},
                   false);
    // A chain broken by a frame from elsewhere starts over.
    expectVerdicts("interrupted",
                   {{300.0, Verdict::held},
                    {300.0 + frame, Verdict::held},
                    {500.0, Verdict::held},
                    {300.0 + 3 * frame, Verdict::held},
                    {300.0 + 4 * frame, Verdict::held},
                    {300.0 + 5 * frame, Verdict::held}},
                   false);
}

TEST(PositionGuard, NothingIsTakenUnconfirmedBeforeTheFirstPosition) {
    PositionGuard guard;
    guard.reset(frame);
    EXPECT_EQ(guard.admit(50.0, 10.0, false, 0.0, 0.0, 1.0), Verdict::held);
    EXPECT_EQ(guard.admit(50.0 + frame, 10.0 + 1000.0 * frame, false, 0.0, 0.0, 1.0), Verdict::jumps);
}

}  // namespace
}  // namespace platora
