#pragma once

#include <QString>

// The text-command channel to the multimedia layer. The panel holds one of these; the real
// one talks to the layer's interpreter, a test's one records every string.
class CommandChannel {
public:
    virtual ~CommandChannel() = default;

    // Send one command. When it fails the layer itself tells the user; callers ignore the flag.
    virtual bool mciExecute(const QString &command) = 0;

    // Send one command and receive its reply into a buffer of bufferSize characters (the reply
    // is cut to bufferSize - 1). Returns 0 on success, else an error code; shows nothing.
    virtual int mciSendString(const QString &command, QString &replyBuffer, int bufferSize) = 0;
};
