// platora-decode: decodes a timecode recording offline, block by block as the audio
// callback would, and prints one CSV row per block.
#include "CommandLineConventions.h"
#include "DecodeFile.h"
#include "FinalScratchCodeTable.h"
#include "StrictNumbers.h"
#include "VinylOption.h"

#include <iostream>

int main(int argc, char** argv) {
    constexpr double highestCalibration = 1e6;
    constexpr int highestPair = 511;  // more channels than any sound file holds
    constexpr int longestBlock = 1 << 20;  // frames
    CLI::App app("Decodes a timecode recording offline and prints one CSV row per block.",
                 "platora-decode");
    platora::addVersionFlag(app);
    platora::DecodeCommand command;
    app.add_option("FILE", command.file, "recording at 44100 Hz, two or more channels")->required();
    app.add_option("--vinyl", command.vinyl, "timecode type")->required()->transform(platora::vinylType());
    app.add_option("--table", command.table,
                   std::string("FinalScratch code table (default: ") + platora::FinalScratchCodeTable::defaultFileName +
                       " if found)");
    app.add_option("--calibration", command.calibration, "calibration (default " + platora::defaultCalibrations() + ")")
        ->check(platora::finiteNumber(0.0, highestCalibration, false));
    app.add_option("--pair", command.pair, "channel pair; 0 = channels 1 and 2")
        ->check(platora::wholeNumber(0, highestPair));
    app.add_option("--block", command.framesPerBlock, "frames per block (default 1024)")
        ->check(platora::wholeNumber(1, longestBlock));
    if (const int status = platora::parseCommandLine(app, argc, argv); status != platora::goOn) return status;
    return platora::runDecode(command, std::cout, std::cerr);
}
