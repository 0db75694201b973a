#pragma once

#include <cstdint>

namespace platora {

// One detected extremum of one channel.
struct Peak {
    static constexpr std::int32_t trough = 0;
    static constexpr std::int32_t crest = 1;
    static constexpr std::int32_t noBit = -1;

    std::int32_t kind = trough;
    std::int16_t value = 0;
    std::int16_t channel = 0;
    double time = 0.0;  // ms on the decoder's time base; double so long streams keep sample resolution
    std::int32_t bit = noBit;
    bool doubtful = false;  // robust: its level lay close to halfway between the two
};

}  // namespace platora
