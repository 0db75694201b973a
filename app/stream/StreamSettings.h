#pragma once

#include "CaptureController.h"
#include "DecodingMode.h"
#include "ScratchMessages.h"
#include "VinylType.h"

#include <string>
#include <vector>

namespace platora {

// Everything streaming needs, filled by the dialogue's answers or by the command line and
// the configuration file. Plain values only: whoever fills them checks every one, so
// whoever streams them may take them as valid.

inline constexpr unsigned int smallestBufferFrames = 32;
inline constexpr unsigned int largestBufferFrames = 4096;

// One channel pair of the device, decoded by its own decoder and sent to its own port.
struct DeckSettings {
    int pair = 0;  // 0 = channels 1/2, n = channels 2n+1/2n+2
    VinylType vinyl = Mixvibes;
    bool findVinyl = false;     // "auto": the type is found from the signal, starting from vinyl
    int port = defaultOscPort;  // deck i sends to defaultOscPort + i unless given
    // Put before each address ("/deck2" sends /deck2/scratch/pos ...), so that decks can share
    // a port; empty: the addresses as they are. No two decks share a port and a prefix.
    std::string prefix;
};

enum class PreampMode { off, automatic, fixed };
enum class CalibrationSource { typeDefault, saved, value };
enum class SendMode {
    poll,   // the dialogue's cycle: all four messages every 5 ms
    block,  // as soon as a block has been decoded
};
enum class StreamReport {
    dialogue,  // one line when the input is lost and one when it is back
    live,      // a status line per deck: redrawn on a terminal, else one per change of state
    quiet,     // only errors and the line that the input was lost
};

struct StreamSettings {
    std::string device;               // a number from the device list, or a device name
    std::vector<DeckSettings> decks;  // at least one
    std::string host = defaultOscHost;
    bool riaa = false;
    PreampMode preamp = PreampMode::off;
    float preampGain = 1.0f;  // used with PreampMode::fixed
    // saved: the settings file's value, else the vinyl type's default, as in the dialogue.
    CalibrationSource calibration = CalibrationSource::typeDefault;
    float calibrationValue = 0.0f;  // used with CalibrationSource::value; positive, finite
    unsigned int bufferFrames = CaptureController::defaultBufferFrames;
    SendMode send = SendMode::poll;
    bool interpolate = false;
    DecodingMode decoding = defaultDecodingMode;  // every deck's
    bool sendAge = false;                          // a fifth message after the four
    // Each deck's messages as one OSC bundle timed when its block was captured; off: plain
    // messages, one per datagram.
    bool bundle = false;
    StreamReport report = StreamReport::live;
    bool scope = false;  // an X-Y scope beside each deck's live line; on a terminal only
};

}  // namespace platora
