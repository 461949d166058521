// kurimo-mci: the multimedia layer's console. Reads commands one per line from a script or
// standard input and prints one line per command: the reply, or "error: " and the message.

#include "platform/video/Registration.h"
#include "platform/console/ConsoleSession.h"
#include "platform/mci/Interpreter.h"
#include "platform/windowing/CommandLine.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Devices have windows, so a QApplication is needed; without a display it is an offscreen one.
void chooseHeadlessPlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Started with standard input closed, the first file Qt opens would become descriptor 0 and
// be read as commands; /dev/null there makes it plain empty input.
void keepStandardInputSlot()
{
    if (::fcntl(STDIN_FILENO, F_GETFD) == -1)
        ::open("/dev/null", O_RDONLY);
}

const char kUsage[] =
    "使い方: kurimo-mci [スクリプト]\n"
    "  スクリプト    一行に一つのコマンド（省くと標準入力から読みます）\n"
    "  -h, --help    この説明を出して終わります\n"
    "  --version     版を出して終わります\n"
    "終了状態: 0 すべて成功、1 失敗したコマンドあり、2 スクリプトを読めない・使い方の誤り\n";

} // namespace

int main(int argc, char **argv)
{
    const windowing::CommandLine line = windowing::readCommandLine(
        argc, argv, "kurimo-mci", kUsage, "読めるスクリプトは一つです");
    if (line.exitNow)
        return *line.exitNow;

    keepStandardInputSlot();
    chooseHeadlessPlatform();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    // Closing a device window is not the end of the input.
    QApplication::setQuitOnLastWindowClosed(false);

    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
    console::ConsoleSession session(interpreter, stdout);

    if (line.operand.isEmpty())
        return session.runStandardInput();

    QFile script(line.operand);
    if (!script.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kurimo-mci: スクリプトを読めません: %s（%s）\n",
                     line.operand.toLocal8Bit().constData(),
                     script.errorString().toLocal8Bit().constData());
        return 2;
    }
    return session.runScript(script);
}
