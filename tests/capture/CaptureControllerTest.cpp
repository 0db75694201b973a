// Controller behaviour that needs no audio device.
#include "CaptureController.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace platora {
namespace {

class ControllerWithoutDevices : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        // A server name nobody runs: the JACK scan finds nothing even where jackd runs.
        ::setenv("JACK_DEFAULT_SERVER", ("platora-absent-" + std::to_string(::getpid())).c_str(), 1);
#endif
    }
};

TEST_F(ControllerWithoutDevices, AScanThatFindsNothingOrSkipsUnknownApisIsSilentAndRefusesEveryIndex) {
    // RtAudio would fall back to some compiled API if asked for one it lacks.
    for (const auto& apis :
         {std::vector{RtAudio::UNIX_JACK}, std::vector{RtAudio::WINDOWS_ASIO, RtAudio::MACOSX_CORE}}) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        CaptureController controller(apis);
        std::string text = "untouched";
        EXPECT_FALSE(controller.getDescription(0, text));
        EXPECT_FALSE(controller.getDescription(-1, text));
        EXPECT_FALSE(controller.open(0));
        EXPECT_FALSE(controller.open(-1));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(controller.deviceCount(), 0);
        EXPECT_EQ(text, "untouched");
        EXPECT_EQ(controller.findDevice("0"), -1);
        EXPECT_EQ(controller.deviceName(0), "");
    }
}

// The first API lists nothing here: no JACK server of that name, no ASIO in the Windows build.
#ifdef _WIN32
constexpr const char* secondApi = " WINDOWS_DS\n  ";
#else
constexpr const char* secondApi = " LINUX_ALSA\n  ";
#endif

TEST_F(ControllerWithoutDevices, TheFullScanStaysSilentAndListsOnlyDevicesOfTheSecondApiWithTwoInputs) {
    // Where there is no sound card, alsa-lib has plenty to say on stderr while probing.
    testing::internal::CaptureStderr();
    CaptureController controller;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::string text;
    for (std::int32_t i = 0; controller.getDescription(i, text); ++i) {
        EXPECT_NE(text.find(secondApi), std::string::npos) << text;
        EXPECT_GE(controller.getInputChannels(i), 2);
    }
}

}  // namespace
}  // namespace platora
