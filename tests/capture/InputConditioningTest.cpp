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

TEST(ChannelPair, TheLastTwoChannelsOfEveryFrameReachTheDecoder)
{
    const Samples stereo = {1, -2, 3, -4, 32767, -32768};
    EXPECT_EQ(conditioned(stereo, 2, unitGain, false), stereo);
    EXPECT_EQ(conditioned({10, 11, 12, 13, 20, 21, 22, 23}, 4, unitGain, false), (Samples{12, 13, 22, 23}));
    Samples six;  // an odd frame count
    for (std::int16_t frame = 0; frame < 5; ++frame)
        for (std::int16_t channel = 0; channel < 6; ++channel) six.push_back(static_cast<std::int16_t>(100 * frame + channel));
    EXPECT_EQ(conditioned(six, 6, unitGain, false), (Samples{4, 5, 104, 105, 204, 205, 304, 305, 404, 405}));
}

TEST(ChannelPair, CountsOfTwoOrLessTakeTheBufferAsStereo)
{
    const Samples captured = {7, 8, 9, 10};
    for (std::int32_t count : {1, 0, -1}) {
        Samples buffer = captured;
        conditionBlock(buffer.data(), 2, count, unitGain, false);
        EXPECT_EQ(buffer, captured) << "channel count " << count;
    }
}

TEST(Riaa, ScalesByTheCoefficientSumRoundedToFloatThenTruncatedAndSaturates)
{
    EXPECT_DOUBLE_EQ(riaaScale, 1.0167756006121635);
    const std::pair<std::int16_t, std::int16_t> cases[] = {
        {0, 0}, {1, 1}, {-1, -1}, {100, 101}, {1000, 1016}, {10000, 10167}, {-10000, -10167},
        {31057, 31578},    // 31577.99983 in double; as a float it is 31578
        {-29984, -30487},
        {32227, 32767},    // 32767.6: the largest product that fits
        {32228, 32767},    // 32768.6 would wrap to -32768
        {32767, 32767},
        {-32228, -32768},  // -32768.6 truncates to -32768 and fits
        {-32229, -32768},  // -32769.7 would wrap to 32767
        {-32768, -32768}};
    for (const auto& [in, out] : cases) EXPECT_EQ(conditioned({in, in}, 2, unitGain, true), (Samples{out, out})) << in;
    EXPECT_EQ(conditioned({32767, -32768}, 2, unitGain, false), (Samples{32767, -32768})) << "off";
}

TEST(Gain, MultipliesEverySampleAndSaturatesInsteadOfWrapping)
{
    const std::tuple<std::int16_t, std::int16_t, std::int16_t> cases[] = {
        {16000, 2, 32000}, {-7, 5, -35},     {123, 0, 0},
        {20000, 2, 32767},     // would wrap to -25536
        {-20000, 2, -32768},   // would wrap to 25536
        {16384, 2, 32767},     // 32768 is one past the top
        {-16384, 2, -32768},   // exactly the bottom
        {-32768, -1, 32767},   // the one negation that does not fit
        {1000, 32767, 32767}};
    for (const auto& [in, gain, out] : cases)
        EXPECT_EQ(conditioned({in, in}, 2, gain, false), (Samples{out, out})) << in << " x " << gain;
}

TEST(Gain, ComesAfterRiaaWhichComesAfterThePairIsTaken)
{
    // Gain first would give 300 x S = 305; channels 0 and 1 would saturate under gain 3.
    EXPECT_EQ(conditioned({30000, -30000, 100, -100, 30000, -30000, 200, -200}, 4, 3, true), (Samples{303, -303, 609, -609}));
    // RIAA's saturated 32767 is then gained further into saturation, never wrapped.
    EXPECT_EQ(conditioned({32767, -32768}, 2, 2, true), (Samples{32767, -32768}));
}

TEST(InputCallback, HandsTheConditionedPairToTheDecoderWithEachBuffersSettingsAndAlwaysReturnsZero)
{
    TimecodeDecoder decoder;
    decoder.reset(44100);
    const auto call = [&](Samples buffer) { return inputCallback(nullptr, buffer.data(), 1024, 0.0, 0, &decoder); };
    channelCountSetting = 4;
    preampGainSetting = 2;
    Samples quad;
    for (int frame = 0; frame < 1024; ++frame) quad.insert(quad.end(), {30000, -30000, 1000, -1500});
    EXPECT_EQ(call(quad), 0);
    EXPECT_EQ(decoder.getLevel(), 3000);

    channelCountSetting = 2;
    riaaEnabledSetting = true;
    preampGainSetting = 3;
    EXPECT_EQ(call(Samples(2 * 1024, 100)), 0);
    EXPECT_EQ(decoder.getLevel(), 303);
    // A return other than zero would stop the stream.
    EXPECT_EQ(inputCallback(nullptr, nullptr, 1024, 0.0, 0, &decoder), 0);
    EXPECT_EQ(inputCallback(nullptr, nullptr, 0, 0.0, 0, &decoder), 0);
    EXPECT_EQ(call(Samples(2 * 1024, -32768)), 0);
    EXPECT_EQ(decoder.getLevel(), 32768);

    channelCountSetting = initialChannelCount;
    preampGainSetting = initialPreampGain;
    riaaEnabledSetting = false;
}

}  // namespace
}  // namespace platora
