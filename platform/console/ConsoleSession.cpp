#include "platform/console/ConsoleSession.h"

#include "platform/mci/Escape.h"
#include "platform/mci/Interpreter.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSocketNotifier>
#include <cerrno>
#include <unistd.h>

namespace console {

void ConsoleSession::handleLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.trimmed().isEmpty())
        return;
    const mci::Result result = m_interpreter.send(QString::fromUtf8(line));
    m_failed = m_failed || !result.ok;
    // Replies and messages are escaped like the trace: one command, one line.
    const QString shown = result.ok ? mci::escapeLine(result.reply)
                                    : QStringLiteral("error: ") + mci::escapeLine(result.error);
    const QByteArray bytes = shown.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

int ConsoleSession::runScript(QIODevice &script)
{
    while (!script.atEnd()) {
        QByteArray line = script.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        handleLine(line);
    }
    return exitCode();
}

int ConsoleSession::runStandardInput()
{
    QByteArray pending;
    qsizetype searched = 0; // pending holds no line end before this
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [&] {
        // A "wait" runs the event loop; no second line may start inside the first.
        notifier.setEnabled(false);
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            notifier.setEnabled(true);
            return;
        }
        if (count > 0)
            pending.append(buffer, count);
        // A long line arrives in many reads; only the new bytes are looked through.
        qsizetype newline;
        while ((newline = pending.indexOf('\n', searched)) >= 0) {
            const QByteArray line = pending.left(newline);
            pending.remove(0, newline + 1);
            searched = 0;
            handleLine(line);
        }
        searched = pending.size();
        if (count <= 0) {
            handleLine(pending); // a last line without LF
            QCoreApplication::quit();
            return;
        }
        notifier.setEnabled(true);
    });
    QCoreApplication::exec();
    return exitCode();
}

} // namespace console
