// platora-table verify FILE: reports what a FinalScratch code table file holds and
// whether the decoder can use it.
#include "CommandLineConventions.h"
#include "TableVerify.h"

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app("Checks FinalScratch code table files.", "platora-table");
    platora::addVersionFlag(app);
    app.require_subcommand(1);
    platora::VerifyCommand verify;
    CLI::App* verifyApp = app.add_subcommand("verify", "Report what a code table file holds and whether it is usable");
    verifyApp->add_option("FILE", verify.file, "the table file")->required();
    if (const int status = platora::parseCommandLine(app, argc, argv); status != platora::goOn) return status;
    if (verifyApp->parsed()) return platora::runVerify(verify, std::cout, std::cerr);
    return 0;
}
