#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

// Points KURIMO_TRACE at a fresh file for its lifetime (interpreters read it when built) and
// reads back the lines written.
class TraceFile {
public:
    TraceFile() : m_path(m_dir.filePath(QStringLiteral("trace.txt")))
    {
        qputenv("KURIMO_TRACE", m_path.toUtf8());
    }
    ~TraceFile() { qunsetenv("KURIMO_TRACE"); }

    QString path() const { return m_path; }
    QString dir() const { return m_dir.path(); }

    QStringList lines() const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.removeLast();
        return lines;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};
