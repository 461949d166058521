#include "capture/Form1.h"
#include "capture/PictureBox.h"
#include "shell/FileDrop.h"
#include "media/InterpreterChannel.h"
#include "media/InterpreterControl.h"
#include "platform/mci/Interpreter.h"
#include "platform/video/Registration.h"
#include "platform/video/audio/AudioTrack.h"
#include "platform/windowing/CommonDialog.h"
#include "shell/Controls.h"
#include "shell/frmMain.h"
#include "tests/support/ClipCorpus.h"
#include "tests/support/FixedScreen.h"
#include "tests/support/RecordingMessages.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// The loaded panel in front of the real multimedia layer and video device, silent, headless,
// on a lossless 160 by 120 clip of 60 frames at 25 a second (a frame is 40 ms, pixels compare
// exactly) under a path with blanks and Japanese characters, as people name their files; two
// more copies to open from outside. The open dialog answers with path; every error the layer
// reports lands in layerErrors.
class PanelWithLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        video::setSilentAudioOnly(true);
        video::registerVideoDevice(interpreter);
        interpreter.setErrorReporter([this](const QString &command, const QString &message) {
            layerErrors << command + QLatin1String(" -> ") + message;
        });
        windowing::CommonDialog::setResponder([this](const windowing::CommonDialog::Request &) {
            ++dialogsShown;
            return path;
        });
        panel.Form_Load();
        QString error;
        const QString source = ClipCorpus::file(ClipCorpus::Kind::Dib24, &error);
        ASSERT_FALSE(source.isEmpty()) << error.toStdString();
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("my videos")));
        path = dir.path() + QStringLiteral("/my videos/テスト 1.avi");
        clip = dir.filePath(QStringLiteral("a clip.avi"));
        other = dir.filePath(QStringLiteral("another clip.avi"));
        for (const QString &copy : {path, clip, other})
            ASSERT_TRUE(QFile::copy(source, copy));
    }
    void TearDown() override
    {
        if (Form1 *capture = Form1::existing())
            capture->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        panel.Form_Unload();
        windowing::CommonDialog::setResponder({});
        video::setSilentAudioOnly(false);
        EXPECT_TRUE(layerErrors.isEmpty()) << layerErrors.join('\n').toStdString();
    }

    QString status(const char *item)
    {
        const mci::Result r = interpreter.send("status " + path + ' ' + item);
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        return r.reply;
    }
    int position() { return status("position").toInt(); }

    // Let the device play on its real clock until it stops by itself, or give up.
    bool runUntilStopped(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (status("mode") == QLatin1String("stopped"))
                return true;
        }
        return false;
    }

    // What a user's move of the position slider does.
    void moveSliderTo(int frame)
    {
        panel.Slider1->setValue(frame);
        ASSERT_EQ(position(), frame);
    }

    // Frame n of the clip as ffmpeg decodes it.
    QImage referenceFrame(int n)
    {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-i", path, "-vf", QStringLiteral("select=eq(n\\,%1)").arg(n),
                      "-frames:v", "1", "-f", "image2pipe", "-c:v", "png", "-"});
        if (!ffmpeg.waitForFinished(30000))
            return {};
        return QImage::fromData(ffmpeg.readAllStandardOutput(), "PNG")
            .convertToFormat(QImage::Format_RGB32);
    }

    // Drags `urls` onto `window` and drops them there; true when the window took them.
    bool drop(QWidget *window, const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint middle = window->rect().center();
        QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &dropped);
        QCoreApplication::processEvents();
        return dropped.isAccepted();
    }

    QWidget *videoWindow() const
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == QFileInfo(panel.MediaPath).fileName())
                return w;
        }
        return nullptr;
    }

    FixedScreen screen;
    RecordingMessages messages;
    QString path;
    QStringList layerErrors;
    mci::Interpreter interpreter;
    InterpreterChannel channel{interpreter};
    InterpreterControl control{interpreter};
    frmMain panel{channel, control};
    QTemporaryDir dir;
    QString clip;
    QString other;
    int dialogsShown = 0;
    FileDrop fileDrop{panel};
};

TEST_F(PanelWithLayer, OpenPlayPauseStepEndMarkReverseAndTimeLabel)
{
    panel.Command8_Click();
    ASSERT_EQ(panel.DeviceError, 0);
    EXPECT_EQ(panel.MediaPath, path);
    EXPECT_EQ(panel.MediaLength, 60);
    EXPECT_EQ(panel.state.SourceWidth, 160);
    EXPECT_EQ(panel.state.SourceHeight, 120);
    EXPECT_EQ(status("mode"), QStringLiteral("stopped"));
    EXPECT_EQ(position(), 0);

    // Play, then pause with the same button: the device holds where it was.
    panel.Command1_Click();
    EXPECT_EQ(status("mode"), QStringLiteral("playing"));
    panel.Command1_Click();
    EXPECT_EQ(status("mode"), QStringLiteral("paused"));
    const int held = position();
    EXPECT_LT(held, 60);

    panel.Command9_Click();
    EXPECT_EQ(position(), held + 1);
    panel.Command4_Click();
    EXPECT_EQ(position(), 60);

    // Mark 10..30.
    moveSliderTo(10);
    panel.Command16_Click();
    moveSliderTo(30);
    panel.Command18_Click();
    EXPECT_EQ(panel.state.RangeFrom, 10);
    EXPECT_EQ(panel.state.RangeTo, 30);

    // After a stop, reverse plays the marked range from its end down to its start, once:
    // repeat switched on meanwhile changes the next play, not this one.
    panel.Command2_Click();
    panel.Command15_Click();
    EXPECT_EQ(status("mode"), QStringLiteral("playing"));
    panel.Command14_Click();
    ASSERT_TRUE(runUntilStopped(10000));
    EXPECT_EQ(position(), 10);
    EXPECT_TRUE(messages.events.empty());

    // The label reads the position in milliseconds and leaves the device counting in frames.
    panel.state.TimeDisplayMode = 1;
    moveSliderTo(59);
    EXPECT_EQ(panel.Label1->text(), QStringLiteral("2.4秒")); // 59 x 40 ms
    EXPECT_EQ(panel.mciAVI.position(), 59);
}

// The copy holds the exact frame of its moment, also while the video plays (slowly here, so
// the moment is one frame), and keeps it when the video moves on; saved, the file holds it.
TEST_F(PanelWithLayer, CopyHoldsTheExactFrameAndSavesIt)
{
    panel.Command8_Click();
    moveSliderTo(10);
    panel.Slider2->setValue(1); // a frame every 40 seconds
    panel.Command1_Click();
    panel.Command19_Click();
    EXPECT_EQ(status("mode"), QStringLiteral("playing"));
    Form1 *capture = Form1::existing();
    ASSERT_NE(capture, nullptr);
    const QImage picture = capture->Picture1->image();
    EXPECT_EQ(picture, referenceFrame(position()));

    moveSliderTo(40);
    EXPECT_EQ(capture->Picture1->image(), picture);
    panel.Command19_Click();
    EXPECT_EQ(Form1::existing(), capture);
    EXPECT_EQ(capture->Picture1->image(), referenceFrame(40));

    const QString target = dir.filePath(QStringLiteral("フレーム 40.bmp"));
    windowing::CommonDialog::setResponder(
        [&](const windowing::CommonDialog::Request &) { return target; });
    capture->tofile_Click();
    EXPECT_EQ(Form1::existing(), nullptr);
    EXPECT_EQ(QImage(target, "BMP").convertToFormat(QImage::Format_RGB32), referenceFrame(40));
}

// The copy, the clipboard and the saved file are the device's own frame, every pixel of it,
// at sizes odd and even, tiny and 4K wide.
TEST_F(PanelWithLayer, ACopyIsTheWholeFrameAtEverySize)
{
    for (const QSize size : {QSize(161, 121), QSize(160, 120), QSize(2, 2), QSize(3840, 8)}) {
        const QString sizeText = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        SCOPED_TRACE(sizeText.toStdString());
        QString error;
        const QString file = ClipCorpus::generate(QStringLiteral("copy-") + sizeText,
            {"-f", "lavfi", "-i", "testsrc2=rate=25:duration=0.4", "-vf",
             QStringLiteral("scale=%1:%2").arg(size.width()).arg(size.height()), "-c:v", "rawvideo", "-pix_fmt", "bgr24"},
            &error);
        ASSERT_FALSE(file.isEmpty()) << error.toStdString();
        openAsIfChosen(panel, file);
        ASSERT_EQ(panel.DeviceError, 0) << layerErrors.join('\n').toStdString();
        panel.Slider1->setValue(7);
        const QString own = dir.filePath(QStringLiteral("own.bmp"));
        ASSERT_TRUE(interpreter.send("capture " + file + " as " + own).ok);
        const QImage frame = QImage(own, "BMP").convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(frame.size(), size);

        panel.Command19_Click();
        ASSERT_NE(Form1::existing(), nullptr);
        EXPECT_EQ(Form1::existing()->Picture1->image(), frame);
        Form1::existing()->toclip_Click();
        EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), frame);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        const QString saved = dir.filePath(sizeText + QStringLiteral(".bmp"));
        windowing::CommonDialog::setResponder(
            [&](const windowing::CommonDialog::Request &) { return saved; });
        panel.Command19_Click();
        Form1::existing()->tofile_Click();
        EXPECT_EQ(QImage(saved, "BMP").convertToFormat(QImage::Format_RGB32), frame);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A file named on the command line or dropped on a window goes through the file button's
// handler as a dialog choice would.
TEST_F(PanelWithLayer, ARelativeNameOpensTheWholePathAndABadOneLeavesNoMedia)
{
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    openAsIfChosen(panel, QStringLiteral("./a clip.avi"));
    QDir::setCurrent(before);
    EXPECT_EQ(panel.DeviceError, 0) << layerErrors.join('\n').toStdString();
    EXPECT_EQ(panel.MediaPath, clip);
    EXPECT_TRUE(panel.Command1->isEnabled());
    EXPECT_EQ(interpreter.openDevices(), QStringList{clip});

    // Paths that cannot be played (missing, not AVI) after a good one: the layer's box, the
    // beep and the panel's own box, as for a bad choice in the dialog; the panel is locked
    // again and its buttons reach no device.
    const QString text = dir.filePath(QStringLiteral("notes.avi"));
    ASSERT_TRUE(ClipCorpus::writeAll(text, "this is not a video\n"));
    for (const QString &bad : {dir.filePath(QStringLiteral("no such.avi")), text}) {
        SCOPED_TRACE(bad.toStdString());
        openAsIfChosen(panel, bad);
        EXPECT_EQ(panel.MediaPath, bad);
        EXPECT_EQ(panel.DeviceError, -1);
        EXPECT_FALSE(panel.Command1->isEnabled());
        EXPECT_FALSE(panel.Slider1->isEnabled());
        EXPECT_EQ(layerErrors.size(), 1);
        layerErrors.clear();
        EXPECT_EQ(messages.events.size(), 2u); // what they say the panel's open test shows
        messages.events.clear();
        panel.Command1_Click();
        panel.Command9_Click();
        EXPECT_TRUE(interpreter.openDevices().isEmpty());
    }
    EXPECT_EQ(dialogsShown, 0);
}

TEST_F(PanelWithLayer, AFileDroppedOnThePanelOrTheVideoWindowOpens)
{
    EXPECT_FALSE(drop(&panel, {QUrl(QStringLiteral("https://example.org/a.avi"))}));
    EXPECT_TRUE(panel.MediaPath.isEmpty());

    ASSERT_TRUE(drop(&panel, {QUrl::fromLocalFile(clip)}));
    EXPECT_EQ(panel.DeviceError, 0) << layerErrors.join('\n').toStdString();
    EXPECT_EQ(panel.MediaPath, clip);

    // The layer's window takes drops once it shows, without knowing who asked.
    QWidget *video = videoWindow();
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(video->acceptDrops());
    ASSERT_TRUE(drop(video, {QUrl(QStringLiteral("https://example.org/x")),
                             QUrl::fromLocalFile(other)}));
    EXPECT_EQ(panel.MediaPath, other);
    EXPECT_EQ(interpreter.openDevices(), QStringList{other});
    EXPECT_EQ(dialogsShown, 0);
    EXPECT_TRUE(layerErrors.isEmpty());
}

} // namespace
