#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace platora {

// Cheap measures of a deck's conditioned signal, from which the main thread tells what is
// wrong with it: each channel's level, how often each channel crosses zero (twice per
// carrier cycle) and how many samples sit at full scale.
//
// Threads: measure runs on the audio thread, once per block. read may be called from any
// thread; the values are relaxed atomics and the counters wrap, so a reader takes
// differences of two readings, which may mix blocks.
class SignalDiagnosis {
public:
    struct Reading {
        std::uint32_t frames = 0;            // frames measured since construction
        std::uint32_t fullScaleSamples = 0;  // samples at either end of the 16-bit range
        std::array<std::uint32_t, 2> crossings{};
        std::array<std::int32_t, 2> level{};  // largest magnitude of each channel in the last block
    };

    // stereo: frames x 2 interleaved samples.
    void measure(const std::int16_t* stereo, std::int32_t frames);
    Reading read() const;

private:
    std::atomic<std::uint32_t> frames{0};
    std::atomic<std::uint32_t> fullScaleSamples{0};
    std::array<std::atomic<std::uint32_t>, 2> crossings{};
    std::array<std::atomic<std::int32_t>, 2> level{};
    // Audio thread only: which side of zero each channel was last seen on (0: not yet).
    std::array<std::int32_t, 2> side{};

    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
};

// The last points of a deck's conditioned signal (left, right), every decimation-th frame,
// for an X-Y scope. capture runs on the audio thread; copy on any other thread may see a
// point of the previous round beside the newest ones, which a drawing cannot tell apart.
class ScopeTap {
public:
    static constexpr std::size_t points = 256;
    static constexpr std::int32_t decimation = 5;  // 256 points span 29 ms at 44.1 kHz

    struct Point {
        std::int16_t left;
        std::int16_t right;
    };

    void capture(const std::int16_t* stereo, std::int32_t frames);
    // The newest `points` points, oldest first.
    std::array<Point, points> copy() const;

private:
    // Both channels of a point in one word, so a point is never torn.
    std::array<std::atomic<std::uint32_t>, points> ring{};
    std::atomic<std::uint32_t> written{0};
    std::int32_t skip = 0;  // audio thread only: frames until the next point
};

}  // namespace platora
