#pragma once

#include "DecodingMode.h"
#include "VinylType.h"

#include <CLI/CLI.hpp>

#include <iosfwd>
#include <optional>
#include <string>

namespace platora {

struct DecodeCommand {
    std::string file;                            // a recording libsndfile reads, at 44100 Hz
    VinylType vinyl = FinalScratch;
    std::string table;                           // empty: the default table, if one is found
    std::optional<float> calibration;          // empty: the vinyl type's usual value; faithful only
    int pair = 0;                              // 0 = channels 1 and 2
    int framesPerBlock = 1024;                 // as the audio callback delivers them
    DecodingMode mode = defaultDecodingMode;  // robust adds the column age (ms) and names the depth
};

// The options, filling `command` as the app parses.
void addDecodeOptions(CLI::App& app, DecodeCommand& command);

// Decodes the file block by block as the audio callback would and prints one CSV row per
// block to `out`; each failure is one line on `err`, and robust mode ends with one line there
// naming the depth it measured. Returns the exit status.
int runDecode(const DecodeCommand& command, std::ostream& out, std::ostream& err);

}  // namespace platora
