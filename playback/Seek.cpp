#include "shell/frmMain.h"

#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "media/MciControl.h"
#include "platform/windowing/EventPump.h"

#include <QPointer>

#include <algorithm>

void frmMain::Command3_Click()
{
    if (DeviceError == -1)
        return;
    Timer1.setEnabled(true);
    mciAVI.setTo(0);
    mciAVI.setCommand(QStringLiteral("seek"));
    state.ForwardPlayState = 0;
    state.ReversePlayState = 0;
}

void frmMain::Command4_Click()
{
    if (DeviceError == -1)
        return;
    Timer1.setEnabled(true);
    mciAVI.setTo(MediaLength);
    mciAVI.setCommand(QStringLiteral("seek"));
    state.ForwardPlayState = 0;
    state.ReversePlayState = 0;
}

void frmMain::Command9_Click()
{
    StepFrames(1);
}

void frmMain::Command10_Click()
{
    StepFrames(-1);
}

void frmMain::StepFrames(qint32 frames)
{
    if (DeviceError == -1)
        return;
    Timer1.setEnabled(true);
    const qint32 P = mciAVI.position();
    if (frames > 0 ? P >= MediaLength : P <= 0)
        return;
    mciAVI.setTo(qint32(std::clamp<qint64>(qint64(P) + frames, 0, MediaLength)));
    mciAVI.setCommand(QStringLiteral("seek"));
    state.ForwardPlayState = 2;
    state.ReversePlayState = 2;
}

// The winds. The first press winds in steps of 10 frames and lets every other handler run
// between two steps; a second press of the same button, handled inside that pump, asks the
// running wind to stop. The pump may also open another video, close the panel or delete it:
// the wind then stops without touching the form again.

template <typename WindState>
void frmMain::Wind(WindState &windState, int step)
{
    if (DeviceError == -1)
        return;
    Timer1.setEnabled(true);
    if (windState == 0) {
        windState = 1;
        const quint64 epoch = m_mediaEpoch;
        const QPointer<frmMain> self(this);
        // Wider than the positions, so that a step past the last frame cannot overflow.
        qint64 C = mciAVI.position();
        while (step > 0 ? C <= MediaLength : C > 0) {
            mciAVI.setTo(qint32(C));
            mciAVI.setCommand(QStringLiteral("seek"));
            windowing::doEvents();
            if (!self)
                return;
            if (m_mediaEpoch != epoch) {
                windState = 0;
                return;
            }
            if (windState == 2)
                break;
            C = C + step;
        }
        windState = 0;
        // A wind ends between two poll readings: the label shows the frame it ended on.
        ShowDevicePosition();
    } else {
        windState = 2;
        channel.mciExecute(Catalogue::pause(MediaPath));
        state.ForwardPlayState = 2;
        state.ReversePlayState = 2;
    }
}

void frmMain::Command6_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, float, float)
{
    Wind(state.FastForwardState, 10);
}

void frmMain::Command7_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, float, float)
{
    Wind(state.RewindState, -10);
}
