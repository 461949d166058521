#include "tests/support/PanelFixture.h"

using TogglesTest = PanelFixture;

// The sound toggle sets the variable, then sends it, then changes the caption; any text but
// "on" counts as off.
TEST_F(TogglesTest, SoundSwitchesInTheOrderVariableCommandCaption)
{
    openVideo(250);
    QStringList atSend;
    channel.onExecute = [&](const QString &command) {
        atSend << command.section(QLatin1Char(' '), -1) + QLatin1Char(' ')
                      + form->state.SoundState + QLatin1Char(' ') + form->Command13->text();
    };
    form->Command13_Click();
    form->Command13_Click();
    form->state.SoundState = QStringLiteral("On");
    form->Command13_Click();
    EXPECT_EQ(atSend, (QStringList{"off off 音あり", "on on 音なし", "on on 音あり"}));
    EXPECT_EQ(form->Command13->text(), QStringLiteral("音あり"));
    EXPECT_EQ(channel.commands.first(), QStringLiteral("set /videos/my clip.avi audio all off"));
}

TEST_F(TogglesTest, RepeatSendsNothingAndActsOnTheNextRangePlay)
{
    openVideo(250);
    form->Command14_Click();
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
