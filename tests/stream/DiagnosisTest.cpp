// Generated records, spoilt the ways a setup goes wrong, through a real deck (conditioning,
// decoder, measures) watched ten times a second as the live status watches it.
#include "FrameLayout.h"
#include "DeckWatch.h"
#include "Streaming.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace platora {
namespace {

using Block = std::vector<std::int16_t>;
using Spoil = std::function<void(Block&)>;

constexpr std::int32_t rate = 44100;
constexpr std::int32_t blockFrames = 441;
constexpr int lookBlocks = 10;  // blocks between two looks

std::int16_t saturated(double v) { return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0)); }

struct Sent {
    DeckReading reading;  // as the sender reads it after the block
    DeckState shown;      // the state shown meanwhile
};

struct Watched {
    std::vector<DeckState> shown;     // every state shown, in order
    std::vector<VinylType> found;  // types found, in order
    std::vector<Sent> sent;           // one per block
};

// `record` played for `seconds` into a deck set to `deckType` (none: found by itself), whose
// table has the record's rows unless `tableRows` says otherwise.
constexpr std::optional<VinylType> foundByItself;
Watched watch(const GeneratorSettings& record, std::optional<VinylType> deckType, double seconds, const Spoil& spoil = {},
              const GeneratorSettings* after = nullptr, std::uint32_t tableRows = 0,
              DecodingMode mode = DecodingMode::faithful) {
    FinalScratchCodeTable table;
    table.assign(syntheticFinalScratchTable(tableRows > 0 ? tableRows : record.finalScratchRows));
    TimecodeGenerator first(record);
    std::optional<TimecodeGenerator> second;
    if (after != nullptr) second.emplace(*after);
    Deck deck;
    deck.setDecoding({deckType.value_or(FinalScratch), mode, 1.2f, &table});
    deck.reset(rate);
    DeckWatch watch(deck, !deckType);
    Watched run;
    Block block(2 * blockFrames), stereo(2 * blockFrames);
    const auto blocks = static_cast<int>(seconds * rate / blockFrames);
    for (int b = 0; b < blocks; ++b) {
        // A second record, if any, takes over half way.
        (second && b >= blocks / 2 ? *second : first).render(block.data(), blockFrames);
        if (spoil) spoil(block);
        deck.process(block.data(), blockFrames, 2, stereo.data());
        run.sent.push_back({deck.reading(false), watch.shown()});
        if (b % lookBlocks != lookBlocks - 1) continue;
        if (watch.update(false)) run.shown.push_back(watch.shown());
        if (const std::optional<VinylType> type = watch.takeFoundType()) run.found.push_back(*type);
    }
    return run;
}

GeneratorSettings record(VinylType type, const std::string& profile = "1", double level = 0.8) {
    GeneratorSettings s;
    s.vinylType = type;
    s.level = level;
    s.startPosition = 10.0;
    s.finalScratchRows = 20000;
    std::string error;
    s.profile = SpeedProfile::parse(profile, error).value();
    return s;
}

struct SpoiltCase {
    const char* name;
    GeneratorSettings record;
    VinylType deckType;
    Spoil spoil;
    DeckState expected;
};

TEST(Diagnosis, EachWayOfSpoilingARecordShowsItsOwnStateAndNoOther) {
    GeneratorSettings noisy = record(Mixvibes, "1", 0.3);
    noisy.snrDb = 6.0;  // too much for any frame, too little to clip
    const std::vector<SpoiltCase> cases = {
        {"a clean record", record(Mixvibes), Mixvibes, {}, DeckState::decoding},
        {"nothing at all", record(Mixvibes), Mixvibes, [](Block& b) { std::fill(b.begin(), b.end(), 0); },
         DeckState::noSignal},
        {"a phono output into a line input", record(Mixvibes, "1", 0.03), Mixvibes, {}, DeckState::tooQuiet},
        {"three times too much gain", record(FinalScratch), FinalScratch,
         [](Block& b) {
             std::transform(b.begin(), b.end(), b.begin(), [](std::int16_t s) { return saturated(3.0 * s); });
         },
         DeckState::clipping},
        {"a loose cable", record(FinalScratch), FinalScratch,
         [](Block& b) {
             for (std::size_t i = 1; i < b.size(); i += 2) b[i] = 0;
         },
         DeckState::oneChannelSilent},
        {"a Mixvibes record on a FinalScratch deck", record(Mixvibes), FinalScratch, {}, DeckState::wrongType},
        {"a FinalScratch record on a Mixvibes deck", record(FinalScratch), Mixvibes, {}, DeckState::wrongType},
        {"a bad ground", noisy, Mixvibes, {}, DeckState::noisy},
        {"left and right swapped", record(Mixvibes), Mixvibes,
         [](Block& b) {
             for (std::size_t i = 0; i < b.size(); i += 2) std::swap(b[i], b[i + 1]);
         },
         DeckState::backwards},
    };
    for (const SpoiltCase& c : cases) {
        const Watched run = watch(c.record, c.deckType, 6.0, c.spoil);
        EXPECT_EQ(run.shown, (std::vector<DeckState>{c.expected})) << c.name;
    }
}

TEST(Diagnosis, FinalScratchCodesMissingFromTheTableShowAsSuch) {
    // The record starts 10 s in, past the 6.7 s a table of 1000 rows covers.
    EXPECT_EQ(watch(record(FinalScratch), FinalScratch, 4.0, {}, nullptr, 1000).shown,
              (std::vector<DeckState>{DeckState::notInTable}));
}

TEST(Diagnosis, ACleanRecordThatPlaysStopsAndPlaysAgainRaisesNoFault) {
    for (const VinylType type : {FinalScratch, Mixvibes}) {
        const Watched run = watch(record(type, "1:2,1->0:0.5,0:2,0->1:0.5,1:2,-1:1,1"), type, 9.0);
        EXPECT_EQ(run.shown, (std::vector<DeckState>{DeckState::decoding, DeckState::stopped, DeckState::decoding}))
            << vinylFormat(type).name;
    }
}

TEST(Diagnosis, AnAutomaticDeckFindsTheTypeAndFollowsARecordChange) {
    const GeneratorSettings mixvibes = record(Mixvibes);
    const GeneratorSettings finalScratch = record(FinalScratch);
    const Watched run = watch(mixvibes, foundByItself, 10.0, {}, &finalScratch);
    EXPECT_EQ(run.found, (std::vector<VinylType>{Mixvibes, FinalScratch}));
    for (const DeckState state : run.shown) EXPECT_EQ(state, DeckState::decoding) << stateName(state);
    // Between the records, the old type's reading of the new one reaches the host only until
    // the next look, not for the second its frames are still counted.
    const auto misread = std::count_if(run.sent.begin(), run.sent.end(), [](const Sent& s) {
        return s.reading.speed != 0.0f && std::fabs(s.reading.speed - 1.0f) > 0.05f;
    });
    EXPECT_LE(misread, lookBlocks);
}

// Sides and makes that share a carrier differ only in their registers: the deck tries them
// in turn and keeps the one that reads, whatever the record's depth and level.
TEST(Diagnosis, AnAutomaticDeckTellsTheShiftRegisterFormatsAndSidesApart) {
    const std::tuple<VinylType, double, double> records[] = {
        {SeratoB, 2.0, 0.5}, {PioneerB, 1.5, 0.2}, {TraktorB, 2.5, 0.8}, {MixvibesV2, 1.6, 0.4}};
    for (const auto& [type, depth, level] : records) {
        GeneratorSettings s = record(type, "1", level);
        s.depth = s.endDepth = depth;
        s.startPosition = 100.0;
        const Watched run = watch(s, foundByItself, 5.0, {}, nullptr, 0, DecodingMode::robust);
        EXPECT_EQ(run.found, (std::vector<VinylType>{type})) << vinylFormat(type).optionName;
        ASSERT_FALSE(run.sent.empty());
        EXPECT_NEAR(run.sent.back().reading.position, 105.0, 0.05) << vinylFormat(type).optionName;
    }
}

TEST(Diagnosis, APlayedOutShiftRegisterSideShowsTheEndOfTheRecord) {
    GeneratorSettings s = record(SeratoA);
    s.startPosition = 711.0;  // its last cycle begins at 711.999 s
    const Watched run = watch(s, SeratoA, 3.0, {}, nullptr, 0, DecodingMode::robust);
    EXPECT_EQ(run.shown, (std::vector<DeckState>{DeckState::decoding, DeckState::endOfRecord}));
    for (const Sent& sent : run.sent) ASSERT_LT(sent.reading.position, 712.0f);
}

// The program starts before the record: the decoder has published speed 0 on the silence.
Spoil startingLate() {
    return [silent = 0](Block& b) mutable {
        if (silent++ < 3 * lookBlocks) std::fill(b.begin(), b.end(), 0);
    };
}

TEST(Diagnosis, ARecordUnderHeavyNoiseIsNeverTakenForAStoppedOne) {
    for (const double level : {0.2, 0.4}) {
        for (const double start : {0.0, 3.7}) {
            GeneratorSettings noisy = record(Mixvibes, "1", level);
            noisy.startPosition = start;
            noisy.snrDb = 10.0;
            const Watched run = watch(noisy, Mixvibes, 4.0, startingLate(), nullptr, 0, DecodingMode::robust);
            ASSERT_FALSE(run.shown.empty()) << level << " " << start;
            EXPECT_TRUE(run.shown.back() == DeckState::noisy || run.shown.back() == DeckState::decoding)
                << stateName(run.shown.back()) << " " << level << " " << start;
            EXPECT_EQ(std::count(run.shown.begin(), run.shown.end(), DeckState::stopped), 0) << level << " " << start;
        }
    }
}

// What the decoder reads by a type in doubt is sent as a deck that has read nothing sends it:
// a Mixvibes record read as FinalScratch turns at -249 %, at half speed at -125 % for good.
TEST(Diagnosis, AnAutomaticDeckSendsNoReadingOfItsGuessUntilAFrameConfirmsTheType) {
    for (const auto& [profile, speed] : {std::pair{"1", 1.0f}, std::pair{"0.5", 0.0f}}) {
        for (const double level : {0.3, 0.8}) {
            GeneratorSettings mixvibes = record(Mixvibes, profile, level);
            mixvibes.startPosition = 10.0 + level;
            const Watched run = watch(mixvibes, foundByItself, 4.5, {}, nullptr, 0, DecodingMode::robust);
            const std::string name = std::string(profile) + "x at level " + std::to_string(level);
            // Until the type is confirmed the position stays where the deck began.
            const auto firstRead =
                std::find_if(run.sent.begin(), run.sent.end(), [](const Sent& s) { return s.reading.speed != 0.0f; });
            for (auto s = run.sent.begin(); s != firstRead; ++s)
                ASSERT_EQ(std::tuple(s->reading.position, s->reading.timecodesPerSecond), std::tuple(0.0f, 0)) << name;
            for (auto s = firstRead; s != run.sent.end(); ++s)
                ASSERT_NEAR(s->reading.speed, speed, 0.05f) << name << " block " << s - run.sent.begin();
            EXPECT_EQ(firstRead == run.sent.end(), speed == 0.0f) << name;
            EXPECT_EQ(run.found, speed == 0.0f ? std::vector<VinylType>{} : std::vector<VinylType>{Mixvibes})
                << name;
            EXPECT_EQ(std::count(run.shown.begin(), run.shown.end(), DeckState::backwards), 0) << name;
        }
    }
}

// A deck set to the other type names it, and meanwhile sends what a deck that has read
// nothing sends; the right record brings its readings back.
TEST(Diagnosis, ADeckOfTheWrongTypeSendsNoReadingWhileItSaysSo) {
    for (const auto& [recordType, deckType] : {std::pair{Mixvibes, FinalScratch}, std::pair{FinalScratch, Mixvibes}}) {
        for (const double level : {0.3, 0.8}) {
            GeneratorSettings wrong = record(recordType, "1", level);
            wrong.startPosition = 20.0 + level;
            const GeneratorSettings right = record(deckType, "1", level);
            const Watched run = watch(wrong, deckType, 8.0, {}, &right, 0, DecodingMode::robust);
            const std::string name = std::string(vinylFormat(recordType).name) + " at level " + std::to_string(level);
            ASSERT_EQ(run.shown, (std::vector<DeckState>{DeckState::wrongType, DeckState::decoding})) << name;
            const auto said = std::find_if(run.sent.begin(), run.sent.end(),
                                           [](const Sent& s) { return s.shown == DeckState::wrongType; });
            for (auto s = said; s != run.sent.end() && s->shown == DeckState::wrongType; ++s) {
                ASSERT_EQ(std::tuple(s->reading.speed, s->reading.timecodesPerSecond), std::tuple(0.0f, 0)) << name;
                ASSERT_EQ(s->reading.position, said->reading.position) << name;
            }
            EXPECT_NEAR(run.sent.back().reading.speed, 1.0f, 0.05f) << name;
        }
    }
}

// The dialogue and stage mode both set their decks up from the settings.
TEST(StreamSettings, TheProgramsDecksDecodeRobustUnlessFaithfulIsChosen) {
    StreamSettings settings;
    settings.decks = {DeckSettings{}};
    FinalScratchCodeTable table;
    CaptureController controller(std::vector<RtAudio::Api>{});
    for (const DecodingMode mode : {DecodingMode::robust, DecodingMode::faithful}) {
        prepareDecks(controller, settings, table);
        controller.deck(0).reset(rate);  // as opening the device does
        EXPECT_EQ(controller.deck(0).decoder().decodingMode(), mode);
        settings.decoding = DecodingMode::faithful;
    }
}

}  // namespace
}  // namespace platora
