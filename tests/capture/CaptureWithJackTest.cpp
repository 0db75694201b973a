// The controller against a real JACK server (dummy back end) and a real JACK client playing.
// The audio thread writes the decoder while these tests read it: run them under TSan too.
#include "CaptureController.h"
#include "InputConditioning.h"
#include "JackPlayer.h"
#include "JackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platora {
namespace {

using Samples = std::vector<std::int16_t>;
using namespace std::chrono_literals;

constexpr auto arrivalTimeout = 10s;  // generous: sanitizer builds on a shared machine

bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + arrivalTimeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A square wave per channel, 20 frames up, 20 down, amplitudes[c] on channel c.
Samples squareWave(const std::vector<std::int16_t>& amplitudes, int frames)
{
    Samples samples;
    for (int f = 0; f < frames; ++f)
        for (std::int16_t amplitude : amplitudes)
            samples.push_back(static_cast<std::int16_t>((f / 20) % 2 == 0 ? amplitude : -amplitude));
    return samples;
}

class CaptureWithJack : public test::JackServerTest {
protected:
    void TearDown() override
    {
        controller.reset();  // the stream goes before what it listens to
        players.clear();
        JackServerTest::TearDown();
        channelCountSetting = initialChannelCount;
        preampGainSetting = initialPreampGain;
        riaaEnabledSetting = false;
    }

    // Players start before the scan: RtAudio lists the JACK clients present at that time.
    test::JackPlayer& play(const std::string& name, int channels, Samples samples, bool loop = true)
    {
        players.push_back(std::make_unique<test::JackPlayer>(name, channels, std::move(samples), loop));
        std::string error;
        EXPECT_TRUE(players.back()->start(error)) << error;
        return *players.back();
    }

    void scan() { controller = std::make_unique<CaptureController>(); }

    // The list index of the device whose description begins with this name; -1 if none.
    std::int16_t indexOf(const std::string& name) const
    {
        for (std::int32_t i = 0; i < controller->deviceCount(); ++i) {
            std::string text;
            if (controller->getDescription(i, text) && text.rfind(name + " ", 0) == 0) return static_cast<std::int16_t>(i);
        }
        return -1;
    }

    bool levelBecomes(std::int32_t level) const
    {
        return eventually([&] { return controller->getLevel() == level; });
    }

    // Input ports of RtAudio's stream clients: two per open two-channel stream.
    int streamPortCount() const
    {
        jack_client_t* probe = jack_client_open("platora-port-probe", JackNoStartServer, nullptr);
        if (probe == nullptr) return -1;
        int count = 0;
        if (const char** ports = jack_get_ports(probe, "^RtApiJack", nullptr, JackPortIsInput)) {
            while (ports[count] != nullptr) ++count;
            jack_free(ports);
        }
        jack_client_close(probe);
        return count;
    }

    std::vector<std::unique_ptr<test::JackPlayer>> players;
    std::unique_ptr<CaptureController> controller;
};

TEST_F(CaptureWithJack, ListsAPlayingClientWithItsNameApiChannelsFormatAndRate)
{
    play("tonegen", 2, squareWave({1000, 1000}, 400));
    play("quadgen", 4, squareWave({1000, 1000, 1000, 1000}, 400));
    scan();

    const std::int16_t stereo = indexOf("tonegen");
    ASSERT_GE(stereo, 0);
    std::string text;
    ASSERT_TRUE(controller->getDescription(stereo, text));
    EXPECT_EQ(text, "tonegen" + std::string(34, ' ') + "LINUX_JACK\n"
                    "  2 input channels | RTAUDIO_FLOAT32 | highest freq: 44100 hz");
    EXPECT_EQ(controller->getInputChannels(stereo), 2);

    const std::int16_t quad = indexOf("quadgen");
    ASSERT_GE(quad, 0);
    EXPECT_EQ(controller->getInputChannels(quad), 4);
    // The server's own capture ports are a device as well, listed before later clients.
    EXPECT_GE(indexOf("system"), 0);
    EXPECT_LT(indexOf("system"), stereo);
}

TEST_F(CaptureWithJack, LeavesOutAClientWithASingleOutputPort)
{
    play("monogen", 1, squareWave({1000}, 400));
    scan();
    EXPECT_EQ(indexOf("monogen"), -1);
    EXPECT_GE(indexOf("system"), 0);
}

TEST_F(CaptureWithJack, OpenDeliversThePlayedSamplesToTheDecoder)
{
    play("tonegen", 2, squareWave({12345, -5000}, 4410));
    scan();
    ASSERT_TRUE(controller->open(indexOf("tonegen"), 2));
    EXPECT_TRUE(levelBecomes(12345)) << "level " << controller->getLevel();
    EXPECT_EQ(channelCountSetting.load(), 2);
}

TEST_F(CaptureWithJack, GainAndRiaaSetWhileStreamingReachTheRunningStream)
{
    play("tonegen", 2, squareWave({10000, 10000}, 4410));
    scan();
    ASSERT_TRUE(controller->open(indexOf("tonegen"), 2));
    ASSERT_TRUE(levelBecomes(10000));
    controller->setPreampGain(2.7f);
    EXPECT_TRUE(levelBecomes(20000)) << "level " << controller->getLevel();
    controller->setRiaaEnabled(true);
    EXPECT_TRUE(levelBecomes(20334)) << "level " << controller->getLevel();
    controller->setPreampGain(4.0f);
    // 10167 x 4 saturates at both ends, so the troughs read -32768; wrapped, the level
    // would be 24868.
    EXPECT_TRUE(levelBecomes(32768)) << "level " << controller->getLevel();
}

TEST_F(CaptureWithJack, AFourChannelStreamDecodesTheLastPair)
{
    play("quadgen", 4, squareWave({20000, 20000, 3000, -2500}, 4410));
    scan();
    ASSERT_TRUE(controller->open(indexOf("quadgen"), 4));
    EXPECT_TRUE(levelBecomes(3000)) << "level " << controller->getLevel();
    EXPECT_EQ(channelCountSetting.load(), 4);
}

TEST_F(CaptureWithJack, MoreChannelsThanTheDeviceHasAreRefusedWithRtAudiosMessage)
{
    play("tonegen", 2, squareWave({7000, 7000}, 4410));
    scan();
    const std::int16_t index = indexOf("tonegen");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller->open(index, 4));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("\nRtApiJack::probeDeviceOpen: requested number of channels (4)", 0), 0u) << err;
    EXPECT_EQ(err.substr(err.size() - 2), "\n\n");
    EXPECT_EQ(streamPortCount(), 0);

    // No stream was left behind: the next open works.
    ASSERT_TRUE(controller->open(index, 2));
    EXPECT_TRUE(levelBecomes(7000));
}

TEST_F(CaptureWithJack, OpenFindsTheListedDeviceAfterAnEarlierOneHasGone)
{
    play("earliergen", 2, squareWave({4000, 4000}, 4410));
    play("latergen", 2, squareWave({8000, 8000}, 4410));
    scan();
    const std::int16_t later = indexOf("latergen");
    const std::int16_t earlier = indexOf("earliergen");
    ASSERT_GE(later, 0);
    ASSERT_LT(earlier, later);
    players.front().reset();  // the devices after it move up by one
    ASSERT_TRUE(controller->open(later, 2));
    EXPECT_TRUE(levelBecomes(8000)) << "level " << controller->getLevel();
}

TEST_F(CaptureWithJack, OpenOfADeviceThatHasGoneFailsWithAMessage)
{
    play("goinggen", 2, squareWave({4000, 4000}, 4410));
    scan();
    const std::int16_t index = indexOf("goinggen");
    ASSERT_GE(index, 0);
    players.clear();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller->open(index, 2));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\"goinggen\" is no longer available"), std::string::npos) << err;
    EXPECT_EQ(streamPortCount(), 0);
}

TEST_F(CaptureWithJack, ASecondOpenReplacesTheFirstStream)
{
    play("tonegen", 2, squareWave({6000, 6000}, 4410));
    play("othergen", 2, squareWave({9000, 9000}, 4410));
    scan();
    ASSERT_TRUE(controller->open(indexOf("tonegen"), 2));
    ASSERT_TRUE(levelBecomes(6000));
    ASSERT_TRUE(controller->open(indexOf("othergen"), 2));
    EXPECT_TRUE(levelBecomes(9000));
    EXPECT_EQ(streamPortCount(), 2) << "the first stream's client must be gone";
    ASSERT_TRUE(controller->open(indexOf("tonegen"), 2));
    EXPECT_TRUE(levelBecomes(6000));
    EXPECT_EQ(streamPortCount(), 2);
}

TEST_F(CaptureWithJack, RefusedIndexesLeaveTheRunningStreamAlone)
{
    play("tonegen", 2, squareWave({5000, 5000}, 4410));
    scan();
    ASSERT_TRUE(controller->open(indexOf("tonegen"), 2));
    ASSERT_TRUE(levelBecomes(5000));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller->open(-1, 6));
    EXPECT_FALSE(controller->open(static_cast<std::int16_t>(controller->deviceCount()), 6));
    EXPECT_FALSE(controller->open(indexOf("tonegen"), 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // Still two channels per frame for the callback, and the stream still runs.
    EXPECT_EQ(channelCountSetting.load(), 2);
    EXPECT_EQ(streamPortCount(), 2);
    controller->setPreampGain(3.0f);
    EXPECT_TRUE(levelBecomes(15000));
}

TEST_F(CaptureWithJack, DestroyingTheControllerClosesItsStream)
{
    play("tonegen", 2, squareWave({5000, 5000}, 4410));
    scan();
    ASSERT_TRUE(controller->open(indexOf("tonegen"), 2));
    ASSERT_TRUE(levelBecomes(5000));
    ASSERT_EQ(streamPortCount(), 2);
    controller.reset();
    EXPECT_EQ(streamPortCount(), 0);
}

TEST_F(CaptureWithJack, DestroyingAfterAFailedOpenOrWithoutOpenLeavesNoStream)
{
    play("tonegen", 2, squareWave({5000, 5000}, 4410));
    scan();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller->open(indexOf("tonegen"), 3));
    testing::internal::GetCapturedStderr();
    controller.reset();
    EXPECT_EQ(streamPortCount(), 0);

    scan();
    controller.reset();
    EXPECT_EQ(streamPortCount(), 0);
}

}  // namespace
}  // namespace platora
