#include "platform/mci/Trace.h"

#include "platform/mci/ErrorText.h"
#include "platform/mci/Escape.h"

#include <QFileInfo>
#include <cstdio>

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

Trace::Trace(const QString &path) : m_file(path)
{
    // QFile would open a folder for writing without complaint; the writes would then fail.
    if (QFileInfo(path).isDir()) {
        giveUp(QStringLiteral("フォルダです"));
        return;
    }
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        giveUp(m_file.errorString());
}

void Trace::write(QStringView command, const Result &result)
{
    if (!m_file.isOpen())
        return;
    QString line = escapeLine(command) + QLatin1Char('\t');
    line += result.ok ? escapeLine(result.reply)
                      : QStringLiteral("error: ") + escapeLine(result.error);
    line += QLatin1Char('\n');
    const QByteArray bytes = line.toUtf8();
    if (m_file.write(bytes) != bytes.size() || !m_file.flush())
        giveUp(m_file.errorString());
}

void Trace::giveUp(const QString &reason)
{
    const QString message = errortext::traceUnavailable(m_file.fileName(), reason);
    std::fprintf(stderr, "kurimo: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    m_file.close();
}

} // namespace mci
