#include "platform/video/Registration.h"
#include "platform/video/audio/AudioTrack.h"
#include "platform/mci/Interpreter.h"
#include "tests/support/ClipCorpus.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

// THE ONE REAL-TIME TEST. Everything else runs on a hand-driven clock; this one checks that
// the program's steady clock, presentation timer and sound clock together keep real time:
// ten seconds of 25 fps video take ten seconds, within one frame, forwards (the silent
// sound stand-in's clock leads) and backwards (the picture's own clock leads). It runs in a
// binary of its own so that it can be left out on a loaded machine.
TEST(DeviceRealTime, PlayWaitOfTenSecondsTakesTenSecondsInBothDirections)
{
    video::setSilentAudioOnly(true);
    QString error;
    const QString path = ClipCorpus::generate(QStringLiteral("realtime-25fps"),
        {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25", "-f", "lavfi", "-i",
            "sine=frequency=440:sample_rate=44100", "-frames:v", "260", "-t", "10.4", "-c:v",
            "mjpeg", "-q:v", "6", "-c:a", "pcm_s16le", "-ac", "2"},
        &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();

    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
    ASSERT_TRUE(interpreter.send("open " + path + " type avivideo").ok);
    ASSERT_TRUE(interpreter.send("seek " + path + " to 0").ok);

    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(interpreter.send("play " + path + " from 0 to 250 wait").ok);
    const qint64 forwardMs = timer.elapsed();
    EXPECT_EQ(interpreter.send("status " + path + " position").reply, "250");
    EXPECT_NEAR(forwardMs, 10000, 40);

    timer.restart();
    ASSERT_TRUE(interpreter.send("play " + path + " from 250 to 0 reverse wait").ok);
    const qint64 reverseMs = timer.elapsed();
    EXPECT_EQ(interpreter.send("status " + path + " position").reply, "0");
    EXPECT_NEAR(reverseMs, 10000, 40);
    std::printf("forward %lld ms, reverse %lld ms, skipped %s\n", forwardMs, reverseMs,
        qPrintable(interpreter.send("status " + path + " frames skipped").reply));
}

} // namespace
