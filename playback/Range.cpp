#include "shell/frmMain.h"

#include "media/MciControl.h"
#include "shell/Controls.h"

namespace {

// 0 to the length maps onto 6 to 28 panel units, under the position slider.
float markerLeft(qint32 mark, qint32 length)
{
    return float(6 + (double(mark) / double(length)) * 22);
}

} // namespace

void frmMain::Command16_Click()
{
    if (DeviceError == -1)
        return;
    const qint32 P = mciAVI.position();
    if (P >= state.RangeTo)
        return;
    state.RangeFrom = P;
    setControlLeft(Label3, markerLeft(state.RangeFrom, MediaLength));
}

void frmMain::Command18_Click()
{
    if (DeviceError == -1)
        return;
    const qint32 P = mciAVI.position();
    if (P <= state.RangeFrom)
        return;
    state.RangeTo = P;
    setControlLeft(Label4, markerLeft(state.RangeTo, MediaLength));
}

void frmMain::Command17_Click()
{
    if (DeviceError == -1)
        return;
    state.RangeFrom = 0;
    state.RangeTo = MediaLength;
    setControlLeft(Label3, 6);
    setControlLeft(Label4, 28);
}
