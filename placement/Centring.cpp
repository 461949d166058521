#include "placement/Centring.h"

#include "playback/PlayerState.h"

void ComputeCentring(PlayerState &) {}
