#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

class QIODevice;

namespace mci {
class Interpreter;
}

namespace console {

// Sends lines to the interpreter and prints one line per command, flushed at once. Blank
// lines are skipped and a trailing CR is dropped, so scripts written on Windows read the same.
class ConsoleSession {
public:
    ConsoleSession(mci::Interpreter &interpreter, std::FILE *out)
        : m_interpreter(interpreter), m_out(out)
    {
    }

    // One line of input, without its LF.
    void handleLine(QByteArray line);

    // The exit status so far: 0 when every command succeeded, else 1.
    int exitCode() const { return m_failed ? 1 : 0; }

    // The whole script, then the exit status.
    int runScript(QIODevice &script);
    // Standard input as it comes, with the event loop running between lines so that device
    // windows stay alive while the user types; the exit status at the end of input.
    int runStandardInput();

private:
    mci::Interpreter &m_interpreter;
    std::FILE *m_out;
    bool m_failed = false;
};

} // namespace console
