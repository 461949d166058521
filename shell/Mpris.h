#pragma once

#include "shell/PlayToggle.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

class frmMain;

// The player as the desktop sees it: org.mpris.MediaPlayer2.kurimo on the session bus, for the
// keyboard's media keys, the desktop's media widget and playerctl.
//
// Every call is a click on a panel button, through the button's own click: it does exactly what
// that click does (the same handler, the same command channel) and nothing while the button is
// disabled or a modal window (the open dialog, a box) is up, like the keys.
//   Play / Pause / PlayPause   正再生, or 逆再生 while a reverse play runs or is paused
//   Stop 停止   Next 一送り   Previous 一戻り   Quit 終了
//   Seek / SetPosition         the position slider's handler, at the frame of that time
// Times are microseconds: a frame's time is its share of the length the device gives in ms.
//
// The state is looked at every quarter second and after each call; what changed goes out as
// PropertiesChanged. Whether a play runs is told to playingChanged (the screen saver). Without
// a bus nothing is registered and nothing is watched.
class Mpris : public QObject {
    Q_OBJECT
public:
    Mpris(frmMain &panel, QDBusConnection bus);
    ~Mpris() override;

    // The name it holds on the bus; empty when it holds none.
    QString serviceName() const { return m_service; }

    void raise();
    void quit();
    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void seek(qint64 offset);
    void setPosition(const QDBusObjectPath &track, qint64 position);

    QString playbackStatus();
    QVariantMap metadata();
    qint64 position();
    double rate() const;
    double volume() const;
    QString loopStatus() const;
    bool canPlay() const;
    bool canSeek() const;
    bool canGoNext() const;
    bool canGoPrevious() const;

    // Looks at the state now and tells what changed.
    void refresh();

signals:
    void playingChanged(bool playing);
    void seeked(qint64 position);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Whether the device may be asked: a video is open, the panel is up, no modal window.
    bool deviceReady() const;
    // A button's click, unless a modal window is up; then the state is looked at again.
    void click(class QAbstractButton *button);
    void seekToFrame(qint32 frame);
    qint64 timeOfFrame(qint32 frame) const;
    qint32 frameAt(qint64 time) const;
    void readLength();

    frmMain &m_panel;
    PlayToggle m_playToggle; // Play, Pause and PlayPause click the button Space clicks
    QDBusConnection m_bus;
    QString m_service;
    QTimer m_watch;
    bool m_closed = false;
    // The open video as last read: its path, length in frames and in microseconds, its id.
    QString m_path;
    qint32 m_lengthFrames = -1;
    qint64 m_lengthTime = 0;
    int m_track = 0;
    qint64 m_lastPosition = 0;
    QVariantMap m_told; // each property as last told
    bool m_playing = false;
};
