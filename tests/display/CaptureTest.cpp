#include "capture/Form1.h"
#include "capture/PictureBox.h"
#include "media/Catalogue.h"
#include "platform/mci/Surfaces.h"
#include "platform/windowing/CommonDialog.h"
#include "tests/support/PanelFixture.h"

#include <algorithm>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>

#include <sys/stat.h>

// The copy button and the capture window, with a device that draws into the registered
// surface the way the real one does: a frame of VideoWidth by PutHeightText pixels at 0 0,
// cut off at the image's edges.
class CaptureTest : public PanelFixture {
protected:
    CaptureTest()
    {
        channel.onExecute = [this](const QString &command) {
            if (!command.startsWith(QLatin1String("update ")))
                return;
            ++updates;
            const Form1 *existing = Form1::existing();
            shownWhenDrawn = existing && existing->isVisible();
            const quint32 handle = command.section(QLatin1Char(' '), -1).toUInt();
            QImage *image = mci::Surfaces::find(handle);
            if (!image)
                return;
            QPainter painter(image);
            painter.fillRect(0, 0, int(form->state.VideoWidth), 100, frameColour);
            painter.fillRect(0, 100, int(form->state.VideoWidth), 1000, Qt::blue);
        };
    }

    ~CaptureTest() override
    {
        windowing::CommonDialog::setResponder({});
        Form1::setBitmapWriter({});
        if (Form1 *f = Form1::existing())
            f->close();
        flushDeletes();
    }

    static void flushDeletes()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Answers the save dialog with this name and keeps what the dialog was asked.
    void answerSaveWith(const QString &name)
    {
        windowing::CommonDialog::setResponder(
            [this, name](const windowing::CommonDialog::Request &request) {
                requests.push_back(request);
                return name;
            });
    }

    static QByteArray bytesOf(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    int updates = 0;
    bool shownWhenDrawn = true;
    QColor frameColour = QColor(200, 30, 60);
    std::vector<windowing::CommonDialog::Request> requests;
};

TEST_F(CaptureTest, CopyBeforeAnyVideoDoesNothing)
{
    form->Command19_Click();
    EXPECT_EQ(Form1::existing(), nullptr);
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(CaptureTest, CopyDrawsTheFrameIntoTheRegisteredImageThenShowsTheWindow)
{
    haveVideo(320, 240);
    form->Command19_Click();
    Form1 *capture = Form1::existing();
    ASSERT_NE(capture, nullptr);
    const quint32 hdc = capture->Picture1->hDC();
    EXPECT_EQ(mci::Surfaces::find(hdc), &capture->Picture1->image());
    EXPECT_EQ(channel.commands,
              QStringList({QStringLiteral("update /videos/my clip.avi at 0 0 320 260 hdc ")
                           + QString::number(hdc)}));
    EXPECT_FALSE(shownWhenDrawn);
    EXPECT_TRUE(capture->isVisible());
    EXPECT_EQ(capture->windowTitle(), QStringLiteral("画像コピー"));

    // Outer size 320 x 15 by 240 x 15 + 500 twips, centred across, 500 twips below the middle.
    EXPECT_EQ(capture->geometry.width(), 4800);
    EXPECT_EQ(capture->geometry.height(), 4100);
    EXPECT_EQ(capture->geometry.left(), (15360 - 4800) / 2);
    EXPECT_EQ(capture->geometry.top(), (11520 - 4100) / 2 + 500);
    // The box 6 pixels narrower and lower than the picture, at the client area's corner.
    EXPECT_EQ(capture->Picture1->geometry(), QRect(0, 0, 314, 234));
    EXPECT_EQ(capture->Picture1->image().size(), QSize(314, 234));
    EXPECT_EQ(capture->Picture1->mapTo(capture->centralWidget(), QPoint(0, 0)), QPoint(0, 0));

    // What the device drew is what the box shows.
    const QImage shown = capture->Picture1->grab().toImage();
    EXPECT_EQ(shown.pixelColor(10, 10), frameColour);
    EXPECT_EQ(shown.pixelColor(313, 233), QColor(Qt::blue));
}

TEST_F(CaptureTest, ASecondCopyReusesTheWindowAtTheNewSize)
{
    haveVideo(320, 240);
    form->Command19_Click();
    Form1 *first = Form1::existing();
    const quint32 hdc = first->Picture1->hDC();
    form->Command11_Click();  // "L": 384 by 288
    frameColour = QColor(10, 220, 10);
    form->Command19_Click();
    EXPECT_EQ(Form1::existing(), first);
    EXPECT_EQ(first->Picture1->hDC(), hdc);
    EXPECT_EQ(channel.commands.last(),
              QStringLiteral("update /videos/my clip.avi at 0 0 384 308 hdc ")
                  + QString::number(hdc));
    EXPECT_EQ(first->geometry.width(), 384 * 15);
    EXPECT_EQ(first->geometry.height(), 288 * 15 + 500);
    EXPECT_EQ(first->geometry.left(), (15360 - 5760) / 2);
    EXPECT_EQ(first->geometry.top(), (11520 - 4820) / 2 + 500);
    EXPECT_EQ(first->Picture1->image().size(), QSize(378, 282));
    EXPECT_EQ(first->Picture1->image().pixelColor(377, 50), frameColour);
    EXPECT_TRUE(first->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                            [](QWidget *w) { return qobject_cast<Form1 *>(w) != nullptr; }),
              1);
}

TEST_F(CaptureTest, MenuHoldsItsThreeItemsInOrder)
{
    haveVideo();
    form->Command19_Click();
    Form1 *capture = Form1::existing();
    EXPECT_EQ(capture->mn->title(), QStringLiteral("メニュー"));
    QStringList items;
    for (QAction *action : capture->mn->actions())
        items << action->objectName() + QLatin1Char('=') + action->text();
    EXPECT_EQ(items, QStringList({QStringLiteral("tofile=ファイルへ"),
                                  QStringLiteral("toclip=クリップボードへ"),
                                  QStringLiteral("toend=閉じる")}));
}

TEST_F(CaptureTest, SavedBitmapReadsBackAsThePictureAndTheWindowCloses)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("frame.bmp"));
    haveVideo(320, 240);
    form->Command19_Click();
    Form1 *capture = Form1::existing();
    const QImage picture = capture->Picture1->image();
    const quint32 hdc = capture->Picture1->hDC();
    answerSaveWith(target);
    capture->tofile->trigger();

    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].mode, windowing::CommonDialog::Mode::Save);
    EXPECT_EQ(requests[0].title, QStringLiteral("データロード"));
    EXPECT_EQ(requests[0].filter, QStringLiteral("ビットマップファイル(*.BMP)|*.bmp"));
    EXPECT_EQ(requests[0].presetFileName, QStringLiteral("dummy.bmp"));

    const QByteArray bytes = bytesOf(target);
    ASSERT_TRUE(bytes.startsWith("BM"));
    QImage readBack;
    ASSERT_TRUE(readBack.loadFromData(bytes, "BMP"));
    EXPECT_EQ(readBack.convertToFormat(QImage::Format_RGB32), picture);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("frame.bmp")}));
    EXPECT_TRUE(messages.events.empty());

    // Closed means destroyed, and the layer no longer knows the surface.
    EXPECT_EQ(Form1::existing(), nullptr);
    flushDeletes();
    EXPECT_EQ(mci::Surfaces::find(hdc), nullptr);
}

TEST_F(CaptureTest, SaveReplacesAnExistingFile)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("old.bmp"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older file, longer than nothing");
    old.close();
    haveVideo(64, 48);
    form->Command19_Click();
    answerSaveWith(target);
    Form1::existing()->tofile_Click();
    EXPECT_TRUE(bytesOf(target).startsWith("BM"));
    EXPECT_EQ(Form1::existing(), nullptr);
}

TEST_F(CaptureTest, AnEmptyNameWritesNothingAndKeepsTheWindow)
{
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    haveVideo();
    form->Command19_Click();
    answerSaveWith(QString());
    Form1::existing()->tofile_Click();
    ASSERT_NE(Form1::existing(), nullptr);
    EXPECT_TRUE(Form1::existing()->isVisible());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(messages.events.empty());
    QDir::setCurrent(before);
}

// Every failed save: a message, the window still open with its picture, an old file of that
// name unchanged byte for byte and no temporary file left beside it.
TEST_F(CaptureTest, FailedSavesTellTheUserAndLeaveOldFilesAlone)
{
    QTemporaryDir dir;
    const QString oldPath = dir.filePath(QStringLiteral("kept.bmp"));
    const QByteArray oldBytes("BM an old picture that must survive");
    {
        QFile old(oldPath);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(oldBytes);
    }
    const QString folderPath = dir.filePath(QStringLiteral("folder.bmp"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));
    QFile(folderPath + QStringLiteral("/inside.txt")).open(QIODevice::WriteOnly);
    const QString pipePath = dir.filePath(QStringLiteral("pipe.bmp"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipePath).constData(), 0600), 0);

    haveVideo(320, 240);
    form->Command19_Click();
    Form1 *capture = Form1::existing();
    const QImage picture = capture->Picture1->image();

    struct Case {
        const char *what;
        QString name;
        bool breakOff;
    };
    const Case cases[] = {
        {"folder that does not exist", dir.filePath(QStringLiteral("missing/frame.bmp")), false},
        {"a folder of that name", folderPath, false},
        {"a named pipe of that name", pipePath, false},
        {"a write that breaks off", oldPath, true},
    };
    for (const Case &c : cases) {
        messages.events.clear();
        Form1::setBitmapWriter({});
        if (c.breakOff) {
            // Half of a real bitmap reaches the disk, then the write fails.
            Form1::setBitmapWriter([](const QImage &image, QIODevice &device) {
                QByteArray whole;
                QBuffer buffer(&whole);
                buffer.open(QIODevice::WriteOnly);
                image.save(&buffer, "BMP");
                device.write(whole.left(whole.size() / 2));
                return false;
            });
        }
        answerSaveWith(c.name);
        capture->tofile_Click();
        ASSERT_EQ(messages.boxCount(), 1) << c.what;
        EXPECT_TRUE(messages.events[0].box.text.contains(QStringLiteral("保存できません")))
            << c.what;
        EXPECT_EQ(Form1::existing(), capture) << c.what;
        EXPECT_TRUE(capture->isVisible()) << c.what;
        EXPECT_EQ(capture->Picture1->image(), picture) << c.what;
        EXPECT_EQ(bytesOf(oldPath), oldBytes) << c.what;
        EXPECT_TRUE(QFileInfo(folderPath).isDir()) << c.what;
        EXPECT_TRUE(QFileInfo::exists(folderPath + QStringLiteral("/inside.txt"))) << c.what;
        struct stat pipe {};
        EXPECT_TRUE(::stat(QFile::encodeName(pipePath).constData(), &pipe) == 0
                    && S_ISFIFO(pipe.st_mode)) << c.what;
        const QDir::Filters all =
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
        EXPECT_EQ(QDir(dir.path()).entryList(all),
                  QStringList({QStringLiteral("folder.bmp"), QStringLiteral("kept.bmp"),
                               QStringLiteral("pipe.bmp")}))
            << c.what;
    }
}

TEST_F(CaptureTest, ClipboardGetsThePictureAndTheWindowCloses)
{
    haveVideo(160, 120);
    form->Command19_Click();
    Form1 *capture = Form1::existing();
    const QImage picture = capture->Picture1->image();
    QApplication::clipboard()->setText(QStringLiteral("something else"));
    capture->toclip->trigger();
    const QImage held = QApplication::clipboard()->image();
    EXPECT_EQ(held.convertToFormat(QImage::Format_RGB32), picture);
    EXPECT_TRUE(QApplication::clipboard()->text().isEmpty());
    EXPECT_EQ(Form1::existing(), nullptr);
}

TEST_F(CaptureTest, ClosingDestroysTheWindowAndTheNextCopyMakesANewOne)
{
    haveVideo();
    form->Command19_Click();
    Form1 *first = Form1::existing();
    const quint32 firstHdc = first->Picture1->hDC();
    first->toend->trigger();
    EXPECT_EQ(Form1::existing(), nullptr);
    // Even before the old window is gone for good, a copy gets a window of its own.
    form->Command19_Click();
    Form1 *second = Form1::existing();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->Picture1->hDC(), firstHdc);
    EXPECT_TRUE(second->isVisible());
    flushDeletes();
    EXPECT_EQ(mci::Surfaces::find(firstHdc), nullptr);
    EXPECT_EQ(Form1::existing(), second);
    EXPECT_EQ(mci::Surfaces::find(second->Picture1->hDC()), &second->Picture1->image());
    EXPECT_EQ(updates, 2);
}
