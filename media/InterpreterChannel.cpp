#include "media/InterpreterChannel.h"

#include "media/BusySign.h"

#include "platform/mci/Interpreter.h"

bool InterpreterChannel::mciExecute(const QString &command)
{
    const BusySign::Command busy;
    return m_interpreter.execute(command).ok;
}

int InterpreterChannel::mciSendString(const QString &command, QString &replyBuffer,
                                      int bufferSize)
{
    const BusySign::Command busy;
    const mci::Result result = m_interpreter.send(command);
    // Room for bufferSize - 1 characters: the last place holds the terminator.
    replyBuffer = result.ok ? result.reply.left(qMax(bufferSize - 1, 0)) : QString();
    return result.ok ? 0 : kCommandFailed;
}
