// platora-decode: decodes a timecode recording offline, block by block as the audio
// callback would, and prints one CSV row per block.
#include "CommandLineConventions.h"
#include "DecodeFile.h"

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app("Decodes a timecode recording offline and prints one CSV row per block.", "platora-decode");
    platora::addVersionFlag(app);
    platora::DecodeCommand command;
    platora::addDecodeOptions(app, command);
    if (const int status = platora::parseCommandLine(app, argc, argv); status != platora::goOn) return status;
    return platora::runDecode(command, std::cout, std::cerr);
}
