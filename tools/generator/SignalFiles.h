#pragma once

#include "TimecodeGenerator.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platora {

// Where one generated signal goes: BASE.wav, BASE.manifest.csv and, for FinalScratch,
// BASE.table (the code table that decodes it).
struct SignalPaths {
    std::string wav;
    std::string manifest;
    std::string table;

    // `output` with or without ".wav".
    static SignalPaths forOutput(const std::string& output);
};

// The ground truth beside a signal, as CSV with the header line
//   frame,time_s,position_s,speed
// one row every manifestStep(rate) frames from frame 0 (about 1 ms), and one for the
// state after the last frame. position_s is in record seconds, the unit the decoder
// reports for both types.
class ManifestWriter {
public:
    static constexpr const char* header = "frame,time_s,position_s,speed";
    static constexpr std::int64_t manifestStep(std::int32_t sampleRate) {
        return std::max<std::int32_t>(1, sampleRate / 1000);
    }

    ManifestWriter() = default;
    ManifestWriter(const ManifestWriter&) = delete;
    ManifestWriter& operator=(const ManifestWriter&) = delete;
    ~ManifestWriter();

    bool open(const std::string& path, std::string& error);
    void write(const ManifestRow& row);
    // False with `error` set when anything could not be written.
    bool close(std::string& error);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
};

// Renders `frames` frames into `out` in pieces that never cross a manifest step, and
// calls onRow with the state at every step it reaches. Allocates nothing.
template <class OnRow>
void renderWithManifest(TimecodeGenerator& generator, std::int16_t* out, std::size_t frames, OnRow&& onRow) {
    const std::int64_t step = ManifestWriter::manifestStep(generator.settings().sampleRate);
    const std::int32_t channels = generator.settings().channels;
    while (frames > 0) {
        std::int64_t done = generator.framesRendered();
        if (done % step == 0) onRow(generator.state());
        auto piece = std::min<std::size_t>(frames, static_cast<std::size_t>(step - done % step));
        generator.render(out, piece);
        out += piece * static_cast<std::size_t>(channels);
        frames -= piece;
    }
}

// Writes `frames` frames of the generator's signal as 16-bit PCM WAV with its manifest,
// and for FinalScratch its table. False with `error` set to one line on failure.
bool writeSignalFiles(TimecodeGenerator& generator, std::int64_t frames, const SignalPaths& paths, std::string& error);

// Writes the FinalScratch table of `rows` rows in the decoder's table file format.
bool writeFinalScratchTable(std::uint32_t rows, const std::string& path, std::string& error);

}  // namespace platora
