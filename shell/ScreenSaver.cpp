#include "shell/ScreenSaver.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

QDBusMessage screenSaverCall(const QString &method)
{
    return QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), method);
}

constexpr int kTimeoutMs = 2000;

} // namespace

ScreenSaver::ScreenSaver(QDBusConnection bus) : m_bus(std::move(bus)) {}

ScreenSaver::~ScreenSaver()
{
    // The program is ending: the release must leave before the connection goes, so it waits,
    // also for a cookie still on its way.
    if (m_asking) {
        m_asked.waitForFinished();
        take(m_asked);
    }
    if (m_held)
        m_bus.call(screenSaverCall(QStringLiteral("UnInhibit")) << m_cookie, QDBus::Block,
                   kTimeoutMs);
}

void ScreenSaver::hold(bool on)
{
    m_wanted = on;
    if (!on) {
        release();
        return;
    }
    if (m_held || m_asking || !m_bus.isConnected())
        return;
    // Asked without waiting, so a slow session never holds up the panel.
    m_asking = true;
    QDBusMessage inhibit = screenSaverCall(QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("Kurimo") << QStringLiteral("動画を再生中");
    m_asked = m_bus.asyncCall(inhibit, kTimeoutMs);
    auto *watcher = new QDBusPendingCallWatcher(m_asked, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        take(*w);
        // Let go while it was being asked for.
        if (!m_wanted)
            release();
    });
}

void ScreenSaver::take(const QDBusPendingCall &call)
{
    if (!m_asking)
        return;
    m_asking = false;
    const QDBusPendingReply<uint> reply = call;
    if (reply.isError())
        return;
    m_cookie = reply.value();
    m_held = true;
}

void ScreenSaver::release()
{
    if (!m_held)
        return;
    m_bus.asyncCall(screenSaverCall(QStringLiteral("UnInhibit")) << m_cookie, kTimeoutMs);
    m_held = false;
}
