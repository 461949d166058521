#include "tests/support/PanelFixture.h"

using TogglesTest = PanelFixture;

TEST_F(TogglesTest, SoundSwitchesAndItsCaptionShowsTheSetting)
{
    openVideo(250);
    form->Command13_Click();
    EXPECT_EQ(form->state.SoundState, QStringLiteral("off"));
    EXPECT_EQ(form->Command13->text(), QStringLiteral("音なし"));
    form->Command13_Click();
    EXPECT_EQ(form->state.SoundState, QStringLiteral("on"));
    EXPECT_EQ(form->Command13->text(), QStringLiteral("音あり"));
    EXPECT_EQ(channel.commands, (QStringList{"set /videos/my clip.avi audio all off",
                                             "set /videos/my clip.avi audio all on"}));
}

TEST_F(TogglesTest, AnySoundTextOtherThanOnSwitchesOn)
{
    openVideo(250);
    form->state.SoundState = QStringLiteral("On");
    form->Command13_Click();
    EXPECT_EQ(form->state.SoundState, QStringLiteral("on"));
    EXPECT_EQ(channel.commands, QStringList{"set /videos/my clip.avi audio all on"});
}

TEST_F(TogglesTest, RepeatSendsNothingAndActsOnTheNextRangePlay)
{
    openVideo(250);
    form->Command14_Click();
    EXPECT_EQ(form->state.RepeatMode, 1);
    EXPECT_EQ(form->Command14->text(), QStringLiteral("連続"));
    EXPECT_TRUE(channel.commands.isEmpty());
    form->Command1_Click();
    form->Command15_Click();
    EXPECT_EQ(channel.commands,
              (QStringList{"play /videos/my clip.avi from 0 to 250 repeat",
                           "play /videos/my clip.avi from 250 to 0 reverse repeat"}));
    form->Command14_Click();
    EXPECT_EQ(form->state.RepeatMode, 0);
    EXPECT_EQ(form->Command14->text(), QStringLiteral("一回"));
    EXPECT_EQ(pair(), std::make_pair(0, 1));
}
