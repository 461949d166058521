#include "shell/frmMain.h"

#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "media/MciControl.h"

namespace {

QString forwardRangePlay(const QString &path, const PlayerState &state)
{
    return state.RepeatMode == 0
               ? Catalogue::playRange(path, state.RangeFrom, state.RangeTo)
               : Catalogue::playRangeRepeat(path, state.RangeFrom, state.RangeTo);
}

QString reverseRangePlay(const QString &path, const PlayerState &state)
{
    return state.RepeatMode == 0
               ? Catalogue::playReverseRange(path, state.RangeTo, state.RangeFrom)
               : Catalogue::playReverseRangeRepeat(path, state.RangeTo, state.RangeFrom);
}

} // namespace

void frmMain::Command1_Click()
{
    if (DeviceError == -1)
        return;
    Timer1.setEnabled(true);
    state.ReversePlayState = 0;
    if (state.ForwardPlayState == 0) {
        state.ForwardPlayState = 1;
        channel.mciExecute(forwardRangePlay(MediaPath, state));
    } else if (state.ForwardPlayState == 1) {
        const qint32 P = mciAVI.position();
        if (P >= state.RangeTo) {
            state.ForwardPlayState = 1;
            channel.mciExecute(forwardRangePlay(MediaPath, state));
        } else {
            channel.mciExecute(Catalogue::pause(MediaPath));
            state.ForwardPlayState = 2;
            state.ReversePlayState = 2;
            PollOffShowingPosition();
        }
    } else if (state.ForwardPlayState == 2) {
        const qint32 P = mciAVI.position();
        if (P < state.RangeTo) {
            state.ForwardPlayState = 1;
            channel.mciExecute(Catalogue::playResume(MediaPath));
        }
    }
}

void frmMain::Command15_Click()
{
    if (DeviceError == -1)
        return;
    Timer1.setEnabled(true);
    state.ForwardPlayState = 0;
    if (state.ReversePlayState == 0) {
        state.ReversePlayState = 1;
        channel.mciExecute(reverseRangePlay(MediaPath, state));
    } else if (state.ReversePlayState == 1) {
        const qint32 P = mciAVI.position();
        if (P <= state.RangeFrom) {
            state.ReversePlayState = 1;
            channel.mciExecute(reverseRangePlay(MediaPath, state));
        } else {
            channel.mciExecute(Catalogue::pause(MediaPath));
            state.ReversePlayState = 2;
            state.ForwardPlayState = 2;
            PollOffShowingPosition();
        }
    } else if (state.ReversePlayState == 2) {
        const qint32 P = mciAVI.position();
        if (P > state.RangeFrom) {
            state.ReversePlayState = 1;
            channel.mciExecute(Catalogue::playReverseResume(MediaPath));
        }
    }
}

void frmMain::Command2_Click()
{
    if (DeviceError == -1)
        return;
    channel.mciExecute(Catalogue::stop(MediaPath));
    PollOffShowingPosition();
    state.ForwardPlayState = 0;
    state.ReversePlayState = 0;
}
