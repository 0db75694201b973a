#include "DecodeFile.h"

#include "FinalScratchCodeTable.h"
#include "RecordingReader.h"
#include "StrictNumbers.h"
#include "TimecodeDecoder.h"
#include "VinylOption.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <ostream>
#include <vector>

namespace platora {

namespace {


// A missing default table only costs FinalScratch its positions; a named table that fails
// is an error.
bool loadTable(const DecodeCommand& command, FinalScratchCodeTable& table, std::ostream& err) {
    std::string error;
    if (!command.table.empty()) {
        if (table.load(command.table, error)) return true;
        err << "platora-decode: " << error << '\n';
        return false;
    }
    std::string used;
    if (!table.loadDefault(used, error))
        err << "platora-decode: " << error << "; FinalScratch positions cannot be decoded\n";
    return true;
}

// The depth robust mode measured: where it ended, and how far it moved once settled.
class DepthRange {
public:
    void add(float depth, double timeMs) {
        if (depth <= 0.0f) return;
        last_ = depth;
        if (firstMs_ < 0.0) firstMs_ = timeMs;
        if (timeMs - firstMs_ < settleMs) return;
        lowest_ = std::min(lowest_, depth);
        highest_ = std::max(highest_, depth);
    }

    std::string describe() const {
        if (last_ <= 0.0f) return "depth not measured: no frame was read";
        char text[128];
        int length = std::snprintf(text, sizeof text, "depth %.2f (the high level over the low one)",
                                   static_cast<double>(last_));
        if (lowest_ <= highest_)
            std::snprintf(text + length, sizeof text - length, ", %.2f to %.2f after its first second",
                          static_cast<double>(lowest_), static_cast<double>(highest_));
        return text;
    }

private:
    static constexpr double settleMs = 1000.0;  // after the first frame: the levels are learnt
    float last_ = 0.0f;
    float lowest_ = std::numeric_limits<float>::max();
    float highest_ = 0.0f;
    double firstMs_ = -1.0;
};

}  // namespace

void addDecodeOptions(CLI::App& app, DecodeCommand& command) {
    constexpr double highestCalibration = 1e6;
    constexpr int highestPair = 511;       // more channels than any sound file holds
    constexpr int longestBlock = 1 << 20;  // frames
    app.add_option("FILE", command.file, "recording at 44100 Hz, two or more channels")->required();
    app.add_option("--vinyl", command.vinyl, "timecode type: " + vinylTypeValues())
        ->required()
        ->transform(vinylType())
        ->type_name("TYPE");
    app.add_option(
        "--table", command.table,
        std::string("FinalScratch code table (default: ") + FinalScratchCodeTable::defaultFileName + " if found)");
    app.add_option("--calibration", command.calibration,
                   "faithful mode's calibration (default " + defaultCalibrations() +
                       "); robust mode finds the record's levels itself and ignores it")
        ->check(finiteNumber(0.0, highestCalibration, false));
    app.add_option("--pair", command.pair, "channel pair; 0 = channels 1 and 2")->check(wholeNumber(0, highestPair));
    app.add_option("--block", command.framesPerBlock, "frames per block (default 1024)")
        ->check(wholeNumber(1, longestBlock));
    app.add_option_function<std::string>(
           "--decoding",
           [&command](const std::string& name) {
               const auto mode = parseDecodingMode(name);
               if (!mode) throw CLI::ValidationError("--decoding", "must be faithful or robust, not '" + name + "'");
               command.mode = *mode;
           },
           "robust (default) or faithful; robust adds the column age: ms since a frame set the position, and "
           "names on standard error the depth it measured (the high level over the low one)")
        ->type_name("robust|faithful");
}

int runDecode(const DecodeCommand& command, std::ostream& out, std::ostream& err) {
    const auto fail = [&](const std::string& message) {
        err << "platora-decode: " << command.file << ": " << message << '\n';
        return 1;
    };
    FinalScratchCodeTable table;
    if (command.vinyl == FinalScratch && !loadTable(command, table, err)) return 1;

    RecordingReader recording;
    if (std::string error; !recording.open(command.file, error)) return fail(error);
    if (recording.sampleRate() != nominalSampleRateHz)
        return fail("sample rate " + std::to_string(recording.sampleRate()) + " Hz, need " +
                    std::to_string(nominalSampleRateHz) + " Hz");
    if (recording.channels() < 2) return fail("one channel, need at least two");
    // Wide, so that no pair number can wrap around into a channel that exists.
    if (2 * static_cast<std::int64_t>(command.pair) + 2 > recording.channels() || command.pair < 0)
        return fail("no channel pair " + std::to_string(command.pair) + " in " + std::to_string(recording.channels()) +
                    " channels");

    TimecodeDecoder decoder;
    decoder.reset(nominalSampleRateHz, {command.vinyl, command.mode, command.calibration, &table});

    const auto framesPerBlock = static_cast<std::size_t>(command.framesPerBlock);
    std::vector<std::int16_t> stereo(2 * framesPerBlock);
    const bool withAge = command.mode == DecodingMode::robust;
    out << (withAge ? "block,position,speed,tps,level,age\n" : "block,position,speed,tps,level\n");
    char row[96];
    DepthRange depths;
    for (long block = 0;; ++block) {
        const std::size_t got = recording.readPair(command.pair, stereo.data(), framesPerBlock);
        if (got == 0) break;
        decoder.processBlock(stereo.data(), static_cast<std::int32_t>(2 * got));
        int length =
            std::snprintf(row, sizeof row, "%ld,%.9g,%.9g,%d,%d", block, static_cast<double>(decoder.getPosition()),
                          static_cast<double>(decoder.getSpeed()), decoder.getTimecodesPerSecond(), decoder.getLevel());
        if (withAge) {
            const float age = decoder.positionAgeMs();  // -1 before the first frame
            length += std::snprintf(row + length, sizeof row - length, ",%.0f", age < 0.0f ? -1.0 : std::floor(age));
        }
        out << row << '\n';
        depths.add(decoder.depth(), decoder.timeMs());
    }
    if (std::string error; !recording.readsWorked(error)) return fail("read error: " + error);
    out.flush();
    if (withAge) err << "platora-decode: " << command.file << ": " << depths.describe() << '\n';
    return out ? 0 : 1;
}

}  // namespace platora
