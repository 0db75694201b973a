#pragma once


#include <cstdint>
#include <optional>
#include <string_view>

namespace platora {

// The two timecode formats. The decoder stores any value it is given and
// decodes nothing for values other than these.
enum VinylType : std::int32_t {
    FinalScratch = 0,
    Mixvibes = 1,
};

// What the programs call each format: its name on screen, the word that names it in options
// and settings files (its number works there too), the calibration faithful mode decodes it
// best with unless the user found a better one (robust mode finds the record's levels itself
// and ignores the value), and its carrier at nominal speed.
struct VinylFormat {
    VinylType type;
    const char* name;
    const char* optionName;
    float defaultCalibration;
    double carrierHz;
};

inline constexpr VinylFormat vinylFormats[] = {
    {FinalScratch, "FinalScratch", "finalscratch", 1.2f, 1200.0},
    {Mixvibes, "Mixvibes", "mixvibes", 1.07f, 3000.0},
};

// Any other value is taken as Mixvibes, as the decoder takes it for everything but FinalScratch.
constexpr const VinylFormat& vinylFormat(VinylType type) { return vinylFormats[type == FinalScratch ? 0 : 1]; }

// "finalscratch" or "0", "mixvibes" or "1"; nothing for any other text.
inline std::optional<VinylType> readVinylType(std::string_view text) {
    for (const VinylFormat& format : vinylFormats) {
        if (text == format.optionName || (text.size() == 1 && text[0] == '0' + format.type)) return format.type;
    }
    return std::nullopt;
}

}  // namespace platora
