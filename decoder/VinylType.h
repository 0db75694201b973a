#pragma once

#include <cstdint>

namespace platora {

// The two timecode formats. The decoder stores any value it is given and
// decodes nothing for values other than these.
enum VinylType : std::int32_t {
    FinalScratch = 0,
    Mixvibes = 1,
};

}  // namespace platora
