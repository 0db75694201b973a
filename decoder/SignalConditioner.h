#pragma once

#include <array>
#include <cstdint>

namespace platora {

// A second-order section (transposed direct form II) for the front end's band limits.
struct Biquad {
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    float s1 = 0.0f, s2 = 0.0f;

    float operator()(float x) {
        const float y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }
    // Butterworth; the state stays, so the band can follow the speed without a click.
    void setHighPass(double cutoffHz, double sampleRate);
    void setLowPass(double cutoffHz, double sampleRate);
    void clearState() { s1 = s2 = 0.0f; }
};

// Cleans a stereo timecode signal before peak finding: removes DC and rumble far below the
// carrier, limits the band above it (both edges follow the speed, so 0.5x to 2x pass),
// cuts clicks back to the level the carrier has, and brings each channel to one level,
// so that the decoder's fixed hysteresis suits quiet and unbalanced inputs alike.
// Bit decisions compare neighbouring peaks of one channel, so a gain that moves slowly
// (tens of ms) leaves them as they are.
// process allocates nothing, locks nothing and may run on the audio thread.
class SignalConditioner {
public:
    static constexpr std::int32_t chunkFrames = 256;
    static constexpr float targetLevel = 20000.0f;  // sample units: the peaks' level once conditioned

    // carrierHz: the carrier at speed 1.
    void reset(double carrierHz, double sampleRate);
    // speed: the decoder's latest estimate; 0 when it does not know (the widest band).
    void followSpeed(float speed);
    // Conditions frames (at most chunkFrames) of interleaved stereo into out.
    void process(const std::int16_t* in, std::int32_t frames, std::int16_t* out);

private:
    struct Channel {
        Biquad highPass[2];  // fourth order: DC and rumble go, the carrier's own low end stays
        Biquad lowPass;
        float envelope = 0.0f;  // the carrier's peak level, decaying slowly
        float gain = 1.0f;
    };
    void tune(float bandSpeed);

    double carrierHz_ = 0.0;
    double sampleRate_ = 0.0;
    float bandSpeed_ = 0.0f;  // the speed the band is tuned for
    float envelopeDecay_ = 1.0f;  // per chunk
    float gainStep_ = 1.0f;       // per sample, towards the target gain
    std::array<Channel, 2> channels_{};
    std::array<float, 2 * chunkFrames> filtered_{};
};

}  // namespace platora
