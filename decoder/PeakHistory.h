#pragma once

#include "Peak.h"

#include <array>
#include <cstddef>

namespace platora {

// Newest-first bounded history of peaks in a fixed ring: inserting never allocates.
// Entry 0 is the newest. Once an insertion brings the size to `bound`, the oldest
// entry is dropped at once, so between insertions at most bound - 1 entries are held.
class PeakHistory {
public:
    static constexpr std::size_t capacity = 2 * 91;

    // bound is 2 x frame length, at most `capacity`; changing it empties the history.
    void setBound(std::size_t bound) {
        bound_ = bound < capacity ? bound : capacity;
        clear();
    }
    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }

    void insert(const Peak& peak) {
        newest_ = newest_ == 0 ? capacity - 1 : newest_ - 1;
        ring_[newest_] = peak;
        if (size_ < capacity) ++size_;
        if (size_ >= bound_) size_ = bound_ - 1;
    }

    // i < size(); entry 0 is the newest.
    const Peak& operator[](std::size_t i) const {
        std::size_t slot = newest_ + i;
        return ring_[slot < capacity ? slot : slot - capacity];
    }

private:
    std::array<Peak, capacity> ring_{};
    std::size_t newest_ = 0;
    std::size_t size_ = 0;
    std::size_t bound_ = capacity;
};

}  // namespace platora
