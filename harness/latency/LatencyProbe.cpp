// platora-latency-probe CLIENT CYCLES: plays a Mixvibes record as JACK client CLIENT for platora
// to decode, receives its datagrams, prints "ready PORT" once it listens on UDP PORT, and plays
// once both ports are connected: cycles of 150 ms silence, 150 ms play, 150 ms play after a jump.
// A sample stands for the time the record played it as an interface would capture it: the period
// before the cycle that carries it to the ports. At the end: median and 99th percentile (ms) of
// the delay from when the first sample after the silence was at the port (the start of the cycle
// that carries it) to the first datagram whose volume shows it; the same from when that sample
// was played; from when the last sample of the first whole frame after the jump was played to
// the first datagram with the new position; the median distance (ms) of later positions from the
// record's at their arrival; the events missed. Two cycles warm up first.
#include "ScratchMessages.h"
#include "TimecodeGenerator.h"

#include <jack/jack.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using namespace platora;

constexpr std::int64_t segmentFrames = 6615, cycleFrames = 3 * segmentFrames, unknown = -1;
constexpr int warmUpCycles = 2, quietLimit = 100;  // receive time-outs of 50 ms: platora is gone
constexpr double peaksPerSecond = peaksPerCycle * vinylFormat(Mixvibes).carrierHz, rateHz = nominalSampleRateHz;
constexpr double segmentUs = 1e6 * segmentFrames / rateHz, heardVolume = 0.1, positionSlack = 0.01;
constexpr double msPerUs = 1e-3, finalWaitUs = 500000.0;
constexpr ssize_t datagramBytes = 24;  // an address of 12 characters and one float

struct Probe {
    jack_client_t* client = nullptr;
    jack_port_t* ports[2] = {};
    std::deque<TimecodeGenerator> players;  // two per cycle, built up front: render allocates nothing
    std::vector<double> targets;            // where each cycle jumps to
    std::deque<std::atomic<std::int64_t>> onsetFrames, jumpFrames;  // JACK frame times
    std::deque<std::atomic<std::int64_t>> onsetCycles;  // the frame time of the cycle that carries the onset
    std::atomic<std::int64_t> endFrame{unknown};
    std::int64_t played = 0;  // process thread only
    bool started = false;
};

double startOf(std::int64_t cycle) { return 20.0 + 20.0 * static_cast<double>(cycle % 45); }  // frames end at 961 s

// The first frame whose window's peaks all follow `position` is complete at its newest peak.
double wholeFrameEnd(double position) {
    constexpr auto step = static_cast<double>(MixvibesFrames::peaksPerFrame);
    constexpr double window = vinylFormat(Mixvibes).windowPeaks;
    return step * std::ceil((std::ceil(position * peaksPerSecond) + window - 1.0) / step) / peaksPerSecond;
}

int process(jack_nframes_t frames, void* arg) {
    auto& probe = *static_cast<Probe*>(arg);
    float* out[2] = {static_cast<float*>(jack_port_get_buffer(probe.ports[0], frames)),
                     static_cast<float*>(jack_port_get_buffer(probe.ports[1], frames))};
    for (float* channel : out) std::fill(channel, channel + frames, 0.0f);
    probe.started =
        probe.started || (jack_port_connected(probe.ports[0]) > 0 && jack_port_connected(probe.ports[1]) > 0);
    const auto end = static_cast<std::int64_t>(probe.targets.size()) * cycleFrames;
    std::int16_t samples[2 * 64];
    for (jack_nframes_t done = 0; probe.started && done < frames && probe.played < end;) {
        const std::int64_t cycle = probe.played / cycleFrames, within = probe.played % cycleFrames;
        const std::int64_t segment = within / segmentFrames, now = jack_last_frame_time(probe.client) + done;
        const auto piece = static_cast<jack_nframes_t>(
            std::min<std::int64_t>({segmentFrames - within % segmentFrames, frames - done, 64}));
        if (within == segmentFrames) {
            probe.onsetCycles[cycle].store(jack_last_frame_time(probe.client));
            probe.onsetFrames[cycle].store(now);
        }
        if (within == 2 * segmentFrames) probe.jumpFrames[cycle].store(now);
        if (segment > 0) {
            probe.players[2 * cycle + segment - 1].render(samples, piece);
            for (jack_nframes_t i = 0; i < 2 * piece; ++i) out[i % 2][done + i / 2] = samples[i] / 32768.0f;
        }
        done += piece;
        probe.played += piece;
        if (probe.played == end) probe.endFrame.store(now + piece);
    }
    return 0;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size()))) - 1];
}

int fail(const char* message) {
    std::fprintf(stderr, "platora-latency-probe: %s\n", message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc == 3 ? std::atoi(argv[2]) : 0;
    if (cycles <= warmUpCycles) return fail("usage: platora-latency-probe CLIENT CYCLES (more than 2)");
    Probe probe;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        probe.targets.push_back(startOf(cycle) + 10.0);
        GeneratorSettings settings;
        for (double start : {startOf(cycle), probe.targets.back()}) {
            settings.startPosition = start;
            probe.players.emplace_back(settings);
        }
        probe.onsetFrames.emplace_back(unknown);
        probe.onsetCycles.emplace_back(unknown);
        probe.jumpFrames.emplace_back(unknown);
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t length = sizeof address;
    const timeval wait{0, 50000};
    if (sock < 0 || bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0)
        return fail("cannot listen on a UDP port");
    probe.client = jack_client_open(argv[1], JackNoStartServer, nullptr);
    if (probe.client == nullptr || jack_get_sample_rate(probe.client) != rateHz)
        return fail("needs a JACK server at 44100 Hz");
    probe.ports[0] = jack_port_register(probe.client, "out_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    probe.ports[1] = jack_port_register(probe.client, "out_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!probe.ports[0] || !probe.ports[1] || jack_set_process_callback(probe.client, process, &probe) != 0 ||
        jack_activate(probe.client) != 0)
        return fail("cannot activate the JACK client");
    std::printf("ready %d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const auto atPort = [&](std::int64_t frame) {
        return static_cast<double>(jack_frames_to_time(probe.client, static_cast<jack_nframes_t>(frame)));
    };
    const double periodUs = 1e6 * jack_get_buffer_size(probe.client) / rateHz;
    const auto timeOf = [&](std::int64_t frame) { return atPort(frame) - periodUs; };
    std::vector<double> port, pipeline, position, offTruth;
    int cycle = -1;
    bool heard = false, moved = false;
    for (int quiet = 0; quiet < quietLimit;) {
        char datagram[datagramBytes + 1] = {};
        const ssize_t size = recv(sock, datagram, sizeof datagram, 0);
        const auto arrival = static_cast<double>(jack_get_time());
        quiet = size < 0 ? quiet + 1 : 0;
        // A cycle's datagrams all arrive before the next cycle's play starts.
        for (; cycle + 1 < cycles && probe.onsetFrames[cycle + 1].load() != unknown; heard = moved = false) ++cycle;
        if (probe.endFrame.load() != unknown && arrival > atPort(probe.endFrame.load()) + finalWaitUs) break;
        if (cycle < warmUpCycles || size != datagramBytes) continue;
        std::uint32_t bits;
        std::memcpy(&bits, datagram + datagramBytes - sizeof bits, sizeof bits);
        const auto value = std::bit_cast<float>(ntohl(bits));
        const std::string name(datagram);
        if (!heard && name == platora::volumeAddress && value > heardVolume) {
            port.push_back((arrival - atPort(probe.onsetCycles[cycle].load())) * msPerUs);
            pipeline.push_back((arrival - timeOf(probe.onsetFrames[cycle].load())) * msPerUs);
            heard = true;
        }
        const std::int64_t jump = probe.jumpFrames[cycle].load();
        const double target = probe.targets[cycle], sinceJumpUs = jump == unknown ? -1.0 : arrival - timeOf(jump);
        if (sinceJumpUs < 0.0 || sinceJumpUs > segmentUs || name != platora::positionAddress ||
            std::abs(value - target - 0.5) > 0.5 + positionSlack)
            continue;
        if (moved) offTruth.push_back(std::abs(value - target - sinceJumpUs * 1e-6) * 1e3);  // at nominal speed
        if (!moved) position.push_back((sinceJumpUs - (wholeFrameEnd(target) - target) * 1e6) * msPerUs);
        moved = true;
    }
    jack_client_close(probe.client);
    const auto missed = static_cast<std::size_t>(cycles - warmUpCycles) * 2 - pipeline.size() - position.size();
    std::printf(
        "port-median %.2f port-p99 %.2f pipeline-median %.2f pipeline-p99 %.2f position-median %.2f position-p99 "
        "%.2f off-truth-median %.2f missed %zu\n",
        percentile(port, 0.5), percentile(port, 0.99), percentile(pipeline, 0.5), percentile(pipeline, 0.99), percentile(position, 0.5), percentile(position, 0.99),
        percentile(offTruth, 0.5), missed);
    return 0;
}
