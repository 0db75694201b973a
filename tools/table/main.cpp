// platora-table verify FILE: reports what a FinalScratch code table file holds and
// whether the decoder can use it.
// platora-table learn RECORDING... -o TABLE: learns a table from recordings of the record.
#include "CommandLineConventions.h"
#include "StrictNumbers.h"
#include "LearnCommand.h"
#include "TableVerify.h"

#include <iostream>
#include <limits>

namespace {

constexpr int mostPairs = 32;
constexpr double longestRecordSeconds = 100000.0;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Checks FinalScratch code table files and learns them from recordings.", "platora-table");
    platora::addVersionFlag(app);
    app.require_subcommand(1);
    platora::VerifyCommand verify;
    CLI::App* verifyApp = app.add_subcommand("verify", "Report what a code table file holds and whether it is usable");
    verifyApp->add_option("FILE", verify.file, "the table file")->required();

    platora::LearnSettings learn;
    double firstFrameAt = 0.0;
    std::string addTo;
    CLI::App* learnApp = app.add_subcommand(
        "learn", "Learn a code table from recordings of a FinalScratch record played forward (WAV, FLAC, ...)");
    learnApp->add_option("RECORDING", learn.recordings, "recordings, in order; the first places the table")->required();
    learnApp->add_option("-o,--output", learn.output, "the table file to write")->required();
    learnApp->add_option("--pair", learn.pair, "channel pair with the timecode: 0 = channels 1 and 2, 1 = 3 and 4, ...")
        ->check(platora::wholeNumber(0, mostPairs - 1));
    learnApp->add_option("--calibration", learn.calibration, "steady-amplitude ratio of the bit decisions")
        ->check(platora::finiteNumber(1.0, 10.0))
        ->capture_default_str();
    CLI::Option* firstFrameOption =
        learnApp->add_option("--first-frame-at", firstFrameAt, "record seconds of the first recording's first frame")
            ->check(platora::finiteNumber(0.0, longestRecordSeconds));
    CLI::Option* addOption = learnApp->add_option("--add", addTo, "a learned table to extend");
    learnApp
        ->add_option("--units-per-frame", learn.unitsPerFrame,
                     "table values per frame: 294 counts seconds of the record x 44100, 320 is the spacing of the "
                     "original table's rows")
        ->check(platora::wholeNumber(1, std::numeric_limits<int>::max()))
        ->capture_default_str();
    addOption->excludes(firstFrameOption);

    if (const int status = platora::parseCommandLine(app, argc, argv); status != platora::goOn) return status;
    if (verifyApp->parsed()) return platora::runVerify(verify, std::cout, std::cerr);
    if (learnApp->parsed()) {
        if (firstFrameOption->count() > 0) learn.firstFrameAt = firstFrameAt;
        if (addOption->count() > 0) learn.addTo = addTo;
        return platora::runLearn(learn, std::cout, std::cerr);
    }
    return 0;
}
