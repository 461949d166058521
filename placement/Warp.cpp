#include "platform/windowing/ScreenMetrics.h"
#include "shell/frmMain.h"

// The warp: a press on the panel's background sends the panel to the screen edge or corner
// that the press lies nearest to. X and Y are panel units; the tests are strict, so the
// bands between the zones move nothing on their axis. Any button warps.

namespace {
constexpr float kLeftZone = 18;
constexpr float kRightZone = 21;
constexpr float kTopZone = 50;
constexpr float kBottomZone = 330;
constexpr float kEdgeGap = 15;     // twips to the left, right and top screen edges
constexpr float kBottomGap = 500;  // twips to the bottom screen edge
} // namespace

void frmMain::Form_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, float X, float Y)
{
    if (X < kLeftZone) {
        geometry.setLeft(kEdgeGap);
    } else if (X > kRightZone) {
        const float width = float(geometry.width());
        const float screenWidth = windowing::screenMetrics().widthTwips;
        geometry.setLeft(screenWidth - width - kEdgeGap);
    }
    if (Y < kTopZone) {
        geometry.setTop(kEdgeGap);
    } else if (Y > kBottomZone) {
        const float height = float(geometry.height());
        const float screenHeight = windowing::screenMetrics().heightTwips;
        geometry.setTop(screenHeight - height - kBottomGap);
    }
}
