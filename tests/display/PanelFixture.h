#pragma once

#include "shell/Controls.h"
#include "shell/frmMain.h"
#include "tests/support/FixedScreen.h"
#include "tests/support/RecordingChannel.h"
#include "tests/support/RecordingMessages.h"

#include <gtest/gtest.h>

// The panel after its load step on the fixed 1024 by 768 screen, with recording stand-ins
// for the channel, the control and the message box.
class PanelTest : public ::testing::Test {
protected:
    PanelTest() { form.Form_Load(); }

    // The state an open of a usable video leaves: source size, picture at source size,
    // centred, sliders enabled over the video's length. Nothing is recorded from it.
    void haveVideo(int width = 320, int height = 240, qint32 length = 250)
    {
        form.DeviceError = 0;
        form.MediaPath = path;
        form.MediaLength = length;
        form.state.SourceWidth = width;
        form.state.SourceHeight = height;
        form.state.VideoWidth = width;
        form.state.VideoHeight = height;
        form.state.PutHeightText = QString::number(height + form.state.WindowHeightMargin);
        form.Slider1->setRange(0, length);
        for (QWidget *control : QList<QWidget *>{form.Slider1, form.Slider2, form.Label1,
                                                 form.Label2})
            control->setEnabled(true);
        control.isOpen = true;
        control.mediaLength = length;
        channel.commands.clear();
        control.log.clear();
        control.seeks.clear();
    }

    const QString path = QStringLiteral("/videos/my clip.avi");
    FixedScreen screen;
    RecordingMessages messages;
    RecordingChannel channel;
    RecordingControl control;
    frmMain form{channel, control};
};
