#pragma once

#include "media/MciControl.h"

#include <QString>

// The device check around an open: prepare the control, decide whether the device can play,
// and tell the user when it cannot.

// Writes the device type "AVIVideo", then the file name.
void SetupDevice(MciControl &mciAVI, const QString &MediaPath);

// Reads the can-play flag, sets DeviceError to 0 or -1 and returns the error text:
// "デバイスを使用できません" + CR, and when unusable six spaces, the device type and CR more.
QString CheckDevice(MciControl &mciAVI, qint16 &DeviceError);

// When DeviceError is not 0: beep, then the modal box titled "ＲＴミミ" with the critical icon.
void ShowDeviceError(qint16 DeviceError, const QString &text);
