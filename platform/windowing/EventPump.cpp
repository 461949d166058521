#include "platform/windowing/EventPump.h"

#include <QCoreApplication>

namespace windowing {

namespace {
std::function<void()> g_pump;
}

void doEvents()
{
    if (g_pump) {
        g_pump();
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void setEventPump(std::function<void()> pump)
{
    g_pump = std::move(pump);
}

} // namespace windowing
