#include "CommandLine.h"
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

TEST_F(GenTool, BadInputFailsWithOneLineAndWritesNothing) {
    for (const char* arguments :
         {"out", "--type 2 out", "-t 0", "-t 1 -p 1:0 out", "-t 1 -p '1,2:1' out", "-t 1 --level 0 out",
          "-t 1 --level 1.5 out", "-t 1 -c 3 out", "-t 0 --rows 0 out", "-t 1 --bogus out", "-t 1 out extra",
          "-t 1 --loop out", "-t 1 --wow 0.1 out", "-t 1 --wow 1:1 out", "-t 1 -l -1 out", "-t 1 -l 0 out",
          "-t 1 -r 100 out", "-t 1 --snr x out", "-t 1 --seed -3 out", "-t 1 -s", "-t 1 --aux noise -c 4 out",
          "-t 1 --start 1e9 out", "-t 1 -p 1:1e308 out", "-t 1 -r 0x2000 out"}) {
        const auto r = gen(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err.rfind("platora-gen: ", 0), 0u) << arguments << ": " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << arguments << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav")) << arguments;
    }
}

TEST(GenCommandLength, EveryLengthIsCappedAndAWavStaysWithinItsFourGiB) {
    for (const auto& [profile, length, expected] :
         {std::tuple{"1:80000,1:80000", std::optional<double>{}, "profile lasts 160000 s"},
          std::tuple{"1", std::optional<double>{86400.0}, "4 GiB"}}) {
        GenCommand command;
        command.output = "out";
        std::string error;
        command.settings.profile = SpeedProfile::parse(profile, error).value();
        command.length = length;
        EXPECT_NE(completeGenCommand(command).find(expected), std::string::npos) << profile;
    }
}

TEST_F(GenTool, WritesExactlyTheRenderedSamplesTheirTruthAndTheTableWithTheOptionsApplied) {
    const auto r = gen("--type finalscratch --rate 22050 --channels 4 --length 0.5 --rows 300 --start 2.5 "
                       "--profile '1:0.2,1->-2:0.3' --wow 0.01:2 --snr 40 --seed 7 take.wav");
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

TEST_F(GenTool, UnwritablePlaceFailsWithOneLineNamingIt) {
    fs::create_directories(dir / "blocked.manifest.csv");  // a directory where the manifest goes
    for (const auto& [output, named] : {std::pair{"missing/take", "missing/take.wav"},
                                        std::pair{"blocked", "blocked.manifest.csv"}}) {
        const auto r = gen(std::string("-t 1 -l 0.1 ") + output);
        EXPECT_NE(r.status, 0) << output;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
    }
}

TEST_F(GenTool, LengthDefaultsToTheProfileAndTheSameSeedGivesTheSameFile) {
    ASSERT_EQ(gen("-t 1 -p 1:0.25,-1:0.05 --snr 10 a").status, 0);
    ASSERT_EQ(gen("-t 1 -p 1:0.25,-1:0.05 --snr 10 b.wav").status, 0);
    ASSERT_EQ(gen("-t 1 -p 1:0.25,-1:0.05 --snr 10 --seed 2 c").status, 0);
    EXPECT_EQ(fs::file_size(dir / "a.wav"), 44u + 13230u * 4u);  // 0.3 s of 16-bit stereo
    EXPECT_EQ(test::readFile(dir / "a.wav"), test::readFile(dir / "b.wav"));
    EXPECT_NE(test::readFile(dir / "a.wav"), test::readFile(dir / "c.wav"));
    EXPECT_FALSE(fs::exists(dir / "a.table"));  // Mixvibes needs none
}

TEST_F(GenTool, LiveModeWithoutAServerFailsWithOneLine) {
    const auto r = dir.run("JACK_DEFAULT_SERVER=platora-gen-no-such-server " PLATORA_GEN " -t 1 --jack gen -l 1 live");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot connect to the JACK server"), std::string::npos) << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
    EXPECT_FALSE(fs::exists(dir / "live.manifest.csv"));
}

}  // namespace
}  // namespace platora
