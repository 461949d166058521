#include "media/InterpreterChannel.h"
#include "media/InterpreterControl.h"
#include "platform/video/Registration.h"
#include "platform/mci/Interpreter.h"
#include "platform/windowing/CommandLine.h"
#include "platform/windowing/Fonts.h"
#include "platform/windowing/Messages.h"
#include "shell/FileDrop.h"
#include "shell/Mpris.h"
#include "shell/PanelKeys.h"
#include "shell/PanelOnTop.h"
#include "shell/ScreenSaver.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {

const char kUsage[] = "使い方: kurimo [ファイル]\n"
                      "  ファイル      開く動画（ﾌｧｲﾙ で選んだときと同じに開きます）\n"
                      "  -h, --help    この説明を出して終わります\n"
                      "  --version     版を出して終わります\n";

} // namespace

// Kurimo: the control panel with the multimedia layer behind it.
int main(int argc, char *argv[])
{
    const windowing::CommandLine line =
        windowing::readCommandLine(argc, argv, "kurimo", kUsage, "開けるファイルは一つです");
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
    // The desktop's side: media keys and widgets, and no screen saver while a play runs.
    ScreenSaver screenSaver(QDBusConnection::sessionBus());
    Mpris mpris(panel, QDBusConnection::sessionBus());
    QObject::connect(&mpris, &Mpris::playingChanged, &screenSaver, &ScreenSaver::hold);
    panel.show();
    // Once the panel is up, as if the file had been chosen with the file button.
    if (!line.operand.isEmpty())
        QTimer::singleShot(0, &panel, [&panel, &line] { openAsIfChosen(panel, line.operand); });
    return app.exec();
}
