#pragma once
// Validators that read numbers strictly (decimal, finite, in range) before CLI11 converts
// them: CLI11's own conversion takes "010" as octal, "-3" as a huge unsigned, "nan" as a number.

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace platora {

// Checks that the value is a decimal whole number from `lowest` to `highest`.
template <class Int>
CLI::Validator wholeNumber(Int lowest, Int highest) {
    return CLI::Validator(
        [lowest, highest](std::string& text) -> std::string {
            Int value{};
            const char* first = text.data() + (text.size() > 1 && text.front() == '+');
            const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
                return "needs a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest) +
                       ", not '" + text + "'";
            text = std::to_string(value);  // what CLI11 converts next, without octal or hex readings
            return {};
        },
        "INT");
}

// Checks that the value is a finite number from `lowest` to `highest`.
inline CLI::Validator finiteNumber(double lowest, double highest) {
    return CLI::Validator(
        [lowest, highest](std::string& text) -> std::string {
            double value = 0.0;
            const char* first = text.data() + (text.size() > 1 && text.front() == '+');
            const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
                value < lowest || value > highest) {
                char range[64];
                std::snprintf(range, sizeof range, "%g to %g", lowest, highest);
                return "needs a number from " + std::string(range) + ", not '" + text + "'";
            }
            return {};
        },
        "NUMBER");
}

}  // namespace platora
