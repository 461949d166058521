#include "shell/Mpris.h"
#include "shell/ScreenSaver.h"
#include "tests/support/PanelFixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <functional>
#include <mutex>
#include <set>

namespace {

// The desktop's screen saver, counting what it holds. It answers on a thread of its own, so
// the player's blocking release at the end is answered while the test's thread waits in it.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    int held()
    {
        std::lock_guard lock(m_mutex);
        return int(m_cookies.size());
    }
    int asked()
    {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }
public slots:
    uint Inhibit(const QString &, const QString &)
    {
        std::lock_guard lock(m_mutex);
        ++m_asked;
        m_cookies.insert(++m_next);
        return m_next;
    }
    void UnInhibit(uint cookie)
    {
        std::lock_guard lock(m_mutex);
        m_cookies.erase(cookie);
    }

private:
    std::mutex m_mutex;
    std::set<uint> m_cookies;
    uint m_next = 40;
    int m_asked = 0;
};

// What the desktop's widget hears.
class Listener : public QObject {
    Q_OBJECT
public slots:
    void changed(const QString &, const QVariantMap &properties, const QStringList &)
    {
        for (auto it = properties.begin(); it != properties.end(); ++it)
            heard << it.key() + QLatin1Char('=') + it.value().toString();
    }

public:
    QStringList heard;
};

// A session bus of the test's own, started once for the program.
struct PrivateBus {
    PrivateBus()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address")});
        if (daemon.waitForReadyRead(10000))
            address = QString::fromUtf8(daemon.readLine()).trimmed();
        if (address.isEmpty())
            return;
        saverThread.start();
        saver.moveToThread(&saverThread);
        QDBusConnection saverBus = QDBusConnection::connectToBus(address, QStringLiteral("saver"));
        saverBus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                QDBusConnection::ExportAllSlots);
        saverBus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    ~PrivateBus()
    {
        saverThread.quit();
        saverThread.wait();
        daemon.kill();
        daemon.waitForFinished();
    }
    QProcess daemon;
    QString address;
    QThread saverThread;
    FakeScreenSaver saver;
};

PrivateBus &privateBus()
{
    static PrivateBus bus;
    return bus;
}

const QString kService = QStringLiteral("org.mpris.MediaPlayer2.kurimo");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
constexpr qint64 kFrameTime = 40000; // 25 frames a second, in microseconds

// The player on a private bus against the recording channel and control, seen from a client
// on the same bus as the desktop sees it.
class DesktopBus : public PanelFixture {
protected:
    enum class State { NoMedia, Stopped, Playing, Paused, ReversePlaying, ReversePaused, Ended };

    void SetUp() override
    {
        if (privateBus().address.isEmpty())
            GTEST_SKIP() << "no dbus-daemon";
        frmMain::setExitHandler([this] { ++exits; });
        // The length is 250 frames, or 10 s when asked in milliseconds.
        channel.onExecute = [this](const QString &command) {
            control.mediaLength = command.endsWith(QLatin1String("time format ms")) ? 10000 : 250;
        };
    }

    void TearDown() override
    {
        mpris.reset();
        screenSaver.reset();
    }

    QDBusConnection bus(const QString &name)
    {
        return QDBusConnection::connectToBus(privateBus().address, name);
    }

    // A fresh panel in `state`, with the desktop's side on the bus, nothing recorded yet.
    void restart(State state)
    {
        mpris.reset();
        screenSaver.reset();
        form = std::make_unique<frmMain>(channel, control);
        form->Form_Load();
        control.isOpen = false;
        control.currentPosition = 0;
        screenSaver = std::make_unique<ScreenSaver>(bus(QStringLiteral("player")));
        mpris = std::make_unique<Mpris>(*form, bus(QStringLiteral("player")));
        QObject::connect(mpris.get(), &Mpris::playingChanged, screenSaver.get(),
                         &ScreenSaver::hold);
        if (state != State::NoMedia) {
            openVideo();
            control.currentPosition = 100;
        }
        switch (state) {
        case State::Playing: form->Command1->click(); break;
        case State::Paused: form->Command1->click(); form->Command1->click(); break;
        case State::ReversePlaying: form->Command15->click(); break;
        case State::ReversePaused: form->Command15->click(); form->Command15->click(); break;
        case State::Ended:
            form->Command1->click();
            control.currentPosition = form->state.RangeTo;
            break;
        default: break;
        }
        mpris->refresh();
        forget();
    }

    QDBusMessage call(const QString &method, const QVariantList &arguments = {},
                      const QString &interface = kPlayer)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = bus(QStringLiteral("client")).asyncCall(message);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 5000)) << method.toStdString();
        return pending.reply();
    }

    QVariant property(const QString &name)
    {
        const QDBusMessage reply = call(QStringLiteral("Get"), {kPlayer, name},
                                        QStringLiteral("org.freedesktop.DBus.Properties"));
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    std::string outcome() const
    {
        return QStringList{panelState(), channel.commands.join('|'), control.log.join('|'),
                           QString::number(control.currentPosition), QString::number(exits)}
            .join('\n')
            .toStdString();
    }

    // Waits for the screen saver to hold `count`, as the bus takes its time.
    bool saverHolds(int count)
    {
        return QTest::qWaitFor([&] { return privateBus().saver.held() == count; }, 5000);
    }

    std::unique_ptr<ScreenSaver> screenSaver;
    std::unique_ptr<Mpris> mpris;
    int exits = 0;
};

TEST_F(DesktopBus, EachCallDoesWhatItsButtonDoes)
{
    using S = State;
    using Action = std::function<void(frmMain &)>;
    const Action none = [](frmMain &) {};
    auto click = [](PanelButton *frmMain::*button) {
        return Action([button](frmMain &f) { (f.*button)->click(); });
    };
    const Action play = click(&frmMain::Command1), reverse = click(&frmMain::Command15);
    // The slider moved by hand to frame 40, or 125.
    auto slide = [](int frame) { return Action([frame](frmMain &f) { f.Slider1->setValue(frame); }); };
    const QVariant track = QVariant::fromValue(QDBusObjectPath("/org/example/kurimo/track/1"));

    struct Row {
        QString method;
        QVariantList arguments;
        std::vector<std::pair<S, Action>> expected; // states not named: nothing happens
        Action otherwise;
    };
    const std::vector<S> all = {S::NoMedia,        S::Stopped,       S::Playing, S::Paused,
                                S::ReversePlaying, S::ReversePaused, S::Ended};
    const std::vector<Row> rows = {
        {"Play", {}, {{S::Playing, none}, {S::ReversePlaying, none}, {S::ReversePaused, reverse}},
         play},
        {"Pause", {}, {{S::Playing, play}, {S::ReversePlaying, reverse}}, none},
        {"PlayPause", {}, {{S::ReversePlaying, reverse}, {S::ReversePaused, reverse}}, play},
        {"Stop", {}, {}, click(&frmMain::Command2)},
        {"Next", {}, {}, click(&frmMain::Command9)},
        {"Previous", {}, {}, click(&frmMain::Command10)},
        // Into frame 40 and just before frame 41: both are frame 40.
        {"SetPosition", {track, 40 * kFrameTime}, {{S::NoMedia, none}}, slide(40)},
        {"SetPosition", {track, 41 * kFrameTime - 1}, {{S::NoMedia, none}}, slide(40)},
        // Outside the video, or for another one: nothing.
        {"SetPosition", {track, 251 * kFrameTime}, {}, none},
        {"SetPosition",
         {QVariant::fromValue(QDBusObjectPath("/org/example/kurimo/track/7")), 0}, {}, none},
        // A second on from frame 100 (or from the end: stays there).
        {"Seek", {qlonglong(1000000)}, {{S::NoMedia, none}, {S::Ended, slide(250)}}, slide(125)},
    };
    for (const Row &row : rows) {
        for (S state : all) {
            Action expected = row.otherwise;
            for (const auto &[s, action] : row.expected)
                if (s == state)
                    expected = action;
            restart(state);
            call(row.method, row.arguments);
            const std::string byCall = outcome();
            restart(state);
            expected(*form);
            EXPECT_EQ(byCall, outcome()) << row.method.toStdString() << " in state " << int(state)
                                         << " " << row.arguments.value(0).toString().toStdString();
        }
    }
    restart(S::Stopped);
    call("Quit", {}, "org.mpris.MediaPlayer2");
    EXPECT_EQ(exits, 1);
}

TEST_F(DesktopBus, PropertiesAndTheScreenSaverFollowThePlay)
{
    using S = State;
    struct Row {
        S state;
        const char *status;
        bool canSeek;
        int held;
    };
    for (const Row &row : {Row{S::NoMedia, "Stopped", false, 0}, {S::Stopped, "Stopped", true, 0},
                           {S::Playing, "Playing", true, 1}, {S::Paused, "Paused", true, 0},
                           {S::ReversePlaying, "Playing", true, 1},
                           {S::ReversePaused, "Paused", true, 0}, {S::Ended, "Stopped", true, 0}}) {
        restart(row.state);
        EXPECT_EQ(property("PlaybackStatus").toString(), row.status) << int(row.state);
        EXPECT_EQ(property("CanSeek").toBool(), row.canSeek) << int(row.state);
        EXPECT_TRUE(saverHolds(row.held)) << int(row.state);
    }

    restart(S::Stopped);
    QVariantMap metadata;
    property("Metadata").value<QDBusArgument>() >> metadata;
    EXPECT_EQ(metadata.value("xesam:title").toString(), QStringLiteral("my clip.avi"));
    EXPECT_EQ(metadata.value("xesam:url").toString(),
              QStringLiteral("file:///videos/my%20clip.avi"));
    EXPECT_EQ(metadata.value("mpris:length").toLongLong(), 250 * kFrameTime);
    EXPECT_EQ(property("Position").toLongLong(), 100 * kFrameTime);
    EXPECT_EQ(qdbus_cast<QDBusObjectPath>(metadata.value("mpris:trackid")).path(),
              QStringLiteral("/org/example/kurimo/track/1"));
}

TEST_F(DesktopBus, OneInhibitionPerPlayLetGoAtEveryEnd)
{
    Listener listener;
    ASSERT_TRUE(bus(QStringLiteral("client")).connect(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), &listener,
        SLOT(changed(QString, QVariantMap, QStringList))));
    restart(State::Stopped);
    FakeScreenSaver &saver = privateBus().saver;
    const int asked = saver.asked();

    // Each way a play ends, after a play from the panel: one inhibition, looked at many times.
    const std::vector<std::pair<const char *, std::function<void()>>> ends = {
        {"pause", [&] { form->Command1->click(); }},
        {"stop", [&] { form->Command2->click(); }},
        {"end of a play once", [&] { control.currentPosition = form->state.RangeTo; }},
        {"close", [&] { form->close(); }},
        {"exit", [&] { mpris.reset(); screenSaver.reset(); }},
    };
    for (const auto &[end, action] : ends) {
        restart(State::Stopped);
        listener.heard.clear();
        form->Command1->click();
        for (int i = 0; i < 3; ++i)
            mpris->refresh();
        EXPECT_TRUE(saverHolds(1)) << end;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return listener.heard.contains("PlaybackStatus=Playing");
        }, 5000)) << end;
        action();
        if (mpris) {
            QCoreApplication::processEvents();
            mpris->refresh();
        }
        EXPECT_TRUE(saverHolds(0)) << end;
    }
    EXPECT_EQ(saver.asked() - asked, int(ends.size()));
}

} // namespace

#include "DesktopBusTest.moc"
