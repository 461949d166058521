#pragma once

struct PlayerState;

// The centring numbers of the device window: PutHeightText, VideoLeft and VideoTop from
// VideoWidth, VideoHeight and WindowHeightMargin, on the screen as it is now. Sends nothing.
void ComputeCentring(PlayerState &state);
