#include "tests/support/PanelFixture.h"

#include <QTest>

// The event pump a wind runs between its seeks is replaced by a script: turn n of the pump
// does what the test says, as a click would inside the real pump.
class WindTest : public PanelFixture {
protected:
    void script(std::function<void(int turn)> step)
    {
        windowing::setEventPump([this, step] {
            ++turns;
            step(turns);
        });
    }
    void pressFastForward(Qt::MouseButton button = Qt::LeftButton)
    {
        form->Command6_MouseDown(button, {}, 3, 4);
    }
    void pressRewind(Qt::MouseButton button = Qt::LeftButton)
    {
        form->Command7_MouseDown(button, {}, 3, 4);
    }

    int turns = 0;
};

TEST_F(WindTest, FastForwardRunsToItsBoundInStepsOfTen)
{
    openVideo(120);
    form->state.ForwardPlayState = 1;
    control.currentPosition = 95;
    QList<int> flags;
    script([&](int) { flags << form->state.FastForwardState; });
    pressFastForward();
    EXPECT_EQ(control.seeks, (QList<qint32>{95, 105, 115}));
    EXPECT_EQ(flags, (QList<int>{1, 1, 1}));
    EXPECT_EQ(form->state.FastForwardState, 0);
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    EXPECT_TRUE(form->Timer1.isActive());
}

TEST_F(WindTest, WindsStopAtTheLengthButNeverSeekToZero)
{
    struct Row {
        bool forward;
        qint32 from;
        QList<qint32> seeks;
    };
    const Row rows[] = {{true, 90, {90, 100, 110, 120}}, // the length on a multiple of ten
                        {false, 25, {25, 15, 5}},
                        {false, 0, {}}};
    openVideo(120);
    script([](int) {});
    for (const Row &row : rows) {
        SCOPED_TRACE(row.from);
        control.seeks.clear();
        control.currentPosition = row.from;
        row.forward ? pressFastForward() : pressRewind();
        EXPECT_EQ(control.seeks, row.seeks);
        EXPECT_EQ(form->state.FastForwardState, 0);
        EXPECT_EQ(form->state.RewindState, 0);
    }
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_EQ(turns, 4 + 3); // a rewind from 0 does not even pump
}

TEST_F(WindTest, SecondPressStopsAndPauses)
{
    openVideo(120);
    form->state.ForwardPlayState = 1;
    control.currentPosition = 20;
    script([&](int turn) {
        if (turn == 2) {
            pressFastForward(Qt::RightButton);
            EXPECT_EQ(form->state.FastForwardState, 2);
        }
    });
    pressFastForward();
    EXPECT_EQ(control.seeks, (QList<qint32>{20, 30}));
    EXPECT_EQ(channel.commands, QStringList{"pause /videos/my clip.avi"});
    EXPECT_EQ(pair(), std::make_pair(2, 2));
    EXPECT_EQ(form->state.FastForwardState, 0);
}

TEST_F(WindTest, PressWhileAStopIsPendingRepeatsTheRequest)
{
    openVideo(120);
    control.currentPosition = 100;
    script([&](int turn) {
        if (turn == 1) {
            pressRewind(Qt::MiddleButton);
            form->state.ForwardPlayState = 1; // a play clicked in between
            pressRewind(Qt::MiddleButton);
        }
    });
    pressRewind(Qt::MiddleButton);
    EXPECT_EQ(control.seeks, QList<qint32>{100});
    EXPECT_EQ(channel.commands, (QStringList{"pause /videos/my clip.avi",
                                             "pause /videos/my clip.avi"}));
    EXPECT_EQ(pair(), std::make_pair(2, 2));
    EXPECT_EQ(form->state.RewindState, 0);
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

TEST_F(WindTest, OtherWindNestsInsideAndTheOuterOneGoesOn)
{
    openVideo(120);
    control.currentPosition = 50;
    QList<std::pair<int, int>> flags;
    script([&](int turn) {
        flags << std::make_pair(int(form->state.FastForwardState), form->state.RewindState);
        if (turn == 2)
            pressRewind();
    });
    pressFastForward();
    EXPECT_EQ(control.seeks,
              (QList<qint32>{50, 60, 60, 50, 40, 30, 20, 10, 70, 80, 90, 100, 110, 120}));
    EXPECT_EQ(flags[2], std::make_pair(1, 1));
    EXPECT_EQ(form->state.FastForwardState, 0);
    EXPECT_EQ(form->state.RewindState, 0);
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(WindTest, StopInsideAWindDoesNotEndIt)
{
    openVideo(40);
    control.currentPosition = 0;
    script([&](int turn) {
        if (turn == 1)
            form->Command2_Click();
    });
    pressFastForward();
    EXPECT_EQ(control.seeks, (QList<qint32>{0, 10, 20, 30, 40}));
    EXPECT_EQ(channel.commands, QStringList{"stop /videos/my clip.avi"});
    EXPECT_EQ(pair(), std::make_pair(0, 0));
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(form->state.FastForwardState, 0);
}

TEST_F(WindTest, MarksInsideAWindTakeTheWoundPosition)
{
    openVideo(200);
    control.currentPosition = 30;
    script([&](int turn) {
        if (turn == 3)
            form->Command16_Click();
    });
    pressFastForward();
    EXPECT_EQ(form->state.RangeFrom, 50);
}

TEST_F(WindTest, OpeningAnotherVideoEndsTheWind)
{
    openVideo(120);
    control.currentPosition = 10;
    script([&](int turn) {
        if (turn == 2) {
            chosenPath = QStringLiteral("/videos/second.avi");
            control.mediaLength = 900;
            form->Command8_Click();
        }
    });
    pressFastForward();
    EXPECT_EQ(control.seeks, (QList<qint32>{10, 20}));
    EXPECT_EQ(form->state.FastForwardState, 0);
    EXPECT_EQ(form->MediaPath, QStringLiteral("/videos/second.avi"));
}

TEST_F(WindTest, CancelledOpenInsideAWindEndsIt)
{
    openVideo(120);
    control.currentPosition = 10;
    script([&](int turn) {
        if (turn == 1) {
            chosenPath.clear();
            form->Command8_Click();
        }
    });
    pressRewind();
    EXPECT_EQ(control.seeks, QList<qint32>{10});
    EXPECT_EQ(form->state.RewindState, 0);
    EXPECT_EQ(form->DeviceError, -1);
}

TEST_F(WindTest, ClosingThePanelEndsTheWind)
{
    openVideo(120);
    form->show();
    control.currentPosition = 10;
    script([&](int turn) {
        if (turn == 2)
            form->close();
    });
    pressFastForward();
    EXPECT_EQ(control.seeks, (QList<qint32>{10, 20}));
    EXPECT_EQ(control.log.count(QStringLiteral("Close")), 1);
    EXPECT_EQ(form->state.FastForwardState, 0);
}

TEST_F(WindTest, ExitInsideAWindEndsIt)
{
    int exits = 0;
    frmMain::setExitHandler([&] { ++exits; });
    openVideo(120);
    control.currentPosition = 10;
    script([&](int turn) {
        if (turn == 1)
            form->Command5_Click();
    });
    pressFastForward();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(control.seeks, QList<qint32>{10});
    EXPECT_EQ(control.log.count(QStringLiteral("Close")), 0);
}

TEST_F(WindTest, PanelDeletedInsideAWindIsNotTouchedAgain)
{
    openVideo(120);
    control.currentPosition = 10;
    frmMain *panel = form.get();
    script([&](int turn) {
        if (turn == 2)
            form.reset();
    });
    panel->Command6_MouseDown(Qt::LeftButton, {}, 1, 1);
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(control.seeks, (QList<qint32>{10, 20}));
}
