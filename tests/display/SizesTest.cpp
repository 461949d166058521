#include "tests/support/PanelFixture.h"

// The three video sizes on the 1024 by 768 screen at 15 twips a pixel.
class SizesTest : public PanelFixture {
protected:
    QString put(const char *numbers) const
    {
        return QStringLiteral("put /videos/my clip.avi window at ") + QLatin1String(numbers);
    }
};

TEST_F(SizesTest, LargerGrowsUpTo1024AndNoFurther)
{
    haveVideo(320, 240);
    QList<double> widths;
    for (int press = 0; press < 7; ++press) {
        form->Command11_Click();
        widths << form->state.VideoWidth;
    }
    EXPECT_EQ(widths, QList<double>({384, 460, 552, 662, 794, 952, 952}));
    EXPECT_EQ(channel.commands.size(), 6);  // the refused press sends nothing
    // The first press: 384 by 288, centred, the height with the caption allowance.
    EXPECT_EQ(channel.commands.first(), put("320 230 384 308"));

    // 854 x 1.2 = 1024.8 still fits; 855 x 1.2 = 1026 does not. Only the width counts.
    haveVideo(854, 5000);
    form->Command11_Click();
    EXPECT_EQ(form->state.VideoWidth, 1024);
    EXPECT_EQ(form->state.VideoHeight, 6000);
    haveVideo(855, 480);
    form->Command11_Click();
    EXPECT_EQ(form->state.VideoWidth, 855);
    EXPECT_EQ(form->state.VideoHeight, 480);
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(SizesTest, SmallerShrinksDownTo60AndNoFurther)
{
    haveVideo(320, 240);
    QList<double> widths;
    for (int press = 0; press < 10; ++press) {
        form->Command12_Click();
        widths << form->state.VideoWidth;
    }
    EXPECT_EQ(widths, QList<double>({266, 221, 184, 153, 127, 105, 87, 72, 60, 60}));
    EXPECT_EQ(channel.commands.size(), 9);
    // Each axis rounded down on its own.
    EXPECT_EQ(form->state.VideoHeight, 45);
}

TEST_F(SizesTest, MiddleGoesBackToTheSourceSize)
{
    haveVideo(320, 240);
    form->Command11_Click();
    form->Command11_Click();
    form->Command12_Click();
    channel.commands.clear();
    form->Command20_Click();
    EXPECT_EQ(channel.commands, QStringList({put("352 254 320 260")}));
    EXPECT_EQ(form->state.PutHeightText, QStringLiteral("260"));
}

TEST_F(SizesTest, HalvesRoundDownAndLargePicturesGoNegative)
{
    haveVideo(321, 241);
    form->Command20_Click();
    EXPECT_EQ(channel.commands.last(), put("351 253 321 261"));

    haveVideo(1280, 960);
    form->Command20_Click();
    EXPECT_EQ(channel.commands.last(), put("-128 -106 1280 980"));

    // -0.5 rounds down to -1, not toward zero.
    haveVideo(1025, 749);
    form->Command20_Click();
    EXPECT_EQ(channel.commands.last(), put("-1 -1 1025 769"));
}

TEST_F(SizesTest, TheScreenIsReadAtEveryClick)
{
    haveVideo(320, 240);
    form->Command20_Click();
    // 800 by 600 at 120 dots an inch: 12 twips a pixel.
    windowing::setFixedScreen(windowing::ScreenMetrics{9600, 7200, 12, 12});
    form->Command20_Click();
    EXPECT_EQ(channel.commands,
              QStringList({put("352 254 320 260"), put("240 170 320 260")}));
}
