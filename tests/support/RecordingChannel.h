#pragma once

#include "media/CommandChannel.h"
#include "media/MciControl.h"

#include <QString>
#include <QStringList>
#include <functional>

// A channel that keeps every command string it is given, in order, and answers "where"
// with a reply the test chooses.
class RecordingChannel final : public CommandChannel {
public:
    bool mciExecute(const QString &command) override
    {
        commands << command;
        if (onExecute)
            onExecute(command);
        return true;
    }

    int mciSendString(const QString &command, QString &replyBuffer, int bufferSize) override
    {
        commands << command;
        replyBuffer = whereReply.left(bufferSize - 1);
        return 0;
    }

    QStringList commands;
    QString whereReply = QStringLiteral("0 0 320 240");
    std::function<void(const QString &)> onExecute;
};

// A multimedia control that records what is written to it and plays a simple device: "Open"
// makes it usable with the length the test set, "seek" moves the position to the target.
class RecordingControl final : public MciControl {
public:
    void setDeviceType(const QString &type) override { m_type = type; }
    QString deviceType() const override { return m_type; }
    void setFileName(const QString &name) override { m_fileName = name; }
    QString fileName() const override { return m_fileName; }

    void setCommand(const QString &command) override
    {
        log << command;
        if (command == QLatin1String("seek")) {
            seeks << m_to;
            currentPosition = m_to;
        } else if (command == QLatin1String("Open")) {
            isOpen = true;
            currentPosition = 0;
        } else if (command == QLatin1String("Close")) {
            isOpen = false;
        }
        if (onCommand)
            onCommand(command);
    }

    void setTo(qint32 position) override
    {
        log << QStringLiteral("to=%1").arg(position);
        m_to = position;
    }

    bool canPlay() const override { return isOpen && playable; }
    qint32 length() const override { return isOpen ? mediaLength : 0; }
    qint32 position() const override { return currentPosition; }

    // Everything written, in order: "to=N", "seek", "Open", "Close".
    QStringList log;
    QList<qint32> seeks;
    qint32 mediaLength = 250;
    qint32 currentPosition = 0;
    bool playable = true;
    bool isOpen = false;
    std::function<void(const QString &)> onCommand;

private:
    QString m_type;
    QString m_fileName;
    qint32 m_to = 0;
};
