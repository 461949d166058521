#pragma once

#include <QString>
#include <QtGlobal>

// The multimedia control mciAVI: a device type and file name, a command operation that
// carries out "Open", "Close" and "seek" at once, a seek target, and three reads. A seek is
// always the pair: setTo(N), then setCommand("seek").
class MciControl {
public:
    virtual ~MciControl() = default;

    virtual void setDeviceType(const QString &type) = 0;
    virtual QString deviceType() const = 0;
    virtual void setFileName(const QString &fileName) = 0;
    virtual QString fileName() const = 0;
    virtual void setCommand(const QString &command) = 0;
    virtual void setTo(qint32 position) = 0;

    virtual bool canPlay() const = 0;
    virtual qint32 length() const = 0;
    virtual qint32 position() const = 0;
};
