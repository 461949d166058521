#include "platform/windowing/Fonts.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every test binary gets a QApplication before its first test (widgets, timers and the
// clipboard all need one), offscreen unless told otherwise, kept to the end of the process.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char *qtArgv[] = {argv[0], nullptr};
    new QApplication(qtArgc, qtArgv);
    // Settings the program keeps (the open dialog's folder) go to a folder of this test
    // process: neither the user's nor another test's running beside it.
    static QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    windowing::installFontSubstitutes();
    return RUN_ALL_TESTS();
}
