#pragma once

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platora {

// A recording read one channel pair at a time as 16-bit samples, the way the audio input
// delivers them. Every sample format is read as float (libsndfile scales 16-bit PCM by
// 1/32768 exactly) and brought back to 16 bits, clipped at full scale, so a 24-bit or
// float recording decodes as it sounds and a 16-bit one keeps its samples. One thread.
class RecordingReader {
public:
    // False with `error` set to libsndfile's reason when the file cannot be read as sound.
    bool open(const std::string& path, std::string& error);

    int sampleRate() const { return info.samplerate; }
    int channels() const { return info.channels; }
    std::int64_t frames() const { return info.frames; }  // as the header says

    // Reads up to `count` frames of channels 2 pair + 1 and 2 pair + 2 into `stereo`
    // (2 x count samples, interleaved). Returns the frames read: fewer only at the end of
    // the file or at a read error. The pair must exist.
    std::size_t readPair(int pair, std::int16_t* stereo, std::size_t count);
    // Whether every read so far worked; false with libsndfile's reason once one failed.
    bool readsWorked(std::string& error) const;

private:
    struct Closer {
        void operator()(SNDFILE* file) const { sf_close(file); }
    };
    SF_INFO info{};
    std::unique_ptr<SNDFILE, Closer> file;
    std::vector<float> frameBuffer;
};

}  // namespace platora
