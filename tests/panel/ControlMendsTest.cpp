#include "tests/support/PanelFixture.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

// Behaviours of the panel's controls that a person meets with the mouse: the poll and the
// thumb, presses that belong to a control, the poll after the panel has gone.
namespace {

class ControlMends : public PanelFixture {};

TEST_F(ControlMends, ThePollLeavesAHeldThumbAloneAndTheReleaseSeeksWhereTheUserPutIt)
{
    openVideo(1000);
    form->show();
    form->Slider1->setSliderDown(true);
    form->Slider1->setValue(800); // the user drags to 800
    control.currentPosition = 520;
    form->Timer1_Timer();         // a poll tick while the thumb is held
    EXPECT_EQ(form->Slider1->value(), 800);
    EXPECT_TRUE(control.seeks.isEmpty());

    form->Slider1->setSliderDown(false); // release
    ASSERT_EQ(control.seeks.size(), 1);
    EXPECT_EQ(control.seeks.front(), 800);
}

TEST_F(ControlMends, PressingAndReleasingTheThumbWithoutMovingItDoesNotSeek)
{
    openVideo(1000);
    form->Slider1->setProgramValue(300);
    form->Command1_Click(); // playing forward
    form->Slider1->setSliderDown(true);
    form->Slider1->setSliderDown(false);
    EXPECT_TRUE(control.seeks.isEmpty());
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    EXPECT_TRUE(form->Timer1.isActive());
}

TEST_F(ControlMends, APressOnASliderNeverWarpsThePanel)
{
    form->show();
    const double left = form->geometry.left();
    const double top = form->geometry.top();
    for (Slider *slider : {form->Slider1, form->Slider2})
        for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton})
            QTest::mousePress(slider, button, {}, QPoint(3, 3));
    EXPECT_DOUBLE_EQ(form->geometry.left(), left);
    EXPECT_DOUBLE_EQ(form->geometry.top(), top);
}

TEST_F(ControlMends, ClosingThePanelStopsThePoll)
{
    openVideo();
    form->Command1_Click();
    ASSERT_TRUE(form->Timer1.isActive());
    form->close();
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(control.log.contains(QStringLiteral("Close")));
}

TEST_F(ControlMends, SwitchingOnARunningPollKeepsItsRhythm)
{
    openVideo();
    form->Command3_Click();
    ASSERT_TRUE(form->Timer1.isActive());
    QTest::qWait(60);
    const int left = form->Timer1.remainingTime();
    form->Command9_Click(); // switches the poll on again
    EXPECT_LE(form->Timer1.remainingTime(), left);
}

TEST_F(ControlMends, TheLoadedPanelKeepsItsSizeAndDockOnceShown)
{
    form->show();
    // Outer size and place in twips, frame included, after the window system framed it.
    const QRect frame = form->frameGeometry();
    EXPECT_EQ(frame.width(), windowing::twipsToPixelsX(1070));
    EXPECT_EQ(frame.height(), windowing::twipsToPixelsY(6200));
    EXPECT_EQ(frame.x(), windowing::twipsToPixelsX(14275));
    EXPECT_EQ(frame.y(), windowing::twipsToPixelsY(2660));
}

} // namespace
