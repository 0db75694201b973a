#include "FinalScratchCodeTable.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace platora {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class GenCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("platora-gen-cli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // environment: NAME=VALUE assignments for the program only.
    Outcome run(const std::string& arguments, const std::string& environment = "") const {
        fs::path errFile = dir / "stderr.txt";
        std::string command = "cd '" + dir.string() + "' && " + environment + " " PLATORA_GEN " " + arguments +
                              " 2>'" + errFile.string() + "'";
        Outcome outcome;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return outcome;
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.out.append(buffer, got);
        int raw = ::pclose(pipe);
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        std::ifstream err(errFile);
        std::stringstream text;
        text << err.rdbuf();
        outcome.err = text.str();
        return outcome;
    }

    fs::path dir;
};

TEST_F(GenCommand, HelpDescribesTheProfileAndManifestAndSucceeds) {
    Outcome outcome = run("--help");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("usage: platora-gen"), std::string::npos);
    EXPECT_NE(outcome.out.find("FROM->TO:SECONDS"), std::string::npos);
    EXPECT_NE(outcome.out.find("frame,time_s,position_s,speed"), std::string::npos);
    EXPECT_TRUE(outcome.err.empty());
}

TEST_F(GenCommand, BadInputFailsWithOneLineAndWritesNothing) {
    for (const char* arguments :
         {"out", "--type 2 out", "-t 0", "-t 1 -p 1:0 out", "-t 1 -p '1,2:1' out", "-t 1 --level 0 out",
          "-t 1 --level 1.5 out", "-t 1 -c 3 out", "-t 0 --rows 0 out", "-t 1 --bogus out", "-t 1 out extra",
          "-t 1 --loop out", "-t 1 --wow 0.1 out", "-t 1 --wow 1:1 out", "-t 1 -l -1 out", "-t 1 -l 0 out",
          "-t 1 -r 100 out", "-t 1 --snr x out", "-t 1 --seed -3 out", "-t 1 -s", "-t 1 --aux noise -c 4 out",
          "-t 1 --start 1e9 out"}) {
        Outcome outcome = run(arguments);
        EXPECT_NE(outcome.status, 0) << arguments;
        EXPECT_EQ(outcome.err.rfind("platora-gen: ", 0), 0u) << arguments << ": " << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << arguments << ": " << outcome.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav")) << arguments;
    }
}

TEST_F(GenCommand, WritesTheWaveManifestAndTableWithTheOptionsApplied) {
    Outcome outcome = run("--type finalscratch --rate 48000 --channels 4 --length 0.5 --rows 300 "
                          "--profile '1:0.2,1->0:0.3' --wow 0.01:2 --snr 40 --seed 7 take.wav");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(outcome.err.empty()) << outcome.err;

    SF_INFO info{};
    SNDFILE* wav = sf_open((dir / "take.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(wav, nullptr);
    sf_close(wav);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 4);
    EXPECT_EQ(info.frames, 24000);

    FinalScratchCodeTable table;
    std::string error;
    ASSERT_TRUE(table.load((dir / "take.table").string(), error)) << error;
    EXPECT_EQ(table.rowCount(), 300u);

    std::ifstream manifest(dir / "take.manifest.csv");
    std::string line, last;
    std::getline(manifest, line);
    EXPECT_EQ(line, "frame,time_s,position_s,speed");
    while (std::getline(manifest, line)) last = line;
    EXPECT_EQ(last.rfind("24000,0.500000,", 0), 0u) << last;
}

TEST_F(GenCommand, LengthDefaultsToTheProfileAndTheSameSeedGivesTheSameFile) {
    ASSERT_EQ(run("-t 1 -p 1:0.25,-1:0.05 --snr 10 a").status, 0);
    ASSERT_EQ(run("-t 1 -p 1:0.25,-1:0.05 --snr 10 b.wav").status, 0);
    ASSERT_EQ(run("-t 1 -p 1:0.25,-1:0.05 --snr 10 --seed 2 c").status, 0);
    auto bytes = [&](const char* name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(fs::file_size(dir / "a.wav"), 44u + 13230u * 4u);  // 0.3 s of 16-bit stereo
    EXPECT_EQ(bytes("a.wav"), bytes("b.wav"));
    EXPECT_NE(bytes("a.wav"), bytes("c.wav"));
}

TEST_F(GenCommand, LiveModeWithoutAServerFailsWithOneLine) {
    Outcome outcome = run("-t 1 --jack gen -l 1 live", "JACK_DEFAULT_SERVER=platora-gen-no-such-server");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("cannot connect to the JACK server"), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "live.manifest.csv"));
}

}  // namespace
}  // namespace platora
