// The controller against a real JACK server (dummy back end) and real JACK clients playing.
// The audio thread writes the decoder while these tests read it: run them under TSan too.
#include "CaptureController.h"
#include "FinalScratchCodeTable.h"
#include "JackServer.h"
#include "VinylType.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace platora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto timeout = 20s;       // generous: sanitizer builds on a shared machine
constexpr auto pollInterval = 5ms;  // as often as the console reads

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(pollInterval);
    }
    return true;
}

// JACK hands a port buffer from one client's process thread to the next client's through
// futexes in shared memory, which ThreadSanitizer cannot see; the buffer writes would read
// as races with RtAudio's reads in the same process. Those writes only are hidden.
class UnseenPortWrites {
public:
#if defined(__SANITIZE_THREAD__)
    UnseenPortWrites() { AnnotateIgnoreWritesBegin(__FILE__, __LINE__); }
    ~UnseenPortWrites() { AnnotateIgnoreWritesEnd(__FILE__, __LINE__); }
#endif
};

// A JACK client whose ports "out_1"... play a square wave, 20 frames up and 20 down,
// amplitudes[c] on port c, as floats that RtAudio's 16-bit input turns back into the same values.
class SquareWavePlayer {
public:
    SquareWavePlayer(const std::string& name, std::vector<std::int16_t> amplitudes)
        : amplitudes(std::move(amplitudes)) {
        // Exact name: the capture finds the device by this name.
        client =
            jack_client_open(name.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), nullptr);
        for (std::size_t c = 0; client != nullptr && c < this->amplitudes.size(); ++c)
            ports.push_back(jack_port_register(client, ("out_" + std::to_string(c + 1)).c_str(),
                                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
        started = client != nullptr && std::count(ports.begin(), ports.end(), nullptr) == 0 &&
                  jack_set_process_callback(client, &SquareWavePlayer::process, this) == 0 &&
                  jack_activate(client) == 0;
    }
    ~SquareWavePlayer() {
        if (client != nullptr) jack_client_close(client);
    }
    SquareWavePlayer(const SquareWavePlayer&) = delete;
    SquareWavePlayer& operator=(const SquareWavePlayer&) = delete;

    bool started = false;

private:
    static int process(jack_nframes_t frames, void* self) {
        auto& player = *static_cast<SquareWavePlayer*>(self);
        [[maybe_unused]] const UnseenPortWrites unseen{};
        for (std::size_t c = 0; c < player.ports.size(); ++c) {
            auto* out = static_cast<float*>(jack_port_get_buffer(player.ports[c], frames));
            for (jack_nframes_t f = 0; f < frames; ++f)
                out[f] =
                    static_cast<float>((player.phase + f) % 40 < 20 ? player.amplitudes[c] : -player.amplitudes[c]) /
                    32768.0f;
        }
        player.phase = (player.phase + frames) % 40;
        return 0;
    }

    std::vector<std::int16_t> amplitudes;
    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> ports;
    jack_nframes_t phase = 0;  // audio thread only
};

class CaptureWithJack : public test::JackServerTest {
protected:
    void TearDown() override {
        controller.reset();  // the stream goes before what it listens to
        players.clear();
        JackServerTest::TearDown();
    }

    // Players start before the scan: RtAudio lists the JACK clients present at that time.
    void play(const std::string& name, const std::vector<std::int16_t>& amplitudes) {
        players.push_back(std::make_unique<SquareWavePlayer>(name, amplitudes));
        EXPECT_TRUE(players.back()->started) << "JACK refused the client " << name;
    }

    void scan() { controller = std::make_unique<CaptureController>(); }

    // The list index of the device whose description begins with this name; -1 if none.
    std::int16_t indexOf(const std::string& name) const {
        std::string text;
        for (std::int16_t i = 0; controller->getDescription(i, text); ++i)
            if (text.rfind(name + " ", 0) == 0) return i;
        return -1;
    }

    // One deck per pair, in this order.
    bool open(std::int16_t index, const std::vector<std::int32_t>& pairs) {
        controller->setDeckPairs(pairs);
        return controller->open(index);
    }

    bool levelBecomes(std::int32_t level, std::size_t deck = 0) const {
        return eventually([&] { return controller->deck(deck).getLevel() == level; });
    }

    // Input ports of the stream clients, named for the program (numbered by JACK while a
    // client RtAudio leaked at a refused open holds the name): one per channel of every open stream.
    int streamPortCount() const {
        jack_client_t* probe = jack_client_open("platora-port-probe", JackNoStartServer, nullptr);
        if (probe == nullptr) return -1;
        int count = 0;
        if (const char** ports =
                jack_get_ports(probe, (std::string("^") + CaptureController::clientName + "(-[0-9]+)?:").c_str(),
                               nullptr, JackPortIsInput)) {
            while (ports[count] != nullptr) ++count;
            jack_free(ports);
        }
        jack_client_close(probe);
        return count;
    }

    std::vector<std::unique_ptr<SquareWavePlayer>> players;
    std::unique_ptr<CaptureController> controller;
};

TEST_F(CaptureWithJack, ListsClientsWithTwoOrMoreOutputsWithNameApiChannelsFormatAndRateAfterTheServersPorts) {
    play("tonegen", {1000, 1000});
    play("quadgen", {1000, 1000, 1000, 1000});
    play("monogen", {1000});
    scan();

    const std::int16_t stereo = indexOf("tonegen");
    std::string text;
    ASSERT_TRUE(controller->getDescription(stereo, text));
    EXPECT_EQ(text, "tonegen" + std::string(34, ' ') +
                        "LINUX_JACK\n"
                        "  2 input channels | RTAUDIO_FLOAT32 | highest freq: 44100 hz");
    EXPECT_EQ(controller->getInputChannels(stereo), 2);
    EXPECT_EQ(controller->getInputChannels(indexOf("quadgen")), 4);
    EXPECT_EQ(indexOf("monogen"), -1);
    EXPECT_GE(indexOf("system"), 0);
    EXPECT_LT(indexOf("system"), stereo);
}

TEST_F(CaptureWithJack, AStreamRunsOnThroughRefusedOpensAndFollowsGainAndRiaaSetWhileItRuns) {
    play("tonegen", {10000, -5000});
    scan();
    ASSERT_TRUE(open(indexOf("tonegen"), {0}));
    Deck& deck = controller->deck(0);
    ASSERT_TRUE(levelBecomes(10000)) << "level " << deck.getLevel();
    EXPECT_TRUE(controller->streamRunning());
    EXPECT_EQ(controller->grantedBufferFrames(), periodFrames);
    const std::uint32_t blocks = controller->blocksDelivered();
    EXPECT_NE(controller->waitForWakeup(controller->wakeupCount()), 0u);
    EXPECT_TRUE(eventually([&] { return controller->blocksDelivered() != blocks; }));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller->open(-1));
    EXPECT_FALSE(controller->open(static_cast<std::int16_t>(controller->deviceCount())));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(streamPortCount(), 2);

    deck.setPreampGain(2.7f);
    EXPECT_TRUE(levelBecomes(20000)) << "level " << deck.getLevel();
    deck.setRiaaEnabled(true);
    EXPECT_TRUE(levelBecomes(20334)) << "level " << deck.getLevel();
    deck.setPreampGain(4.0f);
    // 10167 x 4 saturates at both ends, so the troughs read -32768; wrapped, the level would be 24868.
    EXPECT_TRUE(levelBecomes(32768)) << "level " << deck.getLevel();
}

TEST_F(CaptureWithJack, ARefusedChannelCountGivesOneLineAndNeitherItNorDestructionLeavesAStream) {
    play("tonegen", {7000, 7000});
    scan();
    const std::int16_t index = indexOf("tonegen");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(open(index, {1}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the audio library printed";
    EXPECT_EQ(controller->openError().rfind("requested number of channels (4)", 0), 0u) << controller->openError();
    EXPECT_EQ(controller->openError().find('\n'), std::string::npos);
    EXPECT_EQ(streamPortCount(), 0);

    ASSERT_TRUE(open(index, {0}));
    EXPECT_TRUE(levelBecomes(7000));
    ASSERT_EQ(streamPortCount(), 2);
    controller.reset();
    EXPECT_EQ(streamPortCount(), 0);
    scan();  // and never opened
    controller.reset();
    EXPECT_EQ(streamPortCount(), 0);
}

TEST_F(CaptureWithJack, ASecondOpenReplacesTheFirstStreamAndEachDeckDecodesItsOwnPair) {
    play("tonegen", {6000, 6000});
    play("quadgen", {20000, 20000, 3000, -2500});
    scan();
    ASSERT_TRUE(open(indexOf("tonegen"), {0}));
    ASSERT_TRUE(levelBecomes(6000));
    ASSERT_TRUE(open(indexOf("quadgen"), {1, 0}));
    EXPECT_TRUE(levelBecomes(3000, 0)) << "level " << controller->deck(0).getLevel();
    EXPECT_TRUE(levelBecomes(20000, 1)) << "level " << controller->deck(1).getLevel();
    EXPECT_EQ(streamPortCount(), 4) << "the first stream's client must be gone";
    ASSERT_TRUE(open(indexOf("tonegen"), {0}));
    EXPECT_TRUE(levelBecomes(6000));
    EXPECT_EQ(streamPortCount(), 2);
}

TEST_F(CaptureWithJack, OpenFindsTheListedDeviceByNameAfterAnEarlierOneLeftAndFailsOnceItLeftItself) {
    play("earliergen", {4000, 4000});
    play("latergen", {8000, 8000});
    scan();
    const std::int16_t later = indexOf("latergen");
    ASSERT_LT(indexOf("earliergen"), later);
    players.front().reset();  // the devices after it move up by one
    ASSERT_TRUE(open(later, {0}));
    EXPECT_TRUE(levelBecomes(8000)) << "level " << controller->deck(0).getLevel();

    players.clear();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller->open(later));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(controller->openError().find("\"latergen\" is no longer available"), std::string::npos);
    EXPECT_EQ(streamPortCount(), 0);
}

// Writes one impulse per chosen cycle (counted from when both ports are connected): at
// frame offsets[i] of cycle cycles[i], +0.5 on out_1 and -0.25 on out_2, silence elsewhere;
// notes the JACK frame time of each such cycle.
class ImpulsePlayer {
public:
    static constexpr int impulses = 3;
    static constexpr int cycles[impulses] = {3, 6, 9};

    explicit ImpulsePlayer(const std::string& name) {
        client =
            jack_client_open(name.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), nullptr);
        if (client == nullptr) return;
        for (int c = 0; c < 2; ++c)
            ports[c] = jack_port_register(client, ("out_" + std::to_string(c + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                          JackPortIsOutput, 0);
        const jack_nframes_t period = jack_get_buffer_size(client);
        offsets = {0, 333, period - 1};  // the edges of a cycle and an odd place inside
        started = ports[0] && ports[1] && jack_set_process_callback(client, &ImpulsePlayer::process, this) == 0 &&
                  jack_activate(client) == 0;
    }
    ~ImpulsePlayer() {
        if (client != nullptr) jack_client_close(client);
    }
    ImpulsePlayer(const ImpulsePlayer&) = delete;
    ImpulsePlayer& operator=(const ImpulsePlayer&) = delete;

    jack_client_t* client = nullptr;
    bool started = false;
    std::array<jack_nframes_t, impulses> offsets{};
    std::array<std::atomic<std::int64_t>, impulses> cycleFrames{-1, -1, -1};

private:
    static int process(jack_nframes_t frames, void* self) {
        auto& player = *static_cast<ImpulsePlayer*>(self);
        [[maybe_unused]] const UnseenPortWrites unseen{};
        float* out[2] = {static_cast<float*>(jack_port_get_buffer(player.ports[0], frames)),
                         static_cast<float*>(jack_port_get_buffer(player.ports[1], frames))};
        std::fill(out[0], out[0] + frames, 0.0f);
        std::fill(out[1], out[1] + frames, 0.0f);
        if (jack_port_connected(player.ports[0]) == 0 || jack_port_connected(player.ports[1]) == 0) return 0;
        for (int i = 0; i < impulses; ++i) {
            if (player.cycle != cycles[i]) continue;
            out[0][player.offsets[i]] = 0.5f;
            out[1][player.offsets[i]] = -0.25f;
            player.cycleFrames[i].store(jack_last_frame_time(player.client));
        }
        ++player.cycle;
        return 0;
    }

    jack_port_t* ports[2] = {};
    int cycle = 0;  // audio thread only
};

// What the capture handler saw of the impulses: the JACK frame time of the cycle it ran in
// (read through the player's client: both run in the same server cycle) and the offset.
struct ImpulsesSeen {
    jack_client_t* clock = nullptr;
    std::array<std::atomic<std::int64_t>, ImpulsePlayer::impulses> cycleFrames{-1, -1, -1};
    std::array<std::atomic<std::int32_t>, ImpulsePlayer::impulses> offsets{-1, -1, -1};
    std::array<std::int16_t, 2> first{};
    int count = 0;  // audio thread only

    static void handle(void* self, const std::int16_t* interleaved, std::int32_t frames,
                       std::chrono::steady_clock::time_point) {
        auto& seen = *static_cast<ImpulsesSeen*>(self);
        for (std::int32_t f = 0; f < frames && seen.count < ImpulsePlayer::impulses; ++f) {
            if (interleaved[2 * f] == 0) continue;
            if (seen.count == 0) seen.first = {interleaved[2 * f], interleaved[(2 * f) + 1]};
            seen.offsets[seen.count].store(f);
            seen.cycleFrames[seen.count++].store(jack_last_frame_time(seen.clock));
        }
    }
};

// The program's own JACK client hands a cycle's input on in that very cycle; RtAudio's JACK
// stream would show every impulse one period later.
TEST_F(CaptureWithJack, EveryImpulseReachesTheHandlerInTheCycleThatCarriesItAtItsOwnFrame) {
    ImpulsePlayer player("impulsegen");
    ASSERT_TRUE(player.started);
    ImpulsesSeen seen;
    seen.clock = player.client;
    JackInput input;
    std::string error;
    ASSERT_TRUE(input.open(CaptureController::clientName, "impulsegen", 2, sampleRateHz, &ImpulsesSeen::handle, &seen,
                           error))
        << error;
    EXPECT_EQ(input.periodFrames(), periodFrames);
    ASSERT_TRUE(eventually([&] { return seen.cycleFrames.back().load() != -1; }));
    input.close();
    for (int i = 0; i < ImpulsePlayer::impulses; ++i) {
        EXPECT_EQ(seen.cycleFrames[i].load(), player.cycleFrames[i].load()) << "impulse " << i;
        EXPECT_EQ(seen.offsets[i].load(), static_cast<std::int32_t>(player.offsets[i])) << "impulse " << i;
    }
    // RtAudio's conversion: full scale 32768, channels in port order.
    EXPECT_EQ(seen.first, (std::array<std::int16_t, 2>{16384, -8192}));
}

// Either way the input goes, the stream says so, and reopening the device by its name (as
// streaming does every second) brings it back; a server killed outright ends nothing.
TEST_F(CaptureWithJack, ASourceClientAndAServerThatGoAndComeBackAreRejoinedByReopening) {
    play("tonegen", {5000, 5000});
    scan();
    const std::int16_t index = indexOf("tonegen");
    ASSERT_TRUE(open(index, {0}));
    EXPECT_TRUE(controller->onOwnJackClient());
    ASSERT_TRUE(levelBecomes(5000));

    players.clear();
    EXPECT_TRUE(eventually([&] { return !controller->sourceConnected(); }));
    EXPECT_TRUE(controller->streamRunning()) << "the server runs on";
    play("tonegen", {9000, 9000});
    ASSERT_TRUE(controller->open(index));
    EXPECT_TRUE(levelBecomes(9000));
    EXPECT_TRUE(controller->sourceConnected());

    std::int16_t level = 6000;
    for (const int signal : {SIGTERM, SIGKILL}) {
        stopServer(signal);
        EXPECT_TRUE(eventually([&] { return !controller->streamRunning(); })) << signal;
        players.clear();
        EXPECT_FALSE(controller->open(index)) << signal;
        EXPECT_EQ(controller->openError(), "no JACK server answers") << signal;
        startServer();
        play("tonegen", {level, level});
        ASSERT_TRUE(controller->open(index)) << controller->openError();
        EXPECT_TRUE(levelBecomes(level)) << signal;
        level = static_cast<std::int16_t>(level + 1000);
    }
}

// platora-gen plays a timecode, the controller captures and decodes it, and the results are
// held against the generator's ground truth (its manifest).
struct LiveCase {
    VinylType vinylType;
    int channels;         // the timecode is on the last two
    float calibration;    // the console's defaults
    double frameSeconds;  // record time one frame spans at speed 1
};

void PrintTo(const LiveCase& c, std::ostream* out) {
    *out << (c.vinylType == FinalScratch ? "FinalScratch" : "Mixvibes") << "On" << c.channels << "Channels";
}

constexpr double startSeconds = 100.0;
constexpr double lengthSeconds = 3.0;  // the second window of frames per second lies wholly in it

class LiveDecoding : public CaptureWithJack, public ::testing::WithParamInterface<LiveCase> {
protected:
    void TearDown() override {
        controller.reset();
        if (generator > 0) {
            ::kill(generator, SIGKILL);
            ::waitpid(generator, nullptr, 0);
        }
        CaptureWithJack::TearDown();
        if (!dir.empty()) fs::remove_all(dir);
    }

    // position_s, the third column, of the manifest's last row: where the generator stopped.
    double lastTruePosition() const {
        std::ifstream in(dir / "live.manifest.csv");
        std::string line, last;
        while (std::getline(in, line))
            if (!line.empty()) last = line;
        return std::stod(last.substr(last.find(',', last.find(',') + 1) + 1));
    }

    fs::path dir;
    pid_t generator = -1;
    FinalScratchCodeTable table;
};

TEST_P(LiveDecoding, PositionsFollowTheGeneratorsGroundTruth) {
#ifndef PLATORA_GEN
    GTEST_SKIP() << "platora-gen is not built (tools off); it plays the timecode";
#else
    const LiveCase c = GetParam();
    dir = fs::temp_directory_path() / ("platora-capture-live-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::vector<std::string> args = {PLATORA_GEN,
                                     "--type",
                                     std::to_string(c.vinylType),
                                     "--jack",
                                     "livegen",
                                     "--channels",
                                     std::to_string(c.channels),
                                     "--start",
                                     std::to_string(startSeconds),
                                     "--length",
                                     std::to_string(lengthSeconds),
                                     "--rows",
                                     "20000",
                                     (dir / "live").string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ASSERT_EQ(::posix_spawn(&generator, PLATORA_GEN, nullptr, nullptr, argv.data(), environ), 0);
    // The generator opens its manifest after registering its ports and writing its table.
    ASSERT_TRUE(eventually([&] { return fs::exists(dir / "live.manifest.csv"); }));
    std::string error;
    if (c.vinylType == FinalScratch) {
        ASSERT_TRUE(table.load((dir / "live.table").string(), error)) << error;
    }

    scan();
    const std::int16_t index = indexOf("livegen");
    ASSERT_EQ(controller->getInputChannels(index), c.channels);
    controller->setDeckPairs({c.channels / 2 - 1});
    Deck& deck = controller->deck(0);
    deck.setDecoding({c.vinylType, DecodingMode::faithful, c.calibration, &table});
    ASSERT_TRUE(controller->open(index));

    struct Reading {
        float position;
        float speed;
        std::int32_t timecodesPerSecond;
    };
    std::vector<Reading> readings;
    int status = -1;
    ASSERT_TRUE(eventually([&] {
        readings.push_back({deck.getPosition(), deck.getSpeed(), deck.getTimecodesPerSecond()});
        if (::waitpid(generator, &status, WNOHANG) != generator) return false;
        generator = -1;
        return true;
    }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::this_thread::sleep_for(100ms);  // the last played periods reach the decoder
    const double truthAtEnd = lastTruePosition();
    EXPECT_NEAR(truthAtEnd, startSeconds + lengthSeconds, 1e-6);

    // The decoder reports the last frame read: at most a frame (and a carrier cycle to see
    // its last peak) behind where the record stopped.
    EXPECT_LE(deck.getPosition(), truthAtEnd + 1e-3);
    EXPECT_GE(deck.getPosition(), truthAtEnd - 2 * c.frameSeconds);

    // On the way: positions only within the played stretch and never backwards, speed near 1.
    float previous = 0.0f;
    int playing = 0, offSpeed = 0;
    std::vector<std::int32_t> windows;  // frames per second, one value per closed window
    for (const Reading& r : readings) {
        if (r.position == 0.0f) continue;  // nothing decoded yet
        EXPECT_GE(r.position, startSeconds - c.frameSeconds);
        EXPECT_LE(r.position, truthAtEnd + 1e-3);
        EXPECT_GE(r.position, previous);
        previous = r.position;
        // Once play ends the record reads as stopped; until then it turns at nominal speed.
        if (r.position < truthAtEnd - 2 * c.frameSeconds) {
            ++playing;
            if (std::fabs(r.speed - 1.0) > 0.03) ++offSpeed;
        }
        if (r.timecodesPerSecond != 0 && (windows.empty() || windows.back() != r.timecodesPerSecond))
            windows.push_back(r.timecodesPerSecond);
    }
    // A cycle the loaded server skipped leaves a gap in the signal that reads as one brief
    // speed jolt; a speed misread for good would be off in most readings.
    EXPECT_LE(offSpeed, playing / 20) << offSpeed << " of " << playing << " readings off nominal speed";
    // The first window may also span the silence before play and the bits settling; the
    // later ones count every frame (a window closes a little after its second is full). Two
    // whole windows of the same count show as one value.
    ASSERT_FALSE(windows.empty());
    const double framesPerSecond = 1.0 / c.frameSeconds;
    EXPECT_LE(windows[0], framesPerSecond * 1.04);
    for (std::size_t w = 1; w < windows.size(); ++w)
        EXPECT_NEAR(windows[w], framesPerSecond, 0.04 * framesPerSecond) << "window " << w;
    EXPECT_NEAR(windows.back(), framesPerSecond, 0.04 * framesPerSecond) << "no whole window";

    // The new decks of a refused open read at rest, not the decoder's reset values.
    EXPECT_FALSE(open(index, {c.channels / 2}));
    EXPECT_EQ(controller->deck(0).reading(false).position, 0.0f);
    EXPECT_EQ(controller->deck(0).reading(false).speed, 0.0f);
#endif
}

INSTANTIATE_TEST_SUITE_P(Capture, LiveDecoding,
                         ::testing::Values(LiveCase{Mixvibes, 2, 1.07f, 22.0 / 3000.0},
                                           LiveCase{FinalScratch, 4, 1.2f, 8.0 / 1200.0}),
                         ::testing::PrintToStringParamName());

}  // namespace
}  // namespace platora
