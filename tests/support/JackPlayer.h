#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace platora::test {

// A JACK client with output ports that plays interleaved 16-bit samples, as floats that
// RtAudio's 16-bit input turns back into the same values. Silent until every one of its
// ports is connected; then it plays from the first frame, once (then silence) or looping.
class JackPlayer {
public:
    static constexpr int maxChannels = 8;

    // samples: `channels` (1 to maxChannels) interleaved values per frame, fixed for the
    // player's life.
    JackPlayer(std::string clientName, int channels, std::vector<std::int16_t> samples, bool loop);
    ~JackPlayer();  // closes the client
    JackPlayer(const JackPlayer&) = delete;
    JackPlayer& operator=(const JackPlayer&) = delete;

    // Opens the client on the default server, registers the ports "out_1"... and
    // activates. False with error set when JACK refuses.
    bool start(std::string& error);

    // The float that stands for a 16-bit sample.
    static float toFloat(std::int16_t sample) { return static_cast<float>(sample) / 32768.0f; }

    bool playing() const { return firstFrameTime.load() != noFrameTime; }
    // Frames played since the ports were connected.
    std::uint64_t framesPlayed() const { return played.load(); }
    // JACK's microsecond clock: when frame `frame` of the samples left the player, and now.
    jack_time_t timeOfFrame(std::uint64_t frame) const;
    jack_time_t now() const { return jack_get_time(); }

private:
    static int process(jack_nframes_t frames, void* self);
    bool allPortsConnected() const;

    std::string clientName;
    int channels;
    std::vector<std::int16_t> samples;
    bool loop;
    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> ports;

    static constexpr std::uint64_t noFrameTime = ~std::uint64_t{0};
    std::size_t nextFrame = 0;  // audio thread only
    std::atomic<std::uint64_t> firstFrameTime{noFrameTime};  // JACK frame time of frame 0
    std::atomic<std::uint64_t> played{0};
};

}  // namespace platora::test
