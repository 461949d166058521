#include "media/DeviceCheck.h"

#include "tests/support/RecordingMessages.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Only what the device check touches.
class FakeControl final : public MciControl {
public:
    void setDeviceType(const QString &type) override { writes << "type=" + type; m_type = type; }
    QString deviceType() const override { return m_type; }
    void setFileName(const QString &name) override { writes << "file=" + name; }
    QString fileName() const override { return {}; }
    void setCommand(const QString &command) override { writes << command; }
    void setTo(qint32) override {}
    bool canPlay() const override { return playable; }
    qint32 length() const override { return 0; }
    qint32 position() const override { return 0; }

    QStringList writes;
    bool playable = true;

private:
    QString m_type;
};

TEST(DeviceCheck, SetupWritesTypeThenFile)
{
    FakeControl control;
    SetupDevice(control, QStringLiteral("/tmp/a b.avi"));
    EXPECT_EQ(control.writes, QStringList({"type=AVIVideo", "file=/tmp/a b.avi"}));
}

TEST(DeviceCheck, UsableAndUnusableTexts)
{
    FakeControl control;
    SetupDevice(control, QStringLiteral("x.avi"));
    qint16 deviceError = -1;
    EXPECT_EQ(CheckDevice(control, deviceError), QStringLiteral("デバイスを使用できません\r"));
    EXPECT_EQ(deviceError, 0);

    control.playable = false;
    EXPECT_EQ(CheckDevice(control, deviceError),
              QStringLiteral("デバイスを使用できません\r      AVIVideo\r"));
    EXPECT_EQ(deviceError, -1);
}

TEST(DeviceCheck, ErrorBoxBeepsThenShowsCriticalBox)
{
    RecordingMessages recorder;
    ShowDeviceError(0, QStringLiteral("ignored"));
    EXPECT_TRUE(recorder.events.empty());

    const QString text = QStringLiteral("デバイスを使用できません\r      AVIVideo\r");
    ShowDeviceError(-1, text);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_TRUE(recorder.events[0].beep);
    EXPECT_FALSE(recorder.events[1].beep);
    EXPECT_EQ(recorder.events[1].box.title, QStringLiteral("ＲＴミミ"));
    EXPECT_EQ(recorder.events[1].box.text, text);
    EXPECT_EQ(recorder.events[1].box.icon, windowing::MessageIcon::Critical);
}

} // namespace
