#include "RecordingReader.h"

#include <algorithm>
#include <cmath>

namespace platora {

namespace {

// A long block of a many-channel file would need gigabytes at once; it is read in pieces.
constexpr std::size_t framesPerRead = 4096;

std::int16_t toSample(float value) {
    constexpr float scale = 32768.0f;
    if (std::isnan(value)) return 0;
    const float scaled = std::nearbyint(value * scale);
    if (scaled <= -scale) return INT16_MIN;
    if (scaled >= scale - 1.0f) return INT16_MAX;
    return static_cast<std::int16_t>(scaled);
}

}  // namespace

bool RecordingReader::open(const std::string& path, std::string& error) {
    info = SF_INFO{};
    file.reset(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        error = sf_strerror(nullptr);
        return false;
    }
    return true;
}

std::size_t RecordingReader::readPair(int pair, std::int16_t* stereo, std::size_t count) {
    const auto width = static_cast<std::size_t>(info.channels);
    const auto first = static_cast<std::size_t>(2 * pair);
    frameBuffer.resize(std::min(count, framesPerRead) * width);
    std::size_t got = 0;
    while (got < count) {
        const auto wanted = static_cast<sf_count_t>(std::min(framesPerRead, count - got));
        const sf_count_t read = sf_readf_float(file.get(), frameBuffer.data(), wanted);
        if (read <= 0) break;
        for (std::size_t f = 0; f < static_cast<std::size_t>(read); ++f, ++got) {
            stereo[2 * got] = toSample(frameBuffer[f * width + first]);
            stereo[2 * got + 1] = toSample(frameBuffer[f * width + first + 1]);
        }
    }
    return got;
}

bool RecordingReader::readsWorked(std::string& error) const {
    if (sf_error(file.get()) == SF_ERR_NO_ERROR) return true;
    error = sf_strerror(file.get());
    return false;
}

}  // namespace platora
