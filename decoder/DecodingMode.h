#pragma once

#include <optional>
#include <string_view>

namespace platora {

// faithful: the decoder's rules exactly as they always were. robust: the same rules behind
// a front end that cleans the signal and a guard that holds back positions no later frame
// confirms.
enum class DecodingMode { faithful, robust };

inline constexpr std::string_view decodingModeName(DecodingMode mode) {
    return mode == DecodingMode::robust ? "robust" : "faithful";
}

inline std::optional<DecodingMode> parseDecodingMode(std::string_view name) {
    if (name == decodingModeName(DecodingMode::faithful)) return DecodingMode::faithful;
    if (name == decodingModeName(DecodingMode::robust)) return DecodingMode::robust;
    return std::nullopt;
}

}  // namespace platora
