#include "capture/Form1.h"
#include "tests/support/PanelFixture.h"

#include <QTest>

using LifecycleTest = PanelFixture;

// Before any open: the load step's defaults, and a real click on every control it disabled,
// and on "コピー", changes nothing and sends nothing (where a click on a disabled control
// lands is the window system's business). Exit and file work.
TEST_F(LifecycleTest, AFreshPanelAnswersOnlyFileExitAndHelp)
{
    EXPECT_EQ(form->DeviceError, -1);
    const QString defaults = QStringLiteral("00 0-0 wind 00 on 0 1000 time1 0x0 - 時間 音あり 一回 "
                                            "11 44 0 1000");
    EXPECT_EQ(panelState(), defaults);
    form->show();
    for (QWidget *w : mediaControls()) {
        EXPECT_FALSE(w->isEnabled());
        QTest::mouseClick(w, Qt::LeftButton);
        QTest::mouseDClick(w, Qt::LeftButton);
    }
    QTest::mouseClick(form->Command19, Qt::LeftButton);
    EXPECT_EQ(Form1::existing(), nullptr);
    EXPECT_EQ(panelState(), defaults);
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_TRUE(control.log.isEmpty());

    int exits = 0;
    frmMain::setExitHandler([&] { ++exits; });
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    EXPECT_EQ(exits, 1);
    QTest::mouseClick(form->Command8, Qt::LeftButton);
    EXPECT_EQ(dialogRequests.size(), 1u);
}

// Closing the panel closes the device and stops the poll; the exit button ends the program
// without the unload step, so without "Close".
TEST_F(LifecycleTest, CloseClosesTheDeviceAndExitDoesNot)
{
    int exits = 0;
    frmMain::setExitHandler([&] { ++exits; });
    openVideo();
    form->show();
    form->Command1_Click();
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(control.log.isEmpty());
    EXPECT_TRUE(form->close());
    EXPECT_EQ(control.log, QStringList{"Close"});
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(channel.commands.size(), 1); // the play, nothing more
}

// Every handler that needs a video, after an open that found the video unusable: nothing is
// sent, nothing on the panel changes, the poll stays as it was.
TEST_F(LifecycleTest, GatedHandlersDoNothingWithoutAVideo)
{
    const std::function<void(frmMain &)> handlers[] = {
        &frmMain::Command1_Click,  &frmMain::Command15_Click, &frmMain::Command2_Click,
        &frmMain::Command3_Click,  &frmMain::Command4_Click,  &frmMain::Command9_Click,
        &frmMain::Command10_Click, &frmMain::Command16_Click, &frmMain::Command17_Click,
        &frmMain::Command18_Click, &frmMain::Command13_Click, &frmMain::Command14_Click,
        &frmMain::Slider1_Change,  &frmMain::Label1_DblClick, &frmMain::Slider2_Change,
        &frmMain::Label2_DblClick, &frmMain::Command11_Click, &frmMain::Command12_Click,
        &frmMain::Command20_Click, &frmMain::Command19_Click,
        [](frmMain &f) { f.Command6_MouseDown(Qt::LeftButton, {}, 1, 1); },
        [](frmMain &f) { f.Command7_MouseDown(Qt::LeftButton, {}, 1, 1); },
    };
    openVideo(200);
    form->DeviceError = -1;
    form->state.ForwardPlayState = 1;
    form->state.ReversePlayState = 2;
    form->state.RangeFrom = 20;
    form->state.RangeTo = 150;
    form->Slider1->setProgramValue(70);
    form->Slider2->setProgramValue(2000);
    control.currentPosition = 100;
    int pumps = 0;
    windowing::setEventPump([&] { ++pumps; });
    for (bool pollOn : {false, true}) {
        pollOn ? form->Timer1.start() : form->Timer1.stop();
        const QString before = panelState();
        for (size_t i = 0; i < std::size(handlers); ++i) {
            handlers[i](*form);
            EXPECT_EQ(panelState(), before) << "handler " << i;
        }
    }
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_TRUE(control.log.isEmpty());
    EXPECT_EQ(pumps, 0);
    EXPECT_EQ(Form1::existing(), nullptr);
}
