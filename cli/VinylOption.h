#pragma once

#include "VinylType.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace platora {

// "finalscratch or 0, mixvibes or 1": what a vinyl option takes, for a help text or an error.
inline std::string vinylTypeValues() {
    std::string known;
    for (const VinylFormat& format : vinylFormats)
        known += (known.empty() ? "" : ", ") + std::string(format.optionName) + " or " + std::to_string(format.type);
    return known;
}

// Turns finalscratch or 0, mixvibes or 1 into the vinyl type's number.
inline CLI::Validator vinylType() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (const std::optional<VinylType> type = readVinylType(text)) {
                text = std::to_string(*type);
                return {};
            }
            return "unknown vinyl type '" + text + "' (" + vinylTypeValues() + ")";
        },
        "");
}

// "1.2 FinalScratch, 1.07 Mixvibes": each format's default calibration, for a help text.
inline std::string defaultCalibrations() {
    std::string text;
    for (const VinylFormat& format : vinylFormats) {
        if (format.type > Mixvibes) break;  // the shift-register types learn their levels instead
        char value[32];
        std::snprintf(value, sizeof value, "%g", static_cast<double>(format.defaultCalibration));
        text += (text.empty() ? "" : ", ") + std::string(value) + " " + format.name;
    }
    return text;
}

}  // namespace platora
