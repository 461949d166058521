#include "media/Catalogue.h"
#include "tests/support/PanelFixture.h"

#include <QSignalSpy>
#include <QTest>

// The poll, the two sliders and their labels.
class PositionTest : public PanelFixture {
protected:
    // A device that counts in milliseconds between the two time-format commands, as the real
    // one does: the position read there is frame * 40 ms (25 frames a second) + extraMs.
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

// The poll moves the slider and the label, never seeks, and leaves a held thumb alone; a
// device gone away shows what the control reports, without a box. Real ticks run it.
TEST_F(PositionTest, PollMovesTheSliderWithoutEverSeeking)
{
    openVideo(5000);
    form->state.TimeDisplayMode = 0;
    QSignalSpy changes(form->Slider1, &Slider::change);
    for (qint32 position : {0, 120, 7, 4999}) {
        control.currentPosition = position;
        form->Timer1_Timer();
        EXPECT_EQ(form->Slider1->value(), position);
    }
    EXPECT_EQ(form->Label1->text(), QStringLiteral("4999Fm")); // every digit, no separator
    form->Slider1->setSliderDown(true);
    form->Slider1->setValue(800); // the user drags to 800 and holds
    control.currentPosition = 520;
    form->Timer1_Timer();
    EXPECT_EQ(form->Slider1->value(), 800);
    EXPECT_EQ(form->Label1->text(), QStringLiteral("520Fm"));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(control.seeks.isEmpty());
    form->Slider1->setSliderDown(false); // the release seeks where the user put it
    EXPECT_EQ(control.seeks, QList<qint32>{800});

    control.isOpen = false;
    control.currentPosition = 0;
    form->Timer1_Timer();
    EXPECT_EQ(form->Slider1->value(), 0);
    control.currentPosition = 42;
    form->Timer1.start();
    QTRY_COMPARE_WITH_TIMEOUT(form->Label1->text(), QStringLiteral("42Fm"), 2000);
    EXPECT_TRUE(messages.events.empty());
    EXPECT_TRUE(channel.timeFormats.isEmpty()); // frames need no time-format commands
}

// After every transport action the slider and the label show where the device stands, though
// the device has moved on since the poll's last reading (40): at once where the action leaves
// the poll off or ends a wind, at the next tick where the poll runs on.
TEST_F(PositionTest, SliderAndLabelShowTheDevicePositionAfterEveryAction)
{
    const struct {
        const char *action;
        std::pair<int, int> pairBefore;
        qint32 deviceAt;
        std::function<void(frmMain &)> act;
        bool pollAfter = false;
        bool nextTick = false; // the poll runs on and its next tick is what shows
    } rows[] = {
        {"play", {0, 0}, 47, [](frmMain &f) { f.Command1_Click(); }, true, true},
        {"reverse", {0, 0}, 47, [](frmMain &f) { f.Command15_Click(); }, true, true},
        {"end of a once-play", {1, 0}, 250, [](frmMain &) {}, true, true},
        {"pause", {1, 0}, 47, [](frmMain &f) { f.Command1_Click(); }},
        {"reverse pause", {0, 1}, 47, [](frmMain &f) { f.Command15_Click(); }},
        {"stop", {1, 0}, 47, [](frmMain &f) { f.Command2_Click(); }},
        {"wind ended by its second press", {1, 0}, 47,
         [](frmMain &f) {
             windowing::setEventPump([&f] { f.Command6_MouseDown(Qt::LeftButton, {}, 0, 0); });
             f.Command6_MouseDown(Qt::LeftButton, {}, 0, 0);
             windowing::setEventPump({});
         },
         true},
        {"slider seek", {1, 0}, 47, [](frmMain &f) { f.Slider1->setValue(120); }},
        {"second open", {1, 0}, 47, [](frmMain &f) { f.Command8_Click(); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.action);
        openVideo(250);
        form->state.TimeDisplayMode = 0;
        form->state.ForwardPlayState = row.pairBefore.first;
        form->state.ReversePlayState = row.pairBefore.second;
        form->Timer1.start();
        control.currentPosition = 40;
        form->Timer1_Timer();
        control.currentPosition = row.deviceAt;
        row.act(*form);
        EXPECT_EQ(form->Timer1.isActive(), row.pollAfter);
        if (row.nextTick)
            form->Timer1_Timer();
        EXPECT_EQ(form->Label1->text(), QStringLiteral("%1Fm").arg(control.position()));
        EXPECT_EQ(form->Slider1->value(), control.position());
    }
}

// Switching the poll on while it runs keeps its rhythm: quick clicks never hold it back.
TEST_F(PositionTest, SwitchingOnARunningPollKeepsItsRhythm)
{
    openVideo();
    form->Command3_Click();
    ASSERT_TRUE(form->Timer1.isActive());
    QTest::qWait(60);
    const int left = form->Timer1.remainingTime();
    form->Command9_Click();
    EXPECT_LE(form->Timer1.remainingTime(), left);
}

TEST_F(PositionTest, SliderMoveSeeksPausesBothButtonsAndStopsThePoll)
{
    openVideo();
    countMillisecondsWhenAsked();
    form->state.ForwardPlayState = 1;
    form->Timer1.start();
    form->Slider1->setValue(77); // a click on the track or a key: not a value the program set
    EXPECT_EQ(control.log, (QStringList{"to=77", "seek"}));
    EXPECT_EQ(pair(), std::make_pair(2, 2));
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(form->Label1->text(), QStringLiteral("3.1秒")); // 77 x 40 ms = 3080 ms

    form->state.TimeDisplayMode = 0;
    QTest::keyClick(form->Slider1, Qt::Key_Right);
    EXPECT_EQ(control.seeks, (QList<qint32>{77, 78}));
    EXPECT_EQ(form->Label1->text(), QStringLiteral("78Fm"));

    // Pressed and released without a move: no seek, the poll runs on.
    form->Command1_Click();
    form->Slider1->setSliderDown(true);
    form->Slider1->setSliderDown(false);
    EXPECT_EQ(control.seeks.size(), 2);
    EXPECT_TRUE(form->Timer1.isActive());
}

TEST_F(PositionTest, DoubleClickTogglesTheFormOnlyFromTheNextUpdate)
{
    openVideo();
    control.currentPosition = 5;
    form->Label1->setText(QStringLiteral("0.2秒"));
    form->Label1_DblClick();
    EXPECT_EQ(form->state.TimeDisplayMode, 0);
    EXPECT_EQ(form->Label1->text(), QStringLiteral("0.2秒"));
    form->Timer1_Timer();
    EXPECT_EQ(form->Label1->text(), QStringLiteral("5Fm"));
    form->Label1_DblClick();
    EXPECT_EQ(form->state.TimeDisplayMode, 1);
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(PositionTest, SpeedSliderEndsSendOneAndThreeThousandAndNeverZero)
{
    openVideo();
    form->Slider2->setValue(1);
    form->Slider2->setValue(0);  // below the range: stays at 1, nothing more is sent
    form->Slider2->setValue(3000);
    form->Slider2->setValue(3001);
    EXPECT_EQ(channel.commands, QStringList({"set /videos/my clip.avi speed 1",
                                             "set /videos/my clip.avi speed 3000"}));
    EXPECT_EQ(form->state.PlaybackSpeed, 3000);
    // The transport and the poll are not the speed's business.
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(control.log.isEmpty());
}

TEST_F(PositionTest, DoubleClickOnSpeedSendsOneThousandOnceAndStartsThePoll)
{
    openVideo();
    form->Slider2->setValue(2500);
    channel.commands.clear();
    ASSERT_FALSE(form->Timer1.isActive());
    form->Label2_DblClick();
    EXPECT_EQ(channel.commands, QStringList{"set /videos/my clip.avi speed 1000"});
    EXPECT_EQ(form->state.PlaybackSpeed, 1000);
    EXPECT_EQ(form->Slider2->value(), 1000);
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_EQ(form->Timer1.interval(), 100);
    form->Timer1.stop();
}
