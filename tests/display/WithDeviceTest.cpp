#include "capture/Form1.h"
#include "capture/PictureBox.h"
#include "tests/support/AviCorpus.h"
#include "tests/support/RealLayerFixture.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The poll, the time label and the copy button in front of the real AVI device: a lossless
// 160 by 120 clip at 25 frames a second, so a frame is 40 ms and pixels compare exactly.
class WithDeviceTest : public RealLayerFixture {
protected:
    void SetUp() override
    {
        RealLayerFixture::SetUp();
        QString error;
        path = AviCorpus::file(AviCorpus::Kind::Dib24, &error);
        ASSERT_FALSE(path.isEmpty()) << error.toStdString();
        panel.Command8_Click();
        ASSERT_EQ(panel.DeviceError, 0);
    }

    void TearDown() override
    {
        if (Form1 *capture = Form1::existing())
            capture->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        panel.Form_Unload();
        RealLayerFixture::TearDown();
        EXPECT_TRUE(layerErrors.isEmpty()) << layerErrors.join(QLatin1Char('\n')).toStdString();
    }

    // What a user's move of the position slider does.
    void moveSliderTo(int frame)
    {
        panel.Slider1->setValue(frame);
        ASSERT_EQ(panel.mciAVI.position(), frame);
    }

    // Frame n of the clip as ffmpeg decodes it, for comparison.
    QImage referenceFrame(int n)
    {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                      QStringLiteral("-vf"), QStringLiteral("select=eq(n\\,%1)").arg(n),
                      QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"),
                      QStringLiteral("image2pipe"), QStringLiteral("-c:v"),
                      QStringLiteral("png"), QStringLiteral("-")});
        if (!ffmpeg.waitForFinished(30000))
            return {};
        return QImage::fromData(ffmpeg.readAllStandardOutput(), "PNG")
            .convertToFormat(QImage::Format_RGB32);
    }
};

TEST_F(WithDeviceTest, TimeLabelReadsMillisecondsAndLeavesTheDeviceInFrames)
{
    const struct {
        int frame;
        const char *seconds;
        const char *frames;
    } cases[] = {{8, "0.3秒", "8Fm"}, {9, "0.4秒", "9Fm"}, {59, "2.4秒", "59Fm"},
                 {0, "0.0秒", "0Fm"}};
    for (const auto &c : cases) {
        panel.state.TimeDisplayMode = 1;
        moveSliderTo(c.frame);
        EXPECT_EQ(panel.Label1->text().toStdString(), c.seconds) << c.frame;
        // The device counts in frames again: the control reads the frame number.
        EXPECT_EQ(panel.mciAVI.position(), c.frame);
        panel.Label1_DblClick();
        panel.Timer1_Timer();
        EXPECT_EQ(panel.Label1->text().toStdString(), c.frames) << c.frame;
        EXPECT_EQ(panel.Slider1->value(), c.frame);
    }
    EXPECT_EQ(panel.state.ForwardPlayState, 2);
    EXPECT_EQ(panel.state.ReversePlayState, 2);
}

TEST_F(WithDeviceTest, CopyHoldsTheExactFrameAndKeepsItWhenTheVideoMovesOn)
{
    moveSliderTo(10);
    panel.Command19_Click();
    Form1 *capture = Form1::existing();
    ASSERT_NE(capture, nullptr);
    const QImage picture = capture->Picture1->image();
    ASSERT_EQ(picture.size(), QSize(154, 114));
    const QImage frame10 = referenceFrame(10);
    ASSERT_EQ(frame10.size(), QSize(160, 120));
    EXPECT_EQ(picture, frame10.copy(0, 0, 154, 114));

    // The picture is the frame of the moment of the copy; the next copy shows the new one.
    moveSliderTo(40);
    EXPECT_EQ(capture->Picture1->image(), picture);
    panel.Command19_Click();
    EXPECT_EQ(Form1::existing(), capture);
    EXPECT_EQ(capture->Picture1->image(), referenceFrame(40).copy(0, 0, 154, 114));
}

TEST_F(WithDeviceTest, SavedFileHoldsTheFrame)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("フレーム 12.bmp"));
    moveSliderTo(12);
    panel.Command19_Click();
    windowing::CommonDialog::setResponder(
        [&](const windowing::CommonDialog::Request &) { return target; });
    Form1::existing()->tofile_Click();
    EXPECT_EQ(Form1::existing(), nullptr);
    EXPECT_EQ(QImage(target, "BMP").convertToFormat(QImage::Format_RGB32),
              referenceFrame(12).copy(0, 0, 154, 114));
}
