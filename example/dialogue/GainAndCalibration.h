#pragma once

#include "Deck.h"

namespace platora {

// Both run on the main thread while the input stream is open, and end by themselves.

// Asks for playback, then raises the deck's software preamp until the level passes half
// of full scale. Returns false when no signal reached that level before the gain's ceiling;
// the gain is then put back to 1 rather than left amplifying noise.
bool autoAdjustGain(Deck& deck);

// Sweeps the calibration value for a minute and returns the one that decoded the most
// timecodes per second while the position moved as a playing record's does, after saving
// it to the settings file. When nothing was decoded,
// nothing is saved and valueInForce is returned.
float runCalibration(Deck& deck, float valueInForce);

}  // namespace platora
