#pragma once

#include "FinalScratchCodeTable.h"

#include <string>

namespace platora {

// The program's FinalScratch code table, looked for in the default places the first time a
// deck needs it and handed to every deck. Main thread.
class ProgramCodeTable {
public:
    // Loads the table on the first call only. Every call: whether the table is loaded; false
    // with why FinalScratch positions cannot be decoded (one line, with how to make a table).
    bool load(std::string& error);
    bool lookedFor() const { return tried; }
    // Once loaded: the table's file and its row count, one line for a status.
    std::string inUse() const;
    const FinalScratchCodeTable& table() const { return codeTable; }

private:
    FinalScratchCodeTable codeTable;
    bool tried = false;
    bool loaded = false;
    std::string loadError;
    std::string usedPath;
};

}  // namespace platora
