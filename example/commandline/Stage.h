#pragma once

#include "StageSettings.h"

namespace platora {

// Streams from the settings without asking anything, until a stop signal. Returns the
// exit status: 0 after a stop signal, 1 after a runtime failure (the device is missing, the
// stream cannot open, a host cannot be resolved), which has been told in one line.
// Main thread; installs the stop handler.
int runStage(const StageSettings& settings);

}  // namespace platora
