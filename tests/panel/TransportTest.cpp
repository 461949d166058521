#include "tests/support/PanelFixture.h"

using TransportTest = PanelFixture;

// One click on a usable video with the range 50 to 200 of 250 frames: the play buttons' pair
// before and after, the command sent (%1 the path; none when empty), the poll after it, what
// the control is told (the seek buttons seek through it, the marks playing no part).
TEST_F(TransportTest, ClickMovesThePairAndSendsItsCommand)
{
    using Click = void (frmMain::*)();
    const Click P = &frmMain::Command1_Click, R = &frmMain::Command15_Click,
                S = &frmMain::Command2_Click, first = &frmMain::Command3_Click,
                last = &frmMain::Command4_Click, next = &frmMain::Command9_Click,
                back = &frmMain::Command10_Click;
    const struct {
        Click click;
        std::pair<int, int> before;
        qint32 position;
        int repeatMode;
        std::pair<int, int> after;
        const char *command;
        bool timerAfter;
        QStringList log = {};
    } rows[] = {
        // clang-format off
        {P, {0, 0}, 120, 0, {1, 0}, "play %1 from 50 to 200", true},
        {P, {0, 0}, 120, 1, {1, 0}, "play %1 from 50 to 200 repeat", true},
        {P, {1, 0}, 200, 0, {1, 0}, "play %1 from 50 to 200", true},
        {P, {1, 0}, 250, 1, {1, 0}, "play %1 from 50 to 200 repeat", true},
        {P, {1, 0}, 199, 0, {2, 2}, "pause %1", false},
        {P, {0, 1}, 120, 0, {1, 0}, "play %1 from 50 to 200", true},
        {P, {2, 2}, 199, 0, {1, 0}, "play %1", true},
        {P, {2, 2}, 10, 1, {1, 0}, "play %1", true},
        {P, {2, 2}, 200, 0, {2, 0}, "", true},
        {P, {2, 0}, 100, 0, {1, 0}, "play %1", true},
        {P, {2, 0}, 230, 0, {2, 0}, "", true},
        {P, {0, 2}, 10, 0, {1, 0}, "play %1 from 50 to 200", true},
        {R, {0, 0}, 120, 0, {0, 1}, "play %1 from 200 to 50 reverse", true},
        {R, {0, 0}, 120, 1, {0, 1}, "play %1 from 200 to 50 reverse repeat", true},
        {R, {0, 1}, 50, 0, {0, 1}, "play %1 from 200 to 50 reverse", true},
        {R, {0, 1}, 0, 0, {0, 1}, "play %1 from 200 to 50 reverse", true},
        {R, {0, 1}, 51, 0, {2, 2}, "pause %1", false},
        {R, {1, 0}, 120, 0, {0, 1}, "play %1 from 200 to 50 reverse", true},
        {R, {2, 2}, 51, 0, {0, 1}, "play %1 reverse", true},
        {R, {2, 2}, 240, 1, {0, 1}, "play %1 reverse", true},
        {R, {2, 2}, 50, 0, {0, 2}, "", true},
        {R, {0, 2}, 60, 0, {0, 1}, "play %1 reverse", true},
        {R, {0, 2}, 3, 0, {0, 2}, "", true},
        {R, {2, 0}, 240, 0, {0, 1}, "play %1 from 200 to 50 reverse", true},
        {S, {0, 0}, 120, 0, {0, 0}, "stop %1", false},
        {S, {1, 0}, 120, 0, {0, 0}, "stop %1", false},
        {S, {0, 1}, 120, 0, {0, 0}, "stop %1", false},
        {S, {2, 2}, 120, 0, {0, 0}, "stop %1", false},
        {S, {2, 0}, 120, 0, {0, 0}, "stop %1", false},
        {S, {0, 2}, 120, 0, {0, 0}, "stop %1", false},
        {first, {1, 0}, 120, 0, {0, 0}, "", true, {"to=0", "seek"}},
        {last, {1, 0}, 120, 0, {0, 0}, "", true, {"to=250", "seek"}},
        {next, {1, 0}, 100, 0, {2, 2}, "", true, {"to=101", "seek"}},
        {next, {1, 0}, 249, 0, {2, 2}, "", true, {"to=250", "seek"}},
        {next, {1, 0}, 250, 0, {1, 0}, "", true},
        {back, {1, 0}, 100, 0, {2, 2}, "", true, {"to=99", "seek"}},
        {back, {1, 0}, 1, 0, {2, 2}, "", true, {"to=0", "seek"}},
        {back, {1, 0}, 0, 0, {1, 0}, "", true},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows << " from " << row.before.first
                                          << row.before.second << " at " << row.position
                                          << " repeat " << row.repeatMode);
        openVideo(250);
        form->state.RangeFrom = 50;
        form->state.RangeTo = 200;
        form->state.RepeatMode = row.repeatMode;
        form->state.ForwardPlayState = row.before.first;
        form->state.ReversePlayState = row.before.second;
        control.currentPosition = row.position;
        // The timer in the opposite state, so that every row shows a switch.
        row.timerAfter ? form->Timer1.stop() : form->Timer1.start();
        (form.get()->*row.click)();
        EXPECT_EQ(pair(), row.after);
        EXPECT_EQ(channel.commands,
            *row.command ? QStringList{QString::fromUtf8(row.command).arg(path)} : QStringList());
        EXPECT_EQ(form->Timer1.isActive(), row.timerAfter);
        EXPECT_EQ(control.log, row.log); // never an open or close
    }
}

// Play, pause, resume, pause, then Stop while paused: the next Play starts the range again
// from its start, not from where the pause held.
TEST_F(TransportTest, PlayPauseResumeStopPlay)
{
    openVideo(250);
    form->state.RangeFrom = 50;
    form->state.RangeTo = 200;
    form->show();
    form->Command1->click();
    control.currentPosition = 100;
    for (int click = 0; click < 3; ++click)
        form->Command1->click();
    form->Command2->click();
    form->Command1->click();
    const QString p = QStringLiteral("/videos/my clip.avi");
    EXPECT_EQ(channel.commands, (QStringList{"play " + p + " from 50 to 200", "pause " + p,
                                             "play " + p, "pause " + p, "stop " + p,
                                             "play " + p + " from 50 to 200"}));
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    form->Command15->click();
    EXPECT_EQ(channel.commands.last(), "play " + p + " from 200 to 50 reverse");
}

// The sound toggle sets the variable, then sends it, then changes the caption; any text but
// "on" counts as off.
TEST_F(TransportTest, SoundSwitchesInTheOrderVariableCommandCaption)
{
    openVideo(250);
    QStringList atSend;
    channel.onExecute = [&](const QString &command) {
        atSend << command.section(QLatin1Char(' '), -1) + QLatin1Char(' ')
                      + form->state.SoundState + QLatin1Char(' ') + form->Command13->text();
    };
    form->Command13_Click();
    form->Command13_Click();
    form->state.SoundState = QStringLiteral("On");
    form->Command13_Click();
    EXPECT_EQ(atSend, (QStringList{"off off 音あり", "on on 音なし", "on on 音あり"}));
    EXPECT_EQ(form->Command13->text(), QStringLiteral("音あり"));
    EXPECT_EQ(channel.commands.first(), QStringLiteral("set /videos/my clip.avi audio all off"));
}

// The repeat toggle sends nothing and leaves a running play alone; what it does to the next
// range play the table above shows.
TEST_F(TransportTest, RepeatSendsNothingAndLeavesThePlayAlone)
{
    openVideo(250);
    form->Command15_Click();
    channel.commands.clear();
    form->Command14_Click();
    EXPECT_EQ(form->state.RepeatMode, 1);
    EXPECT_EQ(form->Command14->text(), QStringLiteral("連続"));
    form->Command14_Click();
    EXPECT_EQ(form->state.RepeatMode, 0);
    EXPECT_EQ(form->Command14->text(), QStringLiteral("一回"));
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_EQ(pair(), std::make_pair(0, 1));
}

// Marker left edges are panel units (24.6 twips across), turned into pixels only at the end:
// 6 units 147.6 twips (10 px), 11.5 units 282.9 (19 px; whole units would give 18 or 20),
// 22.5 units 553.5 (37 px), 28 units 688.8 (46 px).
TEST_F(TransportTest, MarksMoveTheRangeAndTheMarkers)
{
    openVideo(200);
    form->state.ForwardPlayState = 1;
    form->Timer1.stop();
    control.currentPosition = 50;
    form->Command16_Click();
    control.currentPosition = 150;
    form->Command18_Click();
    EXPECT_EQ(form->state.RangeFrom, 50);
    EXPECT_EQ(form->state.RangeTo, 150);
    EXPECT_EQ(form->Label3->pos(), QPoint(19, 30)); // only across
    EXPECT_EQ(form->Label4->x(), 37);
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_TRUE(control.log.isEmpty());

    // Still playing forward, now at the new end: Play starts the new range instead of pausing.
    form->Command1_Click();
    EXPECT_EQ(channel.commands, QStringList{"play /videos/my clip.avi from 50 to 150"});

    control.currentPosition = 77;
    form->Command17_Click();
    EXPECT_EQ(form->state.RangeFrom, 0);
    EXPECT_EQ(form->state.RangeTo, 200);
    EXPECT_EQ(form->Label3->x(), 10);
    EXPECT_EQ(form->Label4->x(), 46);
}

// A mark that would leave an empty range is refused and moves no marker; one past the old
// end is taken once the end has moved, or the marks were cleared.
TEST_F(TransportTest, MarksThatWouldEmptyTheRangeAreRefused)
{
    openVideo(200);
    auto mark = [&](void (frmMain::*click)(), qint32 at) {
        control.currentPosition = at;
        (form.get()->*click)();
        return QStringLiteral("%1-%2 %3 %4").arg(form->state.RangeFrom).arg(form->state.RangeTo)
            .arg(form->Label3->x()).arg(form->Label4->x());
    };
    EXPECT_EQ(mark(&frmMain::Command16_Click, 200), "0-200 10 46");
    EXPECT_EQ(mark(&frmMain::Command18_Click, 0), "0-200 10 46");
    EXPECT_EQ(mark(&frmMain::Command18_Click, 100), "0-100 10 28");
    EXPECT_EQ(mark(&frmMain::Command16_Click, 100), "0-100 10 28");
    EXPECT_EQ(mark(&frmMain::Command16_Click, 130), "0-100 10 28");
    EXPECT_EQ(mark(&frmMain::Command18_Click, 180), "0-180 10 42");
    EXPECT_EQ(mark(&frmMain::Command16_Click, 130), "130-180 33 42");
    EXPECT_EQ(mark(&frmMain::Command18_Click, 100), "130-180 33 42");
    EXPECT_EQ(mark(&frmMain::Command17_Click, 0), "0-200 10 46");
    EXPECT_EQ(mark(&frmMain::Command18_Click, 100), "0-100 10 28");
    EXPECT_EQ(mark(&frmMain::Command17_Click, 0), "0-200 10 46");
    EXPECT_EQ(mark(&frmMain::Command16_Click, 130), "130-200 33 46");
    EXPECT_TRUE(messages.events.empty());
}

// At 12 twips a pixel (120 dpi) the same units give other pixels.
TEST_F(TransportTest, ControlLeftLandsOnItsTwips)
{
    EXPECT_EQ(form->Label4->x(), 44); // the design's 664 twips
    windowing::setFixedScreen(windowing::ScreenMetrics{15360, 11520, 12, 12});
    form->setControlLeft(form->Label4, 28);
    EXPECT_EQ(form->Label4->x(), 57);
}
