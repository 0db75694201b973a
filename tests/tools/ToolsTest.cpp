#include "DecodeFile.h"
#include "CodeTableFile.h"
#include "FinalScratchCodeTable.h"
#include "TableVerify.h"
#include "TempDirectory.h"
#include "VinylType.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace platora {
namespace {

using test::lineCount;

class Tools : public ::testing::Test {
protected:
    // A 3 kHz tone whose channel pair p carries amplitude 1000 * (p + 1).
    std::string writeWav(const std::string& name, int rate, int channels, int frames,
                         int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) const {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* file = sf_open((dir / name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<float> samples;  // 16-bit values at libsndfile's scale, so PCM keeps them exactly
        for (int f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                samples.push_back(static_cast<short>(1000 * (c / 2 + 1) * std::sin(2 * M_PI * 3000.0 * f / rate)) /
                                  32768.0f);
        sf_writef_float(file, samples.data(), frames);
        sf_close(file);
        return dir / name;
    }
    template <class Command>
    static test::CommandResult captured(int (*run)(const Command&, std::ostream&, std::ostream&),
                                        const Command& command) {
        std::ostringstream out, err;
        const int status = run(command, out, err);
        return {status, out.str(), err.str()};
    }
    test::TempDirectory dir;
};

TEST_F(Tools, decodeReadsTheChosenPairOfAFloatFileAsTheSame16BitSignal) {
    const auto pcm = captured(runDecode, {writeWav("pcm.wav", 44100, 6, 2 * 1024 + 5), Mixvibes, "", {}, 2});
    EXPECT_EQ(pcm.out.rfind("block,position,speed,tps,level,age\n", 0), 0u) << pcm.out;
    EXPECT_NE(pcm.out.find(",2999,-1\n"), std::string::npos) << "the third pair's level: " << pcm.out;
    // A tone carries no frame: robust mode says it measured no depth.
    EXPECT_NE(pcm.err.find("depth not measured"), std::string::npos) << pcm.err;
    const std::string floatFile = writeWav("float.wav", 44100, 6, 2 * 1024 + 5, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(captured(runDecode, {floatFile, Mixvibes, "", {}, 2}).out, pcm.out);
}

TEST_F(Tools, decodeAndVerifyRefuseBadInputWithOneLineSayingWhatIsWrong) {
    const std::string decode = PLATORA_DECODE " " + writeWav("stereo.wav", 44100, 2, 1024) + " --vinyl ";
    const std::string verify = PLATORA_TABLE " verify ";
    const struct {
        std::string command, expected;
        int status;
    } cases[] = {
        {PLATORA_DECODE " missing.wav --vinyl mixvibes", "missing.wav", 1},
        {PLATORA_DECODE " " + writeWav("mono.wav", 44100, 1, 100) + " --vinyl mixvibes", "one channel", 1},
        {PLATORA_DECODE " " + writeWav("rate.wav", 48000, 2, 100) + " --vinyl mixvibes", "48000", 1},
        {decode + "mixvibes --pair 1", "pair 1", 1},
        {decode + "finalscratch --table " + dir.write("table.bin", "abc"), "table.bin", 1},
        // No table in the test's directory: it goes on (faithful: without robust mode's depth line).
        {decode + "finalscratch --decoding faithful", "cannot be decoded", 0},
        {decode + "serato", "unknown vinyl type", 2},
        {PLATORA_DECODE " stereo.wav", "--vinyl", 2},
        {decode + "mixvibes --calibration nan", "--calibration", 2},
        {decode + "mixvibes --pair 1073741823", "--pair", 2},
        {decode + "mixvibes --block 0", "--block", 2},
        {verify + dir.write("odd.table", "12345"), "odd.table", 1},
        {verify + "none.table", "none.table", 1},
        {verify, "FILE", 2},
        {PLATORA_TABLE " learn none.wav -o none.table --units-per-frame 0", "--units-per-frame", 2},
    };
    for (const auto& [command, expected, status] : cases) {
        const auto r = dir.run(command);
        EXPECT_EQ(r.status, status) << command;
        EXPECT_NE(r.err.find(expected), std::string::npos) << command << " -> " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << command << " -> " << r.err;
        EXPECT_EQ(r.out.empty(), status != 0) << command;
    }
}

TEST_F(Tools, decodeHelpNamesEveryVinylTypeItTakes) {
    const auto help = dir.run(PLATORA_DECODE " --help");
    for (const VinylFormat& format : vinylFormats)
        EXPECT_NE(help.out.find(std::string(format.optionName) + " or " + std::to_string(format.type)),
                  std::string::npos)
            << help.out;
}

TEST_F(Tools, verifyReportsAGoodTableAndNamesEveryBrokenInvariant) {
    std::string error;
    ASSERT_TRUE(saveCodeTable(
        dir / "good.table", {{0xE00001E4, 24706}, {0xE00A89BF, 254853}, {0xE00A89BF, 276723}, {0xEFFF7D04, 5}}, error));
    auto r = captured(runVerify, {dir / "good.table"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* line : {"rows: 4\n", "values: 5 to 276723\n", "duplicated codes: 1\n", "real table: no\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("broken:"), std::string::npos) << r.out;

    ASSERT_TRUE(saveCodeTable(
        dir / "bad.table", {{0xE0000005, 1}, {0xE0000005, 2}, {0xE0000005, 3}, {0x12345678, 4}, {0xE0000001, 5}},
        error));
    r = captured(runVerify, {dir / "bad.table"});
    EXPECT_NE(r.status, 0);
    for (const char* text : {"not sorted", "code 0xE0000005 in 3 rows", "0x12345678 outside", "usable: no"})
        EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
}

}  // namespace
}  // namespace platora
