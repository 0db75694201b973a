#pragma once

#include <iosfwd>
#include <string>

namespace platora {

struct VerifyCommand {
    std::string file;  // a FinalScratch code table file
};

// Reports to `out` what the table file holds and whether the decoder can use it; a file
// that cannot be read gets one line on `err`. Returns the exit status: 0 when usable.
int runVerify(const VerifyCommand& command, std::ostream& out, std::ostream& err);

}  // namespace platora
