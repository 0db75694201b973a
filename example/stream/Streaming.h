#pragma once

#include "CaptureController.h"

#include <cstdint>

namespace platora {

enum class StreamReport {
    dialogue,  // one line when the input is lost and one when it is back
    live,      // a status line per deck: redrawn on a terminal, else one per change of state
    quiet,     // only the line that the input was lost
};

struct StreamingChoices {
    std::int16_t deviceIndex = 0;  // the device to reopen when the input is lost
    unsigned int bufferFrames = CaptureController::defaultBufferFrames;
    bool sendPerBlock = false;  // false: every 5 ms
    StreamReport report = StreamReport::dialogue;
};

// Sends every deck's four messages (every 5 ms, or right after each decoded block from a
// sender thread) until stopRequested is set. The stream must be open. A stream that stopped,
// closed or delivered nothing for four buffer periods counts as lost: the decks then send
// speed, timecodes per second and volume 0 with their positions held, every 5 ms, while the
// device is reopened by name about once a second with the same decks. Main thread.
void streamDecks(CaptureController& controller, const StreamingChoices& choices);

}  // namespace platora
