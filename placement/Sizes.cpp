#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "placement/Centring.h"
#include "shell/frmMain.h"

#include <cmath>

// The three sizes of the video window: "L" 1.2 times larger, "S" 1.2 times smaller, "M" the
// source size. Only the width is held to its limit; each axis is rounded down on its own.

namespace {
constexpr double kScaleStep = 1.2;
constexpr double kLargestWidth = 1024;
constexpr double kSmallestWidth = 60;
} // namespace

void frmMain::Command11_Click()
{
    if (DeviceError == -1)
        return;
    if (std::floor(state.VideoWidth * kScaleStep) > kLargestWidth)
        return;
    state.VideoWidth = std::floor(state.VideoWidth * kScaleStep);
    state.VideoHeight = std::floor(state.VideoHeight * kScaleStep);
    CenterVideoWindow();
}

void frmMain::Command12_Click()
{
    if (DeviceError == -1)
        return;
    if (std::floor(state.VideoWidth / kScaleStep) < kSmallestWidth)
        return;
    state.VideoWidth = std::floor(state.VideoWidth / kScaleStep);
    state.VideoHeight = std::floor(state.VideoHeight / kScaleStep);
    CenterVideoWindow();
}

void frmMain::Command20_Click()
{
    if (DeviceError == -1)
        return;
    state.VideoWidth = state.SourceWidth;
    state.VideoHeight = state.SourceHeight;
    CenterVideoWindow();
}

void frmMain::CenterVideoWindow()
{
    ComputeCentring(state);
    channel.mciExecute(Catalogue::putWindow(MediaPath, qint64(state.VideoLeft),
                                            qint64(state.VideoTop), qint64(state.VideoWidth),
                                            state.PutHeightText));
}
