// platora-onset-probe CLIENT PORT...: a JACK client that listens to the given output ports
// and prints, once, "onset SECONDS" with the wall-clock time (Unix seconds, CLOCK_REALTIME)
// at which the first non-zero sample entered the JACK graph: the start of the cycle that
// carried it plus the sample's offset in the cycle. Connecting to a player's timecode ports
// starts its play, so this is when the player's ground truth begins. Then it waits for
// SIGINT or SIGTERM. Failures: one line on stderr, exit status 1.
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(1);
constexpr double microsecondsPerSecond = 1e6;
constexpr double nanosecondsPerMicrosecond = 1e3;
constexpr std::int64_t noOnset = -1;

volatile std::sig_atomic_t stopSignal = 0;
void onStopSignal(int) { stopSignal = 1; }

struct Probe {
    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> inputs;
    // Cycle start in jack_get_time() microseconds plus the sample's offset, scaled by 1000
    // to keep sub-microsecond offsets; written once by the process thread.
    std::atomic<std::int64_t> onsetNanoseconds{noOnset};
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
};

int process(jack_nframes_t frames, void* arg) {
    auto* probe = static_cast<Probe*>(arg);
    if (probe->onsetNanoseconds.load(std::memory_order_relaxed) != noOnset) return 0;
    jack_nframes_t first = frames;
    for (jack_port_t* port : probe->inputs) {
        const auto* samples = static_cast<const float*>(jack_port_get_buffer(port, frames));
        for (jack_nframes_t i = 0; i < first; ++i) {
            if (samples[i] != 0.0f) {
                first = i;
                break;
            }
        }
    }
    if (first == frames) return 0;
    jack_nframes_t cycleFrames = 0;
    jack_time_t cycleStart = 0;
    jack_time_t nextCycleStart = 0;
    float periodUsecs = 0.0f;
    if (jack_get_cycle_times(probe->client, &cycleFrames, &cycleStart, &nextCycleStart, &periodUsecs) != 0) return 0;
    const double offsetUsecs = static_cast<double>(first) * microsecondsPerSecond / jack_get_sample_rate(probe->client);
    probe->onsetNanoseconds.store(
        static_cast<std::int64_t>(std::llround((static_cast<double>(cycleStart) + offsetUsecs) * nanosecondsPerMicrosecond)),
        std::memory_order_relaxed);
    return 0;
}

void quiet(const char*) {}

int fail(const std::string& message) {
    std::fprintf(stderr, "platora-onset-probe: %s\n", message.c_str());
    return 1;
}

// JACK's clock and the wall clock tick at the same rate; only their origins differ.
double wallSecondsFromJack(std::int64_t jackNanoseconds) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const jack_time_t jackNow = jack_get_time();
    const double wallNowUsecs = static_cast<double>(now.tv_sec) * microsecondsPerSecond +
                                static_cast<double>(now.tv_nsec) / nanosecondsPerMicrosecond;
    const double onsetUsecs = static_cast<double>(jackNanoseconds) / nanosecondsPerMicrosecond;
    return (wallNowUsecs - static_cast<double>(jackNow) + onsetUsecs) / microsecondsPerSecond;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: platora-onset-probe CLIENT PORT...\n");
        return 2;
    }
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    Probe probe;
    jack_status_t status{};
    probe.client = jack_client_open(argv[1], JackNoStartServer, &status);
    if (probe.client == nullptr) return fail("cannot connect to the JACK server");
    for (int i = 2; i < argc; ++i) {
        const std::string name = "in_" + std::to_string(i - 1);
        jack_port_t* port = jack_port_register(probe.client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (port == nullptr) return fail("cannot register port " + name);
        probe.inputs.push_back(port);
    }
    if (jack_set_process_callback(probe.client, &process, &probe) != 0 || jack_activate(probe.client) != 0)
        return fail("cannot activate the client");
    for (int i = 2; i < argc; ++i) {
        if (jack_connect(probe.client, argv[i], jack_port_name(probe.inputs[static_cast<std::size_t>(i - 2)])) != 0)
            return fail(std::string("cannot connect from ") + argv[i]);
    }

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    bool reported = false;
    while (stopSignal == 0) {
        const std::int64_t onset = probe.onsetNanoseconds.load(std::memory_order_relaxed);
        if (!reported && onset != noOnset) {
            std::printf("onset %.6f\n", wallSecondsFromJack(onset));
            std::fflush(stdout);
            reported = true;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    jack_deactivate(probe.client);
    jack_client_close(probe.client);
    return 0;
}
