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

TEST(ApiName, NamesEveryIdentifierOfTheTable)
{
    EXPECT_EQ(apiName(1), "LINUX_ALSA");
    EXPECT_EQ(apiName(2), "LINUX_OSS");
    EXPECT_EQ(apiName(3), "LINUX_JACK");
    EXPECT_EQ(apiName(4), "MACOSX_CORE");
    EXPECT_EQ(apiName(5), "IRIX_AL");
    EXPECT_EQ(apiName(6), "WINDOWS_ASIO");
    EXPECT_EQ(apiName(7), "WINDOWS_DS");
}

TEST(ApiName, IdentifiersOutsideTheTableAreUnspecified)
{
    for (std::int32_t id : {0, 8, 9, -1, 1000}) EXPECT_EQ(apiName(id), "UNSPECIFIED") << id;
}

TEST(ApiName, RtAudioFiveApisMapToTheirOldIdentifiers)
{
    // RtAudio 5 numbers JACK 4 and ALSA 1; the names go by the old numbering.
    EXPECT_EQ(apiName(apiIdentifier(RtAudio::UNIX_JACK)), "LINUX_JACK");
    EXPECT_EQ(apiName(apiIdentifier(RtAudio::LINUX_ALSA)), "LINUX_ALSA");
    EXPECT_EQ(apiName(apiIdentifier(RtAudio::LINUX_OSS)), "LINUX_OSS");
    EXPECT_EQ(apiName(apiIdentifier(RtAudio::MACOSX_CORE)), "MACOSX_CORE");
    EXPECT_EQ(apiName(apiIdentifier(RtAudio::WINDOWS_ASIO)), "WINDOWS_ASIO");
    EXPECT_EQ(apiName(apiIdentifier(RtAudio::WINDOWS_DS)), "WINDOWS_DS");
    for (auto api : {RtAudio::UNSPECIFIED, RtAudio::LINUX_PULSE, RtAudio::WINDOWS_WASAPI, RtAudio::RTAUDIO_DUMMY})
        EXPECT_EQ(apiName(apiIdentifier(api)), "UNSPECIFIED") << RtAudio::getApiName(api);
}

TEST(FormatName, NamesTheWidestFormatInTheMask)
{
    EXPECT_EQ(formatName(0x01), "RTAUDIO_SINT8");
    EXPECT_EQ(formatName(0x02), "RTAUDIO_SINT16");
    EXPECT_EQ(formatName(0x04), "RTAUDIO_SINT24");
    EXPECT_EQ(formatName(0x08), "RTAUDIO_SINT32");
    EXPECT_EQ(formatName(0x10), "RTAUDIO_FLOAT32");
    EXPECT_EQ(formatName(0x20), "RTAUDIO_FLOAT64");
    EXPECT_EQ(formatName(0x12), "RTAUDIO_FLOAT32");
    EXPECT_EQ(formatName(0x06), "RTAUDIO_SINT24");
    EXPECT_EQ(formatName(0x3F), "RTAUDIO_FLOAT64");
}

TEST(FormatName, MasksWithoutAKnownBitAreUnknown)
{
    EXPECT_EQ(formatName(0x00), "Unknown");
    EXPECT_EQ(formatName(0x40), "Unknown");
    EXPECT_EQ(formatName(0xFFFFFFC0u), "Unknown");
}

TEST(Description, PadsTheNameToFortyAndPutsTheDetailsOnAnIndentedSecondLine)
{
    const std::string expected = "Line In" + std::string(34, ' ') + "WINDOWS_DS\n"
                                 "  2 input channels | RTAUDIO_SINT24 | highest freq: 44100 hz";
    EXPECT_EQ(describeDevice(device("Line In", 2, 0x06, {22050, 44100}), apiId::windowsDs), expected);
}

TEST(Description, ShowsAJackClientWithItsApiNameAndFloatFormat)
{
    EXPECT_EQ(describeDevice(device("system", 2, RTAUDIO_FLOAT32, {44100}), apiIdentifier(RtAudio::UNIX_JACK)),
              "system" + std::string(35, ' ') + "LINUX_JACK\n"
              "  2 input channels | RTAUDIO_FLOAT32 | highest freq: 44100 hz");
}

TEST(Description, RightAlignsAnUnknownFormatInTenCharacters)
{
    const std::string text = describeDevice(device("Mic", 8, 0x40, {8000, 96000}), apiId::linuxAlsa);
    EXPECT_NE(text.find("\n  8 input channels |    Unknown | highest freq: 96000 hz"), std::string::npos) << text;
}

TEST(Description, WritesALongerNameWholeFollowedByOneSpace)
{
    const std::string name(45, 'n');
    const std::string text = describeDevice(device(name, 2, 0x02, {48000}), apiId::windowsAsio);
    EXPECT_EQ(text.substr(0, text.find('\n')), name + " WINDOWS_ASIO");
}

TEST(Description, ANameFarBeyondAnyFixedBufferIsWrittenWholeAndEndsWithoutALineBreak)
{
    const std::string name(5000, 'x');
    const std::string text = describeDevice(device(name, 2, 0x02, {44100}), apiId::linuxJack);
    EXPECT_EQ(text, name + " LINUX_JACK\n  2 input channels | RTAUDIO_SINT16 | highest freq: 44100 hz");
}

}  // namespace
}  // namespace platora
