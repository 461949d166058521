#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs a program (looked up in PATH) to its end, standard input empty, and collects what it
// writes to standard output and error, together.
//
// Started with posix_spawn rather than QProcess: QProcess's child runs Qt code in the
// parent's memory between vfork and exec, ThreadSanitizer books what it does there as the
// parent's own, and then reports races in correctly locked code (audio_tests: eleven, all in
// the sample queue and the silent output). glibc's posix_spawn child makes no call the
// sanitizer sees.
struct ProgramRun {
    bool started = false;
    int exitCode = -1; // -1 also when it did not exit by itself
    QByteArray output;
};
ProgramRun runProgram(const QString &program, const QStringList &args);
