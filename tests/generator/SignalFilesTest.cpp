#include "SignalFiles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace platora {
namespace {

namespace fs = std::filesystem;

struct ManifestLine {
    std::int64_t frame;
    double time;
    double position;
    double speed;
};

std::vector<ManifestLine> readManifest(const std::string& path, std::string& header) {
    std::ifstream in(path);
    std::getline(in, header);
    std::vector<ManifestLine> lines;
    std::string line;
    while (std::getline(in, line)) {
        ManifestLine row{};
        char c1, c2, c3;
        std::istringstream fields(line);
        fields >> row.frame >> c1 >> row.time >> c2 >> row.position >> c3 >> row.speed;
        EXPECT_TRUE(fields && c1 == ',' && c2 == ',' && c3 == ',') << line;
        lines.push_back(row);
    }
    return lines;
}

class SignalFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("platora-gen-files-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
};

TEST(SignalPaths, ManifestAndTableSitBesideTheWaveWithOrWithoutItsExtension) {
    for (const char* output : {"out/take1.wav", "out/take1"}) {
        SignalPaths paths = SignalPaths::forOutput(output);
        EXPECT_EQ(paths.wav, "out/take1.wav");
        EXPECT_EQ(paths.manifest, "out/take1.manifest.csv");
        EXPECT_EQ(paths.table, "out/take1.table");
    }
    EXPECT_EQ(SignalPaths::forOutput("a.WAV").wav, "a.WAV.wav");
}

TEST_F(SignalFilesTest, WaveHoldsExactlyTheRenderedSamplesAndTheManifestTheirTruth) {
    GeneratorSettings settings;
    settings.vinylType = Mixvibes;
    settings.sampleRate = 48000;
    settings.channels = 4;
    settings.startPosition = 2.5;
    std::string error;
    settings.profile = *SpeedProfile::parse("1:0.1,1->-2:0.2", error);
    settings.snrDb = 25.0;
    const std::int64_t frames = 48000 * 3 / 10 + 17;  // a partial last manifest step

    TimecodeGenerator generator(settings);
    SignalPaths paths = SignalPaths::forOutput((dir / "take").string());
    ASSERT_TRUE(writeSignalFiles(generator, frames, paths, error)) << error;
    EXPECT_FALSE(fs::exists(paths.table));  // Mixvibes needs none

    SF_INFO info{};
    SNDFILE* wav = sf_open(paths.wav.c_str(), SFM_READ, &info);
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 4);
    ASSERT_EQ(info.frames, frames);
    std::vector<std::int16_t> read(static_cast<std::size_t>(frames) * 4);
    EXPECT_EQ(sf_readf_short(wav, read.data(), frames), frames);
    sf_close(wav);
    TimecodeGenerator again(settings);
    std::vector<std::int16_t> expected(read.size());
    again.render(expected.data(), static_cast<std::size_t>(frames));
    EXPECT_EQ(read, expected);

    std::string header;
    std::vector<ManifestLine> rows = readManifest(paths.manifest, header);
    EXPECT_EQ(header, "frame,time_s,position_s,speed");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>((frames + 47) / 48 + 1));
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) EXPECT_EQ(rows[i].frame, static_cast<std::int64_t>(48 * i));
    EXPECT_EQ(rows.back().frame, frames);
    for (const ManifestLine& row : rows) {
        double t = static_cast<double>(row.frame) / 48000.0;
        EXPECT_NEAR(row.time, t, 1e-6);
        EXPECT_NEAR(row.position, 2.5 + settings.profile.distanceAt(t), 1e-9);
        EXPECT_NEAR(row.speed, settings.profile.speedAt(t), 1e-6);
    }
    EXPECT_NEAR(rows.back().speed, -2.0, 1e-6);
}

TEST_F(SignalFilesTest, FinalScratchSignalComesWithTheTableThatDecodesIt) {
    GeneratorSettings settings;
    settings.vinylType = FinalScratch;
    settings.finalScratchRows = 5000;
    TimecodeGenerator generator(settings);
    SignalPaths paths = SignalPaths::forOutput((dir / "fs.wav").string());
    std::string error;
    ASSERT_TRUE(writeSignalFiles(generator, 4410, paths, error)) << error;

    FinalScratchCodeTable table;
    ASSERT_TRUE(table.load(paths.table, error)) << error;
    EXPECT_EQ(table.rowCount(), 5000u);
    EXPECT_EQ(table.lookup(FinalScratchFrames::code(4999)), FinalScratchFrames::value(4999));
    EXPECT_FALSE(table.lookup(FinalScratchFrames::code(5000)).has_value());
}

TEST_F(SignalFilesTest, UnwritablePlaceFailsWithOneLineNamingIt) {
    TimecodeGenerator generator(GeneratorSettings{});
    SignalPaths paths = SignalPaths::forOutput((dir / "missing" / "take").string());
    std::string error;
    EXPECT_FALSE(writeSignalFiles(generator, 100, paths, error));
    EXPECT_NE(error.find(paths.wav), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);

    fs::create_directories(dir / "manifest.csv.blocked.manifest.csv");  // a directory where the manifest goes
    paths = SignalPaths::forOutput((dir / "manifest.csv.blocked").string());
    EXPECT_FALSE(writeSignalFiles(generator, 100, paths, error));
    EXPECT_NE(error.find(paths.manifest), std::string::npos) << error;
}

}  // namespace
}  // namespace platora
