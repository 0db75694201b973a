#pragma once

#include <array>
#include <cstdint>

namespace platora {

// What Platora sends for each deck: four messages of one float each, in this order (and,
// when asked, the position's age after them), and where they go unless the user says
// otherwise. A receiver reads them with these same names.

inline constexpr const char* positionAddress = "/scratch/pos";  // seconds into the record
inline constexpr const char* timecodesPerSecondAddress = "/scratch/TPS";
inline constexpr const char* speedAddress = "/scratch/speed";  // percent of nominal, negative backwards
inline constexpr const char* volumeAddress = "/scratch/vol";   // the level, full scale 1.0
// Seconds since a frame last set the position; -1 while none has since the stream started.
inline constexpr const char* ageAddress = "/scratch/age";

inline constexpr double speedPercent = 100.0;      // speed 1.0 is sent as 100
inline constexpr double levelFullScale = 32767.0;  // the level that is sent as volume 1.0
inline constexpr double ageMsPerSecond = 1000.0;   // decks keep the age in ms
inline constexpr float noAge = -1.0f;

inline constexpr int lowestPort = 1;  // the UDP ports a destination may name
inline constexpr int highestPort = 65535;
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

// A deck's age in ms (negative: no frame yet), as sent after the four.
inline ScratchMessage ageMessage(float ageMs) {
    return {ageAddress, ageMs < 0.0f ? noAge : static_cast<float>(ageMs / ageMsPerSecond)};
}

}  // namespace platora
