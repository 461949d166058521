#include "tests/support/PanelFixture.h"

// Marker left edges in pixels at 15 twips a pixel, one panel unit being 24.6 twips across:
// 6 units 147.6 twips (10 px), 11.5 units 282.9 (19 px), 22.5 units 553.5 (37 px),
// 28 units 688.8 (46 px). The design places are 172 and 664 twips (11 and 44 px).
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
    EXPECT_EQ(form->Label3->x(), 19);
    EXPECT_EQ(form->Label4->x(), 37);
    EXPECT_EQ(form->Label3->y(), 30); // only across
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_TRUE(control.log.isEmpty());

    // Still playing forward, now at the new end: Play starts the new range instead of pausing.
    form->Command1_Click();
    EXPECT_EQ(channel.commands, QStringList{"play /videos/my clip.avi from 50 to 150"});
    EXPECT_EQ(pair(), std::make_pair(1, 0));
}

TEST_F(RangeTest, MarksThatWouldEmptyTheRangeAreRefused)
{
    openVideo(200);
    const int label3 = form->Label3->x();
    const int label4 = form->Label4->x();
    control.currentPosition = 200; // exactly at the end
    form->Command16_Click();
    control.currentPosition = 0; // exactly at the start
    form->Command18_Click();
    EXPECT_EQ(form->state.RangeFrom, 0);
    EXPECT_EQ(form->state.RangeTo, 200);
    EXPECT_EQ(form->Label3->x(), label3);
    EXPECT_EQ(form->Label4->x(), label4);

    control.currentPosition = 120;
    form->Command18_Click();
    control.currentPosition = 130; // past the new end
    form->Command16_Click();
    EXPECT_EQ(form->state.RangeFrom, 0);
    control.currentPosition = 120;
    form->Command16_Click();
    EXPECT_EQ(form->state.RangeFrom, 0);
    EXPECT_TRUE(messages.events.empty());
}

TEST_F(RangeTest, ClearGivesBackTheWholeVideo)
{
    openVideo(200);
    EXPECT_EQ(form->Label3->x(), 10);
    EXPECT_EQ(form->Label4->x(), 46);
    control.currentPosition = 50;
    form->Command16_Click();
    control.currentPosition = 150;
    form->Command18_Click();
    control.currentPosition = 77;
    form->Command17_Click();
    EXPECT_EQ(form->state.RangeFrom, 0);
    EXPECT_EQ(form->state.RangeTo, 200);
    EXPECT_EQ(form->Label3->x(), 10);
    EXPECT_EQ(form->Label4->x(), 46);
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST(PanelUnits, ControlLeftLandsOnItsTwips)
{
    FixedScreen screen;
    RecordingChannel channel;
    RecordingControl control;
    frmMain form(channel, control);
    EXPECT_EQ(form.Label3->x(), 11);
    EXPECT_EQ(form.Label4->x(), 44);
    form.setControlLeft(form.Label3, 6);
    form.setControlLeft(form.Label4, 28);
    EXPECT_EQ(form.Label3->x(), 10);
    EXPECT_EQ(form.Label4->x(), 46);
    // At 12 twips a pixel (120 dpi) the same units give other pixels.
    windowing::setFixedScreen(windowing::ScreenMetrics{15360, 11520, 12, 12});
    form.setControlLeft(form.Label4, 28);
    EXPECT_EQ(form.Label4->x(), 57);
}
