#include "capture/Form1.h"
#include "capture/PictureBox.h"
#include "platform/mci/Surfaces.h"
#include "tests/support/ClipCorpus.h"
#include "tests/support/PanelFixture.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>

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
            shownWhenDrawn = Form1::existing() && Form1::existing()->isVisible();
            QImage *image = mci::Surfaces::find(command.section(QLatin1Char(' '), -1).toUInt());
            ASSERT_NE(image, nullptr);
            QPainter painter(image);
            painter.fillRect(0, 0, int(form->state.VideoWidth), 100, frameColour);
            painter.fillRect(0, 100, int(form->state.VideoWidth), 1000, Qt::blue);
        };
    }
    ~CaptureTest() override
    {
        Form1::setBitmapWriter({});
        if (Form1 *f = Form1::existing())
            f->close();
        flushDeletes();
    }
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Copies, then answers the save dialog with this name; returns the capture window.
    Form1 *copyAndSaveAs(const QString &name)
    {
        form->Command19_Click();
        chosenPath = name;
        Form1 *capture = Form1::existing();
        capture->tofile->trigger();
        return capture;
    }

    bool shownWhenDrawn = true;
    QColor frameColour = QColor(200, 30, 60);
};

// Drawn first, shown after; 500 twips below the middle of the screen, centred across, the
// whole picture at the client area's corner. A copy while the video plays leaves the play
// and the poll alone.
TEST_F(CaptureTest, CopyDrawsTheFrameIntoTheRegisteredImageThenShowsTheWindow)
{
    openVideo();
    form->Command1_Click();
    channel.commands.clear();
    form->Command19_Click();
    Form1 *capture = Form1::existing();
    ASSERT_NE(capture, nullptr);
    const quint32 hdc = capture->Picture1->hDC();
    EXPECT_EQ(mci::Surfaces::find(hdc), &capture->Picture1->image());
    EXPECT_EQ(channel.commands, QStringList{"update /videos/my clip.avi at 0 0 320 260 hdc "
                                            + QString::number(hdc)});
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_FALSE(shownWhenDrawn);
    EXPECT_TRUE(capture->isVisible());
    EXPECT_EQ(capture->windowTitle(), QStringLiteral("画像コピー"));
    // 320 by 240 pixels, and 500 twips more down.
    EXPECT_EQ(twips(capture->geometry),
              QRectF((15360 - 4800) / 2, (11520 - 4100) / 2 + 500, 4800, 4100));
    EXPECT_EQ(capture->Picture1->geometry(), QRect(0, 0, 320, 240));
    EXPECT_EQ(capture->Picture1->mapTo(capture->centralWidget(), QPoint(0, 0)), QPoint(0, 0));
    const QImage shown = capture->Picture1->grab().toImage();
    EXPECT_EQ(shown.pixelColor(10, 10), frameColour);
    EXPECT_EQ(shown.pixelColor(313, 233), QColor(Qt::blue));
    QStringList items;
    for (QAction *action : capture->mn->actions())
        items << action->text();
    EXPECT_EQ(capture->mn->title() + ':' + items.join('|'),
              QStringLiteral("メニュー:ファイルへ|クリップボードへ|閉じる"));

    // The next copy, at the "L" size: the same window and surface, the new frame.
    form->Command11_Click();
    frameColour = QColor(10, 220, 10);
    form->Command19_Click();
    EXPECT_EQ(Form1::existing(), capture);
    EXPECT_EQ(channel.commands.last(),
              "update /videos/my clip.avi at 0 0 384 308 hdc " + QString::number(hdc));
    EXPECT_EQ(capture->geometry.top(), (11520 - 4820) / 2 + 500);
    EXPECT_EQ(capture->Picture1->image().size(), QSize(384, 288));
    EXPECT_EQ(capture->Picture1->image().pixelColor(383, 50), frameColour);
}

// The picture as a BMP file under the name chosen, as written (no ".bmp" added), over an
// older file; the window closes and the layer forgets the surface.
TEST_F(CaptureTest, SavedBitmapReadsBackAsThePicture)
{
    QTemporaryDir dir;
    ASSERT_TRUE(ClipCorpus::writeAll(dir.filePath(QStringLiteral("old.bmp")), "an older file"));
    openVideo();
    for (const QString &name : {QStringLiteral("frame"), QStringLiteral("old.bmp")}) {
        Form1 *capture = copyAndSaveAs(dir.filePath(name));
        const QImage picture = capture->Picture1->image();
        const quint32 hdc = capture->Picture1->hDC();
        QImage readBack;
        ASSERT_TRUE(readBack.loadFromData(ClipCorpus::readAll(dir.filePath(name)), "BMP"));
        EXPECT_EQ(readBack.convertToFormat(QImage::Format_RGB32), picture);
        EXPECT_EQ(Form1::existing(), nullptr);
        flushDeletes();
        EXPECT_EQ(mci::Surfaces::find(hdc), nullptr);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"frame", "old.bmp"}));
    EXPECT_TRUE(messages.events.empty());
    ASSERT_EQ(dialogRequests.size(), 2u);
    EXPECT_EQ(dialogRequests[0].mode, windowing::CommonDialog::Mode::Save);
    EXPECT_EQ(dialogRequests[0].title, QStringLiteral("データロード"));
    EXPECT_EQ(dialogRequests[0].filter, QStringLiteral("ビットマップファイル(*.BMP)|*.bmp"));
    EXPECT_EQ(dialogRequests[0].presetFileName, QStringLiteral("dummy.bmp"));
}

// No name, or a save that fails (a missing folder, a write that breaks off): the window stays
// with its picture, an old file stays byte for byte, nothing is left beside it; a failure is
// told in a box. Which names a save may replace the device's capture test shows: both save
// the same way.
TEST_F(CaptureTest, CancelledAndFailedSavesKeepTheWindowAndOldFiles)
{
    QTemporaryDir dir;
    const QString oldPath = dir.filePath(QStringLiteral("kept.bmp"));
    const QByteArray oldBytes("BM an old picture that must survive");
    ASSERT_TRUE(ClipCorpus::writeAll(oldPath, oldBytes));
    openVideo();
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const struct {
        QString name;
        bool breakOff;
    } cases[] = {{QString(), false},
                 {dir.filePath(QStringLiteral("missing/frame.bmp")), false},
                 {oldPath, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
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
        Form1 *capture = copyAndSaveAs(c.name);
        ASSERT_EQ(messages.events.size(), c.name.isEmpty() ? 0u : 1u); // a box, no beep
        if (!c.name.isEmpty()) {
            EXPECT_TRUE(messages.events[0].box.text.contains(QStringLiteral("保存できません")));
        }
        EXPECT_EQ(Form1::existing(), capture);
        EXPECT_TRUE(capture->isVisible());
        EXPECT_EQ(capture->Picture1->image().pixelColor(5, 5), frameColour);
        EXPECT_EQ(ClipCorpus::readAll(oldPath), oldBytes);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot
                                             | QDir::Hidden | QDir::System),
                  QStringList{"kept.bmp"});
    }
    QDir::setCurrent(before);
}

// The clipboard gets the picture, and nothing else; "閉じる" closes. A closed window is
// destroyed: the next copy makes a new one, even before the old one is gone for good.
TEST_F(CaptureTest, ClipboardAndCloseEndTheWindow)
{
    openVideo(250, 160, 120);
    form->Command19_Click();
    Form1 *first = Form1::existing();
    const QImage picture = first->Picture1->image();
    QApplication::clipboard()->setText(QStringLiteral("something else"));
    first->toclip->trigger();
    EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
              picture);
    EXPECT_TRUE(QApplication::clipboard()->text().isEmpty());
    EXPECT_EQ(Form1::existing(), nullptr);

    form->Command19_Click();
    Form1 *second = Form1::existing();
    const quint32 secondHdc = second->Picture1->hDC();
    second->toend->trigger();
    EXPECT_EQ(Form1::existing(), nullptr);
    form->Command19_Click();
    ASSERT_NE(Form1::existing(), nullptr);
    EXPECT_TRUE(Form1::existing()->isVisible());
    flushDeletes();
    EXPECT_EQ(mci::Surfaces::find(secondHdc), nullptr);
    EXPECT_NE(Form1::existing()->Picture1->hDC(), secondHdc);
}
