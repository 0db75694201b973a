#pragma once
// Validators for numbers in the programs' options. They are read strictly (decimal, finite,
// in range) before CLI11 converts them: CLI11's own conversion takes "010" as octal, "-3"
// as a huge unsigned and "nan" as a number.

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

namespace platora {

// The number `text` spells in decimal, whole, with an optional sign; nothing if it spells
// none or one outside Number's range. Floating-point results are finite.
template <class Number>
std::optional<Number> readNumber(const std::string& text) {
    // from_chars refuses a leading '+'; "+-1" keeps it, so it stays refused.
    const bool plus = text.size() > 1 && text[0] == '+' && text[1] != '-';
    Number value{};
    const auto [end, ec] = std::from_chars(text.data() + plus, text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if constexpr (std::is_floating_point_v<Number>) {
        if (!std::isfinite(value)) return std::nullopt;
    }
    return value;
}

// Checks that the value is a decimal whole number from `lowest` to `highest`.
template <class Int>
CLI::Validator wholeNumber(Int lowest, Int highest) {
    return CLI::Validator(
        [lowest, highest](std::string& text) -> std::string {
            const std::optional<Int> value = readNumber<Int>(text);
            if (!value || *value < lowest || *value > highest)
                return "needs a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest) +
                       ", not '" + text + "'";
            text = std::to_string(*value);  // what CLI11 converts next, without octal or hex readings
            return {};
        },
        "");
}

// Checks that the value is a finite number from `lowest` (or above it, when
// `lowestAllowed` is false) to `highest`.
inline CLI::Validator finiteNumber(double lowest = -std::numeric_limits<double>::max(),
                                   double highest = std::numeric_limits<double>::max(), bool lowestAllowed = true) {
    return CLI::Validator(
        [lowest, highest, lowestAllowed](std::string& text) -> std::string {
            const std::optional<double> value = readNumber<double>(text);
            if (value && *value <= highest && (*value > lowest || (*value == lowest && lowestAllowed))) return {};
            char range[64] = "";
            if (highest < std::numeric_limits<double>::max())
                std::snprintf(range, sizeof range, lowestAllowed ? " from %g to %g" : " above %g and at most %g",
                              lowest, highest);
            return "needs a number" + std::string(range) + ", not '" + text + "'";
        },
        "");
}

}  // namespace platora
