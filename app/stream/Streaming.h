#pragma once

#include "CaptureController.h"
#include "FinalScratchCodeTable.h"
#include "StreamSettings.h"

#include <string>

namespace platora {

// The program's FinalScratch code table, looked for in the default places the first time a
// deck needs it and handed to every deck. Main thread.
class ProgramCodeTable {
public:
    // Loads the table on the first call only. Returns why FinalScratch positions cannot be
    // decoded (one line, with how to make a table), or nothing once the table is loaded.
    const std::string& load();
    bool lookedFor() const { return tried; }
    // Once loaded: the table's file and its row count, one line for a status.
    std::string inUse() const;
    const FinalScratchCodeTable& table() const { return codeTable; }

private:
    FinalScratchCodeTable codeTable;
    bool tried = false;
    std::string problem;
    std::string usedPath;
};

// Makes the controller's decks what the settings say: pairs, vinyl types, the code table,
// calibration, RIAA, a fixed preamp gain, interpolation and the decoding mode. No stream
// may run. The device must have the channels; main thread.
void prepareDecks(CaptureController& controller, const StreamSettings& settings, const FinalScratchCodeTable& table);

// Streams from the settings until a stop signal. Unless the caller already opened the
// stream on decks it prepared (the dialogue does, for its preamp and calibration steps):
// prepares the decks, loads the code table if a deck needs it, opens the device and raises an
// automatic preamp. Then gives each deck its destination and sends every deck's four messages
// (every 5 ms, or right after each decoded block from a sender thread). A stream that
// stopped, closed or delivered nothing for four buffer periods counts as lost: the decks
// then send speed, timecodes per second and volume 0 with their positions held, every 5 ms,
// while the device is reopened by name about once a second with the same decks. sendAge
// adds each deck's age after its four messages, growing while the input is lost.
// Returns the exit status: 0 after a stop signal, 1 after a failure (the device is missing
// or lacks the channels, the stream cannot open, a host cannot be resolved), told in one
// line on standard error. Main thread; install the stop handler first.
int streamFromSettings(CaptureController& controller, const StreamSettings& settings, ProgramCodeTable& codeTable);

}  // namespace platora
