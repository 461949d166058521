#include "media/Catalogue.h"
#include "tests/support/PanelFixture.h"

#include <QSignalSpy>
#include <QTest>

// The poll, the position slider and the time label.
class PositionTest : public PanelFixture {
protected:
    // A device that counts in milliseconds between the two time-format commands, as the real
    // one does: the position read there is framePosition * 40 ms (25 frames a second).
    void countMillisecondsWhenAsked()
    {
        channel.onExecute = [this](const QString &command) {
            if (command == Catalogue::timeFormatMs(path)) {
                m_frame = control.currentPosition;
                control.currentPosition = m_frame * 40 + extraMs;
            } else if (command == Catalogue::timeFormatFrames(path)) {
                control.currentPosition = m_frame;
            }
        };
    }
    qint32 extraMs = 0;

private:
    qint32 m_frame = 0;
};

TEST_F(PositionTest, SecondsAreReadBetweenTheTwoTimeFormatCommands)
{
    haveVideo();
    countMillisecondsWhenAsked();
    control.currentPosition = 8;  // 320 ms
    extraMs = 30;                 // 350 ms: the half that rounds up
    form->UpdateTimeLabel();
    EXPECT_EQ(form->Label1->text(), QStringLiteral("0.4秒"));
    EXPECT_EQ(channel.commands,
              QStringList({QStringLiteral("set /videos/my clip.avi time format ms"),
                           QStringLiteral("set /videos/my clip.avi time format frames")}));
    // Back in frames for every later reader.
    EXPECT_EQ(control.currentPosition, 8);
}

TEST_F(PositionTest, FramesModeShowsThePositionAndSendsNothing)
{
    haveVideo();
    form->state.TimeDisplayMode = 0;
    // The frame texts themselves are checked with the time texts.
    control.currentPosition = 1234;
    form->UpdateTimeLabel();
    EXPECT_EQ(form->Label1->text(), QStringLiteral("1234Fm"));
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(PositionTest, PollMovesTheSliderWithoutEverSeeking)
{
    haveVideo(320, 240, 5000);
    countMillisecondsWhenAsked();
    QSignalSpy changes(form->Slider1, &Slider::change);
    form->Timer1.start();
    for (qint32 position : {0, 120, 4999, 7}) {
        control.currentPosition = position;
        form->Timer1_Timer();
        EXPECT_EQ(form->Slider1->value(), position);
    }
    EXPECT_EQ(form->Label1->text(), QStringLiteral("0.3秒"));  // frame 7 = 280 ms
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(control.seeks.isEmpty());
    EXPECT_FALSE(control.log.contains(QStringLiteral("seek")));
    EXPECT_TRUE(form->Timer1.isActive());
}

TEST_F(PositionTest, TimerTicksRunThePoll)
{
    haveVideo();
    form->state.TimeDisplayMode = 0;
    control.currentPosition = 42;
    form->Timer1.start();
    // A real tick of Timer1, through the panel's own connection.
    QTRY_COMPARE_WITH_TIMEOUT(form->Label1->text(), QStringLiteral("42Fm"), 2000);
    EXPECT_EQ(form->Slider1->value(), 42);
    form->Timer1.stop();
}

TEST_F(PositionTest, PollOfAGoneDeviceShowsWhatTheControlReportsWithoutABox)
{
    haveVideo();
    form->state.TimeDisplayMode = 0;
    control.currentPosition = 17;
    form->Timer1_Timer();
    control.isOpen = false;
    control.currentPosition = 0;
    form->Timer1_Timer();
    EXPECT_EQ(form->Label1->text(), QStringLiteral("0Fm"));
    EXPECT_EQ(form->Slider1->value(), 0);
    EXPECT_TRUE(messages.events.empty());
}

TEST_F(PositionTest, SliderMoveSeeksPausesBothButtonsAndStopsThePoll)
{
    haveVideo();
    countMillisecondsWhenAsked();
    form->state.ForwardPlayState = 1;
    form->state.ReversePlayState = 0;
    form->Timer1.start();
    // A user's move: a click on the track or a key, not a value set by the program.
    form->Slider1->setValue(77);
    EXPECT_EQ(control.log, QStringList({QStringLiteral("to=77"), QStringLiteral("seek")}));
    EXPECT_EQ(form->state.ForwardPlayState, 2);
    EXPECT_EQ(form->state.ReversePlayState, 2);
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(form->Label1->text(), QStringLiteral("3.1秒"));  // 77 x 40 ms = 3080 ms
    EXPECT_EQ(channel.commands.size(), 2);
}

TEST_F(PositionTest, KeyOnTheSliderSeeksOneStep)
{
    haveVideo();
    form->state.TimeDisplayMode = 0;
    form->Slider1->setProgramValue(10);
    QTest::keyClick(form->Slider1, Qt::Key_Right);
    EXPECT_EQ(control.seeks, QList<qint32>({11}));
    EXPECT_EQ(form->Label1->text(), QStringLiteral("11Fm"));
}

TEST_F(PositionTest, DoubleClickTogglesTheFormOnlyFromTheNextUpdate)
{
    haveVideo();
    control.currentPosition = 5;
    form->Label1->setText(QStringLiteral("0.2秒"));
    ASSERT_EQ(form->state.TimeDisplayMode, 1);
    form->Label1_DblClick();
    EXPECT_EQ(form->state.TimeDisplayMode, 0);
    EXPECT_EQ(form->Label1->text(), QStringLiteral("0.2秒"));
    form->Timer1_Timer();
    EXPECT_EQ(form->Label1->text(), QStringLiteral("5Fm"));
    form->Label1_DblClick();
    EXPECT_EQ(form->state.TimeDisplayMode, 1);
    EXPECT_TRUE(channel.commands.isEmpty());
}
