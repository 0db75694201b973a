#pragma once

#include "VinylType.h"

#include <string>
#include <vector>

namespace platora {

// What streaming without questions needs, filled from the command line and the
// configuration file. Plain values only: reading them checks every one, so whoever runs
// them may take them as valid.

inline constexpr int firstDeckPort = 44444;  // deck i sends to firstDeckPort + i unless given
inline constexpr const char* defaultStageHost = "127.0.0.1";
inline constexpr unsigned int smallestBufferFrames = 32;
inline constexpr unsigned int largestBufferFrames = 4096;
inline constexpr unsigned int defaultBufferFrames = 1024;

// One channel pair of the device, decoded by its own decoder and sent to its own port.
struct DeckSettings {
    int pair = 0;  // 0 = channels 1/2, n = channels 2n+1/2n+2
    VinylType vinyl = Mixvibes;
    int port = firstDeckPort;  // always filled; no two decks share one
};

enum class PreampMode { off, automatic, fixed };
enum class CalibrationSource { typeDefault, saved, value };
enum class SendMode {
    poll,   // the dialogue's cycle: all four messages every 5 ms
    block,  // as soon as a block has been decoded
};

struct StageSettings {
    std::string device;  // a number from the device list, or a device name
    std::vector<DeckSettings> decks;  // at least one
    std::string host = defaultStageHost;
    bool riaa = false;
    PreampMode preamp = PreampMode::off;
    float preampGain = 1.0f;  // used with PreampMode::fixed
    // saved: the settings file's value, else the vinyl type's default, as in the dialogue.
    CalibrationSource calibration = CalibrationSource::typeDefault;
    float calibrationValue = 0.0f;  // used with CalibrationSource::value; positive, finite
    unsigned int bufferFrames = defaultBufferFrames;
    SendMode send = SendMode::poll;
    bool interpolate = false;
    bool quiet = false;
};

}  // namespace platora
