#include "DecodeFile.h"

#include "FinalScratchCodeTable.h"
#include "TimecodeDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <vector>

namespace platora {

namespace {

constexpr int sampleRate = 44100;

// Every sample format is read as float (libsndfile scales 16-bit PCM by 1/32768 exactly)
// and brought back to 16 bits here, so float and 24-bit recordings decode as they sound.
std::int16_t toSample(float value) {
    constexpr float scale = 32768.0f;
    if (std::isnan(value)) return 0;
    const float scaled = std::nearbyint(value * scale);
    if (scaled <= -scale) return INT16_MIN;
    if (scaled >= scale - 1.0f) return INT16_MAX;
    return static_cast<std::int16_t>(scaled);
}

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

struct FileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

int runDecode(const DecodeCommand& command, std::ostream& out, std::ostream& err) {
    const auto fail = [&](const std::string& message) {
        err << "platora-decode: " << command.file << ": " << message << '\n';
        return 1;
    };
    FinalScratchCodeTable table;
    if (command.vinyl == FinalScratch && !loadTable(command, table, err)) return 1;

    SF_INFO info{};
    std::unique_ptr<SNDFILE, FileCloser> file(sf_open(command.file.c_str(), SFM_READ, &info));
    if (!file) return fail(sf_strerror(nullptr));
    if (info.samplerate != sampleRate)
        return fail("sample rate " + std::to_string(info.samplerate) + " Hz, need 44100 Hz");
    if (info.channels < 2) return fail("one channel, need at least two");
    // Wide, so that no pair number can wrap around into a channel that exists.
    if (2 * static_cast<std::int64_t>(command.pair) + 2 > info.channels || command.pair < 0)
        return fail("no channel pair " + std::to_string(command.pair) + " in " + std::to_string(info.channels) +
                    " channels");

    TimecodeDecoder decoder;
    decoder.reset(sampleRate);
    decoder.setVinylType(command.vinyl);
    decoder.setCodeTable(&table);
    decoder.setCalibration(command.calibration.value_or(vinylFormat(static_cast<VinylType>(command.vinyl)).defaultCalibration));

    const auto channels = static_cast<std::size_t>(info.channels);
    const auto first = static_cast<std::size_t>(2 * command.pair);
    const auto framesPerBlock = static_cast<std::size_t>(command.framesPerBlock);
    // A long block of a many-channel file would need gigabytes at once; it is read in pieces.
    const std::size_t framesPerRead = std::min<std::size_t>(framesPerBlock, 4096);
    std::vector<float> frames(framesPerRead * channels);
    std::vector<std::int16_t> stereo(2 * framesPerBlock);
    out << "block,position,speed,tps,level\n";
    char row[96];
    for (long block = 0;; ++block) {
        std::size_t got = 0;
        while (got < framesPerBlock) {
            const auto wanted = static_cast<sf_count_t>(std::min(framesPerRead, framesPerBlock - got));
            const sf_count_t read = sf_readf_float(file.get(), frames.data(), wanted);
            if (read <= 0) break;
            for (std::size_t f = 0; f < static_cast<std::size_t>(read); ++f, ++got) {
                stereo[2 * got] = toSample(frames[f * channels + first]);
                stereo[2 * got + 1] = toSample(frames[f * channels + first + 1]);
            }
        }
        if (got == 0) break;
        decoder.processBlock(stereo.data(), static_cast<std::int32_t>(2 * got));
        std::snprintf(row, sizeof row, "%ld,%.9g,%.9g,%d,%d\n", block, static_cast<double>(decoder.getPosition()),
                      static_cast<double>(decoder.getSpeed()), decoder.getTimecodesPerSecond(), decoder.getLevel());
        out << row;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) return fail(std::string("read error: ") + sf_strerror(file.get()));
    out.flush();
    return out ? 0 : 1;
}

}  // namespace platora
