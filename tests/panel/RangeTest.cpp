#include "tests/support/PanelFixture.h"

// Marker left edges are panel units (24.6 twips across), turned into pixels only at the end:
// 6 units 147.6 twips (10 px), 11.5 units 282.9 (19 px; whole units would give 18 or 20),
// 22.5 units 553.5 (37 px), 28 units 688.8 (46 px).
using RangeTest = PanelFixture;

TEST_F(RangeTest, MarksMoveTheRangeAndTheMarkers)
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
TEST_F(RangeTest, MarksThatWouldEmptyTheRangeAreRefused)
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
TEST_F(RangeTest, ControlLeftLandsOnItsTwips)
{
    EXPECT_EQ(form->Label4->x(), 44); // the design's 664 twips
    windowing::setFixedScreen(windowing::ScreenMetrics{15360, 11520, 12, 12});
    form->setControlLeft(form->Label4, 28);
    EXPECT_EQ(form->Label4->x(), 57);
}
