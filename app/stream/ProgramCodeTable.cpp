#include "ProgramCodeTable.h"

namespace platora {

namespace {

std::string codeTableHint() {
    return std::string(
               "; to make one, record your record once from start to end (for example arecord -D plughw:1 -f "
               "cd side.wav) and run platora-table learn side.wav -o ") +
           FinalScratchCodeTable::defaultFileName + " (see the README); FinalScratch positions cannot be decoded";
}

}  // namespace

const std::string& ProgramCodeTable::load() {
    if (tried) return problem;
    tried = true;
    std::string error;
    if (!codeTable.loadDefault(usedPath, error)) problem = error + codeTableHint();
    return problem;
}

std::string ProgramCodeTable::inUse() const {
    return "FinalScratch code table " + usedPath + ", " + std::to_string(codeTable.rowCount()) + " rows";
}

}  // namespace platora
