#include "tests/support/PanelFixture.h"

#include <QTest>

// The event pump a wind runs between its seeks is replaced by a script: turn n of the pump
// does what the test says, as a click would inside the real pump.
class WindTest : public PanelFixture {
protected:
    void script(std::function<void(int turn)> step)
    {
        windowing::setEventPump([this, step] { step(++turns); });
    }
    void press(bool forward, Qt::MouseButton button = Qt::LeftButton)
    {
        forward ? form->Command6_MouseDown(button, {}, 3, 4)
                : form->Command7_MouseDown(button, {}, 3, 4);
    }
    int turns = 0;
};

// Steps of ten up to the length (which a step may land on exactly) or down to above zero,
// the wind's own flag up meanwhile; the pair and the channel are left alone.
TEST_F(WindTest, WindsRunToTheirBoundsInStepsOfTen)
{
    const struct {
        bool forward;
        qint32 from;
        QList<qint32> seeks;
    } rows[] = {{true, 95, {95, 105, 115}},
                {true, 90, {90, 100, 110, 120}},
                {false, 25, {25, 15, 5}},
                {false, 0, {}}};
    openVideo(120);
    form->state.ForwardPlayState = 1;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.from);
        control.seeks.clear();
        control.currentPosition = row.from;
        QList<int> flags;
        script([&](int) {
            flags << (row.forward ? form->state.FastForwardState : form->state.RewindState);
        });
        press(row.forward);
        EXPECT_EQ(control.seeks, row.seeks);
        EXPECT_EQ(flags, QList<int>(row.seeks.size(), 1));
        EXPECT_EQ(form->state.FastForwardState, 0);
        EXPECT_EQ(form->state.RewindState, 0);
    }
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    EXPECT_TRUE(form->Timer1.isActive());
}

TEST_F(WindTest, RealPressesOfAnyButtonStartAndStopAWind)
{
    openVideo(120);
    form->show();
    const QRect panelBefore = form->frameGeometry();
    control.currentPosition = 10;
    script([&](int turn) {
        if (turn == 3)
            QTest::mousePress(form->Command6, Qt::MiddleButton);
    });
    QTest::mousePress(form->Command6, Qt::RightButton);
    EXPECT_EQ(control.seeks, (QList<qint32>{10, 20, 30}));
    EXPECT_EQ(channel.commands, QStringList{"pause /videos/my clip.avi"});
    EXPECT_EQ(form->state.FastForwardState, 0);
    // A press on a button is never a press on the panel's background: no warp.
    EXPECT_EQ(form->frameGeometry(), panelBefore);
    QTest::mouseRelease(form->Command6, Qt::RightButton);
}

// Other handlers run inside a wind's pump: another wind nests and the outer one goes on from
// its own count; a stop does not end it; a mark takes the position wound to.
TEST_F(WindTest, HandlersInsideAWindAndAfterIt)
{
    openVideo(120);
    control.currentPosition = 50;
    script([&](int turn) {
        if (turn == 2)
            press(false);
        if (turn == 4)
            form->Command16_Click();
        if (turn == 10)
            form->Command2_Click();
    });
    press(true);
    EXPECT_EQ(control.seeks,
              (QList<qint32>{50, 60, 60, 50, 40, 30, 20, 10, 70, 80, 90, 100, 110, 120}));
    EXPECT_EQ(form->state.RangeFrom, 50);
    EXPECT_EQ(channel.commands, QStringList{"stop /videos/my clip.avi"});
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(form->state.FastForwardState + form->state.RewindState, 0);
}

// A second press, with any button, asks the running wind to stop, and pauses; pressed again
// while the stop is pending, it asks again. When the video goes away inside the pump (another
// open, a cancelled open, the panel closed, exit, the panel deleted) the wind stops at once
// and touches nothing more.
TEST_F(WindTest, AWindEndsAtASecondPressOrWhenItsVideoGoes)
{
    int exits = 0;
    frmMain::setExitHandler([&] { ++exits; });
    bool forward = true;
    const std::function<void()> endings[] = {
        [&] {
            press(forward, Qt::RightButton);
            form->state.ForwardPlayState = 1; // a play clicked in between
            press(forward, Qt::MiddleButton);
        },
        [&] {
            chosenPath = QStringLiteral("/videos/second.avi");
            form->Command8_Click();
        },
        [&] {
            chosenPath.clear();
            form->Command8_Click();
        },
        [&] { form->close(); },
        [&] { form->Command5_Click(); },
        [&] { form.reset(); },
    };
    for (bool f : {true, false}) {
        forward = f;
        for (size_t i = 0; i < std::size(endings); ++i) {
            SCOPED_TRACE(i);
            if (!form) {
                form = std::make_unique<frmMain>(channel, control);
                form->Form_Load();
            }
            openVideo(120);
            form->state.ForwardPlayState = 1;
            control.currentPosition = 60;
            script([&](int turn) {
                if (turn == 2)
                    endings[i]();
            });
            turns = 0;
            press(forward);
            EXPECT_EQ(control.seeks, (QList<qint32>{60, forward ? 70 : 50}));
            if (form) {
                EXPECT_EQ(form->state.FastForwardState + form->state.RewindState, 0);
            }
            if (i == 0) {
                EXPECT_EQ(channel.commands, QStringList(2, "pause /videos/my clip.avi"));
                EXPECT_EQ(pair(), std::make_pair(2, 2));
            }
        }
    }
    EXPECT_EQ(exits, 2);
}
