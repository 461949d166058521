#pragma once

#include "media/MciControl.h"

#include <QString>

namespace mci {
class Interpreter;
}

// The real multimedia control: its commands and reads become text commands to the layer's
// interpreter, with the opened file's path as the device name. "Open" and "seek" go through
// execute(), so the layer's error box tells the user why a file did not open; the reads use
// send() and fall back to false or 0 when nothing is open.
class InterpreterControl final : public MciControl {
public:
    explicit InterpreterControl(mci::Interpreter &interpreter) : m_interpreter(interpreter) {}

    void setDeviceType(const QString &type) override { m_deviceType = type; }
    QString deviceType() const override { return m_deviceType; }
    void setFileName(const QString &fileName) override { m_fileName = fileName; }
    QString fileName() const override { return m_fileName; }
    void setCommand(const QString &command) override;
    void setTo(qint32 position) override { m_to = position; }

    bool canPlay() const override;
    qint32 length() const override;
    qint32 position() const override;

private:
    bool isOpen() const;
    qint32 readNumber(const char *item) const;

    mci::Interpreter &m_interpreter;
    QString m_deviceType;
    QString m_fileName;
    QString m_openedFile; // the file name the last "Open" used: the device name
    qint32 m_to = 0;
};
