#pragma once

// The video device ("avivideo") of the multimedia layer. The type keeps the name the panel
// asks for; it plays AVI and every other container libavformat reads.
//
// Threads. Every Device call comes on the user-interface thread and returns without waiting
// for a decode, except the synchronous ones: a seek (and the frame a stopped device shows
// first) is one FrameSource::frameAt on this thread, which the decoding core keeps cheap
// near recent positions. During a play one decode thread (DecodeAhead, owned by the Player)
// decodes ahead in the play direction into a queue of a few frames; the user-interface
// thread presents from that queue on a 4 ms precise timer and never waits for it, counting
// the frames it had to skip. The sound decodes and plays on the AudioTrack's own thread.
//
// Ownership. The device owns the FrameSource, the AudioTrack (may be null: silent
// picture), the Player (which owns the decode thread and only borrows the source and the
// track) and its top-level VideoWindow. Destroying the device - close, or the program
// ending - stops the timer, the sound and the decode thread (joined) and ends any
// waitForPlayEnd() that is running.
//
// Clocks. The Player decides which clock leads: the sound's while it plays forward at a
// speed of 250 to 3000 with audio on, else a PlaybackClock fed by the injected ClockSource
// (steady_clock in the program, a ManualClock in tests).
//
// Units. Inside, positions are frame numbers 0..length, length being the number of frame
// slots; requests and replies are converted at this edge with FrameTime when the time
// format is milliseconds.
//
// The window. "put window at L T W H" treats W x H as the whole window including a 20-pixel
// title bar: the picture area is W x (H - 20) and its top-left corner on the screen is
// (L, T + 20). Qt places the client area, so the widget's geometry is exactly that; a window
// manager draws its frame around it. update() draws at that picture size.
//
// Waiting. waitForPlayEnd() runs a local event loop until the play is no longer playing: it
// reached its end, or a stop, pause, seek or new play came from inside the loop, or the
// device was destroyed (then it returns without touching it), or the application quit. A
// repeating play never ends, so waiting for it returns at once.

#include "platform/video/FrameSource.h"
#include "platform/video/device/FrameTime.h"
#include "platform/video/play/ClockSource.h"
#include "platform/video/play/Player.h"
#include "platform/mci/Device.h"

#include <QEventLoop>
#include <QList>
#include <QSize>
#include <QString>

#include <memory>

namespace video {

class AudioTrack;
class VideoWindow;

class VideoDevice : public mci::Device {
public:
    // Title bar allowance inside the height of "put window at".
    static constexpr int kTitleAllowance = 20;

    struct Options {
        std::shared_ptr<const ClockSource> clock; // steady_clock when null
        Player::Options player;
    };

    VideoDevice(const QString &path, std::unique_ptr<FrameSource> source,
        std::unique_ptr<AudioTrack> audio, Options options);
    ~VideoDevice() override;

    bool canPlay() const override;
    mci::Result play(const mci::PlayRequest &request) override;
    mci::Result pause() override;
    mci::Result stop() override;
    mci::Result seek(const mci::SeekRequest &request) override;
    mci::Result status(mci::StatusItem item) override;
    mci::Result setTimeFormat(mci::TimeFormat format) override;
    mci::Result setSpeed(qint32 speed) override;
    mci::Result setAudio(bool on) override;
    mci::Result whereSource() override;
    mci::Result putWindow(const mci::Rect &rect) override;
    mci::Result update(const mci::Rect &rect, QImage &surface) override;
    mci::Result capture(const QString &path) override;
    void waitForPlayEnd() override;
    QString playFailure() const override;

    // For tests: the engine (tick, waitForDecoder) and the window.
    Player &player() { return *m_player; }
    VideoWindow &window() { return *m_window; }
    // The size frames are drawn at: the last put's picture area, else the source size.
    QSize pictureSize() const { return m_pictureSize; }

private:
    // A position from a request, in frames; nullopt when outside 0..length.
    std::optional<int> framesFromRequest(qint64 value) const;
    qint64 toReply(int frames) const;
    mci::Result seekFrames(int position);
    void showWindow();

    QString m_path;
    bool m_canPlay = false;
    std::unique_ptr<FrameSource> m_source;
    std::unique_ptr<AudioTrack> m_audio;
    FrameTime m_frameTime;
    mci::TimeFormat m_timeFormat = mci::TimeFormat::Frames;
    QSize m_pictureSize;
    std::unique_ptr<Player> m_player;
    std::unique_ptr<VideoWindow> m_window;
    QList<QEventLoop *> m_waits;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace video
