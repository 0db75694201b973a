#pragma once

#include "TimecodeGenerator.h"

#include <string>

namespace platora {

struct GenCommand {
    GeneratorSettings settings;
    std::string output;      // file base or BASE.wav; may be empty with --jack (then no files)
    std::string jackClient;  // non-empty: play live
    double lengthSeconds = 0.0;  // 0 only with --jack: until stopped
    bool rateGiven = false;
    bool help = false;
};

extern const char* const genUsage;

// Parses the arguments; false with `error` set to one line when they are unusable.
bool parseGenCommand(int argc, char** argv, GenCommand& command, std::string& error);

}  // namespace platora
