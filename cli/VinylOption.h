#pragma once

#include "VinylType.h"

#include <CLI/CLI.hpp>

#include <string>

namespace platora {

// Turns finalscratch or 0, mixvibes or 1 into the vinyl type's number.
inline CLI::Validator vinylType() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (text == "finalscratch" || text == "0") text = std::to_string(FinalScratch);
            else if (text == "mixvibes" || text == "1") text = std::to_string(Mixvibes);
            else return "unknown vinyl type '" + text + "' (finalscratch or 0, mixvibes or 1)";
            return {};
        },
        "");
}

}  // namespace platora
