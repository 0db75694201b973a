#include "InputConditioning.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace platora {

namespace {

// The RIAA filter's coefficients. Without memory only their sum remains; the fourth
// (the unit feedback term) takes no part in it.
constexpr float riaaCoefficients[6] = {0.22758825f, -0.16806448f, -0.040856086f, 1.0f, 1.7160779f, -0.71797f};
static_assert(std::bit_cast<std::uint32_t>(riaaCoefficients[0]) == 0x3E690CE5);
static_assert(std::bit_cast<std::uint32_t>(riaaCoefficients[1]) == 0xBE2C1918);
static_assert(std::bit_cast<std::uint32_t>(riaaCoefficients[2]) == 0xBD2758B6);
static_assert(std::bit_cast<std::uint32_t>(riaaCoefficients[3]) == 0x3F800000);
static_assert(std::bit_cast<std::uint32_t>(riaaCoefficients[4]) == 0x3FDBA871);
static_assert(std::bit_cast<std::uint32_t>(riaaCoefficients[5]) == 0xBF37CCE2);

// Every partial sum is exact in double, so the order of the terms does not matter.
constexpr double riaaCoefficientSum = double(riaaCoefficients[0]) + double(riaaCoefficients[1]) +
                                      double(riaaCoefficients[2]) + double(riaaCoefficients[4]) +
                                      double(riaaCoefficients[5]);
static_assert(riaaCoefficientSum == 1.0167756006121635);

constexpr std::int32_t sampleMin = std::numeric_limits<std::int16_t>::min();
constexpr std::int32_t sampleMax = std::numeric_limits<std::int16_t>::max();

// Wrapping instead would turn a loud crest into a full-scale trough: a false peak.
std::int16_t saturated(std::int32_t value) {
    return static_cast<std::int16_t>(std::clamp(value, sampleMin, sampleMax));
}

void takePair(const std::int16_t* captured, std::int32_t frames, std::int32_t channelCount, std::int32_t pair,
              std::int16_t* stereo) {
    const std::int16_t* left = captured + 2 * pair;
    for (std::int32_t f = 0; f < frames; ++f) {
        const std::int16_t* frame = left + static_cast<std::ptrdiff_t>(channelCount) * f;
        stereo[2 * f] = frame[0];
        stereo[2 * f + 1] = frame[1];
    }
}

void applyRiaa(std::int16_t* samples, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        // The product is rounded to float first, then truncated toward zero.
        const float product = static_cast<float>(samples[i] * riaaCoefficientSum);
        samples[i] = saturated(static_cast<std::int32_t>(product));
    }
}

void applyGain(std::int16_t* samples, std::int32_t count, std::int16_t gain) {
    for (std::int32_t i = 0; i < count; ++i) samples[i] = saturated(std::int32_t{samples[i]} * gain);
}

}  // namespace

void conditionPair(const std::int16_t* captured, std::int32_t frames, std::int32_t channelCount, std::int32_t pair,
                   std::int16_t preampGain, bool riaaEnabled, std::int16_t* stereo) {
    takePair(captured, frames, channelCount, pair, stereo);
    const std::int32_t count = 2 * frames;
    if (riaaEnabled) applyRiaa(stereo, count);
    applyGain(stereo, count, preampGain);
}

}  // namespace platora
