#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "shell/Controls.h"
#include "shell/frmMain.h"

// The speed slider and the speed label.

void frmMain::Slider2_Change()
{
    if (DeviceError == -1)
        return;
    state.PlaybackSpeed = qint32(Slider2->value());
    channel.mciExecute(Catalogue::speed(MediaPath, state.PlaybackSpeed));
}

void frmMain::Label2_DblClick()
{
    if (DeviceError == -1)
        return;
    state.PlaybackSpeed = 1000;
    // Set by the program, so the slider does not send the same speed a second time.
    Slider2->setProgramValue(1000);
    channel.mciExecute(Catalogue::speed(MediaPath, state.PlaybackSpeed));
    // Enabling a running timer leaves its rhythm alone.
    Timer1.setEnabled(true);
}
