#include "SignalFiles.h"

#include "CodeTableFile.h"

#include "FinalScratchCodeTable.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace platora {

namespace {

constexpr std::size_t renderBlockFrames = 4096;

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

SignalPaths SignalPaths::forOutput(const std::string& output) {
    std::string base = endsWith(output, ".wav") ? output.substr(0, output.size() - 4) : output;
    return {base + ".wav", base + ".manifest.csv", base + ".table"};
}

ManifestWriter::~ManifestWriter() {
    if (file_) std::fclose(file_);
}

bool ManifestWriter::open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    std::fprintf(file_, "%s\n", header);
    return true;
}

void ManifestWriter::write(const ManifestRow& row) {
    std::fprintf(file_, "%lld,%.6f,%.9f,%.6f\n", static_cast<long long>(row.frame), row.time, row.position, row.speed);
}

bool ManifestWriter::close(std::string& error) {
    if (!file_) return true;
    bool ok = std::ferror(file_) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) error = "cannot write " + path_;
    return ok;
}

bool writeFinalScratchTable(std::uint32_t rows, const std::string& path, std::string& error) {
    return saveCodeTable(path, syntheticFinalScratchTable(rows), error);
}

bool writeSignalFiles(TimecodeGenerator& generator, std::int64_t frames, const SignalPaths& paths, std::string& error) {
    const GeneratorSettings& settings = generator.settings();
    SF_INFO info{};
    info.samplerate = settings.sampleRate;
    info.channels = settings.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    std::unique_ptr<SNDFILE, SndfileCloser> wav(sf_open(paths.wav.c_str(), SFM_WRITE, &info));
    if (!wav) {
        error = "cannot write " + paths.wav + ": " + sf_strerror(nullptr);
        return false;
    }
    ManifestWriter manifest;
    // A signal cut short would pass for a whole one; only the files this call opened go.
    bool manifestOpened = false;
    const auto removePartial = [&] {
        std::string closeError;
        std::error_code removeError;
        wav.reset();
        std::filesystem::remove(paths.wav, removeError);
        if (manifestOpened) {
            manifest.close(closeError);
            std::filesystem::remove(paths.manifest, removeError);
        }
        return false;
    };
    if (!(manifestOpened = manifest.open(paths.manifest, error))) return removePartial();

    std::vector<std::int16_t> block(renderBlockFrames * static_cast<std::size_t>(settings.channels));
    for (std::int64_t left = frames; left > 0;) {
        auto piece = static_cast<std::size_t>(std::min<std::int64_t>(left, renderBlockFrames));
        renderWithManifest(generator, block.data(), piece, [&](const ManifestRow& row) { manifest.write(row); });
        if (sf_writef_short(wav.get(), block.data(), static_cast<sf_count_t>(piece)) !=
            static_cast<sf_count_t>(piece)) {
            error = "cannot write " + paths.wav + ": " + sf_strerror(wav.get());
            return removePartial();
        }
        left -= static_cast<std::int64_t>(piece);
    }
    manifest.write(generator.state());
    if (!manifest.close(error)) return removePartial();
    if (sf_close(wav.release()) != 0) {
        error = "cannot write " + paths.wav;
        return removePartial();
    }
    if (settings.vinylType == FinalScratch)
        return writeFinalScratchTable(settings.finalScratchRows, paths.table, error);
    return true;
}

}  // namespace platora
