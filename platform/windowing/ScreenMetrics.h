#pragma once

#include <optional>

namespace windowing {

// The screen as the program's windows see it: its size in twips and how many twips make a
// pixel. Read afresh at every use, so a change of display mode between two clicks counts.
struct ScreenMetrics {
    float widthTwips = 0;
    float heightTwips = 0;
    float twipsPerPixelX = 15;
    float twipsPerPixelY = 15;
};

// The primary screen, or the fixed screen a test has put in its place.
ScreenMetrics screenMetrics();

// Tests: replace the screen by a fixed one; std::nullopt brings the real one back.
void setFixedScreen(std::optional<ScreenMetrics> screen);

// The screen most of the layout figures are worked out on: 1024 by 768 pixels, 15 twips each.
constexpr ScreenMetrics kScreen1024x768{15360, 11520, 15, 15};

} // namespace windowing
