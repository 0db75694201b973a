// platora-gen --jack against a private jackd (dummy back end), recorded by a client of ours.
#include "JackServer.h"
#include "TempDirectory.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

namespace platora {
namespace {

using namespace std::chrono_literals;

template <class Condition>
bool waitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;  // sanitizer builds on a shared machine
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Records two input ports into fixed buffers; the count is published after the samples.
class Recorder {
public:
    explicit Recorder(std::size_t capacityFrames)
        : buffers{std::vector<float>(capacityFrames), std::vector<float>(capacityFrames)} {}
    ~Recorder() {
        if (client) jack_client_close(client);
    }
    bool start() {
        client = jack_client_open("recorder", JackNoStartServer, nullptr);
        if (!client) return false;
        for (const char* name : {"in_1", "in_2"})
            ports.push_back(jack_port_register(client, name, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
        jack_set_process_callback(client, &Recorder::process, this);
        return jack_activate(client) == 0;
    }
    // Ports appear before their client is active and refuse connections until then.
    bool connect(const std::string& from, std::size_t port) {
        return waitFor([&] { return jack_connect(client, from.c_str(), jack_port_name(ports[port])) == 0; });
    }
    bool portExists(const std::string& name) const { return jack_port_by_name(client, name.c_str()) != nullptr; }
    std::size_t frames() const { return recorded.load(std::memory_order_acquire); }
    float at(std::size_t frame, std::size_t channel) const { return buffers[channel][frame]; }

private:
    static int process(jack_nframes_t count, void* self) {
        auto& r = *static_cast<Recorder*>(self);
        const std::size_t done = r.recorded.load(std::memory_order_relaxed);
        const std::size_t n = std::min<std::size_t>(count, r.buffers[0].size() - done);
        for (std::size_t c = 0; c < 2; ++c) {
            const auto* in = static_cast<const float*>(jack_port_get_buffer(r.ports[c], count));
            std::copy(in, in + n, r.buffers[c].begin() + static_cast<std::ptrdiff_t>(done));
        }
        r.recorded.store(done + n, std::memory_order_release);
        return 0;
    }
    std::vector<float> buffers[2];
    std::vector<jack_port_t*> ports;
    jack_client_t* client = nullptr;
    std::atomic<std::size_t> recorded{0};
};

class JackMode : public test::JackServerTest {
protected:
    // `timeout` ends a generator the test never connects.
    test::CommandResult gen(const std::string& arguments) const {
        return dir.run("timeout 20 " PLATORA_GEN " " + arguments);
    }
    test::TempDirectory dir;
};

TEST_F(JackMode, WaitsSilentlyForItsTimecodePortsThenPlaysTheProfileFromItsFirstSampleAndEnds) {
    Recorder recorder(4 * 44100);
    ASSERT_TRUE(recorder.start());
    auto run = std::async(std::launch::async,
                          [&] { return gen("-t 0 -j gen -c 4 --aux silence --rows 1000 --start 2.5 -l 1 live"); });
    ASSERT_TRUE(waitFor([&] { return recorder.portExists("gen:out_4"); }));
    ASSERT_TRUE(recorder.connect("gen:out_3", 0));
    std::this_thread::sleep_for(300ms);  // waiting for its other port, it neither sounds nor advances
    ASSERT_TRUE(recorder.connect("gen:out_4", 1));
    const test::CommandResult result = run.get();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");

    GeneratorSettings settings;
    settings.vinylType = FinalScratch;
    settings.channels = 4;
    settings.aux = AuxSignal::silence;
    settings.finalScratchRows = 1000;
    settings.startPosition = 2.5;
    std::vector<std::int16_t> expected(4 * 44100);
    TimecodeGenerator(settings).render(expected.data(), 44100);
    std::size_t start = 0;
    while (start < recorder.frames() && recorder.at(start, 0) == 0.0f && recorder.at(start, 1) == 0.0f) ++start;
    ASSERT_GE(recorder.frames(), start + 44100);
    for (std::size_t f = 0; start + f < recorder.frames(); ++f)
        for (std::size_t c = 0; c < 2; ++c)
            ASSERT_EQ(recorder.at(start + f, c), f < 44100 ? expected[4 * f + 2 + c] / 32768.0f : 0.0f)
                << "frame " << f << " channel " << c;

    std::ifstream manifest(dir / "live.manifest.csv");
    std::vector<std::string> lines;
    for (std::string line; std::getline(manifest, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 44100 / 44 + 1 + 1);
    EXPECT_EQ(lines[1], "0,0.000000,2.500000000,1.000000");
    // Its time is the server's: a machine that stalled meanwhile moves it on.
    EXPECT_EQ(lines.back().substr(0, 6), "44100,");
    EXPECT_EQ(lines.back().substr(lines.back().size() - 21), ",3.500000000,1.000000");
    EXPECT_EQ(std::filesystem::file_size(dir / "live.table"), 8000u);
}

TEST_F(JackMode, RefusesARateOtherThanTheServers) {
    const test::CommandResult result = gen("-t 1 -j gen -r 48000");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("differs from the JACK server's 44100 Hz"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace platora
