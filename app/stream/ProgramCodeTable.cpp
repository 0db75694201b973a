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

bool ProgramCodeTable::load(std::string& error) {
    if (!tried) {
        tried = true;
        loaded = codeTable.loadDefault(usedPath, loadError);
        if (!loaded) loadError += codeTableHint();
    }
    if (!loaded) error = loadError;
    return loaded;
}

std::string ProgramCodeTable::inUse() const {
    return "FinalScratch code table " + usedPath + ", " + std::to_string(codeTable.rowCount()) + " rows";
}

}  // namespace platora
