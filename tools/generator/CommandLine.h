#pragma once

#include "TimecodeGenerator.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace platora {

struct GenCommand {
    GeneratorSettings settings;
    std::string output;            // file base or BASE.wav; may be empty with --jack (then no files)
    std::string jackClient;        // non-empty: play live
    std::optional<double> length;  // seconds; after completeGenCommand 0 only with --jack: until stopped
    bool loop = false;
    bool rateGiven = false;
    bool depthDrifts = false;  // the depth moves over the length

    double lengthSeconds() const { return length.value_or(0.0); }
};

// The options, filling `command` as the app parses.
void addGenOptions(CLI::App& app, GenCommand& command);

// Checks what depends on several options and fills in the length; false with one line
// saying what is wrong.
bool completeGenCommand(GenCommand& command, std::string& error);

}  // namespace platora
