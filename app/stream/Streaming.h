#pragma once

#include "CaptureController.h"
#include "ProgramCodeTable.h"
#include "StreamSettings.h"

#include <string>

namespace platora {

// Makes the controller's decks what the settings say: pairs, vinyl types, the code table,
// calibration, RIAA, a fixed preamp gain, interpolation and the decoding mode. No stream
// may run; main thread.
void prepareDecks(CaptureController& controller, const StreamSettings& settings, const FinalScratchCodeTable& table);

// Prepares the decks as the settings say (pairs, vinyl types, the code table,
// calibration, RIAA, a fixed preamp gain, interpolation, the decoding mode) and opens the
// settings' device for them; the code table is looked for first if a deck needs it, and
// what came of it told on standard output (unless quiet). A running stream stops first.
// False with the line to tell in error on failure (no such device, too few channels, the
// stream did not open). Main thread.
bool openDecks(CaptureController& controller, const StreamSettings& settings, ProgramCodeTable& codeTable,
               std::string& error);

// Streams the decks openDecks opened until a stop signal: applies what may have changed
// since (the calibration), gives each deck its destination and sends every deck's four
// messages (every 5 ms, or right after each decoded block) from a thread of their own. A
// stream that stopped, closed or delivered nothing for four buffer periods counts as lost:
// the decks then send speed, timecodes per second and volume 0 with their positions held,
// every 5 ms, while the device is reopened by name about once a second with the same decks.
// sendAge adds each deck's age after its four messages, growing while the input is lost.
// Returns the exit status: 0 after a stop signal, 1 when a destination cannot be used
// (told in one line on standard error). Main thread; install the stop handler first.
int stream(CaptureController& controller, const StreamSettings& settings);

// A failure told as the program tells them: "platora: LINE" on standard error; returns 1.
int reportFailure(const std::string& line);

}  // namespace platora
