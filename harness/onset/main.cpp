// platora-onset-probe CLIENT PORT...: listens to the given output ports and prints, once
// every port has carried signal, "onset SECONDS..." with one wall-clock time (Unix seconds)
// per port: when the record played its first non-zero sample, as an interface would capture it:
// in the period before the cycle that carries it to the ports. Connecting to a player's
// timecode ports starts its play, so this is when its ground truth begins. Every input is
// also played on as out_N, so several players reach a capture as one device. Then waits for
// SIGINT or SIGTERM. Failures: one line on stderr, exit status 1.
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double microsecondsPerSecond = 1e6;
constexpr std::int64_t noOnset = -1;

volatile std::sig_atomic_t stopSignal = 0;
void onStopSignal(int) { stopSignal = 1; }

struct Probe {
    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> inputs;
    std::vector<jack_port_t*> outputs;
    // Per input: jack_get_time() of the cycle start, less a period, plus the sample's offset, in nanoseconds
    // to keep the offset's fraction of a microsecond; written once by the process thread.
    std::unique_ptr<std::atomic<std::int64_t>[]> onsetNanoseconds;
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
};

int process(jack_nframes_t frames, void* arg) {
    auto* probe = static_cast<Probe*>(arg);
    jack_nframes_t cycleFrames = 0;
    jack_time_t cycleStart = 0, nextCycleStart = 0;
    float periodUsecs = 0.0f;
    const bool timed =
        jack_get_cycle_times(probe->client, &cycleFrames, &cycleStart, &nextCycleStart, &periodUsecs) == 0;
    for (std::size_t p = 0; p < probe->inputs.size(); ++p) {
        const auto* samples = static_cast<const float*>(jack_port_get_buffer(probe->inputs[p], frames));
        std::memcpy(jack_port_get_buffer(probe->outputs[p], frames), samples, frames * sizeof(float));
        if (!timed || probe->onsetNanoseconds[p].load(std::memory_order_relaxed) != noOnset) continue;
        jack_nframes_t first = 0;
        while (first < frames && samples[first] == 0.0f) ++first;
        if (first == frames) continue;
        // The sample's place in the period that ends as the cycle begins.
        const double offsetUsecs =
            (static_cast<double>(first) - frames) * microsecondsPerSecond / jack_get_sample_rate(probe->client);
        probe->onsetNanoseconds[p].store(std::llround((static_cast<double>(cycleStart) + offsetUsecs) * 1e3),
                                         std::memory_order_relaxed);
    }
    return 0;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "platora-onset-probe: %s\n", message.c_str());
    return 1;
}

// JACK's clock and the wall clock tick at the same rate; only their origins differ.
double wallSecondsFromJack(std::int64_t jackNanoseconds) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const double wallNowUsecs =
        static_cast<double>(now.tv_sec) * microsecondsPerSecond + static_cast<double>(now.tv_nsec) / 1e3;
    return (wallNowUsecs - static_cast<double>(jack_get_time()) + static_cast<double>(jackNanoseconds) / 1e3) /
           microsecondsPerSecond;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: platora-onset-probe CLIENT PORT...\n");
        return 2;
    }
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    Probe probe;
    probe.client = jack_client_open(argv[1], JackNoStartServer, nullptr);
    if (probe.client == nullptr) return fail("cannot connect to the JACK server");
    const auto ports = static_cast<std::size_t>(argc - 2);
    probe.onsetNanoseconds = std::make_unique<std::atomic<std::int64_t>[]>(ports);
    for (std::size_t i = 0; i < ports; ++i) {
        probe.onsetNanoseconds[i] = noOnset;
        const std::string number = std::to_string(i + 1);
        jack_port_t* in =
            jack_port_register(probe.client, ("in_" + number).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_port_t* out =
            jack_port_register(probe.client, ("out_" + number).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (in == nullptr || out == nullptr) return fail("cannot register ports " + number);
        probe.inputs.push_back(in);
        probe.outputs.push_back(out);
    }
    if (jack_set_process_callback(probe.client, &process, &probe) != 0 || jack_activate(probe.client) != 0)
        return fail("cannot activate the client");
    for (int i = 2; i < argc; ++i)
        if (jack_connect(probe.client, argv[i], jack_port_name(probe.inputs[static_cast<std::size_t>(i - 2)])) != 0)
            return fail(std::string("cannot connect from ") + argv[i]);
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    for (bool reported = false; stopSignal == 0; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        bool all = true;
        for (std::size_t i = 0; i < ports; ++i)
            all = all && probe.onsetNanoseconds[i].load(std::memory_order_relaxed) != noOnset;
        if (reported || !all) continue;
        std::printf("onset");
        for (std::size_t i = 0; i < ports; ++i)
            std::printf(" %.6f", wallSecondsFromJack(probe.onsetNanoseconds[i].load(std::memory_order_relaxed)));
        std::printf("\n");
        std::fflush(stdout);
        reported = true;
    }
    jack_deactivate(probe.client);
    jack_client_close(probe.client);
    return 0;
}
