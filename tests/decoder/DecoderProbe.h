#pragma once

#include "TimecodeDecoder.h"

#include <vector>

namespace platora {

// Reaches the decoder's stages one by one, so each can be tested on its own.
struct TimecodeDecoderProbe {
    TimecodeDecoder& decoder;

    std::size_t historySize() const { return decoder.history.size(); }
    const Peak& entry(std::size_t i) const { return decoder.history[i]; }
    std::int32_t validBitCount() const { return decoder.validBitCount; }
    void setValidBitCount(std::int32_t count) { decoder.validBitCount = count; }
    double timeBase() const { return decoder.timeBase; }
    void setTimeBase(double ms) { decoder.timeBase = ms; }
    std::int32_t channelState(int ch) const { return decoder.channelState[ch]; }
    const Peak& trough(int ch) const { return decoder.trough[ch]; }
    std::int64_t tpsWindowStart() const { return decoder.tpsWindowStart.load(); }
    std::int32_t framesInWindow() const { return decoder.framesInWindow.load(); }
    void setPosition(double seconds) { decoder.setPosition(seconds); }
    void setSpeed(float value) { decoder.speed.set(value); }

    void insertPeak(Peak peak) { decoder.insertPeak(peak); }
    // Stores a peak as it is, without a bit decision or frame decoding.
    void store(const Peak& peak) { decoder.storePeak(peak); }
    void estimateSpeed() {
        decoder.estimateSpeed();
        decoder.publishSpeed(0);
    }
    void decodeFrame() { decoder.decodeFrame(); }
    static bool swingIsSteady(std::int32_t previous, std::int32_t current, double limit) {
        return TimecodeDecoder::swingIsSteady(previous, current, limit);
    }
};

inline Peak makePeak(std::int32_t kind, std::int16_t value, std::int16_t channel, double time = 0.0,
                     std::int32_t bit = Peak::noBit) {
    Peak p;
    p.kind = kind;
    p.value = value;
    p.channel = channel;
    p.time = time;
    p.bit = bit;
    return p;
}

// Stores `count` peaks of a regular run, `intervalMs` apart from startMs on, carrying
// `bits` (oldest first) if given. Phases: 0 leading crest, 1 lagging crest, 2 leading
// trough, 3 lagging trough.
inline void storeRun(TimecodeDecoderProbe& probe, int leadingChannel, std::size_t count, double intervalMs,
                     double startMs = 0.0, std::size_t firstPhase = 0, const std::vector<int>& bits = {}) {
    for (std::size_t j = 0; j < count; ++j) {
        const std::size_t phase = (j + firstPhase) % 4;
        const auto channel = static_cast<std::int16_t>(phase % 2 == 0 ? leadingChannel : 1 - leadingChannel);
        const std::int32_t kind = phase < 2 ? Peak::crest : Peak::trough;
        probe.store(makePeak(kind, kind == Peak::crest ? 10000 : -10000, channel,
                             startMs + static_cast<double>(j) * intervalMs, bits.empty() ? Peak::noBit : bits[j]));
    }
}

}  // namespace platora
