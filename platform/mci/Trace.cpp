#include "platform/mci/Trace.h"

#include "platform/mci/ErrorText.h"
#include "platform/mci/Escape.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mci {

std::unique_ptr<Trace> Trace::fromEnvironment()
{
    const QString path = qEnvironmentVariable("KURIMO_TRACE");
    if (path.isEmpty())
        return nullptr;
    auto trace = std::make_unique<Trace>(path);
    if (!trace->isOpen())
        return nullptr;
    return trace;
}

Trace::Trace(const QString &path) : m_path(path)
{
    // Without O_NONBLOCK a named pipe nobody reads holds the open for ever; a folder, a pipe
    // or a device is no place for a trace, and only a file or a terminal is kept.
    m_fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    const QString notAFile = QStringLiteral("通常のファイルではありません");
    if (m_fd < 0) {
        // ENXIO: a named pipe with no reader.
        giveUp(errno == EISDIR ? QStringLiteral("フォルダです")
                : errno == ENXIO ? notAFile
                                 : QString::fromLocal8Bit(std::strerror(errno)),
            false);
        return;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !(S_ISREG(st.st_mode) || ::isatty(m_fd))) {
        giveUp(notAFile, false);
        return;
    }
    // Writes then wait for a slow terminal rather than losing lines.
    ::fcntl(m_fd, F_SETFL, O_WRONLY | O_APPEND);
}

Trace::~Trace()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Trace::write(QStringView command, const Result &result)
{
    if (m_fd < 0)
        return;
    QString line = escapeLine(command) + QLatin1Char('\t');
    line += result.ok ? escapeLine(result.reply)
                      : QStringLiteral("error: ") + escapeLine(result.error);
    line += QLatin1Char('\n');
    // One write per line, unbuffered: tail -f sees each line whole as soon as it is written.
    const QByteArray bytes = line.toUtf8();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            giveUp(QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC)), true);
            return;
        }
        done += n;
    }
}

void Trace::giveUp(const QString &reason, bool writing)
{
    const QString message = writing ? errortext::traceUnwritable(m_path, reason)
                                    : errortext::traceUnavailable(m_path, reason);
    std::fprintf(stderr, "kurimo: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace mci
