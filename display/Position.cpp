#include "display/TimeText.h"
#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "media/MciControl.h"
#include "shell/Controls.h"
#include "shell/frmMain.h"

// The position poll, the position slider and the time label.

void frmMain::Timer1_Timer()
{
    // No gate: only gated handlers switch the poll on. A device that went away simply reports
    // its position as the control sees it.
    ShowDevicePosition();
}

void frmMain::ShowDevicePosition()
{
    // While the user holds the thumb the poll leaves it alone; the release seeks to where the
    // user put it.
    if (!Slider1->isSliderDown())
        Slider1->setProgramValue(mciAVI.position());
    UpdateTimeLabel();
}

void frmMain::PollOffShowingPosition()
{
    Timer1.setEnabled(false);
    // The device has moved on since the poll's last reading; one more reading leaves the
    // slider and the label on the picture that stays on screen.
    ShowDevicePosition();
}

void frmMain::UpdateTimeLabel()
{
    if (state.TimeDisplayMode == 0) {
        Label1->setText(TimeText::frames(mciAVI.position()));
        return;
    }
    // The device counts in milliseconds only for this one read; every other handler finds it
    // in frames again.
    channel.mciExecute(Catalogue::timeFormatMs(MediaPath));
    Label1->setText(TimeText::seconds(mciAVI.position()));
    channel.mciExecute(Catalogue::timeFormatFrames(MediaPath));
}

void frmMain::Slider1_Change()
{
    if (DeviceError == -1)
        return;
    Timer1.setEnabled(false);
    mciAVI.setTo(qint32(Slider1->value()));
    mciAVI.setCommand(QStringLiteral("seek"));
    // Paused both ways, so the next press of either play button resumes from here.
    state.ForwardPlayState = 2;
    state.ReversePlayState = 2;
    // The slider too: the device may hold another frame than the value the user chose.
    ShowDevicePosition();
}

void frmMain::Label1_DblClick()
{
    if (DeviceError == -1)
        return;
    // The label keeps its text; the next poll tick or slider move shows the other form.
    state.TimeDisplayMode = state.TimeDisplayMode == 0 ? 1 : 0;
}
