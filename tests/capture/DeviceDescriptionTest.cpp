#include "DeviceDescription.h"

#include <gtest/gtest.h>

#include <string>

namespace platora {
namespace {

RtAudio::DeviceInfo device(std::string name, unsigned int inputChannels, RtAudioFormat formats,
                           std::vector<unsigned int> rates)
{
    RtAudio::DeviceInfo info;
    info.probed = true;
    info.name = std::move(name);
    info.inputChannels = inputChannels;
    info.nativeFormats = formats;
    info.sampleRates = std::move(rates);
    return info;
}

TEST(ApiName, NamesEveryIdentifierOfTheOldTableWhichRtAudioFiveApisMapTo)
{
    const char* names[] = {"UNSPECIFIED", "LINUX_ALSA",  "LINUX_OSS",    "LINUX_JACK",
                           "MACOSX_CORE", "IRIX_AL",     "WINDOWS_ASIO", "WINDOWS_DS"};
    for (std::int32_t id = 1; id <= 7; ++id) EXPECT_EQ(apiName(id), names[id]);
    for (std::int32_t id : {0, 8, -1, 1000}) EXPECT_EQ(apiName(id), "UNSPECIFIED") << id;
    // RtAudio 5 numbers JACK 4 and ALSA 1; the names go by the old numbering.
    const std::pair<RtAudio::Api, const char*> apis[] = {
        {RtAudio::UNIX_JACK, "LINUX_JACK"},       {RtAudio::LINUX_ALSA, "LINUX_ALSA"},
        {RtAudio::LINUX_OSS, "LINUX_OSS"},        {RtAudio::MACOSX_CORE, "MACOSX_CORE"},
        {RtAudio::WINDOWS_ASIO, "WINDOWS_ASIO"},  {RtAudio::WINDOWS_DS, "WINDOWS_DS"},
        {RtAudio::UNSPECIFIED, "UNSPECIFIED"},    {RtAudio::LINUX_PULSE, "UNSPECIFIED"},
        {RtAudio::WINDOWS_WASAPI, "UNSPECIFIED"}, {RtAudio::RTAUDIO_DUMMY, "UNSPECIFIED"}};
    for (const auto& [api, name] : apis) EXPECT_EQ(apiName(apiIdentifier(api)), name) << RtAudio::getApiName(api);
}

TEST(FormatName, NamesTheWidestFormatInTheMaskOrUnknown)
{
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x01, "RTAUDIO_SINT8"},   {0x02, "RTAUDIO_SINT16"},  {0x04, "RTAUDIO_SINT24"}, {0x08, "RTAUDIO_SINT32"},
        {0x10, "RTAUDIO_FLOAT32"}, {0x20, "RTAUDIO_FLOAT64"}, {0x12, "RTAUDIO_FLOAT32"}, {0x06, "RTAUDIO_SINT24"},
        {0x3F, "RTAUDIO_FLOAT64"}, {0x00, "Unknown"},         {0x40, "Unknown"},        {0xFFFFFFC0u, "Unknown"}};
    for (const auto& [mask, name] : cases) EXPECT_EQ(formatName(mask), name) << mask;
}

TEST(Description, PadsTheNameToFortyAndPutsTheDetailsOnAnIndentedSecondLine)
{
    EXPECT_EQ(describeDevice(device("Line In", 2, 0x06, {22050, 44100}), apiId::windowsDs),
              "Line In" + std::string(34, ' ') + "WINDOWS_DS\n  2 input channels | RTAUDIO_SINT24 | highest freq: 44100 hz");
    EXPECT_EQ(describeDevice(device("Mic", 8, 0x40, {8000, 96000}), apiId::linuxAlsa),
              "Mic" + std::string(38, ' ') + "LINUX_ALSA\n  8 input channels |    Unknown | highest freq: 96000 hz");
}

TEST(Description, WritesANameOfFortyOrMoreWholeFollowedByOneSpace)
{
    for (std::size_t length : {40, 41, 5000}) {
        const std::string name(length, 'n');
        EXPECT_EQ(describeDevice(device(name, 2, 0x02, {48000}), apiId::linuxJack),
                  name + " LINUX_JACK\n  2 input channels | RTAUDIO_SINT16 | highest freq: 48000 hz");
    }
}

}  // namespace
}  // namespace platora
