#include "platform/mci/Interpreter.h"
#include "platform/video/device/Opening.h"
#include "platform/video/device/VideoWindow.h"
#include "tests/device/DeviceRig.h"
#include "tests/support/ClipCorpus.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <QGuiApplication>
#include <QTest>

#include <cmath>

#include <gtest/gtest.h>

using video::Player;
using mci::StatusItem;

namespace {

// Positions shown at each of `periods` frame periods (one step each).
std::vector<int> positionsOver(DeviceRig &rig, int periods)
{
    std::vector<int> seen;
    for (int i = 0; i < periods; ++i) {
        rig.advance(1);
        seen.push_back(rig.position());
    }
    return seen;
}

TEST(DevicePlayback, RangePlaysEndExactlyAtTheirEndsInBothDirections)
{
    DeviceRig rig(100);
    ASSERT_TRUE(rig.device->play(range(10, 20)).ok);
    EXPECT_EQ(rig.mode(), "playing");
    rig.step();
    EXPECT_EQ(rig.position(), 10);
    EXPECT_EQ(positionsOver(rig, 9), (std::vector<int>{11, 12, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(rig.mode(), "playing");
    rig.advance(1);
    EXPECT_EQ(rig.mode(), "stopped");
    EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
    rig.advance(5);
    EXPECT_EQ(rig.shownPosition(), 20); // the picture stays

    // The panel's reverse play: "from" is the upper end.
    ASSERT_TRUE(rig.device->play(range(40, 30, true)).ok);
    rig.step();
    EXPECT_EQ(rig.position(), 40);
    EXPECT_EQ(rig.periodsUntilStopped(), 10);
    EXPECT_EQ(rig.shownPosition(), 30);

    // One late tick far past the end: the decoder is sent straight to the end, and the play
    // ends when that frame is on screen.
    rig.device->play(range(0, 50));
    rig.step(); // the decoder primed, the play's time starts
    rig.clock->advance(std::chrono::seconds(60));
    rig.player().tick();
    rig.step();
    EXPECT_EQ(rig.mode(), "stopped");
    EXPECT_EQ(rig.shownPosition(), 50);
}

// A play command is followed by work on the same thread (the window's first paint) before
// the first frame can be shown; that time is not frames gone by.
TEST(DevicePlayback, TheClockStartsAtTheFirstPresentationNotAtThePlayCommand)
{
    DeviceRig rig(100);
    rig.device->seek(seekTo(10));
    rig.device->play(range(10, 60));
    rig.clock->advance(std::chrono::milliseconds(90)); // the thread busy elsewhere
    rig.step();
    EXPECT_EQ(rig.position(), 10);
    rig.advance(1);
    EXPECT_EQ(rig.position(), 11);
    EXPECT_EQ(rig.periodsUntilStopped(), 49);
    EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
}

TEST(DevicePlayback, RepeatWrapsOnTheNextTickInBothDirections)
{
    DeviceRig rig(100);
    rig.device->play(range(5, 8, false, true));
    rig.step();
    EXPECT_EQ(positionsOver(rig, 9), (std::vector<int>{6, 7, 8, 5, 6, 7, 8, 5, 6}));
    EXPECT_EQ(rig.mode(), "playing");

    rig.device->play(range(8, 5, true, true));
    rig.step();
    EXPECT_EQ(rig.position(), 8);
    EXPECT_EQ(positionsOver(rig, 6), (std::vector<int>{7, 6, 5, 8, 7, 6}));
    EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
}

TEST(DevicePlayback, DecodesAheadInThePlayDirectionAndAcrossTheWrap)
{
    DeviceRig rig(100);
    rig.device->seek(seekTo(60));
    const std::size_t before = rig.source->requested().size();
    rig.device->play(range(60, 0, true));
    rig.player().waitForDecoder();
    std::vector<int> asked = rig.source->requested();
    asked.erase(asked.begin(), asked.begin() + before);
    // The picture at 60 is already shown: the decoder starts at 59 and goes down. Backwards
    // the queue is deep enough to hold these small frames all the way down to the start.
    const video::Player::Options defaults;
    ASSERT_GE(defaults.reverseQueueCapacity, 60);
    std::vector<int> expected;
    for (int p = 59; p >= 0; --p)
        expected.push_back(p);
    EXPECT_EQ(asked, expected);

    // A repeating range that fits in the lap head is decoded once, in its first lap; the
    // laps after it come from what was kept.
    const std::size_t beforeLoop = rig.source->requested().size();
    rig.device->play(range(0, 7, false, true));
    rig.step();
    EXPECT_EQ(positionsOver(rig, 20), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4,
                                          5, 6, 7, 0, 1, 2, 3, 4}));
    asked = rig.source->requested();
    asked.erase(asked.begin(), asked.begin() + beforeLoop);
    EXPECT_EQ(asked, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

// At a wrap the decoder starts again from the keyframe before the range (forwards) or below
// the top of the range (backwards): a long decode, here a decoder that does not return at
// all. The head of the range, kept from the first lap, carries the picture through it.
TEST(DevicePlayback, ARepeatingRangeWrapsWithoutASkipWhileTheNextLapDecodes)
{
    video::Player::Options shallow; // backwards as shallow as forwards, to meet the wrap
    const int queued = Player::queueCapacityFor(shallow, 64 * 48 * 4, 64 * 48, false);
    shallow.reverseQueueCapacity = queued;
    const int head = Player::lapHeadFor(64 * 48 * 4);
    ASSERT_EQ(head, 20);
    for (const bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "reverse" : "forward");
        DeviceRig rig(100, false, false, 64, 48, shallow);
        const int from = reverse ? 49 : 0;
        rig.device->play(range(from, 49 - from, reverse, true));
        rig.step();
        rig.advance(49 - queued);
        rig.player().waitForDecoder(); // the queue full to the end of the lap, and the head
        rig.source->hold(true);
        for (int ordinal = 50 - queued; ordinal < 50 + head; ++ordinal) {
            rig.clock->advance(std::chrono::milliseconds(40));
            rig.player().tick();
        }
        const int lastOfHead = reverse ? from - head + 1 : from + head - 1;
        EXPECT_EQ(rig.position(), lastOfHead);
        EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
        rig.source->hold(false);
        rig.advance(10);
        EXPECT_EQ(rig.position(), reverse ? lastOfHead - 10 : lastOfHead + 10);
        EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
    }
}

// The memory budget by picture size: the frames that the steps back after a paused forward
// play need stay cached at every size, with the decoder's padding of each frame; a reverse
// play has the larger cache only while it runs, a play replacing it included.
TEST(DevicePlayback, TheCacheKeepsTheStepsBackAtEverySizeAndGrowsForReversePlaysOnly)
{
    using video::MemoryBudget;
    for (const auto &[width, height] : {std::pair{320, 240}, {1920, 1080}, {3840, 2160}}) {
        const qint64 pixels = qint64(width) * height;
        const qint64 padded = pixels * 3 / 2 * 102 / 100;
        const MemoryBudget budget = MemoryBudget::forPicture(pixels * 3 / 2, pixels);
        const int ahead = Player::queueCapacityFor({}, pixels * 3 / 2, pixels, false);
        EXPECT_GE(budget.cacheBytes / padded, MemoryBudget::kStepsBack + 1 + ahead) << width;
        EXPECT_LE(budget.reverseCacheBytes + budget.reverseQueueBytes,
            MemoryBudget::kReverseCeiling) << width;
    }
    DeviceRig rig(100, false, false, 1280, 720); // frames whose budget is above the floor
    const qint64 resting = rig.source->cacheCap;
    rig.device->play(range(60, 0, true));
    EXPECT_GT(rig.source->cacheCap, resting);
    // A reverse play that replaces one never drops to the cap at rest in between, which
    // would throw away the stretch the first play had decoded.
    rig.source->capsSet.clear();
    rig.device->play(range(50, 0, true));
    EXPECT_EQ(std::count(rig.source->capsSet.begin(), rig.source->capsSet.end(), resting), 0);
    rig.device->pause();
    EXPECT_EQ(rig.source->cacheCap, resting);
}

// A reverse play's stretches grow with the memory the machine has, within a quarter of it
// and a ceiling, half of what an address-space limit leaves and what the play needs, and
// never below the figures for the picture alone.
TEST(DevicePlayback, AReversePlaysStretchGrowsWithTheMachineWithinItsLimits)
{
    using video::MemoryBudget;
    constexpr qint64 kGiB = qint64(1) << 30;
    constexpr qint64 kUhd = 3840 * 2160;
    constexpr qint64 kHd = 1920 * 1080;
    struct Case {
        const char *what;
        qint64 available;
        qint64 addressSpaceLeft;
        qint64 pixels;
        qint64 stretch; // the play's longest keyframe-bounded stretch
        qint64 frames;  // cached and queued; 0: the figures for the picture alone
    };
    const Case cases[] = {
        {"little memory: the floor", 2 * kGiB, -1, kUhd, 300, 0},
        {"a quarter of it", 8 * kGiB, -1, kUhd, 300, 84},
        {"the ceiling", 23 * kGiB, -1, kUhd, 300, 126},
        {"what the play needs", 23 * kGiB, -1, kHd, 250, 250},
        {"half the address space left", 23 * kGiB, 4 * kGiB, kUhd, 300, 84},
        {"little address space: the floor", 23 * kGiB, 2 * kGiB, kUhd, 300, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const MemoryBudget floor = MemoryBudget::forPicture(c.pixels * 3 / 2, c.pixels);
        MemoryBudget grown = floor;
        grown.growReverse({c.available, c.addressSpaceLeft}, c.stretch);
        const qint64 cached = c.pixels * 3 / 2 * 51 / 50;
        EXPECT_EQ(grown.reverseCacheBytes,
            c.frames ? c.frames * cached : floor.reverseCacheBytes);
        EXPECT_EQ(grown.frames(grown.reverseQueueBytes, INT_MAX),
            c.frames ? c.frames : floor.frames(floor.reverseQueueBytes, INT_MAX));
    }
}

// A reverse play's clock starts once the frames queued carry the picture, at the pace its
// decoding was measured at, while the next stretch decodes from its keyframe: before its
// queue is full when the decoding is fast, past a forward play's limit when it is slow, and
// after four seconds at the latest.
TEST(DevicePlayback, AReversePlaysPreRollLastsAsItsMeasuredDecodingSays)
{
    using namespace std::chrono_literals;
    struct Case {
        std::chrono::milliseconds perFrame;
        std::chrono::milliseconds endsAfter; // from the play command
    };
    // Stretches of 20 frames: the 19 queued after the first carry 0.76 s of play, while the
    // next stretch takes 20 frames' decoding, with half as much again to spare.
    for (const Case c : {Case{10ms, 200ms}, Case{25ms, 500ms}, Case{26ms, 4000ms},
             Case{100ms, 4000ms}}) {
        SCOPED_TRACE(c.perFrame.count());
        DeviceRig rig(100);
        rig.source->setRuns(rig.clock, 20, c.perFrame);
        const video::SteadyTime asked = rig.clock->now();
        rig.source->holdAt(79); // the next stretch's decode never ends
        rig.device->play(range(99, 0, true));
        rig.source->waitUntilHeld();
        while (rig.player().prerolling() && rig.clock->now() - asked < 5s) {
            rig.player().tick();
            if (rig.player().prerolling())
                rig.clock->advance(10ms);
        }
        EXPECT_EQ(rig.shownPosition(), 99);
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(
                      rig.clock->now() - asked),
            std::max(c.endsAfter, 20 * c.perFrame));
        rig.source->hold(false);
    }
}

// A play's next frames may need a long decode first (backwards just below a keyframe): its
// first picture shows at once, its clock and sound wait until the decoder has filled the
// queue, and it then takes its nominal time without a skip.
TEST(DevicePlayback, PreRollShowsTheFirstPictureAndStartsTheClockWhenTheQueueIsFull)
{
    for (const bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "reverse" : "forward");
        DeviceRig rig(100, true);
        FakeAudioTrack &audio = *rig.audio;
        rig.device->seek(seekTo(90));
        const int from = reverse ? 60 : 30;
        rig.source->holdAt(reverse ? from - 1 : from + 1);
        rig.device->play(range(from, reverse ? 30 : 60, reverse));
        rig.source->waitUntilHeld();
        rig.player().tick();
        EXPECT_EQ(rig.shownPosition(), from);
        // The busy cursor from 0.3 s of pre-roll on, until the clock starts.
        rig.clock->advance(std::chrono::milliseconds(250));
        QTest::qWait(120);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        rig.clock->advance(std::chrono::milliseconds(650));
        rig.player().tick();
        EXPECT_TRUE(rig.player().prerolling());
        QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::overrideCursor(), 2000);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        EXPECT_EQ(rig.position(), from);
        EXPECT_EQ(audio.starts, 0);
        rig.device->setSpeed(500); // taken up when the clock starts
        rig.source->hold(false);
        rig.step();
        EXPECT_FALSE(rig.player().prerolling());
        QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::overrideCursor(), nullptr, 200);
        EXPECT_EQ(audio.playing(), !reverse);
        EXPECT_DOUBLE_EQ(audio.lastStartSeconds, reverse ? -1.0 : from / 25.0);
        EXPECT_EQ(rig.periodsUntilStopped(), 60);
        EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
    }
}

TEST(DevicePlayback, AStopPauseOrSeekDuringPreRollEndsItAtOnce)
{
    struct Case {
        const char *command;
        const char *mode;
        int position;
    };
    for (const Case c : {Case{"stop", "stopped", 30}, Case{"pause", "paused", 30},
             Case{"seek", "stopped", 10}}) {
        SCOPED_TRACE(c.command);
        DeviceRig rig(100, true);
        rig.device->seek(seekTo(90));
        rig.source->holdAt(31);
        rig.device->play(range(30, 60));
        rig.source->waitUntilHeld();
        rig.player().tick();
        const std::string command = c.command;
        if (command == "stop")
            rig.device->stop();
        else if (command == "pause")
            rig.device->pause();
        else
            rig.device->seek(seekTo(10));
        EXPECT_EQ(rig.mode(), c.mode);
        rig.source->hold(false);
        rig.advance(40);
        EXPECT_EQ(rig.mode(), c.mode);
        EXPECT_EQ(rig.shownPosition(), c.position);
        EXPECT_EQ(rig.audio->starts, 0);
    }
}

TEST(DevicePlayback, PauseHoldsAndResumeRunsToTheEndOfTheMedia)
{
    DeviceRig rig(100);
    rig.device->play(range(0, 50));
    rig.step();
    rig.advance(5);
    rig.source->takeRests();
    ASSERT_TRUE(rig.device->pause().ok);
    EXPECT_EQ(rig.mode(), "paused");
    rig.advance(30);
    EXPECT_EQ(rig.shownPosition(), 5);
    // Wherever the picture stands, the source is told, so that it prepares the next ones.
    EXPECT_EQ(rig.source->takeRests(), std::vector<int>{5});

    ASSERT_TRUE(rig.device->play({}).ok); // resume: no range, no repeat
    rig.step();
    EXPECT_EQ(rig.position(), 5);
    EXPECT_EQ(rig.periodsUntilStopped(), 95);
    EXPECT_EQ(rig.position(), 100);
    EXPECT_EQ(rig.source->takeRests(), std::vector<int>{100});

    // Reverse resume runs back to 0.
    rig.device->seek(seekTo(30));
    rig.device->play(range(std::nullopt, std::nullopt, true));
    rig.step();
    EXPECT_EQ(rig.periodsUntilStopped(), 30);
    EXPECT_EQ(rig.position(), 0);

    // Stop ends a play where it is, a seek where it goes.
    rig.device->play(range(0, 100));
    rig.step();
    rig.advance(7);
    rig.source->takeRests();
    ASSERT_TRUE(rig.device->stop().ok);
    EXPECT_EQ(rig.mode(), "stopped");
    rig.advance(10);
    EXPECT_EQ(rig.position(), 7);
    EXPECT_EQ(rig.source->takeRests(), std::vector<int>{7});
    rig.device->play(range(0, 100));
    rig.step();
    rig.advance(3);
    ASSERT_TRUE(rig.device->seek(seekTo(80)).ok);
    EXPECT_EQ(rig.mode(), "stopped");
    rig.advance(10);
    EXPECT_EQ(rig.shownPosition(), 80);
}

TEST(DevicePlayback, SpeedScalesTheTimeAndChangesWithoutAJump)
{
    DeviceRig rig(200);
    rig.device->setSpeed(2000);
    rig.device->play(range(0, 50));
    rig.step();
    EXPECT_EQ(rig.periodsUntilStopped(), 25);
    rig.device->setSpeed(500);
    rig.device->play(range(0, 50));
    rig.step();
    EXPECT_EQ(rig.periodsUntilStopped(), 100);

    rig.device->setSpeed(1000);
    rig.device->play(range(0, 200));
    rig.step();
    rig.advance(10.5); // half way between 10 and 11
    EXPECT_EQ(rig.position(), 10);
    rig.device->setSpeed(3000);
    rig.step();
    EXPECT_EQ(rig.position(), 10);
    rig.advance(1); // 10.5 + 3
    EXPECT_EQ(rig.position(), 13);
    rig.device->setSpeed(1); // a frame every 40 s: from 13.5, half a frame is 500 periods
    rig.advance(499);
    EXPECT_EQ(rig.position(), 13);
    rig.advance(1);
    EXPECT_EQ(rig.position(), 14);
    EXPECT_EQ(rig.reply(StatusItem::Speed), "1");
}

TEST(DevicePlayback, BadPlaysAreErrorsAndChangeNothing)
{
    DeviceRig rig(100);
    rig.device->play(range(10, 90));
    rig.step();
    rig.advance(2);
    for (const mci::PlayRequest &bad : {range(50, 40), range(40, 50, true), range(0, 101),
             range(-1, 10), range(std::nullopt, 2147483647)}) {
        const mci::Result r = rig.device->play(bad);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.isEmpty());
    }
    EXPECT_EQ(rig.mode(), "playing");
    rig.advance(1);
    EXPECT_EQ(rig.position(), 13);
}

TEST(DevicePlayback, PlayToABehindPositionShowsThatFrameAndStops)
{
    DeviceRig rig(100);
    ASSERT_TRUE(rig.device->play(range(std::nullopt, 0)).ok); // right after open
    EXPECT_EQ(rig.mode(), "stopped");
    EXPECT_EQ(rig.shownPosition(), 0);
    EXPECT_TRUE(rig.device->window().isVisible());
    rig.device->seek(seekTo(30));
    ASSERT_TRUE(rig.device->play(range(std::nullopt, 0)).ok);
    EXPECT_EQ(rig.mode(), "stopped");
    EXPECT_EQ(rig.shownPosition(), 0);
}

TEST(DevicePlayback, ASlowDecoderSkipsFramesAndCountsThem)
{
    DeviceRig rig(100);
    // Every decode takes three frame periods.
    rig.source->setCost(rig.clock, std::chrono::milliseconds(120));
    int shown = 0;
    rig.device->seek(seekTo(99)); // so that every frame of the play has to be decoded
    QObject::connect(&rig.player(), &Player::pictureChanged, [&] { ++shown; });
    rig.device->play(range(0, 60));
    rig.step();
    const int periods = rig.periodsUntilStopped();
    ASSERT_GT(periods, 0);
    EXPECT_EQ(rig.shownPosition(), 60);
    const int skipped = rig.reply(StatusItem::FramesSkipped).toInt();
    EXPECT_GT(skipped, 20);
    EXPECT_EQ(skipped + shown, 61);

    // The count belongs to the current play: a fast one starts again from zero.
    rig.source->setCost(rig.clock, std::chrono::nanoseconds(0));
    rig.device->play(range(0, 10));
    rig.step();
    rig.periodsUntilStopped();
    EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
}

TEST(DevicePlayback, PresentationNeverWaitsForAStuckDecoder)
{
    DeviceRig rig(100);
    rig.device->seek(seekTo(0));
    rig.source->hold(true);
    rig.device->play(range(0, 50));
    // Ticks return although the decode thread is stuck; the play's time starts when the
    // pre-roll's limit (a second for small pictures) has passed, and runs on from there.
    for (int i = 0; i < 35; ++i) {
        rig.clock->advance(std::chrono::milliseconds(40));
        rig.player().tick();
    }
    EXPECT_EQ(rig.mode(), "playing");
    EXPECT_EQ(rig.position(), 0);
    // Once free, the decode thread jumps to the due frame; the ones between are skipped.
    rig.source->hold(false);
    rig.step();
    EXPECT_EQ(rig.position(), 10);
    EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "9");
    EXPECT_EQ(rig.periodsUntilStopped(), 40);
    EXPECT_EQ(rig.position(), 50);
}

// Phone-like files on the real decoding core. "hold": 30 fps with pictures 60 to 119 left
// out, so the picture of 1.967 s stays until 4 s. "burst": 30 fps with two seconds at twice
// the pictures (2 s to 4 s) and a hold from 4.967 s to 7 s.
QString variableRateFile(bool burst, QString *error)
{
    const QString select = burst
        ? "select='gte(between(n\\,120\\,239)+not(mod(n\\,2))*not(between(n\\,300\\,419))\\,1)'"
        : "select='not(between(n\\,60\\,119))'";
    return ClipCorpus::generate(burst ? "vfr-burst" : "vfr-hold",
        {"-f", "lavfi", "-i", burst ? "testsrc2=size=64x48:rate=60" : "testsrc2=size=64x48:rate=30",
            "-t", "10", "-vf", select, "-fps_mode", "passthrough", "-c:v", "libx264", "-preset",
            "ultrafast", "-g", "30", "-f", "mp4"},
        error);
}

// Each picture is on screen from its own time until the next picture's, at every speed, in
// both directions and in loops; a play ends when its last picture's time comes; the sound
// starts at the picture's time and the picture follows it.
TEST(VariableRatePlayback, EachPictureIsShownAtItsOwnTime)
{
    struct Case {
        bool burst;
        int from;
        int to;
        bool reverse;
        bool repeat;
        int speed;
        bool sound;
    };
    const Case cases[] = {
        {false, 30, 100, false, false, 1000, true},
        {false, 100, 30, true, false, 1000, false},
        {false, 40, 80, false, false, 500, false},
        {false, 20, 120, false, false, 2000, true},
        {false, 120, 20, true, false, 2000, false},
        {false, 50, 70, false, true, 1000, true},
        {false, 70, 50, true, true, 1000, false},
        {true, 40, 200, false, false, 1000, true},
        {true, 200, 40, true, false, 2000, false},
        {true, 50, 190, false, true, 2000, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.burst ? "burst " : "hold ") << c.from << ".."
                                          << c.to << " speed " << c.speed
                                          << (c.repeat ? " repeat" : ""));
        QString error;
        const QString path = variableRateFile(c.burst, &error);
        ASSERT_FALSE(path.isEmpty()) << error.toStdString();
        std::unique_ptr<video::FrameSource> source = video::openFrameSource(path, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const std::vector<qint64> ms = source->info().pictureMs;
        ASSERT_EQ(ms.size(), c.burst ? 300u : 240u);
        ASSERT_EQ(ms[60], c.burst ? 2000 : 4000); // the hold, or the burst's first picture
        DeviceRig rig(std::move(source), c.sound);
        rig.device->setSpeed(c.speed);
        ASSERT_TRUE(rig.device->play(range(c.from, c.to, c.reverse, c.repeat)).ok);
        rig.step(); // primed: the play's time starts here
        if (c.sound) {
            EXPECT_NEAR(rig.audio->lastStartSeconds, ms[c.from] / 1000.0, 1e-9);
        }

        const int low = std::min(c.from, c.to);
        const int high = std::max(c.from, c.to);
        const double lapMs = double(ms[high + 1] - ms[low]);
        const double endMs = (c.reverse ? ms[c.from + 1] - ms[c.to + 1] : ms[c.to] - ms[c.from])
            * 1000.0 / c.speed;
        const double untilMs = c.repeat ? 2.5 * lapMs * 1000.0 / c.speed : endMs + 200;
        qint64 nowNs = 0;
        for (double t = 2; t < untilMs; t += 5) { // finer than the pictures of a burst at 2x
            const qint64 atNs = qint64(std::llround(t * 1e6));
            rig.clock->advance(std::chrono::nanoseconds(atNs - nowNs));
            nowNs = atNs;
            rig.step();
            double moved = t * c.speed / 1000.0;
            if (c.repeat)
                moved = std::fmod(moved, lapMs);
            // The picture whose time it is: forwards the last at or before the file's time,
            // backwards the last before it (each stays until the next one's time).
            int expected;
            if (c.reverse) {
                const double fileMs = ms[c.from + 1] - moved;
                expected = int(std::lower_bound(ms.begin(), ms.end(), fileMs) - ms.begin()) - 1;
                expected = std::max(expected, c.to);
            } else {
                const double fileMs = ms[c.from] + moved;
                expected = int(std::upper_bound(ms.begin(), ms.end(), fileMs) - ms.begin()) - 1;
                expected = std::min(expected, c.to);
            }
            const QString mode = c.repeat || t < endMs ? "playing" : "stopped";
            if (rig.position() != expected || rig.mode() != mode) {
                ADD_FAILURE() << "at " << t << " ms: " << rig.position() << " "
                              << rig.mode().toStdString() << ", not " << expected << " "
                              << mode.toStdString();
                break;
            }
        }
        EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
    }
}

// A wait returns when the last picture's time has come: for 30 to 100 of the hold file 4.33 s,
// where a play at the average rate (24 pictures a second) would take 2.92 s.
TEST(VariableRatePlayback, AWaitReturnsAtTheLastPicturesTime)
{
    QString error;
    const QString path = variableRateFile(false, &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    std::unique_ptr<video::FrameSource> source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    DeviceRig rig(std::move(source), false);
    const video::SteadyTime start = rig.clock->now();
    QTimer presenter; // the presentation timer, on the test's clock
    QObject::connect(&presenter, &QTimer::timeout, [&] {
        rig.clock->advance(std::chrono::milliseconds(10));
        rig.step();
    });
    presenter.start(0);
    ASSERT_TRUE(rig.device->play(range(30, 100)).ok);
    rig.device->waitForPlayEnd();
    const double waited = std::chrono::duration<double>(rig.clock->now() - start).count();
    EXPECT_EQ(rig.position(), 100);
    // The pre-roll's tick, then the play.
    EXPECT_NEAR(waited, 0.010 + (5333 - 1000) / 1000.0, 0.011);
}

// A play that meets a frame it cannot read stops on the last picture shown, whatever its
// direction, and says so once: to the next command (the dispatcher asks the device first).
TEST(DevicePlayback, APlayStopsAtAFrameItCannotRead)
{
    const struct {
        mci::PlayRequest play;
        int shown; // the last picture before the broken frame 25
    } cases[] = {{range(10, 40), 24}, {range(40, 10, true), 26}, {range(20, 30, false, true), 24},
        {range(28, 22, true, true), 26}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << *c.play.from << ".." << *c.play.to);
        DeviceRig rig(100);
        rig.source->breakFrame(25);
        ASSERT_TRUE(rig.device->play(c.play).ok);
        rig.step();
        rig.advance(40);
        EXPECT_EQ(rig.mode(), "stopped");
        EXPECT_EQ(rig.position(), c.shown);
        EXPECT_EQ(rig.shownPosition(), c.shown);
        EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "0");
        const mci::Result told = rig.device->takeFailure();
        EXPECT_FALSE(told.ok);
        EXPECT_FALSE(told.error.isEmpty());
        EXPECT_TRUE(rig.device->takeFailure().ok); // once
    }
    // A late decoder jumps to the due frame and meets the broken one there: what was queued
    // (11 to 13) shows its latest, the frames passed over are skipped (11, 12, 14 to 24), the
    // broken one is neither skipped nor shown.
    DeviceRig rig(100);
    ASSERT_EQ(Player::queueCapacityFor({}, 64 * 48 * 4, 64 * 48, false), 3);
    rig.source->breakFrame(25);
    int shown = 0;
    QObject::connect(&rig.player(), &Player::pictureChanged, [&] { ++shown; });
    rig.device->play(range(10, 40));
    rig.step();
    rig.player().waitForDecoder(); // 11 to 13 in the queue before the hold, not 11 and 12
    rig.source->hold(true);
    rig.clock->advance(std::chrono::milliseconds(40 * 15));
    rig.player().tick();
    rig.source->hold(false);
    rig.step();
    EXPECT_EQ(rig.mode(), "stopped");
    EXPECT_EQ(rig.position(), 13);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(rig.reply(StatusItem::FramesSkipped), "13");
    EXPECT_FALSE(rig.device->takeFailure().ok);
}

// The file cut short under an open device: a play over what is gone answers an error, with a
// wait or to the next command, and leaves the picture and position where they were.
TEST(DevicePlayback, APlayOverATruncatedFileAnswersAnError)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Time moves a frame every 20 ms, so that a play that went on over what is gone would
    // end, not hang; one that stops does so at its first frame, long before.
    auto clock = std::make_shared<video::ManualClock>();
    QTimer mover;
    QObject::connect(
        &mover, &QTimer::timeout, [&] { clock->advance(std::chrono::milliseconds(40)); });
    mover.start(20);
    mci::Interpreter interpreter;
    interpreter.registerType("avivideo", [clock](const QString &path, QString *error) {
        std::unique_ptr<video::FrameSource> source = video::openFrameSource(path, error);
        video::VideoDevice::Options options;
        options.clock = clock;
        return source ? std::make_unique<video::VideoDevice>(path, std::move(source), nullptr,
                            options)
                      : nullptr;
    });
    const QStringList h264 = {"-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-f"};
    const struct {
        const char *container;
        QStringList codec;
    } files[] = {{"avi", {"-c:v", "mpeg4", "-g", "25", "-f", "avi"}},
        {"mp4", h264 + QStringList{"mp4"}},
        {"mkv", h264 + QStringList{"matroska"}}, {"ts", h264 + QStringList{"mpegts"}}};
    for (const auto &f : files) {
        QString error;
        const QString made = ClipCorpus::generate(QStringLiteral("cut-") + f.container,
            QStringList{"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25", "-frames:v", "150"}
                + f.codec,
            &error);
        ASSERT_FALSE(made.isEmpty()) << error.toStdString();
        for (const char *play : {"play v from 100 to 140 wait",
                 "play v from 140 to 100 reverse wait", "play v from 100 to 140 repeat"}) {
            SCOPED_TRACE(std::string(f.container) + ": " + play);
            const QString path = dir.filePath(QStringLiteral("cut.") + f.container);
            QFile::remove(path);
            ASSERT_TRUE(QFile::copy(made, path));
            ASSERT_TRUE(interpreter.send("open " + path + " alias v").ok);
            ASSERT_TRUE(interpreter.send("seek v to 10").ok);
            ASSERT_TRUE(QFile::resize(path, QFile(path).size() / 3));
            mci::Result answer = interpreter.send(play);
            if (answer.ok) { // no wait: the play stops on its own, the next command says why
                auto *device = dynamic_cast<video::VideoDevice *>(interpreter.device("v"));
                ASSERT_NE(device, nullptr);
                for (int i = 0; i < 10 && device->player().mode() == Player::Mode::Playing; ++i) {
                    device->player().waitForDecoder();
                    device->player().tick();
                }
                answer = interpreter.send("status v mode");
            }
            EXPECT_FALSE(answer.ok);
            EXPECT_FALSE(answer.error.isEmpty());
            EXPECT_EQ(interpreter.send("status v mode").reply, "stopped");
            EXPECT_EQ(interpreter.send("status v position").reply, "10");
            interpreter.send("close v");
        }
    }
}

TEST(DevicePlaybackSound, TheSoundClockLeadsForwardAtSpeedsItCanKeep)
{
    DeviceRig rig(200, true);
    FakeAudioTrack &audio = *rig.audio;
    rig.device->play(range(50, 150));
    EXPECT_FALSE(audio.playing()); // until the first frame can be shown
    rig.step();
    EXPECT_TRUE(audio.playing());
    EXPECT_DOUBLE_EQ(audio.lastStartSeconds, 2.0);
    EXPECT_FALSE(audio.muted);
    audio.drift = 0.4; // the sound runs ten frames ahead: the picture follows it
    rig.advance(2);
    EXPECT_EQ(rig.position(), 62);

    // Off: silent at once, the picture goes on from where it is without a jump.
    rig.device->setAudio(false);
    EXPECT_TRUE(audio.muted);
    EXPECT_FALSE(audio.playing());
    rig.advance(1);
    EXPECT_EQ(rig.position(), 63);
    // On: the sound starts again from the picture's place.
    audio.drift = 0.0;
    rig.device->setAudio(true);
    EXPECT_TRUE(audio.playing());
    EXPECT_NEAR(audio.lastStartSeconds, 63.0 / 25, 0.5 / 25);
    rig.advance(1);
    EXPECT_EQ(rig.position(), 64);

    // A speed the sound cannot keep: the picture's own clock takes over, still continuous.
    rig.device->setSpeed(200);
    EXPECT_FALSE(audio.playing());
    rig.advance(5);
    EXPECT_EQ(rig.position(), 65);
    rig.device->setSpeed(2000);
    EXPECT_TRUE(audio.playing());
    const int starts = audio.starts;
    rig.device->setSpeed(2000); // resent unchanged: the sound runs on uninterrupted
    EXPECT_EQ(audio.starts, starts);

    rig.device->pause();
    EXPECT_FALSE(*audio.soundOn);
}

TEST(DevicePlaybackSound, SilentBackwardsSlowAndWhenTheTrackRefuses)
{
    DeviceRig rig(200, true);
    FakeAudioTrack &audio = *rig.audio;
    rig.device->play(range(100, 0, true));
    rig.step();
    EXPECT_FALSE(audio.playing());
    rig.device->setSpeed(249);
    rig.device->play(range(0, 100));
    rig.step();
    EXPECT_FALSE(audio.playing());
    rig.device->setSpeed(1000);
    audio.refuse = true;
    rig.device->play(range(0, 100));
    rig.step();
    rig.advance(4);
    EXPECT_EQ(rig.position(), 4); // the picture's clock leads
    EXPECT_FALSE(rig.player().audioLeads());
}

TEST(DevicePlaybackSound, RepeatStartsTheSoundAgainAtTheRangeStart)
{
    DeviceRig rig(200, true);
    FakeAudioTrack &audio = *rig.audio;
    rig.device->play(range(20, 24, false, true));
    rig.step();
    const int startsBefore = audio.starts;
    EXPECT_EQ(positionsOver(rig, 6), (std::vector<int>{21, 22, 23, 24, 20, 21}));
    EXPECT_EQ(audio.starts, startsBefore + 1);
    EXPECT_DOUBLE_EQ(audio.lastStartSeconds, 20.0 / 25);
    EXPECT_TRUE(rig.player().audioLeads());
}

TEST(DevicePlaybackLifetime, ClosingDuringPlayStopsSoundAndThread)
{
    DeviceRig rig(100, true);
    std::shared_ptr<bool> soundOn = rig.audio->soundOn;
    rig.source->setCost(rig.clock, std::chrono::milliseconds(1));
    rig.device->play(range(0, 100));
    rig.step();
    EXPECT_TRUE(*soundOn);
    rig.device.reset(); // the decode thread may be inside frameAt
    EXPECT_FALSE(*soundOn);
}

// A wait ends with the play (the real-time test times one), with a pause, at once for a
// play without an end, and with the device.
TEST(DevicePlaybackLifetime, AWaitEndsWithThePlayOrWithTheDevice)
{
    {
        DeviceRig rig(100, true, true);
        rig.device->play(range(0, 100)); // the manual clock never moves
        std::shared_ptr<bool> soundOn = rig.audio->soundOn;
        QTimer::singleShot(0, [&] { rig.device->pause(); });
        rig.device->waitForPlayEnd();
        EXPECT_EQ(rig.mode(), "paused");
        // A repeating play has no end: the wait does not hang, the play goes on.
        rig.device->play(range(0, 100, false, true));
        rig.device->waitForPlayEnd();
        EXPECT_EQ(rig.mode(), "playing");
        rig.device->play(range(100, 0, true));
        QTimer::singleShot(0, [&] { rig.device.reset(); });
        video::VideoDevice *raw = rig.device.get();
        raw->waitForPlayEnd(); // returns though the device is gone
        EXPECT_EQ(rig.device, nullptr);
        EXPECT_FALSE(*soundOn);
    }
    // Nothing to wait for.
    DeviceRig idle(10);
    idle.device->waitForPlayEnd();
}

} // namespace
