#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>

// Holds the desktop's screen saver off while a play runs (org.freedesktop.ScreenSaver's
// Inhibit) and lets it go again when told, and at the latest when it is destroyed at the end
// of the program. One inhibition at most, however often it is told to hold. Without a bus, or
// without the service, it does nothing.
class ScreenSaver : public QObject {
    Q_OBJECT
public:
    explicit ScreenSaver(QDBusConnection bus);
    ~ScreenSaver() override;

    void hold(bool on);

private:
    void release();
    void take(const QDBusPendingCall &reply);

    QDBusConnection m_bus;
    bool m_wanted = false;
    bool m_asking = false; // an Inhibit sent, its cookie not back yet
    QDBusPendingCall m_asked = QDBusPendingCall::fromError(QDBusError());
    bool m_held = false;
    uint m_cookie = 0;
};
