#pragma once

#include "Peak.h"
#include "VinylType.h"

#include <array>
#include <cstddef>

namespace platora {

// Newest-first bounded history of peaks in a fixed ring: inserting never allocates.
// Entry 0 is the newest. Every peak is stored twice, capacity slots apart, so that any
// run of entries lies contiguous and reading needs no wrap-around test.
class PeakHistory {
public:
    static constexpr std::size_t capacity = 2 * longestWindowPeaks;

    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }

    // Once an insertion brings the size to `bound` (at most `capacity`), the oldest entry
    // is dropped at once, so between insertions at most bound - 1 entries are held.
    void insert(const Peak& peak, std::size_t bound) {
        newest_ = newest_ == 0 ? capacity - 1 : newest_ - 1;
        ring_[newest_] = peak;
        ring_[newest_ + capacity] = peak;
        ++size_;
        const std::size_t limit = bound < capacity ? bound : capacity;
        if (limit > 0 && size_ >= limit) size_ = limit - 1;
    }

    // i < size(); entry 0 is the newest.
    const Peak& operator[](std::size_t i) const { return ring_[newest_ + i]; }

private:
    std::array<Peak, 2 * capacity> ring_{};
    std::size_t newest_ = 0;
    std::size_t size_ = 0;
};

}  // namespace platora
