#include "platform/console/ConsoleSession.h"

#include "platform/mci/Escape.h"
#include "platform/mci/Interpreter.h"
#include "platform/mci/Parser.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace console {

namespace {

// The interpreter refuses a command past its limit; one unit more leaves room for the CR
// that is dropped before it looks.
constexpr qsizetype kHeldMost = mci::kMaxCommandLength + 1;

constexpr qsizetype kReadPiece = 64 * 1024;

} // namespace

void ConsoleSession::handleLine(QString line)
{
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    if (line.trimmed().isEmpty())
        return;
    const mci::Result result = m_interpreter.send(line);
    m_failed = m_failed || !result.ok;
    // Replies and messages are escaped like the trace: one command, one line.
    print(result.ok ? mci::escapeLine(result.reply)
                    : QStringLiteral("error: ") + mci::escapeLine(result.error));
}

void ConsoleSession::print(const QString &shown)
{
    const QByteArray bytes = shown.toUtf8() + '\n';
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out)
            == size_t(bytes.size())
        && std::fflush(m_out) == 0;
    if (written || m_outLost)
        return;
    // Nobody would see the replies, and a script would take the run for a success.
    m_outLost = true;
    const int error = errno ? errno : EIO;
    std::clearerr(m_out);
    std::fprintf(stderr, "kurimo-mci: 応答を書き込めません（%s）\n", std::strerror(error));
    std::fflush(stderr);
}

void ConsoleSession::feed(const char *data, qsizetype size)
{
    const QString text = m_decoder.decode(QByteArrayView(data, size));
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype newline = text.indexOf(QLatin1Char('\n'), at);
        const qsizetype end = newline >= 0 ? newline : text.size();
        if (!m_skipping) {
            m_pending += QStringView(text).mid(at, end - at);
            if (m_pending.size() > kHeldMost) {
                // Refused now, on what is held: the rest of the line is never kept.
                m_pending.truncate(kHeldMost + 1);
                handleLine(std::exchange(m_pending, QString()));
                m_skipping = newline < 0;
            } else if (newline >= 0) {
                handleLine(std::exchange(m_pending, QString()));
            }
        } else if (newline >= 0) {
            m_skipping = false;
        }
        at = newline >= 0 ? newline + 1 : text.size();
    }
}

void ConsoleSession::finish()
{
    feed(nullptr, 0);
    m_decoder.resetState();
    if (!m_skipping)
        handleLine(std::exchange(m_pending, QString()));
    m_pending.clear();
    m_skipping = false;
}

int ConsoleSession::runScript(QIODevice &script)
{
    QByteArray buffer(kReadPiece, Qt::Uninitialized);
    qint64 count;
    while ((count = script.read(buffer.data(), buffer.size())) > 0)
        feed(buffer.constData(), count);
    finish();
    return exitCode();
}

int ConsoleSession::runStandardInput()
{
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
        if (count <= 0) {
            finish();
            QCoreApplication::quit();
            return;
        }
        feed(buffer, count);
        notifier.setEnabled(true);
    });
    QCoreApplication::exec();
    return exitCode();
}

} // namespace console
