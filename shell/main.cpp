#include "media/InterpreterChannel.h"
#include "media/InterpreterControl.h"
#include "platform/video/Registration.h"
#include "platform/mci/Interpreter.h"
#include "platform/windowing/Fonts.h"
#include "platform/windowing/Messages.h"
#include "shell/FileDrop.h"
#include "shell/PanelKeys.h"
#include "shell/PanelOnTop.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

const char kUsage[] = "使い方: kurimo [ファイル]\n"
                      "  ファイル      開く動画（ﾌｧｲﾙ で選んだときと同じに開きます）\n"
                      "  -h, --help    この説明を出して終わります\n"
                      "  --version     版を出して終わります\n";

struct CommandLine {
    QString file;
    std::optional<int> exitNow; // --help, --version or a mistake: end with this status
};

// Read before Qt sees the arguments, so that --help and --version work without a display
// and no argument is taken for one of Qt's own options.
CommandLine readCommandLine(int argc, char **argv)
{
    CommandLine line;
    bool optionsEnd = false;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!optionsEnd && arg[0] == '-' && arg[1] != '\0') {
            if (std::strcmp(arg, "--") == 0) {
                optionsEnd = true;
            } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
                std::fputs(kUsage, stdout);
                line.exitNow = 0;
                return line;
            } else if (std::strcmp(arg, "--version") == 0) {
                std::printf("kurimo %s\n", KURIMO_VERSION);
                line.exitNow = 0;
                return line;
            } else {
                std::fprintf(stderr, "kurimo: 知らないオプションです: %s\n%s", arg, kUsage);
                line.exitNow = 2;
                return line;
            }
            continue;
        }
        files << QFile::decodeName(arg);
    }
    if (files.size() > 1) {
        std::fprintf(stderr, "kurimo: 開けるファイルは一つです\n%s", kUsage);
        line.exitNow = 2;
        return line;
    }
    if (!files.isEmpty())
        line.file = files.front();
    return line;
}

} // namespace

// Kurimo: the control panel with the multimedia layer behind it.
int main(int argc, char *argv[])
{
    const CommandLine line = readCommandLine(argc, argv);
    if (line.exitNow)
        return *line.exitNow;

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationVersion(QStringLiteral(KURIMO_VERSION));
    windowing::installFontSubstitutes();
    // Qt's own dialogs (the file dialog, the boxes' buttons) speak Japanese like the panel,
    // whatever the system's locale.
    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                            QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);

    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
    // A command that fails is told to the user by the layer itself; the panel never looks.
    interpreter.setErrorReporter([](const QString &, const QString &message) {
        windowing::messages().messageBox({QStringLiteral("マルチメディア エラー"), message,
                                          windowing::MessageIcon::Critical});
    });
    InterpreterChannel channel(interpreter);
    InterpreterControl control(interpreter);

    frmMain panel(channel, control);
    panel.Form_Load();
    // Layers over the panel, which its handlers never notice.
    FileDrop fileDrop(panel);
    PanelKeys keys(panel);
    PanelOnTop onTop(panel);
    panel.show();
    // Once the panel is up, as if the file had been chosen with the file button.
    if (!line.file.isEmpty())
        QTimer::singleShot(0, &panel, [&panel, &line] { openAsIfChosen(panel, line.file); });
    return app.exec();
}
