#include "Deck.h"
#include "GainFollower.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace platora {
namespace {

constexpr std::int32_t rate = 44100;
constexpr std::int32_t blockFrames = 512;

struct Played {
    bool anyRefused = false;
    float largestSent = 0.0f;  // |speed| in percent
};

// A second of a record played at `speed` times nominal into a stream that starts anew,
// read after every block.
Played play(Deck& deck, double speed, VinylType vinyl = FinalScratch) {
    GeneratorSettings settings;
    settings.vinylType = vinyl;
    std::string error;
    settings.profile = SpeedProfile::parse(std::to_string(speed), error).value();
    TimecodeGenerator generator(settings);
    std::vector<std::int16_t> block(2 * blockFrames), stereo(2 * blockFrames);
    deck.setVinylType(vinyl);
    deck.reset(rate);
    deck.setCalibration(vinyl == FinalScratch ? 1.2f : 1.07f);
    Played played;
    for (int i = 0; i < rate / blockFrames; ++i) {
        generator.render(block.data(), blockFrames);
        deck.process(block.data(), blockFrames, 2, stereo.data());
        played.largestSent = std::max(played.largestSent, std::abs(100.0f * deck.reading(false).speed));
        played.anyRefused = played.anyRefused || deck.speedRefused();
    }
    return played;
}

TEST(DeckReading, RestsUntilTheFirstBlockAndNeverSendsASpeedNoTurntableReaches) {
    Deck deck;
    deck.reset(rate);
    const DeckReading start = deck.reading(false);
    EXPECT_EQ((std::vector{start.position, start.speed}), (std::vector{0.0f, 0.0f}));
    EXPECT_EQ((std::vector{start.timecodesPerSecond, start.level}), (std::vector{0, 0}));
    // At twelve times nominal the FinalScratch peaks alias: the decoder reads up to -37.
    const struct {
        double speed;
        bool refused;
        float largest;
    } cases[] = {{8.0, false, 816.7f}, {12.0, true, 1000.0f}};
    for (const auto& c : cases) {
        const Played played = play(deck, c.speed);
        EXPECT_EQ(played.anyRefused, c.refused) << c.speed;
        EXPECT_LE(played.largestSent, c.largest) << c.speed;
        EXPECT_GT(played.largestSent, 790.0f) << c.speed;
    }
}

TEST(DeckReading, ANewStreamKeepsTheHeldPositionUntilItReadsAFrame) {
    Deck deck;
    play(deck, 1.0, Mixvibes);
    const float reached = deck.reading(false).position;
    ASSERT_GT(reached, 0.5f);
    deck.holdPosition();
    EXPECT_EQ(deck.reading(true).position, reached);
    deck.reset(rate);  // the stream reopened
    const DeckReading reopened = deck.reading(false);
    EXPECT_EQ(reopened.position, reached);
    EXPECT_EQ(reopened.speed, 0.0f);
    std::vector<std::int16_t> silence(2 * blockFrames), stereo(2 * blockFrames);
    deck.process(silence.data(), blockFrames, 2, stereo.data());
    EXPECT_EQ(deck.reading(false).position, reached);
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
    const struct {
        const char* what;
        double input;
        std::int16_t gain;
        bool heard;
    } steps[] = {
        {"silence keeps gain 1 and waits", 3, 1, false},
        {"a record at -14 dBFS", 6553, 3, true},
        {"a quieter record, followed within a second", 600, 28, true},
        {"silence never raises it", 0, 28, true},
        {"a record that clips is halved at once and then set", 8000, 3, true},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(hear(step.input, 1s), step.gain) << step.what;
        EXPECT_EQ(follower.heardSignal(), step.heard) << step.what;
    }
    GainFollower loud(start, 400);
    EXPECT_EQ(loud.update(32767, start), 200) << "clipping lowers the gain in the same reading";
}

}  // namespace
}  // namespace platora
