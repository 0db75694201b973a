// platora-gen --jack against a private jackd (dummy back end), recorded by a client of ours.
#include "JackServer.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto timeout = 20s;  // generous: sanitizer builds on a shared machine

// Records its input ports into fixed buffers; the count is published after the samples.
class Recorder {
public:
    Recorder(int channels, std::size_t capacityFrames)
        : channels(channels), buffers(static_cast<std::size_t>(channels), std::vector<float>(capacityFrames)) {}
    ~Recorder() {
        if (client) jack_client_close(client);
    }

    bool start(std::string& error) {
        client = jack_client_open("recorder", JackNoStartServer, nullptr);
        if (!client) {
            error = "cannot open the recorder";
            return false;
        }
        for (int c = 0; c < channels; ++c) {
            std::string name = "in_" + std::to_string(c + 1);
            ports.push_back(jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
        }
        jack_set_process_callback(client, &Recorder::process, this);
        if (jack_activate(client) != 0) {
            error = "cannot activate the recorder";
            return false;
        }
        return true;
    }

    // Ports appear before their client is active and refuse connections until then.
    bool connect(const std::string& from, int port) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (jack_connect(client, from.c_str(), jack_port_name(ports[static_cast<std::size_t>(port)])) != 0) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    bool portExists(const std::string& name) const { return jack_port_by_name(client, name.c_str()) != nullptr; }

    std::size_t frames() const { return recorded.load(std::memory_order_acquire); }
    float at(std::size_t frame, int channel) const { return buffers[static_cast<std::size_t>(channel)][frame]; }

    // The first frame where any channel sounds, or frames() if none does.
    std::size_t firstSound() const {
        for (std::size_t f = 0; f < frames(); ++f)
            for (int c = 0; c < channels; ++c)
                if (at(f, c) != 0.0f) return f;
        return frames();
    }

private:
    static int process(jack_nframes_t count, void* self) {
        auto& r = *static_cast<Recorder*>(self);
        std::size_t done = r.recorded.load(std::memory_order_relaxed);
        std::size_t n = std::min<std::size_t>(count, r.buffers[0].size() - done);
        for (int c = 0; c < r.channels; ++c) {
            auto* in = static_cast<const float*>(jack_port_get_buffer(r.ports[static_cast<std::size_t>(c)], count));
            std::copy(in, in + n, r.buffers[static_cast<std::size_t>(c)].begin() + static_cast<std::ptrdiff_t>(done));
        }
        r.recorded.store(done + n, std::memory_order_release);
        return 0;
    }

    int channels;
    std::vector<std::vector<float>> buffers;
    std::vector<jack_port_t*> ports;
    jack_client_t* client = nullptr;
    std::atomic<std::size_t> recorded{0};
};

class JackMode : public test::JackServerTest {
protected:
    void SetUp() override {
        JackServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dir = fs::temp_directory_path() / ("platora-gen-jack-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (!dir.empty()) fs::remove_all(dir);
        JackServerTest::TearDown();
    }

    void launch(std::vector<std::string> args) {
        args.insert(args.begin(), PLATORA_GEN);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        std::string errPath = (dir / "stderr.txt").string();
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(::posix_spawn(&pid, PLATORA_GEN, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    // Exit status, or -1 if it did not end in time (or by a signal).
    int waitForExit() {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(5ms);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    template <class Condition>
    static bool waitFor(Condition condition) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    std::string stderrText() const {
        std::ifstream in(dir / "stderr.txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<std::string> manifestLines(const std::string& name) const {
        std::ifstream in(dir / name);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // What the recorder got from `from` on, against a fresh render of the same settings.
    static void expectSameAsRendered(const Recorder& recorder, std::size_t from, const GeneratorSettings& settings,
                                     std::size_t frames, int firstTimecodePort) {
        TimecodeGenerator generator(settings);
        std::vector<std::int16_t> expected(frames * static_cast<std::size_t>(settings.channels));
        generator.render(expected.data(), frames);
        ASSERT_GE(recorder.frames(), from + frames);
        int timecodeBase = settings.channels - 2;
        for (std::size_t f = 0; f < frames; ++f)
            for (int c = 0; c < 2; ++c)
                ASSERT_EQ(recorder.at(from + f, firstTimecodePort + c),
                          expected[f * static_cast<std::size_t>(settings.channels) + timecodeBase + c] / 32768.0f)
                    << "frame " << f << " channel " << c;
    }

    fs::path dir;
    pid_t pid = -1;
};

TEST_F(JackMode, StaysSilentUntilConnectedThenPlaysTheProfileFromItsFirstSampleAndEnds) {
    Recorder recorder(2, 4 * 44100);
    std::string error;
    ASSERT_TRUE(recorder.start(error)) << error;
    launch({"--type", "1", "--jack", "gen", "--start", "2.5", "--length", "1", (dir / "live").string()});
    ASSERT_TRUE(waitFor([&] { return recorder.portExists("gen:out_2"); })) << stderrText();
    std::this_thread::sleep_for(300ms);  // a silent generator does not advance meanwhile
    ASSERT_TRUE(recorder.connect("gen:out_1", 0));
    ASSERT_TRUE(recorder.connect("gen:out_2", 1));
    EXPECT_EQ(waitForExit(), 0) << stderrText();
    EXPECT_TRUE(stderrText().empty()) << stderrText();

    std::size_t start = recorder.firstSound();
    GeneratorSettings settings;
    settings.vinylType = Mixvibes;
    settings.startPosition = 2.5;
    expectSameAsRendered(recorder, start, settings, 44100, 0);
    for (std::size_t f = start + 44100; f < recorder.frames(); ++f)
        ASSERT_TRUE(recorder.at(f, 0) == 0.0f && recorder.at(f, 1) == 0.0f) << "sound after the end at " << f;

    std::vector<std::string> manifest = manifestLines("live.manifest.csv");
    ASSERT_EQ(manifest.size(), 1u + 44100 / 44 + 1 + 1);
    EXPECT_EQ(manifest[0], "frame,time_s,position_s,speed");
    EXPECT_EQ(manifest[1], "0,0.000000,2.500000000,1.000000");
    EXPECT_EQ(manifest.back(), "44100,1.000000,3.500000000,1.000000");
    EXPECT_FALSE(fs::exists(dir / "live.table"));
}

TEST_F(JackMode, EndlessPlayStopsCleanlyOnSigtermWithTheManifestComplete) {
    Recorder recorder(2, 8 * 44100);
    std::string error;
    ASSERT_TRUE(recorder.start(error)) << error;
    launch({"-t", "mixvibes", "-j", "endless", "-l", "0", "-p", "-1", "-s", "100", (dir / "run.wav").string()});
    ASSERT_TRUE(waitFor([&] { return recorder.portExists("endless:out_2"); })) << stderrText();
    ASSERT_TRUE(recorder.connect("endless:out_1", 0));
    ASSERT_TRUE(recorder.connect("endless:out_2", 1));
    ASSERT_TRUE(waitFor([&] { return recorder.frames() > 3 * 44100; }));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitForExit(), 0) << stderrText();
    EXPECT_TRUE(stderrText().empty()) << stderrText();
    EXPECT_FALSE(recorder.portExists("endless:out_1"));

    std::vector<std::string> manifest = manifestLines("run.manifest.csv");
    ASSERT_GT(manifest.size(), 2000u);  // at least two seconds, one row a millisecond
    long long lastFrame = std::stoll(manifest.back());
    double lastPosition = std::stod(manifest.back().substr(manifest.back().find(',', manifest.back().find(',') + 1) + 1));
    EXPECT_NEAR(lastPosition, 100.0 - static_cast<double>(lastFrame) / 44100.0, 1e-6);
    EXPECT_FALSE(fs::exists(dir / "run.wav"));
}

TEST_F(JackMode, FourChannelsWaitForTheTimecodePortsOnlyAndWriteTheTable) {
    Recorder recorder(4, 4 * 44100);
    std::string error;
    ASSERT_TRUE(recorder.start(error)) << error;
    launch({"-t", "0", "-j", "quad", "-c", "4", "-l", "0.5", "--rows", "1000", "--aux", "silence",
            (dir / "quad").string()});
    ASSERT_TRUE(waitFor([&] { return recorder.portExists("quad:out_4"); })) << stderrText();
    ASSERT_TRUE(recorder.connect("quad:out_3", 2));
    ASSERT_TRUE(recorder.connect("quad:out_4", 3));
    EXPECT_EQ(waitForExit(), 0) << stderrText();

    GeneratorSettings settings;
    settings.vinylType = FinalScratch;
    settings.channels = 4;
    settings.aux = AuxSignal::silence;
    settings.finalScratchRows = 1000;
    expectSameAsRendered(recorder, recorder.firstSound(), settings, 22050, 2);
    EXPECT_EQ(fs::file_size(dir / "quad.table"), 8000u);
}

TEST_F(JackMode, RefusesARateOtherThanTheServers) {
    launch({"-t", "1", "-j", "gen", "-r", "48000"});
    EXPECT_EQ(waitForExit(), 1);
    EXPECT_NE(stderrText().find("differs from the JACK server's 44100 Hz"), std::string::npos) << stderrText();
}

}  // namespace
}  // namespace platora
