#include "placement/Centring.h"

#include "media/Catalogue.h"
#include "platform/windowing/ScreenMetrics.h"
#include "playback/PlayerState.h"

#include <cmath>

void ComputeCentring(PlayerState &state)
{
    // Read afresh: a change of display mode between two clicks counts.
    const windowing::ScreenMetrics screen = windowing::screenMetrics();
    const double twipsX = screen.twipsPerPixelX;
    const double twipsY = screen.twipsPerPixelY;
    const double windowHeight = state.VideoHeight + state.WindowHeightMargin;

    state.PutHeightText = Catalogue::plainDecimal(std::llround(windowHeight));
    // Across, the picture alone is centred; down, the whole device window with its margin.
    // floor: toward minus infinity, so a window larger than the screen sticks out evenly.
    state.VideoLeft = std::floor((screen.widthTwips - state.VideoWidth * twipsX) / 2 / twipsX);
    state.VideoTop = std::floor((screen.heightTwips - windowHeight * twipsY) / 2 / twipsY);
}
