#pragma once

#include "Deck.h"

namespace platora {

// The automatic software preamp of both front ends. Main thread, while the deck's stream
// runs. Raises the deck's gain in small steps until its level passes about half of full
// scale. Returns false when no signal reached that level before the gain's ceiling or a
// stop signal came; the gain is then put back to 1 rather than left amplifying noise.
bool raiseGainToTarget(Deck& deck);

}  // namespace platora
