#pragma once

#include "FrameLayout.h"
#include "ShiftRegister.h"
#include "SpeedProfile.h"
#include "StylusFilter.h"
#include "VinylType.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace platora {

enum class AuxSignal { tone, silence };

struct GeneratorSettings {
    VinylType vinylType = Mixvibes;
    std::int32_t sampleRate = nominalSampleRateHz;
    std::int32_t channels = 2;        // 2, or 4 with the timecode on the last two
    AuxSignal aux = AuxSignal::tone;  // what the first two of four channels carry
    double level = 0.8;               // high level as a fraction of full scale
    // High level over low: from depth at the start to endDepth after driftSeconds (0: at once).
    double depth = 2.0;
    double endDepth = 2.0;
    double driftSeconds = 0.0;
    double startPosition = 0.0;       // record seconds at time 0
    SpeedProfile profile;
    double loopSeconds = 0.0;     // > 0: start over from startPosition after this long
    std::optional<double> snrDb;  // white noise against a sine at the high level
    // What a real turntable adds; unset or 0 = none. Levels are against a sine at the high
    // level, as for the noise.
    std::optional<double> humDb{};  // 50 Hz and 150 Hz at equal amplitude, both channels
    double clicksPerSecond = 0.0;   // at random times, on both channels alike
    double clickLevel = 0.5;        // a click's height as a fraction of full scale
    double lowPassHz = 0.0;         // a worn stylus: second-order low-pass
    double imbalance = 1.0;         // gain of the second timecode channel
    double dcFraction = 0.0;        // of full scale, both channels
    double delaySamples = 0.0;      // the second timecode channel this late
    std::uint64_t seed = 1;
    std::uint32_t finalScratchRows = FinalScratchFrames::defaultRowCount;
};

// One point of the ground truth: the state at the frame about to be rendered.
struct ManifestRow {
    std::int64_t frame;  // frames rendered before this point
    double time;         // s since the start
    double position;     // record seconds
    double speed;
};

// Renders a timecode signal block by block. The record position is the start position
// plus the exact integral of the speed profile, evaluated per frame, so blocks of any
// size give the same samples. The carrier phase is position x carrier in cycles; the
// leading channel is cos, the lagging one sin, and each half cycle's amplitude is the
// level of the bit its peak carries. For the shift-register types only the bit channel's
// half cycles of the format's polarity carry a bit, cycle k's from its register state;
// every other half cycle stays at the high level.
// render allocates nothing, takes no lock and may run on a real-time thread.
class TimecodeGenerator {
public:
    static constexpr double fullScale = 32767.0;
    static constexpr double auxToneHz = 440.0;
    static constexpr double auxToneLevel = 0.25;  // of the high level
    static constexpr std::int32_t minSampleRateHz = 8000;
    static constexpr std::int32_t maxSampleRateHz = 384000;

    // Settings are taken as given; check them first with validate.
    explicit TimecodeGenerator(GeneratorSettings settings);

    // Whether the settings are usable; false with one line saying what is wrong.
    static bool validate(const GeneratorSettings& settings, std::string& error);

    // Writes `frames` frames of settings.channels interleaved samples.
    void render(std::int16_t* out, std::size_t frames);

    // The state after `frame` frames; reads only the settings, so any thread may ask
    // while another renders.
    ManifestRow stateAt(std::int64_t frame) const;
    // The state at the frame about to be rendered; same thread as render.
    ManifestRow state() const { return stateAt(framesRendered_); }
    std::int64_t framesRendered() const { return framesRendered_; }
    const GeneratorSettings& settings() const { return settings_; }
    double carrierHz() const { return carrierHz_; }
    double highAmplitude() const { return highAmplitude_; }
    // The bit peak j carries for this generator's type.
    int bitOfPeak(std::int64_t peak) const;

private:
    struct Channel {
        std::int64_t peak;  // the peak whose half cycle we are in
        double amplitude;   // its level
    };

    double positionAt(std::int64_t loopFrame, std::size_t& segmentHint) const;
    double positionAt(double loopFrame, std::size_t& segmentHint) const;
    double degrade(int channel, double value);  // channel 0 or 1 of the timecode pair
    double nextClick();
    double amplitudeOf(Channel& channel, std::int64_t peak);
    double depthNow() const;
    double shiftRegisterLevel(bool onLead, std::int64_t peak);  // of the high level
    int shiftRegisterBit(std::int64_t cycle);
    std::int16_t quantize(double value);

    GeneratorSettings settings_;
    FinalScratchFrames finalScratch_;
    double carrierHz_;
    double highAmplitude_;
    double noiseSigma_ = 0.0;
    std::int32_t leadingChannel_;
    std::int64_t framesRendered_ = 0;
    std::int64_t loopFrame_ = 0;   // frames since the last (re)start of the profile
    std::int64_t loopFrames_ = 0;  // 0 = never start over
    std::size_t segmentHint_ = 0;
    static constexpr std::int64_t noPeak = std::numeric_limits<std::int64_t>::min();
    Channel lead_{noPeak, 0.0};
    Channel lag_{noPeak, 0.0};
    std::mt19937_64 noiseEngine_;
    std::normal_distribution<double> noise_;
    // Clicks draw from their own engine, so adding them leaves a seed's noise as it was.
    std::mt19937_64 clickEngine_;
    std::uniform_real_distribution<double> uniform_;
    double click_ = 0.0;  // the click sounding now, decaying
    double humAmplitude_ = 0.0;
    StylusFilter stylus_[2];
    std::size_t delayedHint_ = 0;
    // Shift-register types: the register's state at a cycle, stepped to the cycle asked for.
    const ShiftRegisterFormat* shiftRegister_ = nullptr;
    std::int64_t registerCycle_ = 0;
    std::uint32_t registerState_ = 0;
};

}  // namespace platora
