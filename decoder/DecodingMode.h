#pragma once

#include <optional>
#include <string_view>

namespace platora {

// faithful: the frame rules to the letter, for the hosts and recordings that rely on them.
// robust: the same rules behind a front end that cleans the signal, bit decisions against
// the levels the record shows and a guard that holds back positions no later frame confirms.
enum class DecodingMode { faithful, robust };
// What every program decodes with unless told otherwise.
inline constexpr DecodingMode defaultDecodingMode = DecodingMode::robust;

inline constexpr std::string_view decodingModeName(DecodingMode mode) {
    return mode == DecodingMode::robust ? "robust" : "faithful";
}

inline std::optional<DecodingMode> parseDecodingMode(std::string_view name) {
    if (name == decodingModeName(DecodingMode::faithful)) return DecodingMode::faithful;
    if (name == decodingModeName(DecodingMode::robust)) return DecodingMode::robust;
    return std::nullopt;
}

}  // namespace platora
