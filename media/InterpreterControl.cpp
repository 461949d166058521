#include "media/InterpreterControl.h"

#include "media/BusySign.h"
#include "media/Catalogue.h"

#include "platform/mci/Interpreter.h"

void InterpreterControl::setCommand(const QString &command)
{
    const BusySign::Command busy;
    if (command.compare(QLatin1String("Open"), Qt::CaseInsensitive) == 0) {
        m_openedFile = m_fileName;
        m_interpreter.execute(Catalogue::open(m_openedFile, m_deviceType));
    } else if (command.compare(QLatin1String("Close"), Qt::CaseInsensitive) == 0) {
        // The panel closes before its first open and on the way out: nothing open, nothing
        // to say.
        if (isOpen())
            m_interpreter.send(Catalogue::close(m_openedFile));
    } else if (command.compare(QLatin1String("seek"), Qt::CaseInsensitive) == 0) {
        // The control reports nothing of its own: a refused seek must not stop a wind with a
        // box at every step.
        m_interpreter.send(Catalogue::seekTo(m_openedFile, m_to));
    }
}

bool InterpreterControl::isOpen() const
{
    return !m_openedFile.isEmpty() && m_interpreter.device(m_openedFile) != nullptr;
}

bool InterpreterControl::canPlay() const
{
    if (!isOpen())
        return false;
    const BusySign::Command busy;
    const mci::Result result = m_interpreter.send(Catalogue::canPlay(m_openedFile));
    return result.ok && result.reply == QLatin1String("true");
}

qint32 InterpreterControl::length() const
{
    return readNumber("length");
}

qint32 InterpreterControl::position() const
{
    return readNumber("position");
}

qint32 InterpreterControl::readNumber(const char *item) const
{
    if (!isOpen())
        return 0;
    const BusySign::Command busy;
    const QString command = Catalogue::status(m_openedFile, QLatin1String(item));
    mci::Result result = m_interpreter.send(command);
    // A play that stopped at a frame it could not read answers its failure once, to whatever
    // comes next. The panel takes it as it takes a refused seek: quietly, showing the
    // position of the picture that stayed, not 0.
    if (!result.ok)
        result = m_interpreter.send(command);
    bool ok = false;
    const qint32 value = result.ok ? result.reply.toInt(&ok) : 0;
    return ok ? value : 0;
}
