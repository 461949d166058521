#include "platform/windowing/ScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>

namespace windowing {

namespace {
std::optional<ScreenMetrics> g_fixedScreen;
}

ScreenMetrics screenMetrics()
{
    if (g_fixedScreen)
        return *g_fixedScreen;
    ScreenMetrics metrics;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return kScreen1024x768;
    // A twip is 1/1440 inch; the logical dpi says how many pixels make an inch.
    const double dpiX = screen->logicalDotsPerInchX() > 0 ? screen->logicalDotsPerInchX() : 96;
    const double dpiY = screen->logicalDotsPerInchY() > 0 ? screen->logicalDotsPerInchY() : 96;
    metrics.twipsPerPixelX = float(1440.0 / dpiX);
    metrics.twipsPerPixelY = float(1440.0 / dpiY);
    metrics.widthTwips = float(screen->geometry().width() * double(metrics.twipsPerPixelX));
    metrics.heightTwips = float(screen->geometry().height() * double(metrics.twipsPerPixelY));
    return metrics;
}

void setFixedScreen(std::optional<ScreenMetrics> screen)
{
    g_fixedScreen = screen;
}

} // namespace windowing
