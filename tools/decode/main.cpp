// platora-decode: decodes a timecode recording offline, block by block as the audio
// callback would, and prints one CSV row per block.
#include "FinalScratchCodeTable.h"
#include "TimecodeDecoder.h"

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int sampleRate = 44100;
constexpr int framesPerBlock = 1024;
constexpr float finalScratchCalibration = 1.2f;
constexpr float mixvibesCalibration = 1.07f;

const char* const usage =
    "usage: platora-decode FILE --vinyl finalscratch|mixvibes [--table FILE] [--calibration C] [--pair N]";

struct Options {
    std::string file;
    int vinyl = -1;
    std::string table;
    bool calibrationGiven = false;
    float calibration = 0.0f;
    int pair = 0;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "platora-decode: %s\n", message.c_str());
    return 1;
}

bool parseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0';
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--vinyl" || arg == "--table" || arg == "--calibration" || arg == "--pair") {
            if (!hasValue) {
                error = arg + " needs a value";
                return false;
            }
            const std::string value = argv[++i];
            double number = 0.0;
            if (arg == "--vinyl") {
                if (value == "finalscratch") options.vinyl = platora::FinalScratch;
                else if (value == "mixvibes") options.vinyl = platora::Mixvibes;
                else {
                    error = "unknown vinyl type '" + value + "' (finalscratch or mixvibes)";
                    return false;
                }
            } else if (arg == "--table") {
                options.table = value;
            } else if (arg == "--calibration") {
                if (!parseNumber(value, number) || !(number > 0.0) || number > 1e6) {
                    error = "--calibration needs a positive number, not '" + value + "'";
                    return false;
                }
                options.calibrationGiven = true;
                options.calibration = static_cast<float>(number);
            } else {
                if (!parseNumber(value, number) || number < 0 || number != static_cast<int>(number)) {
                    error = "--pair needs a whole number from 0, not '" + value + "'";
                    return false;
                }
                options.pair = static_cast<int>(number);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option '" + arg + "'";
            return false;
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            error = "more than one input file";
            return false;
        }
    }
    if (options.file.empty()) error = "no input file";
    else if (options.vinyl < 0) error = "--vinyl is required";
    return error.empty();
}

// A missing table only costs FinalScratch its positions; a named table that fails is an error.
bool loadTable(const Options& options, std::string& error) {
    auto& table = platora::FinalScratchCodeTable::shared();
    if (!options.table.empty()) return table.load(options.table, error);
    std::string used;
    if (!table.loadDefault(used, error)) {
        std::fprintf(stderr, "platora-decode: %s; FinalScratch positions cannot be decoded\n", error.c_str());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "platora-decode: %s\n%s\n", error.c_str(), usage);
        return 2;
    }
    if (options.vinyl == platora::FinalScratch && !loadTable(options, error)) return fail(error);

    SF_INFO info{};
    SNDFILE* file = sf_open(options.file.c_str(), SFM_READ, &info);
    if (!file) return fail(options.file + ": " + sf_strerror(nullptr));
    const auto closeAndFail = [&](const std::string& message) {
        sf_close(file);
        return fail(options.file + ": " + message);
    };
    if (info.samplerate != sampleRate) {
        return closeAndFail("sample rate " + std::to_string(info.samplerate) + " Hz, need 44100 Hz");
    }
    if (info.channels < 2) return closeAndFail("one channel, need at least two");
    if (2 * options.pair + 2 > info.channels) {
        return closeAndFail("no channel pair " + std::to_string(options.pair) + " in " +
                            std::to_string(info.channels) + " channels");
    }

    platora::TimecodeDecoder decoder;
    decoder.reset(sampleRate);
    decoder.setVinylType(options.vinyl);
    decoder.setCalibration(options.calibrationGiven ? options.calibration
                           : options.vinyl == platora::FinalScratch ? finalScratchCalibration
                                                                    : mixvibesCalibration);

    std::vector<short> frames(static_cast<std::size_t>(framesPerBlock) * info.channels);
    std::vector<std::int16_t> stereo(2 * framesPerBlock);
    const int first = 2 * options.pair;
    std::printf("block,position,speed,tps,level\n");
    for (long block = 0;; ++block) {
        const sf_count_t got = sf_readf_short(file, frames.data(), framesPerBlock);
        if (got <= 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            stereo[2 * f] = frames[f * info.channels + first];
            stereo[2 * f + 1] = frames[f * info.channels + first + 1];
        }
        decoder.processBlock(stereo.data(), static_cast<std::int32_t>(2 * got));
        std::printf("%ld,%.9g,%.9g,%d,%d\n", block, static_cast<double>(decoder.getPosition()),
                    static_cast<double>(decoder.getSpeed()), decoder.getTimecodesPerSecond(), decoder.getLevel());
    }
    const int readError = sf_error(file);
    sf_close(file);
    if (readError != SF_ERR_NO_ERROR) return fail(options.file + ": read error");
    return std::fflush(stdout) == 0 ? 0 : 1;
}
