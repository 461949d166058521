#pragma once

#include <QString>
#include <QStringDecoder>
#include <cstdio>

class QIODevice;

namespace mci {
class Interpreter;
}

namespace console {

// Sends lines to the interpreter and prints one line per command, flushed at once. Blank
// lines are skipped and a trailing CR is dropped, so scripts written on Windows read the same.
//
// Input is taken in pieces as it comes and never held beyond one command's limit: a line
// that passes it is refused at once and the rest of it skipped as it arrives, so a video
// given as the script by mistake costs no more memory than a long command.
class ConsoleSession {
public:
    ConsoleSession(mci::Interpreter &interpreter, std::FILE *out)
        : m_interpreter(interpreter), m_out(out)
    {
    }

    // Bytes of input as they come, lines cut at LF.
    void feed(const char *data, qsizetype size);
    // The end of input: a last line without LF.
    void finish();

    // The exit status so far: 0 when every command succeeded and every reply was written,
    // else 1.
    int exitCode() const { return m_failed || m_outLost ? 1 : 0; }

    // The whole script, then the exit status.
    int runScript(QIODevice &script);
    // Standard input as it comes, with the event loop running between lines so that device
    // windows stay alive while the user types; the exit status at the end of input.
    int runStandardInput();

private:
    // One line of input, without its LF.
    void handleLine(QString line);
    void print(const QString &shown);

    mci::Interpreter &m_interpreter;
    std::FILE *m_out;
    QStringDecoder m_decoder{QStringDecoder::Utf8};
    QString m_pending;       // the line so far
    bool m_skipping = false; // inside a line already refused as too long
    bool m_failed = false;
    bool m_outLost = false; // a reply could not be written (told once)
};

} // namespace console
