// kurimo-mci: the multimedia layer's console. Reads commands one per line from a script or
// standard input and prints one line per command: the reply, or "error: " and the message.

#include "platform/video/Registration.h"
#include "platform/console/ConsoleSession.h"
#include "platform/mci/Interpreter.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <optional>
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

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

struct CommandLine {
    QStringList scripts;
    std::optional<int> exitNow; // --help, --version or a mistake: end with this status
};

// Read before Qt sees the arguments, so that --help and --version need no display and no
// argument is taken for one of Qt's own options.
CommandLine readCommandLine(int argc, char **argv)
{
    CommandLine line;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (optionsEnd || arg[0] != '-' || arg[1] == '\0') {
            line.scripts << QFile::decodeName(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(kUsage, stdout);
            line.exitNow = 0;
            return line;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("kurimo-mci %s\n", KURIMO_VERSION);
            line.exitNow = 0;
            return line;
        } else {
            std::fprintf(stderr, "kurimo-mci: 知らないオプションです: %s\n", arg);
            line.exitNow = usage();
            return line;
        }
    }
    if (line.scripts.size() > 1)
        line.exitNow = usage();
    return line;
}

} // namespace

int main(int argc, char **argv)
{
    const CommandLine line = readCommandLine(argc, argv);
    if (line.exitNow)
        return *line.exitNow;
    const QStringList &args = line.scripts;

    keepStandardInputSlot();
    chooseHeadlessPlatform();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    // Closing a device window is not the end of the input.
    QApplication::setQuitOnLastWindowClosed(false);

    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
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
