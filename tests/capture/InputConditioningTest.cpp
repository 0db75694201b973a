#include "InputConditioning.h"
#include "TimecodeDecoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace platora {
namespace {

using Samples = std::vector<std::int16_t>;

constexpr std::int16_t unitGain = 1;

// The stereo block the decoder is handed: the first 2 x frames samples after conditioning.
Samples conditioned(Samples buffer, std::int32_t channelCount, std::int16_t gain, bool riaa)
{
    const auto frames = static_cast<std::int32_t>(buffer.size()) / channelCount;
    conditionBlock(buffer.data(), frames, channelCount, gain, riaa);
    buffer.resize(static_cast<std::size_t>(2 * frames));
    return buffer;
}

std::int16_t riaaOf(std::int16_t sample)
{
    return conditioned({sample, 0}, 2, unitGain, true)[0];
}

std::int16_t gained(std::int16_t sample, std::int16_t gain)
{
    return conditioned({sample, 0}, 2, gain, false)[0];
}

TEST(ChannelPair, StereoBufferReachesTheDecoderUnchanged)
{
    const Samples captured = {1, -2, 3, -4, 32767, -32768};
    EXPECT_EQ(conditioned(captured, 2, unitGain, false), captured);
}

TEST(ChannelPair, FourChannelsKeepChannelsTwoAndThreeOfEveryFrame)
{
    const Samples captured = {10, 11, 12, 13, 20, 21, 22, 23};
    EXPECT_EQ(conditioned(captured, 4, unitGain, false), (Samples{12, 13, 22, 23}));
}

TEST(ChannelPair, SixChannelsKeepChannelsFourAndFiveOfEveryFrameOverAnOddFrameCount)
{
    Samples captured;
    for (std::int16_t frame = 0; frame < 5; ++frame)
        for (std::int16_t channel = 0; channel < 6; ++channel) captured.push_back(static_cast<std::int16_t>(100 * frame + channel));
    EXPECT_EQ(conditioned(captured, 6, unitGain, false), (Samples{4, 5, 104, 105, 204, 205, 304, 305, 404, 405}));
}

TEST(ChannelPair, CountsOfTwoOrLessTakeTheBufferAsStereo)
{
    const Samples captured = {7, 8, 9, 10};
    for (std::int32_t count : {2, 1, 0, -1}) {
        Samples buffer = captured;
        conditionBlock(buffer.data(), 2, count, unitGain, false);
        EXPECT_EQ(buffer, captured) << "channel count " << count;
    }
}

TEST(ChannelPair, ExtractionHappensBeforeRiaaAndGainSoOnlyThePairIsScaled)
{
    // Channels 0 and 1 would saturate under gain 3; channels 2 and 3 would not.
    const Samples captured = {30000, -30000, 100, -100, 30000, -30000, 200, -200};
    EXPECT_EQ(conditioned(captured, 4, 3, true), (Samples{303, -303, 609, -609}));
}

TEST(Riaa, ScalesByTheSumOfItsCoefficients)
{
    EXPECT_DOUBLE_EQ(riaaScale, 1.0167756006121635);
    EXPECT_EQ(riaaOf(0), 0);
    EXPECT_EQ(riaaOf(1), 1);
    EXPECT_EQ(riaaOf(-1), -1);
    EXPECT_EQ(riaaOf(100), 101);
    EXPECT_EQ(riaaOf(1000), 1016);
    EXPECT_EQ(riaaOf(10000), 10167);
    EXPECT_EQ(riaaOf(-10000), -10167);
}

TEST(Riaa, RoundsTheProductToFloatBeforeTruncatingIt)
{
    // 31057 x S = 31577.99983 in double; as a float it is 31578.
    EXPECT_EQ(riaaOf(31057), 31578);
    EXPECT_EQ(riaaOf(-29984), -30487);
}

TEST(Riaa, SaturatesInsteadOfWrappingAtBothEnds)
{
    EXPECT_EQ(riaaOf(32227), 32767);   // 32767.6: the largest product that fits
    EXPECT_EQ(riaaOf(32228), 32767);   // 32768.6 would wrap to -32768
    EXPECT_EQ(riaaOf(32767), 32767);   // would wrap to -32220
    EXPECT_EQ(riaaOf(-32228), -32768); // -32768.6 truncates to -32768 and fits
    EXPECT_EQ(riaaOf(-32229), -32768); // -32769.7 would wrap to 32767
    EXPECT_EQ(riaaOf(-32768), -32768); // would wrap to 32219
}

TEST(Riaa, TurnsABlockOfHundredsIntoABlockOf101sOnBothChannels)
{
    const Samples block(2048, 100);
    EXPECT_EQ(conditioned(block, 2, unitGain, true), Samples(2048, 101));
}

TEST(Riaa, OffLeavesSamplesAlone)
{
    EXPECT_EQ(conditioned({32767, -32768, 100, -100}, 2, unitGain, false), (Samples{32767, -32768, 100, -100}));
}

TEST(Gain, MultipliesEverySample)
{
    EXPECT_EQ(gained(16000, 2), 32000);
    EXPECT_EQ(gained(-16000, 2), -32000);
    EXPECT_EQ(gained(123, 1), 123);
    EXPECT_EQ(gained(-7, 5), -35);
}

TEST(Gain, SaturatesInsteadOfWrappingAtBothEnds)
{
    EXPECT_EQ(gained(20000, 2), 32767);   // would wrap to -25536
    EXPECT_EQ(gained(-20000, 2), -32768); // would wrap to 25536
    EXPECT_EQ(gained(16384, 2), 32767);   // 32768 is one past the top
    EXPECT_EQ(gained(-16384, 2), -32768); // exactly the bottom
    EXPECT_EQ(gained(-32768, -1), 32767); // the one negation that does not fit
    EXPECT_EQ(gained(1000, 32767), 32767);
}

TEST(Gain, ZeroSilencesEverySample)
{
    EXPECT_EQ(conditioned({32767, -32768, 1, -1}, 2, 0, true), (Samples{0, 0, 0, 0}));
}

TEST(Gain, ComesAfterRiaa)
{
    // Gain first would give 300 x S = 305.
    EXPECT_EQ(conditioned({100, -100}, 2, 3, true), (Samples{303, -303}));
    // RIAA's saturated 32767 is then gained further into saturation, never wrapped.
    EXPECT_EQ(conditioned({32767, -32768}, 2, 2, true), (Samples{32767, -32768}));
}

class InputCallback : public ::testing::Test {
protected:
    void TearDown() override
    {
        channelCountSetting = initialChannelCount;
        preampGainSetting = initialPreampGain;
        riaaEnabledSetting = false;
    }

    int call(Samples& buffer, unsigned int frames)
    {
        return inputCallback(nullptr, buffer.data(), frames, 0.0, 0, &decoder);
    }

    TimecodeDecoder decoder;
};

TEST_F(InputCallback, HandsTheConditionedPairToTheDecoder)
{
    decoder.reset(44100);
    channelCountSetting = 4;
    preampGainSetting = 2;
    // Channels 0 and 1 are loud; the decoder must see only channels 2 and 3, doubled.
    Samples buffer;
    for (int frame = 0; frame < 1024; ++frame) buffer.insert(buffer.end(), {30000, -30000, 1000, -1500});
    EXPECT_EQ(call(buffer, 1024), 0);
    EXPECT_EQ(decoder.getLevel(), 3000);
}

TEST_F(InputCallback, ReadsTheSettingsAnewForEveryBuffer)
{
    decoder.reset(44100);
    channelCountSetting = 2;
    Samples buffer(2 * 1024, 100);
    call(buffer, 1024);
    EXPECT_EQ(decoder.getLevel(), 100);

    riaaEnabledSetting = true;
    preampGainSetting = 3;
    buffer.assign(2 * 1024, 100);
    call(buffer, 1024);
    EXPECT_EQ(decoder.getLevel(), 303);
}

TEST_F(InputCallback, AlwaysReturnsZeroSoTheStreamGoesOn)
{
    decoder.reset(44100);
    channelCountSetting = 2;
    Samples empty;
    EXPECT_EQ(inputCallback(nullptr, nullptr, 1024, 0.0, 0, &decoder), 0);
    EXPECT_EQ(call(empty, 0), 0);
    Samples loud(2 * 1024, -32768);
    EXPECT_EQ(call(loud, 1024), 0);
    EXPECT_EQ(decoder.getLevel(), 32768);
}

}  // namespace
}  // namespace platora
