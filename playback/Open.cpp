#include "shell/frmMain.h"

#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "media/DeviceCheck.h"
#include "media/GetToken.h"
#include "media/MciControl.h"
#include "placement/Centring.h"
#include "shell/Controls.h"

#include <cmath>

void frmMain::Command8_Click()
{
    QString reply(1024, QChar(u'\0'));
    Timer1.setEnabled(false);
    closeMedia();
    // The previous video's position goes with it, whatever comes of this open.
    Label1->setText(QStringLiteral("時間"));
    Slider1->setProgramValue(0);
    CommonDialog1.setDialogTitle(QStringLiteral("データロード"));
    CommonDialog1.setFilter(QStringLiteral("(*.AVI)|*.avi|%1|%2|%3|*").arg(QStringLiteral("動画ファイル"),
        QStringLiteral("*.mp4;*.m4v;*.mov;*.3gp;*.mkv;*.webm;*.ts;*.m2ts;*.mts;*.mpg;*.mpeg;*.m2v;"
                       "*.vob;*.mxf;*.dv"), QStringLiteral("すべてのファイル")));
    CommonDialog1.showOpen(this);
    MediaPath = CommonDialog1.fileName();
    if (MediaPath.isEmpty()) {
        // The video that was open is closed already: nothing is left to play.
        DeviceError = -1;
        setMediaControlsEnabled(false);
        return;
    }

    SetupDevice(mciAVI, MediaPath);
    mciAVI.setCommand(QStringLiteral("Open"));
    MediaLength = mciAVI.length();
    const QString errorText = CheckDevice(mciAVI, DeviceError);
    if (DeviceError == -1) {
        ShowDeviceError(DeviceError, errorText);
        setMediaControlsEnabled(false);
        return;
    }

    channel.mciSendString(Catalogue::whereSource(MediaPath), reply, 1024);
    const qsizetype nul = reply.indexOf(QChar(u'\0'));
    if (nul >= 0)
        reply.truncate(nul);
    bool widthRead = false;
    bool heightRead = false;
    const qint32 width = GetToken(reply, 3, QStringLiteral(" ")).toInt(&widthRead);
    const qint32 height = GetToken(reply, 4, QStringLiteral(" ")).toInt(&heightRead);
    if (!widthRead || !heightRead || width <= 0 || height <= 0) {
        // Without a picture size there is nothing to place: the device is as good as unusable.
        DeviceError = -1;
        ShowDeviceError(DeviceError, errorText + QStringLiteral("      ") + mciAVI.deviceType()
                                         + QLatin1Char('\r'));
        setMediaControlsEnabled(false);
        return;
    }
    state.SourceWidth = width;
    state.SourceHeight = height;
    state.VideoWidth = state.SourceWidth;
    state.VideoHeight = state.SourceHeight;
    ComputeCentring(state);

    Slider1->setProgramMaximum(MediaLength);
    Slider1->setProgramMinimum(0);
    // A tick every tenth of the range, halves to the even neighbour (125 -> 12, 135 -> 14).
    const double span = double(qint64(Slider1->maximum()) - Slider1->minimum());
    Slider1->setTickInterval(int(std::nearbyint(span / 10)));

    const QString put = Catalogue::putWindow(MediaPath, qint64(state.VideoLeft),
                                             qint64(state.VideoTop), qint64(state.VideoWidth),
                                             state.PutHeightText);
    channel.mciExecute(Catalogue::audioAllOff(MediaPath));
    channel.mciExecute(put);
    channel.mciExecute(Catalogue::playToZero(MediaPath));
    channel.mciExecute(put);
    channel.mciExecute(Catalogue::stop(MediaPath));
    channel.mciExecute(Catalogue::audioAll(MediaPath, state.SoundState));
    channel.mciExecute(Catalogue::speed(MediaPath, state.PlaybackSpeed));

    setMediaControlsEnabled(true);
    state.RangeFrom = 0;
    state.RangeTo = MediaLength;
    // The new video starts stopped at its start, and its range is the whole video.
    state.ForwardPlayState = 0;
    state.ReversePlayState = 0;
    setControlLeft(Label3, 6);
    setControlLeft(Label4, 28);
    ShowDevicePosition();
}
