#pragma once

#include "platform/mci/Result.h"

#include <QString>
#include <QStringView>
#include <memory>

namespace mci {

// The command trace: one line per command, "COMMAND<tab>REPLY" or "COMMAND<tab>error: MESSAGE",
// escaped so that one command stays one line, appended and flushed at once so that tail -f
// follows it. A file that cannot be opened or written is told once on standard error, and
// the program runs on without a trace; so is a name that is not a regular file or a terminal
// (a named pipe, which nobody may read, is never waited for).
class Trace {
public:
    // The file named by KURIMO_TRACE; no trace when it is unset or empty.
    static std::unique_ptr<Trace> fromEnvironment();

    explicit Trace(const QString &path);
    ~Trace();
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void write(QStringView command, const Result &result);

private:
    void giveUp(const QString &reason, bool writing);

    QString m_path;
    int m_fd = -1;
};

} // namespace mci
