#pragma once

#include "platform/windowing/ScreenMetrics.h"

// Puts the 1024 by 768 screen at 15 twips a pixel in place of the real one for its lifetime.
class FixedScreen {
public:
    explicit FixedScreen(windowing::ScreenMetrics screen = windowing::kScreen1024x768)
    {
        windowing::setFixedScreen(screen);
    }
    ~FixedScreen() { windowing::setFixedScreen(std::nullopt); }
};
