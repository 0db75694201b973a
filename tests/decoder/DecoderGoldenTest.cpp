// The decoder's whole regression: every signal of golden/signals.txt made by the generator
// and decoded as platora-decode does, in this process (so under Wine too).
#include "CommandLine.h"
#include "DecodeFile.h"
#include "SignalFiles.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platora {
namespace {

// Runs `arguments` (quoted as in a shell) through a tool's options; false on a usage error.
template <class Command>
bool parse(void (*addOptions)(CLI::App&, Command&), const std::string& arguments, Command& command) {
    CLI::App app;
    addOptions(app, command);
    try {
        app.parse(arguments, false);
        return true;
    } catch (const CLI::ParseError&) {
        return false;
    }
}

// Every value published after every block (position, speed, timecodes per second, level;
// floats print exactly with 9 digits) equals the recorded one. A recorded file changes
// only with a decoder behaviour asked for: PLATORA_RECORD_GOLDENS=1 records them anew.
TEST(DecoderGolden, everyGeneratedSignalDecodesToTheRecordedValuesBitForBit) {
    const bool record = std::getenv("PLATORA_RECORD_GOLDENS") != nullptr;
    const test::TempDirectory dir;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);  // the table options name files in it
    std::ifstream signals(PLATORA_GOLDEN_DIR "/signals.txt");
    int compared = 0;
    for (std::string line; std::getline(signals, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t bar = line.find('|'), lastBar = line.rfind('|');
        const std::string name = line.substr(0, bar);
        GenCommand gen;
        ASSERT_TRUE(parse(addGenOptions, line.substr(bar + 1, lastBar - bar - 1) + " " + name, gen)) << line;
        std::string error;
        ASSERT_TRUE(completeGenCommand(gen, error)) << line << ": " << error;
        TimecodeGenerator generator(gen.settings);
        ASSERT_TRUE(writeSignalFiles(generator, std::llround(gen.lengthSeconds() * gen.settings.sampleRate),
                                     SignalPaths::forOutput(gen.output), error))
            << error;
        DecodeCommand decode;
        ASSERT_TRUE(parse(addDecodeOptions, name + ".wav " + line.substr(lastBar + 1), decode)) << line;
        std::ostringstream out, err;
        ASSERT_EQ(runDecode(decode, out, err), 0) << line << ": " << err.str();

        const std::string golden = PLATORA_GOLDEN_DIR "/" + name + ".csv";
        if (record) std::ofstream(golden, std::ios::binary) << out.str();
        std::istringstream got(out.str()), want(test::readFile(golden));
        std::string gotRow, wantRow;
        while (std::getline(want, wantRow)) {
            ASSERT_TRUE(std::getline(got, gotRow)) << name << ": ends before " << wantRow;
            ASSERT_EQ(gotRow, wantRow) << name << " (block,position,speed,tps,level)";
        }
        EXPECT_FALSE(std::getline(got, gotRow)) << name << ": goes on with " << gotRow;
        ++compared;
    }
    std::filesystem::current_path(before);
    EXPECT_EQ(compared, 19);
}

}  // namespace
}  // namespace platora
