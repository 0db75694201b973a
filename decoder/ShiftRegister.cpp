#include "ShiftRegister.h"

#include <array>
#include <iterator>
#include <mutex>

namespace platora {

PositionTable::PositionTable(const ShiftRegisterFormat& format)
    : lowBits_(format.bits - bucketBits), lowMask_((1u << lowBits_) - 1u), starts_((1u << bucketBits) + 1u, 0u) {
    // Two walks around the side: the first counts each bucket, the second fills it.
    std::uint32_t state = format.seed;
    for (std::uint32_t k = 0; k < format.cycles; ++k, state = format.forward(state)) ++starts_[(state >> lowBits_) + 1];
    for (std::size_t b = 1; b < starts_.size(); ++b) starts_[b] += starts_[b - 1];
    entries_.resize(format.cycles);
    std::vector<std::uint32_t> next(starts_.begin(), starts_.end() - 1);
    state = format.seed;
    for (std::uint32_t k = 0; k < format.cycles; ++k, state = format.forward(state))
        entries_[next[state >> lowBits_]++] = (state & lowMask_) << cycleBits | k;
}

std::optional<std::uint32_t> PositionTable::cycleOf(std::uint32_t state) const {
    const std::uint32_t bucket = state >> lowBits_;
    if (bucket + 1 >= starts_.size()) return std::nullopt;
    const std::uint32_t low = state & lowMask_;
    constexpr std::uint32_t cycleMask = (1u << cycleBits) - 1u;
    for (std::uint32_t i = starts_[bucket]; i < starts_[bucket + 1]; ++i)
        if (entries_[i] >> cycleBits == low) return entries_[i] & cycleMask;
    return std::nullopt;
}

const PositionTable* PositionTable::of(std::int32_t type) {
    constexpr std::size_t count = std::size(shiftRegisterFormats);
    static std::array<std::once_flag, count> built;
    static std::array<std::unique_ptr<PositionTable>, count> tables;
    const ShiftRegisterFormat* format = shiftRegisterFormat(type);
    if (format == nullptr) return nullptr;
    const auto index = static_cast<std::size_t>(format - shiftRegisterFormats);
    std::call_once(built[index], [&] { tables[index] = std::make_unique<PositionTable>(*format); });
    return tables[index].get();
}

}  // namespace platora
