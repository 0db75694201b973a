#include "AudioPlatform.h"

#include <jack/jack.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <vector>

namespace platora {

namespace {

using namespace std::chrono_literals;

// RtAudio's conversion of JACK's floats, measured: full scale 32768, rounded to the nearest.
// RtAudio wraps a negative beyond full scale to a positive value; here both ends clip.
constexpr float int16Scale = 32768.0f;
constexpr float highestSample = 32767.0f;
constexpr float lowestSample = -32768.0f;

constexpr const char* rateClientName = "platora-rate";

std::int16_t toInt16(float sample) {
    const float scaled = sample * int16Scale;
    if (!(scaled == scaled)) return 0;  // NaN
    return static_cast<std::int16_t>(std::lrint(std::clamp(scaled, lowestSample, highestSample)));
}

void quiet(const char*) {}

jack_client_t* openClient(const char* name) {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    return jack_client_open(name, JackNoStartServer, nullptr);
}

}  // namespace

struct JackInput::Client {
    jack_client_t* handle = nullptr;
    std::vector<jack_port_t*> ports;
    std::vector<const float*> buffers;       // per cycle, one per port
    std::vector<std::int16_t> interleaved;   // capacityFrames x channels
    jack_nframes_t capacityFrames = 0;
    jack_nframes_t period = 0;  // at open
    double rateHz = 0.0;
    BlockHandler handler = nullptr;
    void* context = nullptr;
    std::atomic<bool> serverGone{false};
    static_assert(std::atomic<bool>::is_always_lock_free);

    Client() = default;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() {
        // Closing deactivates first: no process call after it returns.
        if (handle) jack_client_close(handle);
    }

    // The server's thread ends once it is gone; only the flag is touched here.
    static void onShutdown(void* self) { static_cast<Client*>(self)->serverGone.store(true, std::memory_order_release); }

    static int onProcess(jack_nframes_t frames, void* self) {
        // jack2 cancels this thread asynchronously when the client closes. A cancel landing in
        // C++ code would unwind through noexcept frames and end the program: it waits for the
        // end of the cycle instead.
        int cancelState = 0;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
        static_cast<Client*>(self)->deliver(frames);
        pthread_setcancelstate(cancelState, nullptr);
        return 0;
    }

    void deliver(jack_nframes_t frames) {
        // The cycle's input was whole at the port when the cycle began. jack_get_time and the
        // steady clock are both read here, so their offset needs no assumption about either.
        const jack_time_t began = jack_frames_to_time(handle, jack_last_frame_time(handle));
        const jack_time_t jackNow = jack_get_time();
        const Clock::time_point now = Clock::now();
        const Clock::time_point cycleBegan =
            now - std::chrono::microseconds(jackNow > began ? static_cast<std::int64_t>(jackNow - began) : 0);
        for (std::size_t c = 0; c < ports.size(); ++c)
            buffers[c] = static_cast<const float*>(jack_port_get_buffer(ports[c], frames));
        const std::size_t channels = ports.size();
        for (jack_nframes_t done = 0; done < frames;) {
            const jack_nframes_t piece = std::min(capacityFrames, frames - done);
            for (jack_nframes_t f = 0; f < piece; ++f)
                for (std::size_t c = 0; c < channels; ++c)
                    interleaved[(f * channels) + c] = toInt16(buffers[c][done + f]);
            done += piece;
            const auto notYet = std::chrono::duration<double>((frames - done) / rateHz);
            handler(context, interleaved.data(), static_cast<std::int32_t>(piece),
                    cycleBegan - std::chrono::duration_cast<Clock::duration>(notYet));
        }
    }
};

JackInput::JackInput() = default;
JackInput::~JackInput() = default;

unsigned int JackInput::serverRate() {
    jack_client_t* probe = openClient(rateClientName);
    if (probe == nullptr) return 0;
    const jack_nframes_t rate = jack_get_sample_rate(probe);
    jack_client_close(probe);
    return rate;
}

bool JackInput::open(const std::string& clientName, const std::string& sourceName, int channels, unsigned int rateHz,
                     BlockHandler handler, void* context, std::string& error) {
    close();
    auto opened = std::make_unique<Client>();
    opened->handle = openClient(clientName.c_str());
    if (opened->handle == nullptr) {
        error = "no JACK server answers";
        return false;
    }
    if (const jack_nframes_t rate = jack_get_sample_rate(opened->handle); rate != rateHz) {
        error = jackRateMessage(rate, rateHz);
        return false;
    }
    // Every output port of the source, in the order the server lists them.
    std::vector<std::string> sources;
    const std::string prefix = sourceName + ":";
    if (const char** names = jack_get_ports(opened->handle, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput)) {
        for (const char** name = names; *name != nullptr; ++name)
            if (std::string(*name).rfind(prefix, 0) == 0) sources.emplace_back(*name);
        jack_free(static_cast<void*>(names));
    }
    if (sources.empty()) {
        error = "the device \"" + sourceName + "\" is no longer available.";
        return false;
    }
    if (sources.size() < static_cast<std::size_t>(channels)) {
        error = "requested number of channels (" + std::to_string(channels) + ") is more than the device \"" +
                sourceName + "\" has (" + std::to_string(sources.size()) + ")";
        return false;
    }
    for (int c = 0; c < channels; ++c) {
        jack_port_t* port = jack_port_register(opened->handle, ("inport " + std::to_string(c)).c_str(),
                                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (port == nullptr) {
            error = "JACK refused an input port";
            return false;
        }
        opened->ports.push_back(port);
    }
    opened->buffers.assign(opened->ports.size(), nullptr);
    opened->period = jack_get_buffer_size(opened->handle);
    opened->capacityFrames = longestPieceFrames;
    opened->interleaved.assign(static_cast<std::size_t>(opened->capacityFrames) * opened->ports.size(), 0);
    opened->rateHz = rateHz;
    opened->handler = handler;
    opened->context = context;
    jack_on_shutdown(opened->handle, &Client::onShutdown, opened.get());
    if (jack_set_process_callback(opened->handle, &Client::onProcess, opened.get()) != 0 ||
        jack_activate(opened->handle) != 0) {
        error = "JACK refused to start the client";
        return false;
    }
    for (int c = 0; c < channels; ++c) {
        const int connected = jack_connect(opened->handle, sources[static_cast<std::size_t>(c)].c_str(),
                                           jack_port_name(opened->ports[static_cast<std::size_t>(c)]));
        if (connected != 0 && connected != EEXIST) {
            error = "JACK refused to connect " + sources[static_cast<std::size_t>(c)];
            return false;
        }
    }
    client = std::move(opened);
    return true;
}

void JackInput::close() { client.reset(); }

bool JackInput::running() const { return client && !client->serverGone.load(std::memory_order_acquire); }

bool JackInput::sourceConnected() const {
    if (!running()) return true;
    return std::all_of(client->ports.begin(), client->ports.end(),
                       [](jack_port_t* port) { return jack_port_connected(port) > 0; });
}

unsigned int JackInput::periodFrames() const { return client ? client->period : 0; }

std::string jackRateMessage(unsigned int serverRateHz, unsigned int wantedRateHz) {
    const std::string rate = std::to_string(wantedRateHz);
    return "the JACK server runs at " + std::to_string(serverRateHz) + " Hz; start it at " + rate + " Hz (jackd -r " +
           rate + " ..., or under PipeWire pw-metadata -n settings 0 clock.force-rate " + rate + ")";
}

}  // namespace platora
