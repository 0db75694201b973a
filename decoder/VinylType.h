#pragma once


#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platora {

// The timecode formats. The decoder stores any value it is given and decodes nothing for
// values other than these. From SeratoA on, each cycle carries a shift register's bit
// (ShiftRegister.h); the numbers are those of the vinyl menu and the settings.
enum VinylType : std::int32_t {
    FinalScratch = 0,
    Mixvibes = 1,
    SeratoA = 2,
    SeratoB = 3,
    SeratoCd = 4,
    TraktorA = 5,
    TraktorB = 6,
    MixvibesV2 = 7,
    Mixvibes7Inch = 8,
    PioneerA = 9,
    PioneerB = 10,
};

inline constexpr int leftChannel = 0;
inline constexpr int rightChannel = 1;

// The rate the programs capture at, and the one FinalScratch code tables count samples at.
inline constexpr std::int32_t nominalSampleRateHz = 44100;
// Every carrier cycle has a crest and a trough on each of the two channels.
inline constexpr int peaksPerCycle = 4;

// Everything the programs know of a format: its name on screen, the word that names it in
// options and settings files (its number works there too), the calibration faithful mode
// decodes it best with unless the user found a better one (robust mode finds the record's
// levels itself and ignores the value), its carrier at nominal speed, the channel whose
// cycle comes first on a record played forward and, for the frame formats, the peaks a
// frame's window holds and the carrier cycles from one frame to the next (0 for the
// shift-register formats, whose every cycle is a frame of its own).
struct VinylFormat {
    VinylType type;
    const char* name;
    const char* optionName;
    float defaultCalibration;
    double carrierHz;
    int leadingChannel;
    std::uint16_t windowPeaks;
    int frameCycles;

    // One frame and one peak on the record, in float as the frame rules compute them.
    constexpr double frameSeconds() const { return static_cast<float>(frameCycles / carrierHz); }
    constexpr double stepSeconds() const { return static_cast<float>(1.0 / (peaksPerCycle * carrierHz)); }
    constexpr double framesPerSecond() const { return carrierHz / frameCycles; }  // at speed 1
};

inline constexpr VinylFormat vinylFormats[] = {
    {FinalScratch, "FinalScratch", "finalscratch", 1.2f, 1200.0, rightChannel, 32, 8},
    {Mixvibes, "Mixvibes", "mixvibes", 1.07f, 3000.0, leftChannel, 91, 22},
    // Calibration plays no part in these: their bit threshold learns the record's two levels.
    {SeratoA, "Serato A", "serato-a", 1.2f, 1000.0, rightChannel, 0, 0},
    {SeratoB, "Serato B", "serato-b", 1.2f, 1000.0, rightChannel, 0, 0},
    {SeratoCd, "Serato CD", "serato-cd", 1.2f, 1000.0, rightChannel, 0, 0},
    {TraktorA, "Traktor A", "traktor-a", 1.2f, 2000.0, rightChannel, 0, 0},
    {TraktorB, "Traktor B", "traktor-b", 1.2f, 2000.0, rightChannel, 0, 0},
    {MixvibesV2, "Mixvibes V2", "mixvibes-v2", 1.2f, 1300.0, leftChannel, 0, 0},
    {Mixvibes7Inch, "Mixvibes 7\"", "mixvibes-7inch", 1.2f, 1300.0, leftChannel, 0, 0},
    {PioneerA, "Pioneer A", "pioneer-a", 1.2f, 1000.0, rightChannel, 0, 0},
    {PioneerB, "Pioneer B", "pioneer-b", 1.2f, 1000.0, rightChannel, 0, 0},
};
inline constexpr std::int32_t vinylTypeCount = sizeof vinylFormats / sizeof vinylFormats[0];

inline constexpr std::uint16_t longestWindowPeaks = [] {
    std::uint16_t longest = 0;
    for (const VinylFormat& format : vinylFormats) longest = format.windowPeaks > longest ? format.windowPeaks : longest;
    return longest;
}();

// Any other value is taken as Mixvibes, as the decoder takes it for everything but FinalScratch.
constexpr const VinylFormat& vinylFormat(VinylType type) {
    return vinylFormats[type >= 0 && type < vinylTypeCount ? type : Mixvibes];
}

// A format's option name or its number ("finalscratch" or "0", "serato-a" or "2"); nothing for any other text.
inline std::optional<VinylType> readVinylType(std::string_view text) {
    for (const VinylFormat& format : vinylFormats) {
        if (text == format.optionName || text == std::to_string(format.type)) return format.type;
    }
    return std::nullopt;
}

}  // namespace platora
