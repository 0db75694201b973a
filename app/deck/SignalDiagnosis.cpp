#include "SignalDiagnosis.h"

#include <algorithm>
#include <cstdlib>

namespace platora {

namespace {

// A crossing must swing past a quarter of the channel's level either side of zero, so the
// low half cycles of the carrier still count and noise at the crossing does not.
constexpr std::int32_t marginDivisor = 4;
constexpr std::int32_t smallestMargin = 8;  // of 32768: no crossings in the dither of a silent input

void addRelaxed(std::atomic<std::uint32_t>& counter, std::uint32_t amount) {
    counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

std::uint32_t packed(std::int16_t left, std::int16_t right) {
    return static_cast<std::uint16_t>(left) | static_cast<std::uint32_t>(static_cast<std::uint16_t>(right)) << 16;
}

}  // namespace

void SignalDiagnosis::measure(const std::int16_t* stereo, std::int32_t frameCount) {
    std::uint32_t atFullScale = 0;
    for (int ch = 0; ch < 2; ++ch) {
        std::int32_t largest = 0;
        for (std::int32_t f = 0; f < frameCount; ++f) {
            const std::int32_t v = stereo[2 * f + ch];
            largest = std::max(largest, std::abs(v));
            atFullScale += v >= 32767 || v <= -32768 ? 1 : 0;
        }
        std::uint32_t crossed = 0;
        std::int32_t s = side[ch];
        const std::int32_t m = std::max(largest / marginDivisor, smallestMargin);
        for (std::int32_t f = 0; f < frameCount; ++f) {
            const std::int32_t v = stereo[2 * f + ch];
            const std::int32_t now = v > m ? 1 : v < -m ? -1 : s;
            crossed += now != s && s != 0 ? 1 : 0;
            s = now;
        }
        side[ch] = s;
        addRelaxed(crossings[ch], crossed);
        level[ch].store(largest, std::memory_order_relaxed);
    }
    addRelaxed(fullScaleSamples, atFullScale);
    addRelaxed(frames, static_cast<std::uint32_t>(frameCount));
}

SignalDiagnosis::Reading SignalDiagnosis::read() const {
    Reading r;
    r.frames = frames.load(std::memory_order_relaxed);
    r.fullScaleSamples = fullScaleSamples.load(std::memory_order_relaxed);
    for (int ch = 0; ch < 2; ++ch) {
        r.crossings[ch] = crossings[ch].load(std::memory_order_relaxed);
        r.level[ch] = level[ch].load(std::memory_order_relaxed);
    }
    return r;
}

void ScopeTap::capture(const std::int16_t* stereo, std::int32_t frameCount) {
    std::uint32_t next = written.load(std::memory_order_relaxed);
    std::int32_t f = skip;
    for (; f < frameCount; f += decimation) {
        ring[next % points].store(packed(stereo[2 * f], stereo[2 * f + 1]), std::memory_order_relaxed);
        ++next;
    }
    skip = f - frameCount;
    written.store(next, std::memory_order_release);
}

std::array<ScopeTap::Point, ScopeTap::points> ScopeTap::copy() const {
    const std::uint32_t end = written.load(std::memory_order_acquire);
    std::array<Point, points> out{};
    for (std::size_t i = 0; i < points; ++i) {
        const std::uint32_t word = ring[(end + i) % points].load(std::memory_order_relaxed);
        out[i] = {static_cast<std::int16_t>(word & 0xFFFFu), static_cast<std::int16_t>(word >> 16)};
    }
    return out;
}

}  // namespace platora
