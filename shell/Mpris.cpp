#include "shell/Mpris.h"

#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "media/MciControl.h"
#include "shell/Controls.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

} // namespace

// The two interfaces: each only hands over to Mpris.
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
public:
    MprisRoot(Mpris &mpris, QObject *holder) : QDBusAbstractAdaptor(holder), m(mpris) {}
    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("Kurimo"); }
    QString desktopEntry() const { return QStringLiteral("org.example.kurimo"); }
    // Nothing opens by a URI: a file is chosen on the panel.
    QStringList none() const { return {}; }
public slots:
    void Raise() { m.raise(); }
    void Quit() { m.quit(); }

private:
    Mpris &m;
};

class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPlay)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)
public:
    MprisPlayer(Mpris &mpris, QObject *holder) : QDBusAbstractAdaptor(holder), m(mpris)
    {
        connect(&m, &Mpris::seeked, this, [this](qint64 position) { emit Seeked(position); });
    }
    QString playbackStatus() const { return m.playbackStatus(); }
    QString loopStatus() const { return m.loopStatus(); }
    double rate() const { return m.rate(); }
    // The speed slider's ends.
    double minimumRate() const { return 0.001; }
    double maximumRate() const { return 3.0; }
    QVariantMap metadata() const { return m.metadata(); }
    double volume() const { return m.volume(); }
    qlonglong position() const { return m.position(); }
    bool canGoNext() const { return m.canGoNext(); }
    bool canGoPrevious() const { return m.canGoPrevious(); }
    bool canPlay() const { return m.canPlay(); }
    bool canSeek() const { return m.canSeek(); }
    bool canControl() const { return true; }
public slots:
    void Play() { m.play(); }
    void Pause() { m.pause(); }
    void PlayPause() { m.playPause(); }
    void Stop() { m.stop(); }
    void Next() { m.next(); }
    void Previous() { m.previous(); }
    void Seek(qlonglong offset) { m.seek(offset); }
    void SetPosition(const QDBusObjectPath &track, qlonglong position)
    {
        m.setPosition(track, position);
    }
signals:
    void Seeked(qlonglong position);

private:
    Mpris &m;
};

Mpris::Mpris(frmMain &panel, QDBusConnection bus)
    : m_panel(panel), m_playToggle(panel), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    new MprisRoot(*this, this);
    new MprisPlayer(*this, this);
    if (!m_bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return;
    // A second Kurimo takes an instance name, as the interface asks.
    for (const QString &name :
         {QStringLiteral("org.mpris.MediaPlayer2.kurimo"),
          QStringLiteral("org.mpris.MediaPlayer2.kurimo.instance%1")
              .arg(QCoreApplication::applicationPid())}) {
        if (m_bus.registerService(name)) {
            m_service = name;
            break;
        }
    }
    m_panel.installEventFilter(this);
    m_watch.setInterval(250);
    connect(&m_watch, &QTimer::timeout, this, &Mpris::refresh);
    m_watch.start();
    refresh();
}

Mpris::~Mpris()
{
    if (!m_service.isEmpty())
        m_bus.unregisterService(m_service);
    if (m_bus.isConnected())
        m_bus.unregisterObject(kObjectPath);
}

bool Mpris::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the panel closes the video: from then on nothing may ask the device.
    if (watched == &m_panel && event->type() == QEvent::Close) {
        m_closed = true;
        QTimer::singleShot(0, this, &Mpris::refresh);
    }
    return false;
}

bool Mpris::deviceReady() const
{
    return !m_closed && m_panel.DeviceError != -1 && !QApplication::activeModalWidget();
}

void Mpris::click(QAbstractButton *button)
{
    if (!QApplication::activeModalWidget())
        button->click();
    refresh();
}

void Mpris::raise()
{
    m_panel.raise();
    m_panel.activateWindow();
}

void Mpris::quit()
{
    click(m_panel.Command5);
}

void Mpris::play()
{
    if (playbackStatus() == QLatin1String("Playing"))
        return;
    click(m_playToggle.button());
}

void Mpris::pause()
{
    if (playbackStatus() != QLatin1String("Playing"))
        return;
    click(m_playToggle.button());
}

void Mpris::playPause()
{
    click(m_playToggle.button());
}

void Mpris::stop()
{
    click(m_panel.Command2);
}

void Mpris::next()
{
    click(m_panel.Command9);
}

void Mpris::previous()
{
    click(m_panel.Command10);
}

void Mpris::seek(qint64 offset)
{
    if (!canSeek() || !deviceReady())
        return;
    const qint64 now = timeOfFrame(m_panel.mciAVI.position());
    seekToFrame(frameAt(std::clamp<qint64>(now + offset, 0, m_lengthTime)));
}

void Mpris::setPosition(const QDBusObjectPath &track, qint64 position)
{
    // A position meant for another video, or outside this one, is ignored, as the interface asks.
    if (!canSeek() || !deviceReady() || track.path() != metadata().value("mpris:trackid")
        .value<QDBusObjectPath>().path() || position < 0 || position > m_lengthTime)
        return;
    seekToFrame(frameAt(position));
}

void Mpris::seekToFrame(qint32 frame)
{
    // The slider's own handler, as if it had been dragged there.
    m_panel.Slider1->setProgramValue(frame);
    m_panel.Slider1_Change();
    refresh();
    emit seeked(timeOfFrame(frame));
}

void Mpris::readLength()
{
    const QString path = deviceReady() ? m_panel.MediaPath : QString();
    if (path == m_path && (path.isEmpty() || m_lengthFrames == m_panel.MediaLength))
        return;
    m_path = path;
    m_lengthFrames = path.isEmpty() ? -1 : m_panel.MediaLength;
    m_lengthTime = 0;
    ++m_track;
    if (path.isEmpty())
        return;
    // In milliseconds for this one read, as the time label does.
    m_panel.channel.mciExecute(Catalogue::timeFormatMs(path));
    m_lengthTime = qint64(m_panel.mciAVI.length()) * 1000;
    m_panel.channel.mciExecute(Catalogue::timeFormatFrames(path));
}

qint64 Mpris::timeOfFrame(qint32 frame) const
{
    return m_lengthFrames > 0 ? qint64(frame) * m_lengthTime / m_lengthFrames : 0;
}

qint32 Mpris::frameAt(qint64 time) const
{
    if (m_lengthTime <= 0)
        return 0;
    // The last frame that has begun by then; the division may land one short.
    qint32 frame = qint32(time * m_lengthFrames / m_lengthTime);
    while (frame < m_lengthFrames && timeOfFrame(frame + 1) <= time)
        ++frame;
    return frame;
}

QString Mpris::playbackStatus()
{
    // Behind a modal window the device is not asked: as last told.
    if (!deviceReady())
        return m_closed || m_panel.DeviceError == -1 || !m_told.contains("PlaybackStatus")
                   ? QStringLiteral("Stopped")
                   : m_told.value("PlaybackStatus").toString();
    const PlayerState &s = m_panel.state;
    if (s.ForwardPlayState == 1 || s.ReversePlayState == 1) {
        if (s.RepeatMode != 0)
            return QStringLiteral("Playing");
        // A play once stops at the end of the range; the pair still says playing.
        const qint32 p = m_panel.mciAVI.position();
        const bool ended = s.ForwardPlayState == 1 ? p >= s.RangeTo : p <= s.RangeFrom;
        return ended ? QStringLiteral("Stopped") : QStringLiteral("Playing");
    }
    if (s.ForwardPlayState == 2 || s.ReversePlayState == 2)
        return QStringLiteral("Paused");
    return QStringLiteral("Stopped");
}

QVariantMap Mpris::metadata()
{
    readLength();
    QVariantMap data;
    data.insert(QStringLiteral("mpris:trackid"),
                QVariant::fromValue(QDBusObjectPath(
                    m_path.isEmpty() ? QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")
                                     : QStringLiteral("/org/example/kurimo/track/%1").arg(m_track))));
    if (m_path.isEmpty())
        return data;
    data.insert(QStringLiteral("xesam:title"), QFileInfo(m_path).fileName());
    data.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(m_path).toString(QUrl::FullyEncoded));
    data.insert(QStringLiteral("mpris:length"), m_lengthTime);
    return data;
}

qint64 Mpris::position()
{
    if (deviceReady()) {
        readLength();
        m_lastPosition = timeOfFrame(m_panel.mciAVI.position());
    }
    return m_lastPosition;
}

double Mpris::rate() const
{
    return m_panel.state.PlaybackSpeed / 1000.0;
}

double Mpris::volume() const
{
    return m_panel.state.SoundState == QLatin1String("off") ? 0.0 : 1.0;
}

QString Mpris::loopStatus() const
{
    return m_panel.state.RepeatMode == 0 ? QStringLiteral("None") : QStringLiteral("Track");
}

bool Mpris::canPlay() const
{
    return m_panel.Command1->isEnabled();
}

bool Mpris::canSeek() const
{
    return m_panel.Slider1->isEnabled();
}

bool Mpris::canGoNext() const
{
    return m_panel.Command9->isEnabled();
}

bool Mpris::canGoPrevious() const
{
    return m_panel.Command10->isEnabled();
}

void Mpris::refresh()
{
    const QVariantMap now = {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("LoopStatus"), loopStatus()},
        {QStringLiteral("Rate"), rate()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), volume()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPlay()},
        {QStringLiteral("CanSeek"), canSeek()},
    };
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (m_told.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    m_told = now;
    const bool playing = now.value("PlaybackStatus") == QLatin1String("Playing");
    if (playing != m_playing) {
        m_playing = playing;
        emit playingChanged(playing);
    }
    if (changed.isEmpty() || m_service.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    m_bus.send(signal);
}

#include "Mpris.moc"
