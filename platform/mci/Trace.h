#pragma once

#include "platform/mci/Result.h"

#include <QFile>
#include <QString>
#include <QStringView>
#include <memory>

namespace mci {

// The command trace: one line per command, "COMMAND<tab>REPLY" or "COMMAND<tab>error: MESSAGE",
// escaped so that one command stays one line, appended and flushed at once so that tail -f
// follows it. A file that cannot be opened or written is told once on standard error, and
// the program runs on without a trace.
class Trace {
public:
    // The file named by KURIMO_TRACE; no trace when it is unset or empty.
    static std::unique_ptr<Trace> fromEnvironment();

    explicit Trace(const QString &path);

    bool isOpen() const { return m_file.isOpen(); }
    void write(QStringView command, const Result &result);

private:
    void giveUp(const QString &reason);

    QFile m_file;
};

} // namespace mci
