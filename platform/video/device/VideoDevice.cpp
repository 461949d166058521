#include "platform/video/device/VideoDevice.h"

#include "platform/video/audio/AudioTrack.h"
#include "platform/video/device/Messages.h"
#include "platform/video/device/Opening.h"
#include "platform/video/device/VideoWindow.h"
#include "platform/windowing/SaveWhole.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>

#include <sys/stat.h>

namespace video {

namespace {

constexpr int kMinSpeed = 1;
constexpr int kMaxSpeed = 3000;
// The largest window side and the farthest window corner we place; beyond that it is a
// mistake in the command, not a screen.
constexpr qint64 kMaxWindowSide = 16384;
constexpr qint64 kMaxWindowOffset = 1000000;
// A file name's bytes a file system takes (NAME_MAX), less the temporary name's suffix.
constexpr qsizetype kLongestName = 255 - 7;

// Intersection of half-open ranges in 64 bits, so that no 32-bit sum can overflow.
struct Span {
    qint64 begin;
    qint64 end;
    Span operator&(const Span &o) const
    {
        return {std::max(begin, o.begin), std::min(end, o.end)};
    }
    bool empty() const { return end <= begin; }
};

} // namespace

VideoDevice::VideoDevice(const QString &path, std::unique_ptr<FrameSource> source,
    std::unique_ptr<AudioTrack> audio, Options options)
    : m_path(path)
    , m_options(std::move(options))
    , m_stamp(stampOf(path))
    , m_source(std::move(source))
    , m_audio(std::move(audio))
    , m_frameTime(m_source->info().rateNum, m_source->info().rateDen, m_source->info().pictureMs)
    , m_pictureSize(m_source->info().width, m_source->info().height)
{
    if (!m_options.clock)
        m_options.clock = std::make_shared<SteadyClockSource>();
    m_window = std::make_unique<VideoWindow>([this]() -> const QImage & {
        return m_player->picture();
    });
    m_window->setWindowTitle(QFileInfo(path).fileName());
    if (!m_pictureSize.isEmpty())
        m_window->resize(m_pictureSize);
    m_prerollWatch.setInterval(50);
    QObject::connect(&m_prerollWatch, &QTimer::timeout, [this] { showPrerollBusy(); });
    makePlayer();
    m_openedFrameCount = m_source->info().frameCount;

    // Playable when it has frames and the first of them decodes; that picture is the one
    // the window shows first anyway.
    const VideoInfo &info = m_source->info();
    m_canPlay = info.frameCount > 0 && info.width > 0 && info.height > 0
        && !m_player->picture().isNull();
}

VideoDevice::~VideoDevice()
{
    m_prerollWatch.stop();
    if (m_busyShown)
        QGuiApplication::restoreOverrideCursor();
    m_alive.reset();
    for (QEventLoop *loop : std::as_const(m_waits))
        loop->quit();
    // The window goes first: it paints from the player. The player then stops its timer,
    // its sound and joins its decode thread, before the source and the track go.
    m_window.reset();
    m_player.reset();
}

void VideoDevice::makePlayer()
{
    m_player = std::make_unique<Player>(*m_source, m_audio.get(), m_options.clock,
        m_options.player);
    QObject::connect(m_player.get(), &Player::pictureChanged, m_window.get(),
        qOverload<>(&QWidget::update));
    // The sign goes the moment the pre-roll ends, not at the watch's next look.
    QObject::connect(m_player.get(), &Player::pictureChanged, m_player.get(),
        [this] { showPrerollBusy(); });
    QObject::connect(m_player.get(), &Player::modeChanged, m_player.get(),
        [this] { showPrerollBusy(); });
    // Wherever the picture comes to a stand (a pause, a stop, the end of a play), the source
    // prepares the next pictures while nothing else is asked.
    QObject::connect(m_player.get(), &Player::modeChanged, m_player.get(),
        [this](Player::Mode mode) {
            if (mode == Player::Mode::Paused || mode == Player::Mode::Stopped)
                m_source->restAt(m_player->position());
        });
}

std::optional<VideoDevice::FileStamp> VideoDevice::stampOf(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0
        || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
        quint64(st.st_dev), quint64(st.st_ino)};
}

void VideoDevice::noticeFileChange()
{
    if (!m_stamp || m_lookingAtFile)
        return;
    const std::optional<FileStamp> now = stampOf(m_path);
    if (now == m_stamp)
        return;
    const FileStamp was = *m_stamp;
    // Looked at once per change: indexing a long file again takes seconds.
    m_stamp = now;
    m_fileChanged = true;
    // Renamed over or deleted: the file that was opened lives on behind its descriptor, and
    // every frame of it can still be read.
    if (!now || now->device != was.device || now->inode != was.inode)
        return;
    m_lookingAtFile = true;
    OpenError reason;
    std::unique_ptr<FrameSource> source = openKeepingEventsAlive(m_path, &reason);
    m_lookingAtFile = false;
    // Not a video of this picture size any more (or not yet, for a recording whose index is
    // written last): the old index stays, and each frame it cannot read says why.
    const VideoInfo &had = m_source->info();
    if (!source || source->info().width != had.width || source->info().height != had.height)
        return;
    // Grown with every position it had: as if it had been opened now. Otherwise it was cut
    // short or written anew in place, and the old index points at bytes that are not what they
    // were: what the file holds now is what can be shown, and what is gone says so.
    m_fileChanged = now->size < was.size || source->info().frameCount < had.frameCount;
    adoptSource(std::move(source));
}

void VideoDevice::adoptSource(std::unique_ptr<FrameSource> source)
{
    source->setDecodeAhead(true);
    OpenError audioReason;
    std::unique_ptr<AudioTrack> audio = openSoundOf(m_path, *source, &audioReason);

    const int position = std::min(m_player->position(), source->info().frameCount);
    const int speed = m_player->speed();
    const bool audioOn = m_player->audioOn();
    // A wait follows the player that goes now; the command that brought us here ends it
    // anyway, as a new play or seek does.
    for (QEventLoop *loop : std::as_const(m_waits))
        loop->quit();
    // The player goes first: it borrows the source and the track.
    m_player.reset();
    m_source = std::move(source);
    m_audio = std::move(audio);
    const VideoInfo &info = m_source->info();
    m_frameTime = FrameTime(info.rateNum, info.rateDen, info.pictureMs);
    makePlayer();
    m_player->setSpeed(speed);
    m_player->setAudioOn(audioOn);
    m_player->seek(position);
    m_window->update();
}

std::optional<mci::Result> VideoDevice::lostPosition(std::optional<qint64> value) const
{
    // Positions the file had when it was opened and no longer has.
    if (value && *value > toReply(m_source->info().frameCount) && *value >= 0
        && *value <= toReply(m_openedFrameCount))
        return mci::Result::failure(messages::fileChanged());
    return std::nullopt;
}

void VideoDevice::showPrerollBusy()
{
    const bool prerolling = m_player && m_player->prerolling();
    if (!prerolling)
        m_prerollWatch.stop();
    const bool busy = prerolling && m_options.clock->now() - m_playAsked >= kBusyAfter;
    if (busy == m_busyShown)
        return;
    m_busyShown = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

QString VideoDevice::unreadableFrame() const
{
    return m_fileChanged ? messages::fileChanged() : messages::frameUnreadable();
}

bool VideoDevice::canPlay() const
{
    return m_canPlay;
}

std::optional<int> VideoDevice::framesFromRequest(qint64 value) const
{
    // The range is checked in the unit the position came in: rounded to frames first, -1 ms
    // would become frame 0 and a few milliseconds past the end the last frame.
    const int frameCount = m_source->info().frameCount;
    if (value < 0 || value > toReply(frameCount))
        return std::nullopt;
    if (m_timeFormat == mci::TimeFormat::Frames)
        return int(value);
    // Above 1000 frames per second the length in ms can round up into one frame more.
    return int(std::min<qint64>(m_frameTime.toFrames(value), frameCount));
}

qint64 VideoDevice::toReply(int frames) const
{
    return m_timeFormat == mci::TimeFormat::Milliseconds ? m_frameTime.toMilliseconds(frames)
                                                         : frames;
}

mci::Result VideoDevice::play(const mci::PlayRequest &request)
{
    if (!canPlay())
        return mci::Result::failure(messages::cannotPlay());
    noticeFileChange();
    for (const std::optional<qint64> asked : {request.from, request.to})
        if (std::optional<mci::Result> lost = lostPosition(asked))
            return *lost;
    std::optional<int> from;
    std::optional<int> to;
    if (request.from && !(from = framesFromRequest(*request.from)))
        return mci::Result::failure(messages::positionOutOfRange());
    if (request.to && !(to = framesFromRequest(*request.to)))
        return mci::Result::failure(messages::positionOutOfRange());

    // Backwards the "from" is the upper end and the "to" the lower one.
    PlayPlan plan;
    plan.backward = request.reverse;
    plan.repeat = request.repeat;
    plan.from = from.value_or(m_player->position());
    plan.to = to.value_or(request.reverse ? 0 : m_source->info().frameCount);
    const bool reversed = request.reverse ? plan.from < plan.to : plan.from > plan.to;
    if (reversed && from)
        return mci::Result::failure(messages::rangeReversed());

    showWindow();
    // Nothing to travel: a "to" behind the current position, or a range of one frame played
    // once, shows that frame and stops there.
    if (reversed || (plan.from == plan.to && !plan.repeat))
        return seekFrames(plan.to);
    m_playAsked = m_options.clock->now();
    m_player->play(plan);
    if (m_player->prerolling())
        m_prerollWatch.start();
    return mci::Result::success();
}

mci::Result VideoDevice::pause()
{
    m_player->pause();
    return mci::Result::success();
}

mci::Result VideoDevice::stop()
{
    m_player->stop();
    return mci::Result::success();
}

mci::Result VideoDevice::seek(const mci::SeekRequest &request)
{
    if (!canPlay())
        return mci::Result::failure(messages::cannotPlay());
    noticeFileChange();
    switch (request.kind) {
    case mci::SeekRequest::Kind::Start:
        return seekFrames(0);
    case mci::SeekRequest::Kind::End:
        return seekFrames(m_source->info().frameCount);
    case mci::SeekRequest::Kind::To:
        break;
    }
    if (std::optional<mci::Result> lost = lostPosition(request.position))
        return *lost;
    const std::optional<int> position = framesFromRequest(request.position);
    if (!position)
        return mci::Result::failure(messages::positionOutOfRange());
    return seekFrames(*position);
}

mci::Result VideoDevice::seekFrames(int position)
{
    const bool ok = m_player->seek(position);
    m_window->update();
    return ok ? mci::Result::success() : mci::Result::failure(unreadableFrame());
}

mci::Result VideoDevice::status(mci::StatusItem item)
{
    using mci::StatusItem;
    switch (item) {
    case StatusItem::Length:
        return mci::Result::success(QString::number(toReply(m_source->info().frameCount)));
    case StatusItem::Position:
        return mci::Result::success(QString::number(toReply(m_player->position())));
    case StatusItem::Mode:
        return mci::Result::success(QString::fromLatin1(Player::modeName(m_player->mode())));
    case StatusItem::FrameRate:
        return mci::Result::success(QString::number(m_frameTime.rateTimes1000()));
    case StatusItem::Speed:
        return mci::Result::success(QString::number(m_player->speed()));
    case StatusItem::TimeFormat:
        return mci::Result::success(m_timeFormat == mci::TimeFormat::Frames
                ? QStringLiteral("frames")
                : QStringLiteral("milliseconds"));
    case StatusItem::Audio:
        return mci::Result::success(m_player->audioOn() ? QStringLiteral("on")
                                                        : QStringLiteral("off"));
    case StatusItem::FramesSkipped:
        return mci::Result::success(QString::number(m_player->framesSkipped()));
    }
    return mci::Result::failure(QString());
}

mci::Result VideoDevice::setTimeFormat(mci::TimeFormat format)
{
    m_timeFormat = format;
    return mci::Result::success();
}

mci::Result VideoDevice::setSpeed(qint32 speed)
{
    if (speed < kMinSpeed || speed > kMaxSpeed)
        return mci::Result::failure(messages::speedOutOfRange());
    m_player->setSpeed(speed);
    return mci::Result::success();
}

mci::Result VideoDevice::setAudio(bool on)
{
    m_player->setAudioOn(on);
    return mci::Result::success();
}

mci::Result VideoDevice::whereSource()
{
    const VideoInfo &info = m_source->info();
    return mci::Result::success(QStringLiteral("0 0 %1 %2").arg(info.width).arg(info.height));
}

mci::Result VideoDevice::putWindow(const mci::Rect &rect)
{
    const qint64 pictureHeight = qint64(rect.height) - kTitleAllowance;
    if (rect.width < 1 || rect.width > kMaxWindowSide || pictureHeight < 1
        || pictureHeight > kMaxWindowSide || std::abs(qint64(rect.left)) > kMaxWindowOffset
        || std::abs(qint64(rect.top)) > kMaxWindowOffset)
        return mci::Result::failure(messages::badWindowPlacement());
    m_pictureSize = QSize(rect.width, int(pictureHeight));
    m_window->place(QRect(rect.left, rect.top + kTitleAllowance, rect.width, int(pictureHeight)));
    showWindow();
    return mci::Result::success();
}

void VideoDevice::showWindow()
{
    if (!m_window->isVisible())
        m_window->show();
}

mci::Result VideoDevice::update(const mci::Rect &rect, QImage &surface)
{
    if (surface.isNull())
        return mci::Result::failure(messages::surfaceUnusable());
    const QImage &frame = m_player->picture();
    if (frame.isNull())
        return mci::Result::failure(messages::frameUnreadable());
    const Span xs = Span{rect.left, qint64(rect.left) + rect.width} & Span{0, surface.width()}
        & Span{rect.left, qint64(rect.left) + m_pictureSize.width()};
    const Span ys = Span{rect.top, qint64(rect.top) + rect.height} & Span{0, surface.height()}
        & Span{rect.top, qint64(rect.top) + m_pictureSize.height()};
    if (xs.empty() || ys.empty())
        return mci::Result::success();
    QPainter painter(&surface);
    if (!painter.isActive())
        return mci::Result::failure(messages::surfaceUnusable());
    // Both spans are inside the surface now, so the picture's corner is within 32 bits.
    painter.setClipRect(QRect(int(xs.begin), int(ys.begin), int(xs.end - xs.begin),
        int(ys.end - ys.begin)));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(rect.left, rect.top), m_pictureSize), frame);
    return mci::Result::success();
}

mci::Result VideoDevice::capture(const QString &path)
{
    const QImage &frame = m_player->picture();
    if (frame.isNull())
        return mci::Result::failure(messages::frameUnreadable());
    // The picture is written beside the name first, under a name a few characters longer.
    if (QFile::encodeName(QFileInfo(path).fileName()).size() > kLongestName)
        return mci::Result::failure(messages::cannotSave(path, messages::nameTooLong()));
    const QImage picture = frame.convertToFormat(QImage::Format_RGB888);
    QString reason;
    if (!windowing::saveWhole(
            path, [&](QIODevice &file) { return picture.save(&file, "BMP"); }, &reason))
        return mci::Result::failure(messages::cannotSave(path, reason));
    return mci::Result::success();
}

mci::Result VideoDevice::takeFailure()
{
    switch (m_player->takePlayFailure()) {
    case Player::PlayFailure::Unreadable:
        return mci::Result::failure(messages::playStoppedUnreadable());
    case Player::PlayFailure::OutOfMemory:
        return mci::Result::failure(messages::outOfMemory());
    case Player::PlayFailure::None:
        break;
    }
    return mci::Result::success();
}

void VideoDevice::waitForPlayEnd()
{
    // A repeating play has no end to wait for: waiting would hang whoever asked, so it
    // returns at once and the play goes on.
    if (m_player->mode() != Player::Mode::Playing || m_player->repeating())
        return;
    // Closing the device inside the loop destroys this object: after exec() only the
    // local token may be touched until it says the device is still there.
    const std::weak_ptr<bool> alive = m_alive;
    QEventLoop loop;
    m_waits.append(&loop);
    QObject::connect(m_player.get(), &Player::modeChanged, &loop, [&loop](Player::Mode mode) {
        if (mode != Player::Mode::Playing)
            loop.quit();
    });
    loop.exec();
    if (alive.expired())
        return;
    m_waits.removeOne(&loop);
}

} // namespace video
