#pragma once

#include "SignalConditioner.h"

namespace platora {

// A worn stylus, or a pickup with a narrow band, as the generator plays it: a second-order
// Butterworth low-pass (transposed direct form II) on one channel.
class StylusFilter {
public:
    void setLowPass(double cutoffHz, double sampleRate) {
        const SectionCoefficients c = butterworth(cutoffHz, sampleRate, false);
        b0 = static_cast<float>(c.b0);
        b1 = static_cast<float>(c.b1);
        b2 = static_cast<float>(c.b2);
        a1 = static_cast<float>(c.a1);
        a2 = static_cast<float>(c.a2);
    }

    float operator()(float x) {
        const float y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }

private:
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    float s1 = 0.0f, s2 = 0.0f;
};

}  // namespace platora
