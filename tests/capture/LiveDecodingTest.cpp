// The whole capture path with a real decoder: platora-gen plays a timecode into a private
// JACK server, the controller captures and decodes it, and the results are held against
// the generator's ground truth (its manifest).
#include "CaptureController.h"
#include "FinalScratchCodeTable.h"
#include "JackServer.h"
#include "VinylType.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto timeout = 20s;  // generous: sanitizer builds on a shared machine
constexpr double startSeconds = 100.0;
constexpr double lengthSeconds = 3.0;  // the second window of frames per second lies wholly in it
constexpr int tableRows = 20000;

struct LiveCase {
    std::int32_t vinylType;
    int channels;            // the timecode is on the last two
    float calibration;       // the console's defaults
    double frameSeconds;     // record time one frame spans
    double framesPerSecond;  // at speed 1
};

std::ostream& operator<<(std::ostream& out, const LiveCase& c)
{
    return out << (c.vinylType == FinalScratch ? "FinalScratch" : "Mixvibes") << " on " << c.channels << " channels";
}

struct Reading {
    float position;
    float speed;
    std::int32_t timecodesPerSecond;
};

class LiveDecoding : public test::JackServerTest, public ::testing::WithParamInterface<LiveCase> {
protected:
    void SetUp() override
    {
#ifndef PLATORA_GEN
        GTEST_SKIP() << "platora-gen is not built (tools off); it plays the timecode";
#else
        JackServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dir = fs::temp_directory_path() / ("platora-capture-live-" + std::to_string(::getpid()));
        fs::create_directories(dir);
#endif
    }

    void TearDown() override
    {
        controller.reset();
        if (generator > 0) {
            ::kill(generator, SIGKILL);
            ::waitpid(generator, nullptr, 0);
        }
        if (probe != nullptr) jack_client_close(probe);
        if (!dir.empty()) fs::remove_all(dir);
        JackServerTest::TearDown();
        FinalScratchCodeTable::shared().assign({});
    }

#ifdef PLATORA_GEN
    void launchGenerator(const LiveCase& c)
    {
        std::vector<std::string> args = {PLATORA_GEN, "--type", std::to_string(c.vinylType), "--jack", clientName,
                                         "--channels", std::to_string(c.channels), "--start", std::to_string(startSeconds),
                                         "--length", std::to_string(lengthSeconds), "--rows", std::to_string(tableRows),
                                         (dir / "live").string()};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string errPath = (dir / "stderr.txt").string();
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(::posix_spawn(&generator, PLATORA_GEN, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
#endif

    bool eventually(const std::function<bool()>& condition) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    bool portExists(const std::string& name)
    {
        if (probe == nullptr) probe = jack_client_open("capture-probe", JackNoStartServer, nullptr);
        return probe != nullptr && jack_port_by_name(probe, name.c_str()) != nullptr;
    }

    int generatorExitStatus()
    {
        int status = 0;
        if (!eventually([&] { return ::waitpid(generator, &status, WNOHANG) == generator; })) return -1;
        generator = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string generatorErrors() const
    {
        std::ifstream in(dir / "stderr.txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // position_s of the manifest's last row: where the generator stopped.
    double lastTruePosition() const
    {
        std::ifstream in(dir / "live.manifest.csv");
        std::string line, last;
        while (std::getline(in, line))
            if (!line.empty()) last = line;
        const auto third = last.find(',', last.find(',') + 1);
        return std::stod(last.substr(third + 1));
    }

    std::int16_t indexOf(const std::string& name) const
    {
        for (std::int32_t i = 0; i < controller->deviceCount(); ++i) {
            std::string text;
            if (controller->getDescription(i, text) && text.rfind(name + " ", 0) == 0) return static_cast<std::int16_t>(i);
        }
        return -1;
    }

    const std::string clientName = "livegen";
    fs::path dir;
    pid_t generator = -1;
    jack_client_t* probe = nullptr;
    std::unique_ptr<CaptureController> controller;
};

TEST_P(LiveDecoding, PositionsFollowTheGeneratorsGroundTruth)
{
#ifdef PLATORA_GEN
    const LiveCase c = GetParam();
    launchGenerator(c);
    const std::string lastPort = clientName + ":out_" + std::to_string(c.channels);
    ASSERT_TRUE(eventually([&] { return portExists(lastPort); })) << generatorErrors();
    if (c.vinylType == FinalScratch) {
        // The generator writes the table after its ports exist, before it plays.
        const fs::path table = dir / "live.table";
        ASSERT_TRUE(eventually([&] {
            std::error_code ec;
            return fs::file_size(table, ec) == tableRows * sizeof(FinalScratchCodeTable::Row);
        })) << generatorErrors();
        std::string error;
        ASSERT_TRUE(FinalScratchCodeTable::shared().load((dir / "live.table").string(), error)) << error;
    }

    controller = std::make_unique<CaptureController>();
    const std::int16_t index = indexOf(clientName);
    ASSERT_GE(index, 0);
    ASSERT_EQ(controller->getInputChannels(index), c.channels);
    controller->setVinylType(c.vinylType);
    controller->setCalibration(c.calibration);
    ASSERT_TRUE(controller->open(index, static_cast<std::int16_t>(c.channels)));

    // Read as the console does, every 5 ms, until the generator has played its length.
    std::vector<Reading> readings;
    ASSERT_TRUE(eventually([&] {
        readings.push_back({controller->getPosition(), controller->getSpeed(), controller->getTimecodesPerSecond()});
        int status = 0;
        if (::waitpid(generator, &status, WNOHANG) != generator) return false;
        generator = -1;
        return true;
    }));
    EXPECT_EQ(generatorErrors(), "");
    std::this_thread::sleep_for(100ms);  // the last played periods reach the decoder
    const double truthAtEnd = lastTruePosition();
    EXPECT_NEAR(truthAtEnd, startSeconds + lengthSeconds, 1e-6);

    // The decoder reports the last frame read: at most a frame (and a carrier cycle to
    // see its last peak) behind where the record stopped.
    const double position = controller->getPosition();
    EXPECT_LE(position, truthAtEnd + 1e-3);
    EXPECT_GE(position, truthAtEnd - 2 * c.frameSeconds);

    // On the way: positions only within the played stretch and never backwards, speed
    // near 1 once frames are read.
    float previous = 0.0f;
    std::vector<std::int32_t> windows;  // frames per second, one value per closed window
    for (const Reading& r : readings) {
        if (r.position == 0.0f) continue;  // nothing decoded yet
        EXPECT_GE(r.position, startSeconds - c.frameSeconds);
        EXPECT_LE(r.position, truthAtEnd + 1e-3);
        EXPECT_GE(r.position, previous);
        previous = r.position;
        EXPECT_NEAR(r.speed, 1.0, 0.03);
        if (r.timecodesPerSecond != 0 && (windows.empty() || windows.back() != r.timecodesPerSecond))
            windows.push_back(r.timecodesPerSecond);
    }
    // The first window also spans the silence before play and the bits settling; the
    // next ones count every frame (a window closes a little after its second is full).
    ASSERT_GE(windows.size(), 2u);
    EXPECT_LE(windows[0], c.framesPerSecond * 1.04);
    for (std::size_t w = 1; w < windows.size(); ++w)
        EXPECT_NEAR(windows[w], c.framesPerSecond, 0.04 * c.framesPerSecond) << "window " << w;

    // A refused open still resets the decoder: its results start over.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller->open(index, static_cast<std::int16_t>(c.channels + 2)));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(controller->getPosition(), 0.0f);
    EXPECT_EQ(controller->getSpeed(), 1.0f);
#endif
}

INSTANTIATE_TEST_SUITE_P(Capture, LiveDecoding,
                         ::testing::Values(LiveCase{Mixvibes, 2, 1.07f, 22.0 / 3000.0, 3000.0 / 22.0},
                                           LiveCase{FinalScratch, 4, 1.2f, 8.0 / 1200.0, 1200.0 / 8.0}),
                         [](const ::testing::TestParamInfo<LiveCase>& info) {
                             return std::string(info.param.vinylType == FinalScratch ? "FinalScratch" : "Mixvibes") +
                                    "On" + std::to_string(info.param.channels) + "Channels";
                         });

}  // namespace
}  // namespace platora
