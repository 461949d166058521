#pragma once

#include "media/CommandChannel.h"

namespace mci {
class Interpreter;
}

// The real command channel: every string goes to the layer's interpreter.
class InterpreterChannel final : public CommandChannel {
public:
    // What mciSendString returns for a command that failed.
    static constexpr int kCommandFailed = 1;

    explicit InterpreterChannel(mci::Interpreter &interpreter) : m_interpreter(interpreter) {}

    // A failure goes to the layer's own error box (the interpreter's error reporter).
    bool mciExecute(const QString &command) override;
    // Shows nothing; on failure the buffer is left empty.
    int mciSendString(const QString &command, QString &replyBuffer, int bufferSize) override;

private:
    mci::Interpreter &m_interpreter;
};
