#include "shell/frmMain.h"

#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "shell/Controls.h"

void frmMain::Command13_Click()
{
    if (DeviceError == -1)
        return;
    if (state.SoundState == QLatin1String("on")) {
        state.SoundState = QStringLiteral("off");
        channel.mciExecute(Catalogue::audioAll(MediaPath, state.SoundState));
        Command13->setText(QStringLiteral("音なし"));
    } else {
        state.SoundState = QStringLiteral("on");
        channel.mciExecute(Catalogue::audioAll(MediaPath, state.SoundState));
        Command13->setText(QStringLiteral("音あり"));
    }
}

void frmMain::Command14_Click()
{
    if (DeviceError == -1)
        return;
    if (state.RepeatMode == 0) {
        state.RepeatMode = 1;
        Command14->setText(QStringLiteral("連続"));
    } else {
        state.RepeatMode = 0;
        Command14->setText(QStringLiteral("一回"));
    }
}
