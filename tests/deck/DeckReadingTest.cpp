#include "Deck.h"
#include "GainFollower.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

namespace platora {
namespace {

constexpr std::int32_t rate = 44100;
constexpr std::int32_t blockFrames = 512;

// Plays a second of a FinalScratch record at `speed` times nominal into a new stream; returns
// the largest |speed| sent, in percent, and whether any reading refused the decoder's.
std::pair<float, bool> play(Deck& deck, double speed) {
    GeneratorSettings settings;
    settings.vinylType = FinalScratch;
    std::string error;
    settings.profile = SpeedProfile::parse(std::to_string(speed), error).value();
    TimecodeGenerator generator(settings);
    std::vector<std::int16_t> block(2 * blockFrames), stereo(2 * blockFrames);
    deck.setDecoding({FinalScratch, DecodingMode::faithful, 1.2f});
    deck.reset(rate);
    std::pair<float, bool> sent{0.0f, false};
    for (int i = 0; i < rate / blockFrames; ++i) {
        generator.render(block.data(), blockFrames);
        deck.process(block.data(), blockFrames, 2, stereo.data());
        sent.first = std::max(sent.first, std::abs(100.0f * deck.reading(false).speed));
        sent.second = sent.second || deck.speedRefused();
    }
    return sent;
}

// At twelve times nominal the FinalScratch peaks alias and the decoder reads up to -37.
TEST(DeckReading, NeverSendsASpeedNoTurntableReaches) {
    Deck deck;
    for (const auto& [speed, refused, largest] : {std::tuple{8.0, false, 816.7f}, std::tuple{12.0, true, 1000.0f}}) {
        const auto [sent, anyRefused] = play(deck, speed);
        EXPECT_EQ(anyRefused, refused) << speed;
        EXPECT_LE(sent, largest) << speed;
        EXPECT_GT(sent, 790.0f) << speed;
    }
}

// The age of a held position goes on by the clock through a loss, the reopen and the new
// stream's blocks until one of its frames sets the position; one never set stays -1.
TEST(DeckReading, AHeldPositionAgesByTheClockUntilAFrameOfTheNewStreamSetsIt) {
    using namespace std::chrono_literals;
    TimecodeGenerator record{GeneratorSettings{}};  // Mixvibes, needing no table
    std::vector<std::int16_t> block(2 * blockFrames), stereo(2 * blockFrames);
    const auto feed = [&](Deck& deck, int blocks, bool silent) {
        for (int i = 0; i < blocks; ++i) {
            record.render(block.data(), blockFrames);
            if (silent) std::fill(block.begin(), block.end(), 0);
            deck.process(block.data(), blockFrames, 2, stereo.data());
        }
    };
    Deck deck, neverPlayed;
    deck.setDecoding({Mixvibes, DecodingMode::robust, 1.2f});  // robust reckons on through a short silence
    deck.reset(rate);
    feed(deck, rate / blockFrames, false);
    const float fresh = deck.reading(false).ageMs;
    const float held = deck.getPosition();
    EXPECT_TRUE(fresh >= 0.0f && fresh < 50.0f) << fresh;
    const auto lost = Deck::Clock::now() - 1min;  // when the last block came
    for (Deck* d : {&deck, &neverPlayed}) d->holdPosition(lost);
    EXPECT_EQ(neverPlayed.reading(true, lost + 1s).ageMs, -1.0f);
    const auto expectHeld = [&](bool inputLost, std::chrono::seconds since) {
        const DeckReading r = deck.reading(inputLost, lost + since);
        EXPECT_EQ(r.position, held) << since.count();
        EXPECT_NEAR(r.ageMs, fresh + 1000.0f * static_cast<float>(since.count()), 0.01f) << since.count();
    };
    feed(deck, 4, true);  // the stream runs on, its source gone
    expectHeld(true, 1s);
    deck.reset(rate);  // reopened
    expectHeld(false, 2s);
    feed(deck, 4, true);
    expectHeld(false, 3s);
    feed(deck, rate / blockFrames, false);
    EXPECT_LT(deck.reading(false).ageMs, 50.0f);
}

TEST(GainFollower, WaitsOnSilenceSetsTheGainFromTheSignalHalvesOnClippingAndFollowsALevelChange) {
    using namespace std::chrono_literals;
    const auto start = GainFollower::Clock::now();
    GainFollower follower(start);
    auto now = start;
    // Feeds a second of blocks whose peaks before the gain are `input`; returns the gain.
    const auto hear = [&](double input, std::chrono::milliseconds length) {
        for (const auto end = now + length; now < end; now += 10ms)
            follower.update(static_cast<std::int32_t>(std::min(input * follower.gain(), 32767.0)), now);
        return follower.gain();
    };
    // What is heard for a second (peaks before the gain), the gain after it, whether it still waits.
    for (const auto& [input, gain, waits] : {std::tuple{3.0, 1, true}, std::tuple{6553.0, 3, false},    // -14 dBFS
                                             std::tuple{600.0, 28, false}, std::tuple{0.0, 28, false},  // silence
                                             std::tuple{8000.0, 3, false}}) {                           // clips
        EXPECT_EQ(hear(input, 1s), gain) << input;
        EXPECT_EQ(follower.heardSignal(), !waits) << input;
    }
    GainFollower loud(start, 400);
    EXPECT_EQ(loud.update(32767, start), 200) << "clipping lowers the gain in the same reading";
}

// An interpolated position goes on from when its block was captured, not from when it was
// decoded; the reading carries that time, which a bundle's timetag takes.
TEST(DeckReading, AnInterpolatedPositionAdvancesByTheSpeedFromWhenItsBlockWasCaptured) {
    using namespace std::chrono_literals;
    TimecodeGenerator record{GeneratorSettings{}};  // Mixvibes at nominal speed
    std::vector<std::int16_t> block(2 * blockFrames), stereo(2 * blockFrames);
    Deck plain, interpolated;
    interpolated.setInterpolation(true);
    const Deck::Clock::time_point captured{Deck::Clock::duration{123456789000000}};
    for (Deck* deck : {&plain, &interpolated}) deck->reset(rate);
    for (int i = 0; i < rate / blockFrames; ++i) {
        record.render(block.data(), blockFrames);
        for (Deck* deck : {&plain, &interpolated}) deck->process(block.data(), blockFrames, 2, stereo.data(), captured);
    }
    const DeckReading atCapture = interpolated.reading(false, captured);
    ASSERT_NEAR(atCapture.speed, 1.0f, 0.01f);
    EXPECT_EQ(atCapture.capturedAt, captured);
    for (const auto& [later, advanced] : {std::pair{-5ms, 0.0}, std::pair{10ms, 0.010}, std::pair{1000ms, 0.250}}) {
        const DeckReading r = interpolated.reading(false, captured + later);
        EXPECT_NEAR(r.position - atCapture.position, advanced * atCapture.speed, 1e-4) << later.count();
        EXPECT_EQ(r.capturedAt, captured) << later.count();
        EXPECT_EQ(plain.reading(false, captured + later).position, plain.reading(false, captured).position);
    }
}

}  // namespace
}  // namespace platora
