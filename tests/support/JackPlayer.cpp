#include "JackPlayer.h"

#include <algorithm>
#include <utility>

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace platora::test {

namespace {

// JACK hands a port buffer from this client's process thread to the next client's through
// futexes in shared memory, which ThreadSanitizer cannot see; the buffer writes would
// read as races with RtAudio's reads in the same process. Those writes only are hidden.
class UnseenPortWrites {
public:
#if defined(__SANITIZE_THREAD__)
    UnseenPortWrites() { AnnotateIgnoreWritesBegin(__FILE__, __LINE__); }
    ~UnseenPortWrites() { AnnotateIgnoreWritesEnd(__FILE__, __LINE__); }
#endif
};

}  // namespace

JackPlayer::JackPlayer(std::string clientName, int channels, std::vector<std::int16_t> samples, bool loop)
    : clientName(std::move(clientName)), channels(std::clamp(channels, 1, maxChannels)),
      samples(std::move(samples)), loop(loop)
{
}

JackPlayer::~JackPlayer()
{
    if (client != nullptr) jack_client_close(client);
}

bool JackPlayer::start(std::string& error)
{
    jack_status_t status{};
    // Exact name: RtAudio finds the device by this name, so a renamed client would be missed.
    client = jack_client_open(clientName.c_str(),
                              static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
    if (client == nullptr) {
        error = "cannot open JACK client " + clientName + " (status " + std::to_string(status) + ")";
        return false;
    }
    for (int c = 0; c < channels; ++c) {
        const std::string portName = "out_" + std::to_string(c + 1);
        jack_port_t* port = jack_port_register(client, portName.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (port == nullptr) {
            error = "cannot register port " + portName;
            return false;
        }
        ports.push_back(port);
    }
    jack_set_process_callback(client, &JackPlayer::process, this);
    if (jack_activate(client) != 0) {
        error = "cannot activate JACK client " + clientName;
        return false;
    }
    return true;
}

jack_time_t JackPlayer::timeOfFrame(std::uint64_t frame) const
{
    const std::uint64_t first = firstFrameTime.load();
    if (first == noFrameTime) return 0;
    return jack_frames_to_time(client, static_cast<jack_nframes_t>(first + frame));
}

bool JackPlayer::allPortsConnected() const
{
    for (jack_port_t* port : ports)
        if (jack_port_connected(port) == 0) return false;
    return true;
}

int JackPlayer::process(jack_nframes_t frames, void* self)
{
    auto& player = *static_cast<JackPlayer*>(self);
    const auto channels = static_cast<std::size_t>(player.channels);
    float* out[maxChannels] = {};
    for (std::size_t c = 0; c < channels; ++c)
        out[c] = static_cast<float*>(jack_port_get_buffer(player.ports[c], frames));

    // Frame 0 goes out in the first cycle in which every channel has a listener.
    if (!player.playing() && !player.samples.empty() && player.allPortsConnected())
        player.firstFrameTime.store(jack_last_frame_time(player.client));
    const bool started = player.playing();

    const std::size_t totalFrames = player.samples.size() / channels;
    [[maybe_unused]] const UnseenPortWrites unseen{};
    for (jack_nframes_t f = 0; f < frames; ++f) {
        const bool sounding = started && player.nextFrame < totalFrames;
        for (std::size_t c = 0; c < channels; ++c)
            out[c][f] = sounding ? toFloat(player.samples[player.nextFrame * channels + c]) : 0.0f;
        if (!sounding) continue;
        ++player.nextFrame;
        if (player.loop && player.nextFrame == totalFrames) player.nextFrame = 0;
    }
    if (started) player.played.fetch_add(frames);
    return 0;
}

}  // namespace platora::test
