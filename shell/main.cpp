#include "media/InterpreterChannel.h"
#include "media/InterpreterControl.h"
#include "platform/avi/Registration.h"
#include "platform/mci/Interpreter.h"
#include "platform/windowing/Fonts.h"
#include "platform/windowing/Messages.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

// Kurimo: the control panel with the multimedia layer behind it.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    windowing::installFontSubstitutes();
    // Qt's own dialogs (the file dialog, the boxes' buttons) speak Japanese like the panel,
    // whatever the system's locale.
    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                            QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);

    mci::Interpreter interpreter;
    avi::registerAviVideo(interpreter);
    // A command that fails is told to the user by the layer itself; the panel never looks.
    interpreter.setErrorReporter([](const QString &, const QString &message) {
        windowing::messages().messageBox({QStringLiteral("マルチメディア エラー"), message,
                                          windowing::MessageIcon::Critical});
    });
    InterpreterChannel channel(interpreter);
    InterpreterControl control(interpreter);

    frmMain panel(channel, control);
    panel.Form_Load();
    panel.show();
    return app.exec();
}
