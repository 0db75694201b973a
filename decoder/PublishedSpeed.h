#pragma once

#include "SpeedWindow.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace platora {

// The speed as readers on any thread see it: a value, or the window of an estimate whose
// float sum the reader forms itself. That sum is a chain of 32 dependent additions, which
// would cost the audio thread more than all the rest of a small block; copying the window
// costs little. One writer, the audio thread, which never waits; a reader that overlaps a
// write reads again. Nothing here allocates or locks.
class PublishedSpeed {
public:
    void set(float value) {
        write([&] {
            terms_.store(0, std::memory_order_release);
            value_.store(value, std::memory_order_release);
        });
    }

    // The estimate over n terms of the window as it stands.
    void set(const SpeedWindow& window, int n) {
        write([&] {
            terms_.store(n, std::memory_order_release);
            for (int k = 0; k < n; ++k) window_[k].store(window.term(k, 0), std::memory_order_release);
        });
    }

    float get() const {
        std::array<double, SpeedWindow::length> window;
        int n = 0;
        float value = 0.0f;
        for (;;) {
            const std::uint32_t before = version_.load(std::memory_order_acquire);
            n = terms_.load(std::memory_order_acquire);
            value = value_.load(std::memory_order_acquire);
            for (int k = 0; k < n; ++k) window[k] = window_[k].load(std::memory_order_acquire);
            if (before % 2 == 0 && version_.load(std::memory_order_relaxed) == before) break;
        }
        return n == 0 ? value : SpeedWindow::estimate(n, [&](int k) { return window[k]; });
    }

private:
    // Release stores and acquire loads keep the fields between the two version stores,
    // and a reader's loads between its two version loads, without fences.
    template <class Fields>
    void write(const Fields& storeFields) {
        const std::uint32_t version = version_.load(std::memory_order_relaxed);
        version_.store(version + 1, std::memory_order_relaxed);  // odd: a write is under way
        storeFields();
        version_.store(version + 2, std::memory_order_release);
    }

    std::atomic<std::uint32_t> version_{0};
    std::atomic<int> terms_{0};  // 0: value_ is the speed
    std::atomic<float> value_{1.0f};
    std::array<std::atomic<double>, SpeedWindow::length> window_{};

    static_assert(std::atomic<double>::is_always_lock_free);
};

}  // namespace platora
