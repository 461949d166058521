// kurimo-mci: the multimedia layer's console. Reads commands one per line from a script or
// standard input and prints one line per command: the reply, or "error: " and the message.

#include "platform/avi/Registration.h"
#include "platform/console/ConsoleSession.h"
#include "platform/mci/Interpreter.h"

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

int usage()
{
    std::fputs("使い方: kurimo-mci [スクリプト]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    keepStandardInputSlot();
    chooseHeadlessPlatform();
    QApplication app(argc, argv);
    // Closing a device window is not the end of the input.
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() > 1)
        return usage();

    mci::Interpreter interpreter;
    avi::registerAviVideo(interpreter);
    console::ConsoleSession session(interpreter, stdout);

    if (args.isEmpty())
        return session.runStandardInput();

    QFile script(args.front());
    if (!script.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kurimo-mci: スクリプトを読めません: %s（%s）\n",
                     args.front().toLocal8Bit().constData(),
                     script.errorString().toLocal8Bit().constData());
        return 2;
    }
    return session.runScript(script);
}
