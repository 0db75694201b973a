// Tables learned from generated recordings, judged by the generator's own table.
#include "TimecodeGenerator.h"
#include "LearnCommand.h"
#include "TableLearner.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdlib>
#include <map>

namespace platora {
namespace {

// One stretch of play; a recording of several is a needle lifted and set down at the next one's start.
struct Play {
    double start;  // record seconds
    const char* profile;
    double seconds;
    std::int32_t rate = 44100;
    std::int32_t channels = 2;
    double wow = 0.0;
    std::optional<double> snrDb{};
    VinylType type = FinalScratch;
    AuxSignal aux = AuxSignal::tone;
};
using Recording = std::vector<Play>;

std::string record(const test::TempDirectory& dir, const std::string& name, const Recording& plays) {
    SF_INFO info{};
    info.samplerate = plays[0].rate;
    info.channels = plays[0].channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open((dir / name).c_str(), SFM_WRITE, &info);
    for (const Play& p : plays) {
        std::string error;
        GeneratorSettings s{.vinylType = p.type,
                            .sampleRate = p.rate,
                            .channels = p.channels,
                            .aux = p.aux,
                            .startPosition = p.start,
                            .profile = SpeedProfile::parse(p.profile, error).value(),
                            .snrDb = p.snrDb};
        s.profile.setWow(p.wow, 0.55);
        TimecodeGenerator generator(s);
        std::vector<std::int16_t> samples(static_cast<std::size_t>(p.seconds * p.rate) * p.channels);
        generator.render(samples.data(), samples.size() / p.channels);
        sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size() / p.channels));
    }
    EXPECT_EQ(sf_close(file), 0);
    return dir / name;
}

const FinalScratchCodeTable& truth() {
    static FinalScratchCodeTable table;
    if (table.empty()) table.assign(syntheticFinalScratchTable());
    return table;
}

constexpr std::int64_t misreadCode = 1ll << 40;

// The generator's value minus the learned one in the generator's units, for every learned row;
// misread codes count at misreadCode.
std::map<std::int64_t, std::size_t> offsets(const FinalScratchCodeTable& learned, int unitsPerFrame) {
    std::map<std::int64_t, std::size_t> count;
    for (const auto& row : learned.rows())
        ++count[truth().lookup(row.code) ? std::int64_t{*truth().lookup(row.code)} -
                                               std::int64_t{row.value} * defaultUnitsPerFrame / unitsPerFrame
                                         : misreadCode];
    return count;
}

struct LearnCase {
    const char* name;
    std::vector<Recording> recordings;
    int pair = 0;
    std::optional<double> firstFrameAt{};
    bool addSecond = false;  // the second recording extends the first one's table
    std::size_t unplaced = 0;
    std::optional<Recording> testSignal{};  // else: rows equal the generator's over the span
    int unitsPerFrame = defaultUnitsPerFrame;
};

class Learning : public ::testing::TestWithParam<LearnCase> {};

TEST_P(Learning, LearnedTableDecodesLikeTheGeneratorsOwn) {
    const LearnCase& c = GetParam();
    test::TempDirectory dir;
    LearnSettings settings;
    settings.output = dir / "learned.table";
    settings.pair = c.pair;
    settings.firstFrameAt = c.firstFrameAt;
    settings.unitsPerFrame = c.unitsPerFrame;
    for (std::size_t i = 0; i < c.recordings.size(); ++i)
        settings.recordings.push_back(record(dir, std::to_string(i) + ".wav", c.recordings[i]));
    LearnReport report;
    std::string error;
    if (c.addSecond) {
        LearnSettings first = settings;
        first.recordings.resize(1);
        ASSERT_TRUE(learnTable(first, report, {}, error)) << error;
        settings.recordings.erase(settings.recordings.begin());
        settings.addTo = settings.output;
    }
    ASSERT_TRUE(learnTable(settings, report, {}, error)) << error;
    const std::string text = describe(report, settings);
    EXPECT_EQ(report.unplacedRuns.size(), c.unplaced) << text;
    EXPECT_EQ(text.find("not placed") != std::string::npos, c.unplaced > 0) << text;
    FinalScratchCodeTable learned;
    ASSERT_TRUE(learned.load(settings.output, error)) << error;
    EXPECT_NE(text.find("values: " + std::to_string(c.unitsPerFrame) + " units per frame"), std::string::npos) << text;
    const auto offset = offsets(learned, c.unitsPerFrame);

    if (!c.testSignal) {
        // Every code read right lies where the generator put it; a misread one may be learned too,
        // in the place of the frame it was read for.
        const std::size_t misread = offset.count(misreadCode) ? offset.at(misreadCode) : 0;
        ASSERT_EQ(offset.size() - (misread > 0 ? 1 : 0), 1u) << text;
        EXPECT_TRUE(!c.firstFrameAt || offset.begin()->first == 0) << offset.begin()->first;
        EXPECT_LE(misread, learned.rowCount() / 500);
        EXPECT_EQ(report.conflicts, 0u);
        EXPECT_EQ((report.lastValue - report.firstValue) / c.unitsPerFrame + 1,
                  learned.rowCount() + report.framesMissed - report.framesFilled)
            << "a frame lost uncounted";
        return;
    }
    const std::int64_t common = offset.begin()->first;  // the first frame's place; wrong rows show below
    std::vector<SyncFrame> frames;
    RecordingSummary summary;
    ASSERT_TRUE(readSyncFrames(record(dir, "test.wav", *c.testSignal), 0, 1.2f, frames, summary, {}, error)) << error;
    std::size_t decodable = 0, right = 0;
    for (const SyncFrame& frame : frames) {
        const auto want = truth().lookup(frame.code);
        if (!want) continue;
        ++decodable;
        if (const auto got = learned.lookup(frame.code)) {
            EXPECT_LE(std::llabs(*got + common - *want), 294) << "frame " << frame.code << " placed wrong";
            right += std::llabs(*got + common - *want) <= 294 ? 1 : 0;
        }
    }
    EXPECT_GT(decodable, 1000u);
    EXPECT_GE(right, 0.999 * decodable) << right << " of " << decodable << "\n" << text;
}

// 0.8 to 1.3 times nominal, wow, noise, a 2 s stop, then the needle goes back and plays on.
const Recording rough{{0.5, "1.3:5,1.3->0:0.4,0:2,0->0.8:0.4,0.8:4", 12.0, 44100, 2, 0.01, 35.0},
                      {3.0, "1", 9.0, 44100, 2, 0.01, 35.0}};

INSTANTIATE_TEST_SUITE_P(
    TableLearner, Learning,
    ::testing::Values(LearnCase{"fromTheFirstFrame", {{{0.0, "1", 4.0}}}, 0, (294 * 1 + 285) / 44100.0},
                      LearnCase{"fourChannelsAt48kHzFast", {{{2.0, "1.3", 4.0, 48000, 4}}}, 1},
                      LearnCase{"overlappingHalves", {{{0.0, "1", 4.0}}, {{3.0, "1.2", 4.0}}}},
                      LearnCase{"atTheOriginalTablesSpacing", {{{1.0, "1", 3.0}}}, 0, {}, false, 0, {}, 320},
                      LearnCase{"overlappingHalvesAddedOneWithClicks",
                                {{{3.0, "1", 4.0}}, {{0.0, "0.9", 4.0, 44100, 2, 0, 30.0}}},
                                0,
                                {},
                                true},
                      LearnCase{"clicksOfNoiseAt30dB", {{{2.0, "1", 4.0, 44100, 2, 0.0, 30.0}}}},
                      LearnCase{"apartHalves", {{{0.0, "1", 3.0}}, {{10.0, "1", 3.0}}}, 0, {}, false, 1},
                      LearnCase{
                          "roughPlay", {rough}, 0, {}, false, 0, Recording{{1.0, "1.1", 8.0, 44100, 2, 0.005, 40.0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TableLearner, BadInputIsRefusedInOneLineAndWritesNothing) {
    test::TempDirectory dir;
    const std::string good = record(dir, "good.wav", {{2.0, "1", 1.0}});
    dir.write("cut.wav", test::readFile(good).substr(0, 20));
    const struct {
        std::vector<std::string> recordings;
        std::string output;
        std::string expected;
    } cases[] = {
        {{record(dir, "mixvibes.wav", {{2.0, "1", 1.0, 44100, 2, 0, {}, Mixvibes}})}, "", "no FinalScratch frame"},
        {{record(dir, "silence.wav", {{2.0, "1", 1.0, 44100, 4, 0, {}, FinalScratch, AuxSignal::silence}})},
         "",
         "no FinalScratch frame"},
        {{good, dir.path.string()}, "", "is a directory"},
        {{dir / "cut.wav"}, "", "cut.wav: cannot read"},
        {{good}, "none/learned", "cannot write"},
        {{good}, "learned.dir", "cannot write"},
    };
    std::filesystem::create_directory(dir / "learned.dir");
    for (const auto& c : cases) {
        LearnSettings settings;
        settings.recordings = c.recordings;
        settings.output = dir / (c.output.empty() ? "learned" : c.output);
        LearnReport report;
        std::string error;
        EXPECT_FALSE(learnTable(settings, report, {}, error)) << c.expected;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))  // nor a temporary file
        EXPECT_TRUE(entry.path().filename() == "learned.dir" || entry.path().filename().string().rfind("learned", 0))
            << entry.path();
}

}  // namespace
}  // namespace platora
