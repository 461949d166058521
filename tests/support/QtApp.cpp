#include "tests/support/QtApp.h"

#include "platform/windowing/Fonts.h"

#include <QApplication>
#include <gtest/gtest.h>

QApplication &testApplication()
{
    static int argc = 1;
    static char name[] = "kurimo-tests";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty()
                                       ? QByteArray("offscreen")
                                       : qgetenv("QT_QPA_PLATFORM"));
        auto *a = new QApplication(argc, argv);
        windowing::installFontSubstitutes();
        return a;
    }();
    return *app;
}
