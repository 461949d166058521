#include "tests/support/PanelFixture.h"

// The speed slider and the speed label.
using SpeedTest = PanelFixture;

TEST_F(SpeedTest, SliderEndsSendOneAndThreeThousandAndNeverZero)
{
    openVideo();
    form->Slider2->setValue(1);
    form->Slider2->setValue(0);  // below the range: stays at 1, nothing more is sent
    form->Slider2->setValue(3000);
    form->Slider2->setValue(3001);
    EXPECT_EQ(channel.commands,
              QStringList({QStringLiteral("set /videos/my clip.avi speed 1"),
                           QStringLiteral("set /videos/my clip.avi speed 3000")}));
    EXPECT_EQ(form->state.PlaybackSpeed, 3000);
    // The transport and the poll are not the speed's business.
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(control.log.isEmpty());
}

TEST_F(SpeedTest, DoubleClickOnSpeedSendsOneThousandOnceAndStartsThePoll)
{
    openVideo();
    form->Slider2->setValue(2500);
    channel.commands.clear();
    ASSERT_FALSE(form->Timer1.isActive());
    form->Label2_DblClick();
    EXPECT_EQ(channel.commands,
              QStringList({QStringLiteral("set /videos/my clip.avi speed 1000")}));
    EXPECT_EQ(form->state.PlaybackSpeed, 1000);
    EXPECT_EQ(form->Slider2->value(), 1000);
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_EQ(form->Timer1.interval(), 100);
    form->Timer1.stop();
}
