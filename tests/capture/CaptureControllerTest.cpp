// Controller behaviour that needs no audio device.
#include "CaptureController.h"
#include "InputConditioning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <unistd.h>

namespace platora {
namespace {

// Scans nothing at all: for what does not depend on the list.
const std::vector<RtAudio::Api> noApis;

class ControllerWithoutDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A server name nobody runs: the JACK scan finds nothing even where jackd runs.
        const std::string absent = "platora-absent-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", absent.c_str(), 1);
    }

    void TearDown() override
    {
        channelCountSetting = initialChannelCount;
        preampGainSetting = initialPreampGain;
        riaaEnabledSetting = false;
    }
};

TEST_F(ControllerWithoutDevices, ScanningWithoutAJackServerListsNothingAndPrintsNothing)
{
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    CaptureController controller({RtAudio::UNIX_JACK});
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(controller.deviceCount(), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
}

TEST_F(ControllerWithoutDevices, TheFullScanStaysSilentAndListsOnlyAlsaDevicesWithTwoInputs)
{
    // Where there is no sound card, alsa-lib has plenty to say on stderr while probing.
    testing::internal::CaptureStderr();
    CaptureController controller;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    for (std::int32_t i = 0; i < controller.deviceCount(); ++i) {
        std::string text;
        ASSERT_TRUE(controller.getDescription(i, text));
        EXPECT_NE(text.find(" LINUX_ALSA\n  "), std::string::npos) << text;
        EXPECT_GE(controller.getInputChannels(i), 2);
    }
}

TEST_F(ControllerWithoutDevices, AnEmptyListRefusesEveryIndex)
{
    CaptureController controller({RtAudio::UNIX_JACK});
    ASSERT_EQ(controller.deviceCount(), 0);
    std::string text = "untouched";
    EXPECT_FALSE(controller.getDescription(0, text));
    EXPECT_FALSE(controller.getDescription(-1, text));
    EXPECT_EQ(text, "untouched");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(controller.open(0, 2));
    EXPECT_FALSE(controller.open(-1, 2));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ControllerWithoutDevices, ARefusedOpenStillSetsTheChannelCountWhenNoStreamRuns)
{
    CaptureController controller({RtAudio::UNIX_JACK});
    EXPECT_FALSE(controller.open(0, 6));
    EXPECT_EQ(channelCountSetting.load(), 6);
    EXPECT_FALSE(controller.open(0, 2));
    EXPECT_EQ(channelCountSetting.load(), 2);
}

TEST_F(ControllerWithoutDevices, UnknownApisAreSkippedRatherThanReplacedByAnother)
{
    // RtAudio would fall back to some compiled API if asked for one it lacks.
    testing::internal::CaptureStderr();
    CaptureController controller({RtAudio::WINDOWS_ASIO, RtAudio::WINDOWS_DS, RtAudio::MACOSX_CORE});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(controller.deviceCount(), 0);
}

TEST_F(ControllerWithoutDevices, ResultsBeforeAnyStreamAreTheDecodersInitialOnes)
{
    CaptureController controller(noApis);
    EXPECT_EQ(controller.getSpeed(), 1.0f);
    EXPECT_EQ(controller.getPosition(), 0.0f);
    EXPECT_EQ(controller.getTimecodesPerSecond(), 0);
    EXPECT_EQ(controller.getLevel(), 0);
}

TEST_F(ControllerWithoutDevices, PreampGainIsTruncatedTowardZero)
{
    CaptureController controller(noApis);
    const std::pair<float, std::int16_t> cases[] = {
        {1.0f, 1}, {1.5f, 1}, {2.0f, 2}, {2.5f, 2}, {0.99f, 0}, {0.9f, 0}, {-1.5f, -1}, {-2.5f, -2}, {-0.99f, 0}};
    for (const auto& [gain, stored] : cases) {
        controller.setPreampGain(gain);
        EXPECT_EQ(preampGainSetting.load(), stored) << "gain " << gain;
    }
}

TEST_F(ControllerWithoutDevices, PreampGainKeepsTheLowSixteenBitsOfLargeValues)
{
    CaptureController controller(noApis);
    const std::pair<float, std::int16_t> cases[] = {
        {32767.9f, 32767}, {32768.0f, -32768}, {65536.0f, 0}, {70000.5f, 4464}, {-32769.0f, 32767}, {1e12f, 0}};
    for (const auto& [gain, stored] : cases) {
        controller.setPreampGain(gain);
        EXPECT_EQ(preampGainSetting.load(), stored) << "gain " << gain;
    }
    controller.setPreampGain(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(preampGainSetting.load(), 0);
    controller.setPreampGain(std::numeric_limits<float>::infinity());
    EXPECT_EQ(preampGainSetting.load(), 0);
}

TEST_F(ControllerWithoutDevices, RiaaSwitchIsStoredAsGiven)
{
    CaptureController controller(noApis);
    controller.setRiaaEnabled(true);
    EXPECT_TRUE(riaaEnabledSetting.load());
    controller.setRiaaEnabled(false);
    EXPECT_FALSE(riaaEnabledSetting.load());
}

}  // namespace
}  // namespace platora
