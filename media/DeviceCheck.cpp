#include "media/DeviceCheck.h"

#include "platform/windowing/Messages.h"

void SetupDevice(MciControl &mciAVI, const QString &MediaPath)
{
    mciAVI.setDeviceType(QStringLiteral("AVIVideo"));
    mciAVI.setFileName(MediaPath);
}

QString CheckDevice(MciControl &mciAVI, qint16 &DeviceError)
{
    QString text = QStringLiteral("デバイスを使用できません") + QLatin1Char('\r');
    if (mciAVI.canPlay()) {
        DeviceError = 0;
    } else {
        text += QStringLiteral("      ") + mciAVI.deviceType() + QLatin1Char('\r');
        DeviceError = -1;
    }
    return text;
}

void ShowDeviceError(qint16 DeviceError, const QString &text)
{
    if (DeviceError == 0)
        return;
    windowing::messages().beep();
    windowing::messages().messageBox(
        {QStringLiteral("ＲＴミミ"), text, windowing::MessageIcon::Critical});
}
