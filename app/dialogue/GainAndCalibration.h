#pragma once

#include "Deck.h"

namespace platora {

// Both run on the main thread while the input stream is open.

// Asks for playback, then sets the deck's software preamp from the signal (GainFollower):
// while there is none it says it waits, and Enter leaves with gain 1; once the gain held for
// a moment it is shown. Returns false when left without a signal.
bool autoAdjustGain(Deck& deck);

// Sweeps the calibration value for a minute and returns the one that decoded the most
// timecodes per second while the position moved as a playing record's does, after saving
// it to the settings file. When nothing was decoded,
// nothing is saved and valueInForce is returned.
float runCalibration(Deck& deck, float valueInForce);

}  // namespace platora
