#include "Deck.h"
#include "InputConditioning.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace platora {
namespace {

using Samples = std::vector<std::int16_t>;

constexpr std::int16_t unitGain = 1;

// The stereo block the decoder is handed; the last pair unless another is named.
Samples conditioned(const Samples& buffer, std::int32_t channelCount, std::int16_t gain, bool riaa,
                    std::int32_t pair = -1) {
    const auto frames = static_cast<std::int32_t>(buffer.size()) / channelCount;
    Samples stereo(static_cast<std::size_t>(2 * frames), 0x7474);
    conditionPair(buffer.data(), frames, channelCount, pair < 0 ? channelCount / 2 - 1 : pair, gain, riaa,
                  stereo.data());
    return stereo;
}

TEST(ChannelPair, TheChosenTwoChannelsOfEveryFrameReachTheDecoder) {
    const Samples stereo = {1, -2, 3, -4, 32767, -32768};
    EXPECT_EQ(conditioned(stereo, 2, unitGain, false), stereo);
    EXPECT_EQ(conditioned({10, 11, 12, 13, 20, 21, 22, 23}, 4, unitGain, false), (Samples{12, 13, 22, 23}));
    Samples six;  // an odd frame count
    for (std::int16_t frame = 0; frame < 5; ++frame)
        for (std::int16_t channel = 0; channel < 6; ++channel)
            six.push_back(static_cast<std::int16_t>(100 * frame + channel));
    EXPECT_EQ(conditioned(six, 6, unitGain, false), (Samples{4, 5, 104, 105, 204, 205, 304, 305, 404, 405}));
    EXPECT_EQ(conditioned(six, 6, unitGain, false, 0), (Samples{0, 1, 100, 101, 200, 201, 300, 301, 400, 401}));
    EXPECT_EQ(conditioned(six, 6, unitGain, false, 1), (Samples{2, 3, 102, 103, 202, 203, 302, 303, 402, 403}));
}

TEST(Riaa, ScalesByTheCoefficientSumRoundedToFloatThenTruncatedAndSaturates) {
    const std::pair<std::int16_t, std::int16_t> cases[] = {
        {0, 0},           {1, 1},           {-1, -1},       {100, 101}, {1000, 1016},
        {10000, 10167},   {-10000, -10167}, {31057, 31578},  // 31577.99983 in double; as a float it is 31578
        {-29984, -30487}, {32227, 32767},                    // 32767.6: the largest product that fits
        {32228, 32767},                                      // 32768.6 would wrap to -32768
        {32767, 32767},   {-32228, -32768},                  // -32768.6 truncates to -32768 and fits
        {-32229, -32768},                                    // -32769.7 would wrap to 32767
        {-32768, -32768}};
    for (const auto& [in, out] : cases) EXPECT_EQ(conditioned({in, in}, 2, unitGain, true), (Samples{out, out})) << in;
    EXPECT_EQ(conditioned({32767, -32768}, 2, unitGain, false), (Samples{32767, -32768})) << "off";
}

TEST(Gain, MultipliesEverySampleAndSaturatesInsteadOfWrapping) {
    const std::tuple<std::int16_t, std::int16_t, std::int16_t> cases[] = {
        {16000, 2, 32000},   {-7, 5, -35}, {123, 0, 0}, {20000, 2, 32767},  // would wrap to -25536
        {-20000, 2, -32768},                                                // would wrap to 25536
        {16384, 2, 32767},                                                  // 32768 is one past the top
        {-16384, 2, -32768},                                                // exactly the bottom
        {-32768, -1, 32767},                                                // the one negation that does not fit
        {1000, 32767, 32767}};
    for (const auto& [in, gain, out] : cases)
        EXPECT_EQ(conditioned({in, in}, 2, gain, false), (Samples{out, out})) << in << " x " << gain;
}

TEST(Gain, ComesAfterRiaaWhichComesAfterThePairIsTaken) {
    // Gain first would give 300 x S = 305; channels 0 and 1 would saturate under gain 3.
    EXPECT_EQ(conditioned({30000, -30000, 100, -100, 30000, -30000, 200, -200}, 4, 3, true),
              (Samples{303, -303, 609, -609}));
    // RIAA's saturated 32767 is then gained further into saturation, never wrapped.
    EXPECT_EQ(conditioned({32767, -32768}, 2, 2, true), (Samples{32767, -32768}));
}

TEST(Deck, DecodesItsOwnPairWithItsOwnSettingsAndLeavesTheCapturedBufferAsItWas) {
    Samples quad;
    for (int frame = 0; frame < 1024; ++frame) quad.insert(quad.end(), {1000, -1500, 100, -100});
    const Samples captured = quad;
    Samples stereo(2 * 1024);
    Deck first(0), second(1);
    second.setDecoding({FinalScratch, DecodingMode::robust});
    for (Deck* deck : {&first, &second}) deck->reset(44100);
    EXPECT_EQ(first.decoder().decodingMode(), DecodingMode::faithful);
    EXPECT_EQ(second.decoder().decodingMode(), DecodingMode::robust);
    first.setPreampGain(2.7f);
    second.setRiaaEnabled(true);
    second.setPreampGain(3.0f);
    first.process(quad.data(), 1024, 4, stereo.data());
    second.process(quad.data(), 1024, 4, stereo.data());
    EXPECT_EQ(first.getLevel(), 3000);
    EXPECT_EQ(second.getLevel(), 303);
    EXPECT_EQ(quad, captured);
    EXPECT_EQ(second.channelsNeeded(), 4);
}

TEST(Deck, PreampGainIsTruncatedTowardZeroAndKeepsTheLowSixteenBits) {
    Deck deck;
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float infinity = std::numeric_limits<float>::infinity();
    const std::pair<float, std::int16_t> cases[] = {
        {1.5f, 1},         {2.0f, 2},          {0.99f, 0},    {-1.5f, -1},      {-0.99f, 0},
        {32767.9f, 32767}, {32768.0f, -32768}, {65536.0f, 0}, {70000.5f, 4464}, {-32769.0f, 32767},
        {1e12f, 0},        {nan, 0},           {infinity, 0}};
    for (const auto& [gain, stored] : cases) {
        deck.setPreampGain(gain);
        EXPECT_EQ(deck.preampGain(), stored) << "gain " << gain;
    }
}

}  // namespace
}  // namespace platora
