#include "TempDirectory.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace platora {
namespace {

namespace fs = std::filesystem;
using test::lineCount;

class GenTool : public ::testing::Test {
protected:
    test::CommandResult gen(const std::string& arguments) const { return dir.run(PLATORA_GEN " " + arguments); }
    test::TempDirectory dir;
};

TEST_F(GenTool, BadInputOrAnUnwritablePlaceFailsWithOneLineAndLeavesNoFile) {
    fs::create_directories(dir / "blocked.manifest.csv");  // a directory where the manifest goes
    const struct {
        const char* arguments;
        int status = 2;
        const char* named = "";
    } cases[] = {
        {"out"},
        {"--type 11 out"},
        {"--type serato out"},
        {"-t serato-a --depth 1 out"},
        {"-t 0"},
        {"-t 1 -p 1:0 out"},
        {"-t 1 --level 0 out"},
        {"-t 1 --level 1.5 out"},
        {"-t 1 -c 3 out"},
        {"-t 0 --rows 0 out"},
        {"-t 1 --bogus out"},
        {"-t 1 out extra"},
        {"-t 1 --loop out"},
        {"-t 1 --wow 0.1 out"},
        {"-t 1 --wow 1:1 out"},
        {"-t 1 --depth 1 out"},
        {"-t 1 --depth '2->' out"},
        {"-t 1 -j gen --loop -p 1:1 --depth '2->1.5'", 2, "--length"},
        {"-t 1 -l -1 out"},
        {"-t 1 -l 0 out"},
        {"-t 1 -r 100 out"},
        {"-t 1 --snr x out"},
        {"-t 1 --seed -3 out"},
        {"-t 1 -s"},
        {"-t 1 --aux noise -c 4 out"},
        {"-t 1 -j gen -l 1e-9"},
        {"-t 1 --start 1e9 out"},
        {"-t 1 -r 0x2000 out"},
        {"-t 1 -p 1:80000,1:80000 out"},
        {"-t 1 -l 86400 out"},
        {"-t 1 -l 0.1 missing/take", 1, "missing/take.wav"},
        {"-t 1 -l 0.1 blocked", 1, "blocked.manifest.csv"},
        {"-t 1 --jack gen -l 1 out", 1, "cannot connect to the JACK server"},
    };
    for (const auto& c : cases) {
        // The file size limit stops a run that should have been refused long before it fills the disk.
        const auto r = dir.run("ulimit -f 10000; JACK_DEFAULT_SERVER=platora-gen-no-such-server " PLATORA_GEN " " +
                               std::string(c.arguments));
        EXPECT_EQ(r.status, c.status) << c.arguments;
        EXPECT_EQ(r.err.rfind("platora-gen: ", 0), 0u) << c.arguments << ": " << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << c.arguments << ": " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << c.arguments << ": " << r.err;
        for (const char* file : {"out.wav", "out.manifest.csv", "blocked.wav"})
            EXPECT_FALSE(fs::exists(dir / file)) << c.arguments << ": " << file;
    }
}

TEST_F(GenTool, WritesExactlyTheRenderedSamplesTheirTruthAndTheTableWithTheOptionsApplied) {
    // No --length: the profile's 0.5 s.
    const auto r =
        gen("--type finalscratch --rate 22050 --channels 4 --rows 300 --start 2.5 "
            "--profile '1:0.2,1->-2:0.3' --wow 0.01:2 --snr 40 --seed 7 --depth '3->1.5' take.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    GeneratorSettings settings;
    settings.vinylType = FinalScratch;
    settings.sampleRate = 22050;
    settings.channels = 4;
    settings.finalScratchRows = 300;
    settings.startPosition = 2.5;
    std::string error;
    settings.profile = SpeedProfile::parse("1:0.2,1->-2:0.3", error).value();
    settings.profile.setWow(0.01, 2.0);
    settings.snrDb = 40.0;
    settings.seed = 7;
    settings.depth = 3.0;
    settings.endDepth = 1.5;
    settings.driftSeconds = 0.5;
    constexpr std::int64_t frames = 11025;  // a partial last manifest step of 22 frames

    SF_INFO info{};
    SNDFILE* wav = sf_open((dir / "take.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(info.samplerate, 22050);
    ASSERT_EQ(info.channels, 4);
    ASSERT_EQ(info.frames, frames);
    std::vector<std::int16_t> read(frames * 4), expected(frames * 4);
    EXPECT_EQ(sf_readf_short(wav, read.data(), frames), frames);
    sf_close(wav);
    TimecodeGenerator(settings).render(expected.data(), frames);
    EXPECT_EQ(read, expected);

    std::ifstream manifest(dir / "take.manifest.csv");
    std::string line;
    std::getline(manifest, line);
    EXPECT_EQ(line, "frame,time_s,position_s,speed");
    std::vector<long> rowFrames;
    for (double time, position, speed; std::getline(manifest, line);) {
        long frame = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "%ld,%lf,%lf,%lf", &frame, &time, &position, &speed), 4) << line;
        const double t = static_cast<double>(frame) / 22050.0;
        EXPECT_NEAR(time, t, 1e-6);
        EXPECT_NEAR(position, 2.5 + settings.profile.distanceAt(t), 1e-9);
        EXPECT_NEAR(speed, settings.profile.speedAt(t), 1e-6);
        rowFrames.push_back(frame);
    }
    ASSERT_EQ(rowFrames.size(), static_cast<std::size_t>((frames + 21) / 22 + 1));
    for (std::size_t i = 0; i + 1 < rowFrames.size(); ++i) EXPECT_EQ(rowFrames[i], static_cast<long>(22 * i));
    EXPECT_EQ(rowFrames.back(), frames);

    FinalScratchCodeTable table;
    ASSERT_TRUE(table.load(dir / "take.table", error)) << error;
    EXPECT_EQ(table.rowCount(), 300u);
    EXPECT_EQ(table.lookup(FinalScratchFrames::code(299)), FinalScratchFrames::value(299));
    EXPECT_FALSE(table.lookup(FinalScratchFrames::code(300)).has_value());
}

}  // namespace
}  // namespace platora
