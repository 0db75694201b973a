#include "DeviceDescription.h"

#include <gtest/gtest.h>

#include <string>

namespace platora {
namespace {

RtAudio::DeviceInfo device(std::string name, unsigned int inputChannels, RtAudioFormat formats,
                           std::vector<unsigned int> rates) {
    RtAudio::DeviceInfo info;
    info.probed = true;
    info.name = std::move(name);
    info.inputChannels = inputChannels;
    info.nativeFormats = formats;
    info.sampleRates = std::move(rates);
    return info;
}

// The names go by the old numbering (RtAudio 5 numbers JACK 4 and ALSA 1); anything else is UNSPECIFIED.
TEST(ApiName, EachRtAudioApiGetsItsNameFromTheOldTable) {
    const std::pair<RtAudio::Api, const char*> apis[] = {
        {RtAudio::UNIX_JACK, "LINUX_JACK"},       {RtAudio::LINUX_ALSA, "LINUX_ALSA"},
        {RtAudio::LINUX_OSS, "LINUX_OSS"},        {RtAudio::MACOSX_CORE, "MACOSX_CORE"},
        {RtAudio::WINDOWS_ASIO, "WINDOWS_ASIO"},  {RtAudio::WINDOWS_DS, "WINDOWS_DS"},
        {RtAudio::UNSPECIFIED, "UNSPECIFIED"},    {RtAudio::LINUX_PULSE, "UNSPECIFIED"},
        {RtAudio::WINDOWS_WASAPI, "UNSPECIFIED"}, {RtAudio::RTAUDIO_DUMMY, "UNSPECIFIED"}};
    for (const auto& [api, name] : apis) EXPECT_EQ(apiName(apiIdentifier(api)), name) << RtAudio::getApiName(api);
    for (std::int32_t id : {0, 8, -1}) EXPECT_EQ(apiName(id), "UNSPECIFIED") << id;
}

// The widest format of the mask, padded to the longest name; a name of 40 or more is
// written whole with one space after it.
TEST(Description, PadsTheNameToFortyAndPutsTheDetailsOnAnIndentedSecondLine) {
    const std::string details = " input channels | ";
    const struct {
        std::string name;
        unsigned int channels;
        RtAudioFormat formats;
        std::int32_t api;
        std::string expected;
    } cases[] = {
        {"Line In", 2, 0x06, apiId::windowsDs,
         "Line In" + std::string(34, ' ') + "WINDOWS_DS\n  2" + details + "RTAUDIO_SINT24"},
        {"Mic", 8, 0x40, apiId::linuxAlsa, "Mic" + std::string(38, ' ') + "LINUX_ALSA\n  8" + details + "   Unknown"},
        {"Pad", 2, 0x3F, apiId::linuxAlsa,
         "Pad" + std::string(38, ' ') + "LINUX_ALSA\n  2" + details + "RTAUDIO_FLOAT64"},
        {"Pad", 2, 0x12, apiId::linuxAlsa,
         "Pad" + std::string(38, ' ') + "LINUX_ALSA\n  2" + details + "RTAUDIO_FLOAT32"},
        {"Nil", 2, 0x00, apiId::linuxAlsa, "Nil" + std::string(38, ' ') + "LINUX_ALSA\n  2" + details + "   Unknown"},
        {std::string(40, 'n'), 2, 0x0A, apiId::linuxJack,
         std::string(40, 'n') + " LINUX_JACK\n  2" + details + "RTAUDIO_SINT32"},
        {std::string(5000, 'n'), 2, 0x01, apiId::linuxJack,
         std::string(5000, 'n') + " LINUX_JACK\n  2" + details + "RTAUDIO_SINT8"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describeDevice(device(c.name, c.channels, c.formats, {22050, 44100}), c.api),
                  c.expected + " | highest freq: 44100 hz")
            << c.name.substr(0, 40);
}

}  // namespace
}  // namespace platora
