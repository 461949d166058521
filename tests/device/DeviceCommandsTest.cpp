#include "platform/mci/Interpreter.h"
#include "platform/video/Registration.h"
#include "platform/video/device/FrameTime.h"
#include "platform/video/device/Messages.h"
#include "platform/video/device/VideoWindow.h"
#include "tests/device/DeviceRig.h"
#include "tests/support/ClipCorpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <sys/stat.h>

#include <gtest/gtest.h>

using mci::StatusItem;

namespace {

TEST(DeviceSeek, ShowsExactlyTheFrameAskedForOrKeepsThePicture)
{
    DeviceRig rig(120);
    for (int p : {37, 0, 120, 1, 119}) {
        ASSERT_TRUE(rig.device->seek(seekTo(p)).ok);
        EXPECT_EQ(rig.position(), p);
        EXPECT_EQ(rig.shownPosition(), p);
        EXPECT_EQ(rig.mode(), "stopped");
    }
    EXPECT_TRUE(rig.device->seek({mci::SeekRequest::Kind::Start, 0}).ok);
    EXPECT_EQ(rig.shownPosition(), 0);
    EXPECT_TRUE(rig.device->seek({mci::SeekRequest::Kind::End, 0}).ok);
    EXPECT_EQ(rig.shownPosition(), 120);

    // Outside the file, or a frame that cannot be decoded: an error, and the picture stays.
    rig.source->breakFrame(30);
    rig.device->seek(seekTo(50));
    for (int bad : {121, -1, 2147483647, 30}) {
        const mci::Result r = rig.device->seek(seekTo(bad));
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_FALSE(r.error.isEmpty());
        EXPECT_EQ(rig.position(), 50);
        EXPECT_EQ(rig.shownPosition(), 50);
    }
}

TEST(DeviceStatus, ReportsEveryItemConvertsMillisecondsBothWaysAndNeedsAFirstFrame)
{
    video::VideoDevice::Options options;
    options.clock = std::make_shared<video::ManualClock>();
    options.player.autoTick = false;
    video::VideoDevice device("x.avi", std::make_unique<FakeFrameSource>(300, 64, 48, 30000, 1001),
        nullptr, options);
    EXPECT_TRUE(device.canPlay());
    EXPECT_EQ(device.status(StatusItem::Length).reply, "300");
    EXPECT_EQ(device.status(StatusItem::FrameRate).reply, "29970");
    EXPECT_EQ(device.status(StatusItem::Speed).reply, "1000");
    EXPECT_EQ(device.status(StatusItem::Audio).reply, "on");
    EXPECT_EQ(device.status(StatusItem::TimeFormat).reply, "frames");

    device.seek(seekTo(100));
    ASSERT_TRUE(device.setTimeFormat(mci::TimeFormat::Milliseconds).ok);
    EXPECT_EQ(device.status(StatusItem::TimeFormat).reply, "milliseconds");
    EXPECT_EQ(device.status(StatusItem::Position).reply, "3337"); // 3336.67
    EXPECT_EQ(device.status(StatusItem::Length).reply, "10010");
    // A position read in milliseconds seeks back to the very same frame.
    device.seek(seekTo(3337));
    device.setTimeFormat(mci::TimeFormat::Frames);
    EXPECT_EQ(device.status(StatusItem::Position).reply, "100");
    device.setTimeFormat(mci::TimeFormat::Milliseconds);
    device.seek(seekTo(1000)); // 29.97 frames
    device.setTimeFormat(mci::TimeFormat::Frames);
    EXPECT_EQ(device.status(StatusItem::Position).reply, "30");
    device.setTimeFormat(mci::TimeFormat::Milliseconds);
    EXPECT_FALSE(device.seek(seekTo(10030)).ok); // 300.6 frames: past the end
    // One rounding rule both ways: at any rate every frame comes back from its milliseconds.
    for (const auto &[num, den] : {std::pair{25, 1}, {30000, 1001}, {24000, 1001}, {15, 2}}) {
        const video::FrameTime t(num, den);
        for (qint64 frame = 0; frame < 20000; frame += 7)
            ASSERT_EQ(t.toFrames(t.toMilliseconds(frame)), frame) << num << "/" << den;
    }

    EXPECT_FALSE(device.setSpeed(0).ok);
    EXPECT_FALSE(device.setSpeed(3001).ok);
    EXPECT_EQ(device.status(StatusItem::Speed).reply, "1000");
    device.setAudio(false);
    EXPECT_EQ(device.status(StatusItem::Audio).reply, "off");

    // A file without frames, or whose first frame cannot be decoded, cannot play.
    video::VideoDevice empty("empty.avi", std::make_unique<FakeFrameSource>(0), nullptr, options);
    EXPECT_FALSE(empty.canPlay());
    EXPECT_FALSE(empty.play({}).ok);
    EXPECT_FALSE(empty.seek(seekTo(0)).ok);
    auto broken = std::make_unique<FakeFrameSource>(10);
    broken->breakFrame(0);
    EXPECT_FALSE(video::VideoDevice("broken.avi", std::move(broken), nullptr, options).canPlay());
}

TEST(DeviceWindow, PutPlacesTheCaptionedPictureBelowTheTitleAndTheCloseBoxOnlyHidesIt)
{
    DeviceRig rig(10, false, false, 320, 240);
    EXPECT_EQ(rig.device->whereSource().reply, "0 0 320 240");
    video::VideoWindow &window = rig.device->window();
    EXPECT_FALSE(window.isVisible());
    rig.device->seek(seekTo(7));
    EXPECT_FALSE(window.isVisible()); // a seek alone does not show it

    ASSERT_TRUE(rig.device->putWindow({352, 254, 384, 308}).ok);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "clip.avi");
    EXPECT_EQ(window.geometry(), QRect(352, 274, 384, 288));
    EXPECT_EQ(rig.device->pictureSize(), QSize(384, 288));
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(FakeFrameSource::positionOf(shot), 7);
    EXPECT_EQ(shot.pixelColor(300, 20), QColor(250, 0, 0)); // top right quadrant, scaled

    // Negative corners (a picture larger than the screen) are placed as given.
    EXPECT_TRUE(rig.device->putWindow({-128, -106, 1280, 980}).ok);
    EXPECT_EQ(window.geometry(), QRect(-128, -86, 1280, 960));

    for (const mci::Rect bad : {mci::Rect{0, 0, 0, 100}, mci::Rect{0, 0, 100, 20},
             mci::Rect{0, 0, 100, -5}, mci::Rect{2147483647, 0, 100, 100},
             mci::Rect{0, 0, 2147483647, 2147483647}}) {
        EXPECT_FALSE(rig.device->putWindow(bad).ok);
    }
    EXPECT_EQ(window.geometry(), QRect(-128, -86, 1280, 960));

    // The close box hides the window and the device stays open: a seek is painted by the next
    // event pump, a play shows the window again.
    rig.device->putWindow({0, 0, 64, 68});
    QCoreApplication::processEvents();
    ASSERT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(rig.device->seek(seekTo(4)).ok);
    EXPECT_EQ(rig.shownPosition(), 4);
    EXPECT_TRUE(rig.device->play(range(0, 5)).ok);
    EXPECT_TRUE(window.isVisible());
    QCoreApplication::processEvents();
    struct Spy : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } spy;
    window.installEventFilter(&spy);
    rig.device->seek(seekTo(8));
    QCoreApplication::processEvents();
    EXPECT_GE(spy.paints, 1);
    window.removeEventFilter(&spy);
}

TEST(DeviceUpdate, DrawsTheFrameAtPictureSizeClippedToRectAndImage)
{
    DeviceRig rig(30, false, false, 64, 48);
    rig.device->seek(seekTo(21));
    rig.device->putWindow({0, 0, 128, 116}); // picture 128 x 96, twice the source

    QImage surface(200, 150, QImage::Format_RGB32);
    surface.fill(Qt::white);
    ASSERT_TRUE(rig.device->update({10, 20, 100, 90}, surface).ok);
    // Drawn at 128 x 96 from (10, 20), cut at x 110 and y 110 by the rectangle.
    EXPECT_EQ(FakeFrameSource::positionOf(surface.copy(10, 20, 128, 96)), 21);
    EXPECT_EQ(surface.pixelColor(100, 40), QColor(250, 0, 0));  // scaled top-right quadrant
    EXPECT_EQ(surface.pixelColor(30, 100), QColor(0, 250, 0));  // scaled bottom-left
    EXPECT_EQ(surface.pixelColor(109, 109), QColor(0, 0, 250)); // last pixel inside the clip
    for (QPoint outside : {QPoint(110, 100), QPoint(100, 110), QPoint(9, 50), QPoint(50, 19)})
        EXPECT_EQ(surface.pixelColor(outside), QColor(Qt::white));

    // Hanging off the image, and far outside 32-bit sums: clipped, no crash.
    QImage small(50, 40, QImage::Format_ARGB32_Premultiplied);
    small.fill(Qt::black);
    EXPECT_TRUE(rig.device->update({-64, -48, 500, 500}, small).ok);
    EXPECT_EQ(small.pixelColor(10, 10), QColor(0, 0, 250)); // bottom-right quadrant lands here
    EXPECT_TRUE(rig.device->update({2147483600, 2147483600, 2147483647, 100}, small).ok);
    QImage null;
    EXPECT_FALSE(rig.device->update({0, 0, 10, 10}, null).ok);
}

// Milliseconds are checked as milliseconds: a position that would round onto the first or the
// last frame is still outside the file, as it is in frames.
TEST(DeviceMilliseconds, PositionsOutsideTheFileAreRefusedForEveryCommand)
{
    DeviceRig rig(1500); // 25 fps: 60,000 ms
    ASSERT_TRUE(rig.device->setTimeFormat(mci::TimeFormat::Milliseconds).ok);
    ASSERT_EQ(rig.reply(StatusItem::Length), "60000");
    const struct {
        std::optional<qint32> from; // a seek's target when there is no `to`
        std::optional<qint32> to;
        bool play;
        bool ok;
    } cases[] = {
        {-1, {}, false, false},
        {60001, {}, false, false},
        {60000, {}, false, true},
        {0, {}, false, true},
        {-1, {}, true, false},
        {{}, 60019, true, false},
        {60001, 60000, true, false},
        {59000, 60000, true, true},
    };
    for (const auto &c : cases) {
        rig.device->stop();
        rig.device->seek(seekTo(1000));
        const mci::Result r =
            c.play ? rig.device->play(range(c.from, c.to)) : rig.device->seek(seekTo(*c.from));
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        EXPECT_EQ(r.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(r.error, video::messages::positionOutOfRange());
            EXPECT_EQ(rig.reply(StatusItem::Position), "1000");
            EXPECT_EQ(rig.mode(), "stopped");
        }
    }
}

// A phone's variable rate: every 7th picture of 25 fps left out (n = 3, 10 ...). In ms a
// position is its picture's own time, and a time shows the picture on screen then.
TEST(DeviceMilliseconds, FollowEachPicturesOwnTimeInARealFile)
{
    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
    const auto send = [&](const QString &command) {
        const mci::Result r = interpreter.send(command);
        EXPECT_TRUE(r.ok) << command.toStdString() << ": " << r.error.toStdString();
        return r.reply;
    };
    QString error;
    const QString path = ClipCorpus::generate(QStringLiteral("vfr-ms"),
        {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-vf",
            "select='not(eq(mod(n\\,7)\\,3))'", "-fps_mode", "vfr", "-frames:v", "30",
            "-c:v", "libx264", "-f", "mp4"},
        &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    send("open " + path + " alias v");
    send("set v time format ms");
    const struct {
        int ms;
        const char *shown; // the time of the picture on screen then
        const char *frame;
    } cases[] = {{120, "80", "2"}, {160, "160", "3"}, {159, "80", "2"}, {0, "0", "0"},
        {1360, "1360", "29"}};
    for (const auto &c : cases) {
        send("seek v to " + QString::number(c.ms));
        EXPECT_EQ(send("status v position"), c.shown) << c.ms;
        send("set v time format frames");
        EXPECT_EQ(send("status v position"), c.frame) << c.ms;
        send("set v time format ms");
    }
    EXPECT_FALSE(interpreter.send("seek v to " + send("status v length") + "1").ok);
}

uint16_t bmpBitCount(const QString &path)
{
    const QByteArray header = ClipCorpus::readAll(path);
    return header.size() < 30 ? 0 : qFromLittleEndian<quint16>(header.constData() + 28);
}

// The frame at the source size, whatever the window's, as a 24-bit BMP. The save renames a
// new file over the name: only a regular file may be replaced that way, a link to one is
// followed, and whatever else has the name stays what it was. A write that fails (the
// temporary beside a 250-character name is too long for the file system; a missing folder)
// leaves an existing file as it was and nothing beside it; a name too long says so.
TEST(DeviceCapture, WritesTheFrameAsA24BitBmpAtSourceSizeOverOnlyARegularFile)
{
    QTemporaryDir dir;
    DeviceRig rig(30, false, false, 64, 48);
    rig.device->putWindow({0, 0, 128, 116});
    rig.device->seek(seekTo(17));
    const auto at = [&](const QString &name) { return dir.filePath(name); };
    const QString precious = QString(246, QLatin1Char('k')) + ".bmp";
    for (const QString &name : {QStringLiteral("file.bmp"), QStringLiteral("target.bmp"), precious})
        ASSERT_TRUE(ClipCorpus::writeAll(at(name), "old"));
    ASSERT_TRUE(QFile::link(at("target.bmp"), at("link.bmp")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("fifo.bmp")).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));

    const struct {
        QString name;
        mode_t type; // what the name must still be afterwards
        bool replaced;
        const char *said = ""; // the reason told
    } cases[] = {
        {"new.bmp", S_IFREG, true},
        {"file.bmp", S_IFREG, true},
        {"link.bmp", S_IFLNK, true},
        {"fifo.bmp", S_IFIFO, false, "通常のファイルではないため置き換えません"},
        {"folder.bmp", S_IFDIR, false, "同じ名前のフォルダがあります"},
        {precious, S_IFREG, false, "ファイル名が長すぎます"},
    };
    for (const auto &c : cases) {
        const mci::Result r = rig.device->capture(at(c.name));
        EXPECT_EQ(r.ok, c.replaced) << c.name.toStdString();
        if (!c.replaced) {
            EXPECT_TRUE(r.error.contains(at(c.name))) << c.name.toStdString();
            EXPECT_TRUE(r.error.contains(QString::fromUtf8(c.said))) << r.error.toStdString();
        }
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(at(c.name)).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, c.type) << c.name.toStdString();
    }
    EXPECT_FALSE(rig.device->capture(at("no/such/dir/x.bmp")).ok);
    EXPECT_TRUE(rig.device->capture(at(QString(296, QLatin1Char('n')) + ".bmp"))
                    .error.contains(QStringLiteral("ファイル名が長すぎます")));
    for (const char *name : {"new.bmp", "file.bmp", "target.bmp"}) // the last through the link
        EXPECT_EQ(bmpBitCount(at(name)), 24) << name;
    EXPECT_EQ(QImage(at("new.bmp")).convertToFormat(QImage::Format_RGB32),
        FakeFrameSource::picture(17, 64, 48));
    EXPECT_EQ(ClipCorpus::readAll(at(precious)), "old");
    const QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot
        | QDir::Hidden | QDir::System);
    EXPECT_EQ(left.size(), 7) << qPrintable(left.join(' ')); // no temporary file
}

} // namespace

// A file that changes under the open device, in each container: one that grows (a recording
// still being written: the first part of the file, then the rest appended) is indexed again
// at the next seek, every old position showing what it showed and the new frames reachable;
// one truncated answers a clear error for what is gone and shows what it still has.
TEST(DeviceFileChange, AGrownFileReachesItsNewFramesAndATruncatedOneSaysWhatIsGone)
{
    const struct {
        const char *name;
        QStringList args;
    } containers[] = {
        {"avi", {"-c:v", "mpeg4", "-g", "12", "-f", "avi"}},
        {"mp4", {"-c:v", "libx264", "-g", "12", "-movflags", "frag_keyframe+empty_moov",
                    "-f", "mp4"}},
        {"mkv", {"-c:v", "libx264", "-g", "12", "-f", "matroska"}},
        {"ts", {"-c:v", "libx264", "-g", "12", "-f", "mpegts"}},
    };
    QTemporaryDir dir;
    for (const auto &c : containers) {
        SCOPED_TRACE(c.name);
        QString error;
        const QString whole = ClipCorpus::generate(QStringLiteral("changing-") + c.name,
            QStringList{"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25", "-frames:v",
                "200", "-pix_fmt", "yuv420p"} + c.args,
            &error);
        ASSERT_FALSE(whole.isEmpty()) << error.toStdString();
        const QByteArray bytes = ClipCorpus::readAll(whole);
        const QString path = dir.filePath(QStringLiteral("recording.") + c.name);
        const auto frameAt = [](mci::Interpreter &in, const QString &device, int position) {
            if (!in.send(QStringLiteral("seek %1 to %2").arg(device).arg(position)).ok)
                return QImage();
            const QString bmp = QDir::temp().filePath(QStringLiteral("kurimo-change.bmp"));
            if (!in.send(QStringLiteral("capture %1 as %2").arg(device, bmp)).ok)
                return QImage();
            return QImage(bmp).convertToFormat(QImage::Format_RGB32);
        };
        mci::Interpreter reference;
        video::registerVideoDevice(reference);
        ASSERT_TRUE(reference.send("open " + whole + " alias w").ok);
        const int length = reference.send("status w length").reply.toInt();
        ASSERT_GT(length, 190);

        // Grown: open the first 40 %, keep position 20, append the rest.
        ASSERT_TRUE(ClipCorpus::writeAll(path, bytes.left(bytes.size() * 2 / 5)));
        {
            mci::Interpreter in;
            video::registerVideoDevice(in);
            ASSERT_TRUE(in.send("open " + path + " alias v").ok);
            const int before = in.send("status v length").reply.toInt();
            ASSERT_LT(before, length - 20);
            ASSERT_TRUE(in.send("seek v to 20").ok);
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::Append));
            file.write(bytes.mid(file.size()));
            file.close();
            const QImage at20 = frameAt(reference, "w", 20);
            EXPECT_EQ(frameAt(in, "v", 20), at20);
            EXPECT_EQ(in.send("status v length").reply.toInt(), length);
            EXPECT_EQ(in.send("status v position").reply, "20");
            EXPECT_EQ(frameAt(in, "v", length - 3), frameAt(reference, "w", length - 3));
            EXPECT_TRUE(in.send(QStringLiteral("play v from %1 to %2 wait")
                                    .arg(before + 1).arg(before + 3)).ok);
            EXPECT_EQ(in.send("status v position").reply.toInt(), before + 3);
        }

        // Truncated: what is gone says so, what is left still shows.
        ASSERT_TRUE(ClipCorpus::writeAll(path, bytes));
        {
            mci::Interpreter in;
            video::registerVideoDevice(in);
            ASSERT_TRUE(in.send("open " + path + " alias v").ok);
            ASSERT_TRUE(in.send("seek v to 30").ok);
            ASSERT_TRUE(QFile::resize(path, bytes.size() / 3));
            const mci::Result gone = in.send(QStringLiteral("seek v to %1").arg(length - 5));
            EXPECT_FALSE(gone.ok);
            EXPECT_EQ(gone.error, video::messages::fileChanged());
            const mci::Result playGone = in.send(
                QStringLiteral("play v from %1 to %2 wait").arg(length - 10).arg(length - 5));
            EXPECT_EQ(playGone.error, video::messages::fileChanged());
            EXPECT_EQ(in.send("status v position").reply, "30");
            EXPECT_EQ(frameAt(in, "v", 3), frameAt(reference, "w", 3));
        }
    }
}
