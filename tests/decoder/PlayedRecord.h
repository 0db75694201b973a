#pragma once

#include "TimecodeGenerator.h"

#include <cstdint>
#include <string>

namespace platora::test {

// A record of this type played along a speed profile ("1:1.3,-1") from `start` seconds in.
inline GeneratorSettings playedRecord(VinylType type, const std::string& profile, double start = 5.0) {
    GeneratorSettings settings;
    settings.vinylType = type;
    settings.startPosition = start;
    std::string error;
    settings.profile = SpeedProfile::parse(profile, error).value();
    return settings;
}

}  // namespace platora::test
