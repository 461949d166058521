#include "shell/frmMain.h"

#include "media/MciControl.h"
#include "platform/windowing/ScreenMetrics.h"
#include "shell/Controls.h"

#include <QCloseEvent>
#include <QCoreApplication>

namespace {

std::function<void()> &exitHandler()
{
    static std::function<void()> handler;
    return handler;
}

} // namespace

void frmMain::Form_Load()
{
    DeviceError = -1;
    setMediaControlsEnabled(false);
    state.PlaybackSpeed = 1000;
    state.SoundState = QStringLiteral("on");

    geometry.setWidth(1070);
    geometry.setHeight(6200);
    const windowing::ScreenMetrics screen = windowing::screenMetrics();
    geometry.setLeft(double(screen.widthTwips) - geometry.width() - 15);
    geometry.setTop((double(screen.heightTwips) - geometry.height()) / 2);

    state.WindowHeightMargin = 20;
    state.RepeatMode = 0;
    state.RewindState = 0;
    state.FastForwardState = 0;
    state.TimeDisplayMode = 1;
    state.RangeFrom = 0;
    state.RangeTo = MediaLength;
}

void frmMain::Form_Unload()
{
    // The poll belongs to the panel: once the panel has gone it must not go on asking a
    // closed device (each failed read would raise the layer's error box).
    Timer1.setEnabled(false);
    closeMedia();
}

void frmMain::Command5_Click()
{
    // The program ends without the unload step: no "Close" from here. A wind running further
    // out must not go on winding while the program winds down.
    ++m_mediaEpoch;
    if (exitHandler())
        exitHandler()();
    else
        QCoreApplication::exit(0);
}

void frmMain::setExitHandler(std::function<void()> handler)
{
    exitHandler() = std::move(handler);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmMain::setMediaControlsEnabled(bool enabled)
{
    const QList<QWidget *> controls = {Command1,  Command2,  Command3,  Command4,  Command6,
                                       Command7,  Command9,  Command10, Command11, Command12,
                                       Command13, Command14, Command15, Command16, Command17,
                                       Command18, Command20, Slider1,   Slider2,   Label1,
                                       Label2};
    for (QWidget *control : controls)
        control->setEnabled(enabled);
}

void frmMain::closeMedia()
{
    mciAVI.setCommand(QStringLiteral("Close"));
    ++m_mediaEpoch;
}
