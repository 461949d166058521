#include "tests/support/AviCorpus.h"
#include "tests/support/RealLayerFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The real panel in front of the real layer, headless: what a person does with the mouse,
// checked against what the device says it is doing.
class PanelWithLayer : public RealLayerFixture {
protected:
    void SetUp() override
    {
        RealLayerFixture::SetUp();
        QString error;
        const QString source = AviCorpus::file(AviCorpus::Kind::Mjpeg, &error);
        ASSERT_FALSE(source.isEmpty()) << error.toStdString();
        // A path with blanks and Japanese characters, as people name their files.
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("my videos")));
        path = dir.path() + QStringLiteral("/my videos/テスト 1.avi");
        ASSERT_TRUE(QFile::copy(source, path));
    }

    QString status(const char *item)
    {
        const mci::Result r =
            interpreter.send(QStringLiteral("status ") + path + QLatin1Char(' ') + item);
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

    QTemporaryDir dir;
};

TEST_F(PanelWithLayer, OpenPlayPauseStepEndMarkAndReverse)
{
    const AviCorpus::Spec spec = AviCorpus::spec(AviCorpus::Kind::Mjpeg);

    panel.Command8_Click();
    ASSERT_EQ(panel.DeviceError, 0) << layerErrors.join('\n').toStdString();
    EXPECT_EQ(panel.MediaPath, path);
    EXPECT_EQ(panel.MediaLength, spec.frameCount);
    EXPECT_EQ(panel.state.SourceWidth, spec.width);
    EXPECT_EQ(panel.state.SourceHeight, spec.height);
    EXPECT_EQ(status("mode"), QStringLiteral("stopped"));
    EXPECT_EQ(position(), 0);
    EXPECT_EQ(status("speed"), QStringLiteral("1000"));
    EXPECT_EQ(status("audio"), QStringLiteral("on"));

    // Play, then pause with the same button: the device holds where it was.
    panel.Command1_Click();
    EXPECT_EQ(status("mode"), QStringLiteral("playing"));
    panel.Command1_Click();
    EXPECT_EQ(status("mode"), QStringLiteral("paused"));
    const int held = position();
    EXPECT_GE(held, 0);
    EXPECT_LT(held, spec.frameCount);

    // One frame on, then to the end.
    panel.Command9_Click();
    EXPECT_EQ(position(), held + 1);
    panel.Command4_Click();
    EXPECT_EQ(position(), spec.frameCount);

    // Mark 10..30: to the start, ten steps, "S", twenty steps, "E".
    panel.Command3_Click();
    EXPECT_EQ(position(), 0);
    for (int i = 0; i < 10; ++i)
        panel.Command9_Click();
    panel.Command16_Click();
    for (int i = 0; i < 20; ++i)
        panel.Command9_Click();
    panel.Command18_Click();
    EXPECT_EQ(panel.state.RangeFrom, 10);
    EXPECT_EQ(panel.state.RangeTo, 30);

    // Steps leave the pair paused, so reverse would resume down to 0; after a stop it plays
    // the marked range from its end down to its start, and stops there.
    panel.Command2_Click();
    panel.Command15_Click();
    EXPECT_EQ(status("mode"), QStringLiteral("playing"));
    EXPECT_LE(position(), 30);
    ASSERT_TRUE(runUntilStopped(10000));
    EXPECT_EQ(position(), 10);

    EXPECT_TRUE(layerErrors.isEmpty()) << layerErrors.join('\n').toStdString();
    EXPECT_EQ(messages.boxCount(), 0);
}

TEST_F(PanelWithLayer, AFileThatIsNotAviLeavesThePanelWithoutMedia)
{
    QFile text(dir.path() + QStringLiteral("/notes.avi"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is not a video\n");
    text.close();
    path = text.fileName();

    panel.Command8_Click();
    EXPECT_EQ(panel.DeviceError, -1);
    EXPECT_FALSE(panel.Command1->isEnabled());
    // The beep and the panel's own box, after the layer told why.
    ASSERT_GE(messages.events.size(), 2u);
    EXPECT_TRUE(messages.events[messages.events.size() - 2].beep);
    EXPECT_EQ(messages.events.back().box.title, QStringLiteral("ＲＴミミ"));
    EXPECT_FALSE(layerErrors.isEmpty());

    // Every gated button is inert; the panel still works.
    panel.Command1_Click();
    panel.Command9_Click();
    EXPECT_TRUE(interpreter.openDevices().isEmpty());
}

} // namespace
