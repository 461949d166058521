#include "platform/video/Registration.h"
#include "platform/mci/Interpreter.h"
#include "tests/support/AviCorpus.h"

#include <gtest/gtest.h>

namespace {

// A phone's variable rate: every 7th picture of 25 fps left out (n = 3, 10 ...). In ms a
// position is its picture's own time, and a time shows the picture on screen then.
TEST(AviRealFile, MillisecondsFollowEachPicturesOwnTime)
{
    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
    const auto send = [&](const QString &command) {
        const mci::Result r = interpreter.send(command);
        EXPECT_TRUE(r.ok) << command.toStdString() << ": " << r.error.toStdString();
        return r.reply;
    };
    QString error;
    const QString path = AviCorpus::generate(QStringLiteral("vfr-ms"),
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

} // namespace
