#pragma once

#include <cstdint>

namespace platora {

// Turns channel pair `pair` of a captured buffer of `frames` frames of `channelCount`
// interleaved channels into the stereo block the decoder takes (2 x frames samples in
// `stereo`): the pair, then the RIAA correction if on (it has no memory, so it reduces to a
// fixed gain), then the gain. Results beyond 16 bits
// saturate. The pair must lie within the channels. Real-time safe: no allocation, no lock.
void conditionPair(const std::int16_t* captured, std::int32_t frames, std::int32_t channelCount, std::int32_t pair,
                   std::int16_t preampGain, bool riaaEnabled, std::int16_t* stereo);

}  // namespace platora
