#pragma once

#include <array>
#include <cstdint>

namespace platora {

// What Platora sends for each deck: four messages of one float each, in this order, and
// where they go unless the user says otherwise. A receiver reads them with these same names.

inline constexpr const char* positionAddress = "/scratch/pos";  // seconds into the record
inline constexpr const char* timecodesPerSecondAddress = "/scratch/TPS";
inline constexpr const char* speedAddress = "/scratch/speed";  // percent of nominal, negative backwards
inline constexpr const char* volumeAddress = "/scratch/vol";   // the level, full scale 1.0

inline constexpr double speedPercent = 100.0;    // speed 1.0 is sent as 100
inline constexpr double levelFullScale = 32767.0;  // the level that is sent as volume 1.0

inline constexpr int defaultOscPort = 44444;  // the first deck's; each further deck one more
inline constexpr const char* defaultOscHost = "127.0.0.1";

struct ScratchMessage {
    const char* address;
    float value;
};

// The four messages for a deck's reading, scaled as sent.
inline std::array<ScratchMessage, 4> scratchMessages(float position, float speed, std::int32_t timecodesPerSecond,
                                                     std::int32_t level) {
    return {{{positionAddress, position},
             {timecodesPerSecondAddress, static_cast<float>(timecodesPerSecond)},
             {speedAddress, static_cast<float>(speed * speedPercent)},
             // Times the reciprocal, not divided: the bytes receivers have always had.
             {volumeAddress, static_cast<float>(level * (1.0 / levelFullScale))}}};
}

}  // namespace platora
