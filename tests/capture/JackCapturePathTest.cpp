// What the controller relies on from RtAudio's JACK input, checked with real parts: the
// samples arrive bit-exact, and how long a sample takes to reach the decoder's results.
#include "CaptureController.h"
#include "JackPlayer.h"
#include "JackServer.h"

#include <gtest/gtest.h>

#include <RtAudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace platora {
namespace {

using Samples = std::vector<std::int16_t>;
using namespace std::chrono_literals;

constexpr unsigned int periodFrames = test::JackServer::periodFrames;

// Filled on the audio thread; `frames` publishes what has been written.
struct Recording {
    explicit Recording(std::size_t capacityFrames) : samples(2 * capacityFrames) {}
    Samples samples;
    std::atomic<std::size_t> frames{0};

    bool full() const { return frames.load(std::memory_order_acquire) * 2 == samples.size(); }
};

int record(void*, void* input, unsigned int frames, double, RtAudioStreamStatus, void* userData)
{
    auto& recording = *static_cast<Recording*>(userData);
    const std::size_t have = recording.frames.load(std::memory_order_relaxed);
    const std::size_t take = std::min<std::size_t>(frames, recording.samples.size() / 2 - have);
    std::memcpy(recording.samples.data() + 2 * have, input, take * 2 * sizeof(std::int16_t));
    recording.frames.store(have + take, std::memory_order_release);
    return 0;
}

unsigned int rtAudioDeviceNamed(RtAudio& audio, const std::string& name)
{
    for (unsigned int d = 0; d < audio.getDeviceCount(); ++d)
        if (audio.getDeviceInfo(d).name == name) return d;
    return ~0u;
}

using JackCapturePath = test::JackServerTest;

TEST_F(JackCapturePath, EverySixteenBitValueArrivesBitExactAfterOnePeriodOfSilence)
{
    constexpr std::size_t valueCount = 65536;
    Samples played;
    for (std::size_t i = 0; i < valueCount; ++i) {
        const auto value = static_cast<std::int16_t>(static_cast<int>(i) - 32768);
        played.push_back(value);
        played.push_back(static_cast<std::int16_t>(-1 - value));  // the other end of the range
    }
    test::JackPlayer player("rampgen", 2, played, false);
    std::string error;
    ASSERT_TRUE(player.start(error)) << error;

    RtAudio audio(RtAudio::UNIX_JACK);
    audio.showWarnings(false);
    RtAudio::StreamParameters input;
    input.deviceId = rtAudioDeviceNamed(audio, "rampgen");
    input.nChannels = 2;
    unsigned int frames = periodFrames;
    Recording recording(valueCount + 8 * periodFrames);
    audio.openStream(nullptr, &input, RTAUDIO_SINT16, 44100, &frames, &record, &recording);
    audio.startStream();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!recording.full() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    audio.stopStream();
    audio.closeStream();
    ASSERT_TRUE(recording.full());

    const Samples& got = recording.samples;
    const std::size_t lead = static_cast<std::size_t>(
        std::find_if(got.begin(), got.end(), [](std::int16_t s) { return s != 0; }) - got.begin());
    // RtAudio hands the callback the previous JACK cycle's input.
    EXPECT_GE(lead, 2 * periodFrames);
    EXPECT_EQ(lead % (2 * periodFrames), 0u) << "the first played frame starts a buffer";
    ASSERT_LE(lead + played.size(), got.size());
    EXPECT_TRUE(std::equal(played.begin(), played.end(), got.begin() + static_cast<std::ptrdiff_t>(lead)));
}

TEST_F(JackCapturePath, AStepInThePlayedSignalReachesTheLevelOneJackPeriodLater)
{
    constexpr std::size_t stepFrame = 20 * periodFrames;  // the start of a JACK cycle
    constexpr std::int16_t amplitude = 8000;
    Samples played(2 * stepFrame, 0);
    for (int f = 0; f < 44100; ++f) {
        const auto s = static_cast<std::int16_t>((f / 20) % 2 == 0 ? amplitude : -amplitude);
        played.insert(played.end(), {s, s});
    }
    test::JackPlayer player("stepgen", 2, played, false);
    std::string error;
    ASSERT_TRUE(player.start(error)) << error;
    CaptureController controller;
    std::int16_t index = -1;
    for (std::int32_t i = 0; i < controller.deviceCount(); ++i) {
        std::string text;
        if (controller.getDescription(i, text) && text.rfind("stepgen ", 0) == 0) index = static_cast<std::int16_t>(i);
    }
    ASSERT_TRUE(controller.open(index, 2));

    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (controller.getLevel() != amplitude && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50us);
    const jack_time_t seen = player.now();
    const std::uint64_t framesPlayedWhenSeen = player.framesPlayed();
    ASSERT_EQ(controller.getLevel(), amplitude);

    // The block with the step is decoded in the cycle after the one that played it.
    EXPECT_GE(framesPlayedWhenSeen, stepFrame + 2 * periodFrames);
    const double latencyMs = static_cast<double>(seen - player.timeOfFrame(stepFrame)) / 1000.0;
    RecordProperty("latency_ms", std::to_string(latencyMs));
    std::printf("sample entering JACK -> getLevel: %.2f ms (one period is %.2f ms)\n", latencyMs,
                1000.0 * periodFrames / 44100);
}

}  // namespace
}  // namespace platora
