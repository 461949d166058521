#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs a program (looked up in PATH) to its end, standard input empty, and collects what it
// writes to standard output and error, together.
//
// Started with posix_spawn rather than QProcess: QProcess's child runs Qt code in the
// parent's memory between vfork and exec, and the calls it makes there (close, dup2) land in
// ThreadSanitizer's books as the parent's own, which then reports races that are not there.
// glibc's posix_spawn child makes no call the sanitizer sees.
struct ProgramRun {
    bool started = false;
    int exitCode = -1; // -1 also when it did not exit by itself
    QByteArray output;
};
ProgramRun runProgram(const QString &program, const QStringList &args);
