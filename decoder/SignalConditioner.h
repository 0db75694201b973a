#pragma once

#include <array>
#include <cstdint>

namespace platora {

// A second-order section's coefficients (a0 = 1).
struct SectionCoefficients {
    double b0, b1, b2, a1, a2;
};
// The bilinear transform of a second-order Butterworth section, prewarped at the cutoff
// (kept below Nyquist).
SectionCoefficients butterworth(double cutoffHz, double sampleRate, bool highPass);

// One section run on both channels of a pair at once: in double, which keeps the narrow
// low notches exact, and side by side, which the processor does in one instruction.
// Its zeros lie on the unit circle (b2 = b0), as every section of the front end's does.
struct PairedBiquad {
    double b0 = 1.0, b1 = 0.0, a1 = 0.0, a2 = 0.0;
    double s1[2] = {0.0, 0.0}, s2[2] = {0.0, 0.0};

    void operator()(double (&x)[2]) {
        for (int c = 0; c < 2; ++c) {
            const double scaled = b0 * x[c];
            const double y = scaled + s1[c];
            s1[c] = b1 * x[c] - a1 * y + s2[c];
            s2[c] = scaled - a2 * y;
            x[c] = y;
        }
    }
    void clearState() { s1[0] = s1[1] = s2[0] = s2[1] = 0.0; }
};

// Cleans a stereo timecode signal before peak finding: removes DC and rumble far below the
// carrier and mains hum, limits the band above it (both edges follow the speed, so 0.5x to 2x pass),
// cuts clicks back to the level the carrier has, delays the earlier channel so that the
// two stay a quarter cycle apart, and brings each channel to one level, so that the
// decoder's fixed hysteresis suits quiet and unbalanced inputs alike.
// Bit decisions compare neighbouring peaks of one channel, so a gain that moves slowly
// (tens of ms) leaves them as they are.
// process allocates nothing, locks nothing and may run on the audio thread.
class SignalConditioner {
public:
    static constexpr std::int32_t chunkFrames = 256;
    // The carrier's level, and with it the click cut, is followed this often: in time, so
    // that a needle drop opens the cut as fast whatever the blocks' size.
    static constexpr std::int32_t levelStepFrames = 32;
    static constexpr float targetLevel = 20000.0f;  // sample units: the peaks' level once conditioned
    // The hum a turntable picks up: the mains and its strongest harmonic.
    static constexpr double mainsHz = 50.0;
    static constexpr double humHarmonic = 3.0;

    // carrierHz: the carrier at speed 1; leadingChannel: the channel whose cycle comes
    // first while the record plays forward.
    void reset(double carrierHz, double sampleRate, int leadingChannel);
    // speed: the decoder's latest estimate, signed; 0 when it does not know (the widest band).
    void followSpeed(float speed);
    // Conditions frames (at most chunkFrames) of interleaved stereo into out.
    void process(const std::int16_t* in, std::int32_t frames, std::int16_t* out);

private:
    struct Channel {
        float envelope = 0.0f;  // the carrier's peak level, decaying slowly
        float gain = 1.0f;
    };
    // Each channel's conditioned samples, after the last few of the chunk before: the
    // earlier channel is read that many samples back, between samples.
    static constexpr std::int32_t history = 16;
    struct Filtered {
        std::array<float, history + chunkFrames> samples{};
        float operator()(std::int32_t frame, std::int32_t whole, float fraction) const {
            const float a = samples[history + frame - whole];
            const float b = samples[history + frame - whole - 1];
            return a + (b - a) * fraction;
        }
        void keepHistory(std::int32_t frames);
    };
    void tune(float bandSpeed);
    void measureSkew(std::int32_t frames, const std::array<std::int32_t, 2>& whole,
                     const std::array<float, 2>& fraction);

    double carrierHz_ = 0.0;
    double sampleRate_ = 0.0;
    float bandSpeed_ = 0.0f;   // the speed the band is tuned for
    float speed_ = 0.0f;       // signed, as last followed
    float leaderSign_ = 1.0f;  // how the pair's correlation reads a late second channel
    float skew_ = 0.0f;        // samples
    float largestSkew_ = 0.0f;
    float envelopeDecay_ = 1.0f;  // per level step
    // The gain's approach to its target, (1 - step)^(f + 1) at frame f of a chunk: written
    // out, the frames do not wait on one another.
    std::array<float, chunkFrames> gainApproach_{};
    PairedBiquad highPass_;  // second order: DC and rumble go, the carrier's own low end stays
    PairedBiquad hum_[2];    // the mains and its third harmonic
    bool humNotches_ = false;
    PairedBiquad lowPass_;
    std::array<Channel, 2> channels_{};
    std::array<Filtered, 2> filtered_{};
};

}  // namespace platora
