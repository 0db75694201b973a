#include "FinalScratchCodeTable.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace platora {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

CommandResult run(const std::string& command, const fs::path& dir) {
    const fs::path errFile = dir / "stderr.txt";
    FILE* pipe = ::popen((command + " 2>" + errFile.string()).c_str(), "r");
    CommandResult result{-1, {}, {}};
    if (!pipe) return result;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    result.err = text.str();
    return result;
}

int lineCount(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

class Tools : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("platora-tools-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A tone whose channel pair `pair` carries amplitude 1000 * (pair + 1).
    std::string writeWav(const std::string& name, int rate, int channels, int frames) {
        const fs::path path = dir / name;
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<short> samples(static_cast<std::size_t>(frames) * channels);
        for (int f = 0; f < frames; ++f) {
            for (int c = 0; c < channels; ++c) {
                samples[f * channels + c] =
                    static_cast<short>(1000 * (c / 2 + 1) * std::sin(2 * M_PI * 3000.0 * f / rate));
            }
        }
        sf_writef_short(file, samples.data(), frames);
        sf_close(file);
        return path.string();
    }
    CommandResult decode(const std::string& args) { return run(std::string(PLATORA_DECODE) + " " + args, dir); }
    CommandResult verify(const std::string& file) { return run(std::string(PLATORA_TABLE) + " verify " + file, dir); }

    fs::path dir;
};

TEST_F(Tools, decodePrintsOneRowPerBlockIncludingAShortLastOne) {
    const std::string wav = writeWav("tone.wav", 44100, 2, 2 * 1024 + 5);
    const CommandResult r = decode(wav + " --vinyl mixvibes");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("block,position,speed,tps,level\n0,0,1,0,", 0), 0u) << r.out;
    EXPECT_EQ(lineCount(r.out), 1 + 3);
    EXPECT_NE(r.out.find("\n2,"), std::string::npos);
}

TEST_F(Tools, decodeReadsTheChosenChannelPair) {
    const std::string wav = writeWav("six.wav", 44100, 6, 1024);
    const CommandResult r = decode(wav + " --vinyl mixvibes --pair 2");
    ASSERT_EQ(r.status, 0) << r.err;
    // Pair 2 carries amplitude 3000: the level column shows it.
    EXPECT_NE(r.out.find(",299"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(",99"), std::string::npos) << r.out;
}

TEST_F(Tools, decodeRefusesBadInputWithOneLine) {
    const std::string stereo = writeWav("stereo.wav", 44100, 2, 100);
    const std::string mono = writeWav("mono.wav", 44100, 1, 100);
    const std::string rate = writeWav("rate.wav", 48000, 2, 100);
    const std::string garbage = (dir / "table.bin").string();
    std::ofstream(garbage) << "abc";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {(dir / "missing.wav").string() + " --vinyl mixvibes", "missing.wav"},
        {mono + " --vinyl mixvibes", "one channel"},
        {rate + " --vinyl mixvibes", "48000"},
        {stereo + " --vinyl mixvibes --pair 1", "pair 1"},
        {stereo + " --vinyl serato", "unknown vinyl type"},
        {stereo, "--vinyl"},
        {stereo + " --vinyl finalscratch --table " + garbage, "table.bin"},
        {stereo + " --vinyl mixvibes --calibration x", "--calibration"},
    };
    for (const auto& [args, expected] : cases) {
        const CommandResult r = decode(args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_NE(r.err.find(expected), std::string::npos) << args << " -> " << r.err;
        EXPECT_EQ(r.out, "") << args;
    }
}

TEST_F(Tools, decodeWithoutATableSaysSoAndGoesOn) {
    writeWav("tone.wav", 44100, 2, 1024);
    // CommandResult from the temporary directory, where no table lies.
    const CommandResult inDir = run("cd " + dir.string() + " && " + PLATORA_DECODE + " tone.wav --vinyl finalscratch", dir);
    ASSERT_EQ(inDir.status, 0) << inDir.err;
    EXPECT_NE(inDir.err.find("cannot be decoded"), std::string::npos) << inDir.err;
    EXPECT_EQ(lineCount(inDir.err), 1);
    EXPECT_EQ(lineCount(inDir.out), 2);
}

TEST_F(Tools, verifyReportsAGoodTable) {
    const std::string path = (dir / "good.table").string();
    std::string error;
    ASSERT_TRUE(FinalScratchCodeTable::save(
        path, {{0xE00001E4, 24706}, {0xE00A89BF, 254853}, {0xE00A89BF, 276723}, {0xEFFF7D04, 5}}, error));
    const CommandResult r = verify(path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("rows: 4\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("values: 5 to 276723\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("duplicated codes: 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("real table: no\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("broken:"), std::string::npos) << r.out;
}

TEST_F(Tools, verifyNamesEveryBrokenInvariant) {
    const std::string path = (dir / "bad.table").string();
    std::string error;
    ASSERT_TRUE(FinalScratchCodeTable::save(
        path, {{0xE0000005, 1}, {0xE0000005, 2}, {0xE0000005, 3}, {0x12345678, 4}, {0xE0000001, 5}}, error));
    const CommandResult r = verify(path);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("not sorted"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("code 0xE0000005 in 3 rows"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0x12345678 outside"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("usable: no"), std::string::npos) << r.out;
}

TEST_F(Tools, verifyRefusesAFileThatIsNoTable) {
    const std::string path = (dir / "odd.table").string();
    std::ofstream(path) << "12345";
    const CommandResult r = verify(path);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("odd.table"), std::string::npos) << r.err;
    EXPECT_NE(verify((dir / "none.table").string()).status, 0);
}

}  // namespace
}  // namespace platora
