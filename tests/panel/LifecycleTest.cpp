#include "tests/support/PanelFixture.h"

#include <QTest>

using LifecycleTest = PanelFixture;

TEST_F(LifecycleTest, ClosingThePanelClosesTheDevice)
{
    openVideo();
    form->show();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(control.log, QStringList{QStringLiteral("Close")});
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(LifecycleTest, ExitEndsWithoutClosingTheDevice)
{
    int exits = 0;
    frmMain::setExitHandler([&] { ++exits; });
    openVideo();
    form->show();
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(control.log.isEmpty());
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(LifecycleTest, ExitAndFileWorkWithoutAVideo)
{
    int exits = 0;
    frmMain::setExitHandler([&] { ++exits; });
    form->Command5_Click();
    EXPECT_EQ(exits, 1);
    chosenPath.clear();
    form->Command8_Click();
    EXPECT_EQ(dialogRequests.size(), 1u);
}

// Every handler that needs a video, tried with none: nothing is sent, nothing changes.
TEST_F(LifecycleTest, GatedHandlersDoNothingWithoutAVideo)
{
    using Handler = std::function<void(frmMain &)>;
    const QList<std::pair<const char *, Handler>> handlers = {
        {"Command1", [](frmMain &f) { f.Command1_Click(); }},
        {"Command15", [](frmMain &f) { f.Command15_Click(); }},
        {"Command2", [](frmMain &f) { f.Command2_Click(); }},
        {"Command3", [](frmMain &f) { f.Command3_Click(); }},
        {"Command4", [](frmMain &f) { f.Command4_Click(); }},
        {"Command9", [](frmMain &f) { f.Command9_Click(); }},
        {"Command10", [](frmMain &f) { f.Command10_Click(); }},
        {"Command6", [](frmMain &f) { f.Command6_MouseDown(Qt::LeftButton, {}, 1, 1); }},
        {"Command7", [](frmMain &f) { f.Command7_MouseDown(Qt::LeftButton, {}, 1, 1); }},
        {"Command16", [](frmMain &f) { f.Command16_Click(); }},
        {"Command17", [](frmMain &f) { f.Command17_Click(); }},
        {"Command18", [](frmMain &f) { f.Command18_Click(); }},
        {"Command13", [](frmMain &f) { f.Command13_Click(); }},
        {"Command14", [](frmMain &f) { f.Command14_Click(); }},
    };
    // A video that was open, then found unusable: the state is full of values to keep.
    openVideo(200);
    form->DeviceError = -1;
    form->state.ForwardPlayState = 1;
    form->state.ReversePlayState = 2;
    form->state.RangeFrom = 20;
    form->state.RangeTo = 150;
    control.currentPosition = 100;
    int pumps = 0;
    windowing::setEventPump([&] { ++pumps; });
    for (bool timerOn : {false, true}) {
        for (const auto &[name, handler] : handlers) {
            SCOPED_TRACE(name);
            timerOn ? form->Timer1.start() : form->Timer1.stop();
            const int label3 = form->Label3->x();
            handler(*form);
            EXPECT_EQ(form->Timer1.isActive(), timerOn);
            EXPECT_EQ(pair(), std::make_pair(1, 2));
            EXPECT_EQ(form->state.RangeFrom, 20);
            EXPECT_EQ(form->state.RangeTo, 150);
            EXPECT_EQ(form->state.FastForwardState, 0);
            EXPECT_EQ(form->state.RewindState, 0);
            EXPECT_EQ(form->state.SoundState, QStringLiteral("on"));
            EXPECT_EQ(form->state.RepeatMode, 0);
            EXPECT_EQ(form->Command13->text(), QStringLiteral("音あり"));
            EXPECT_EQ(form->Command14->text(), QStringLiteral("一回"));
            EXPECT_EQ(form->Label3->x(), label3);
        }
    }
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_TRUE(control.log.isEmpty());
    EXPECT_EQ(pumps, 0);
}
