#include "tests/support/PanelFixture.h"

// The three video sizes on the 1024 by 768 screen at 15 twips a pixel.
class SizesTest : public PanelFixture {
protected:
    QString put(const char *numbers) const
    {
        return QStringLiteral("put /videos/my clip.avi window at ") + QLatin1String(numbers);
    }
    QList<double> widthsAfter(void (frmMain::*click)(), int presses)
    {
        QList<double> widths;
        for (int press = 0; press < presses; ++press) {
            (form.get()->*click)();
            widths << form->state.VideoWidth;
        }
        return widths;
    }
};

// "L" 1.2 times up to a width of 1024, "S" down to 60, each axis rounded down on its own;
// a refused press sends nothing. Only the width is held to its limit.
TEST_F(SizesTest, LargerAndSmallerStopAtTheirLimits)
{
    openVideo();
    EXPECT_EQ(widthsAfter(&frmMain::Command11_Click, 7),
              QList<double>({384, 460, 552, 662, 794, 952, 952}));
    EXPECT_EQ(channel.commands.size(), 6);
    EXPECT_EQ(channel.commands.first(), put("320 230 384 308"));

    openVideo();
    EXPECT_EQ(widthsAfter(&frmMain::Command12_Click, 10),
              QList<double>({266, 221, 184, 153, 127, 105, 87, 72, 60, 60}));
    EXPECT_EQ(channel.commands.size(), 9);
    EXPECT_EQ(form->state.VideoHeight, 45);

    // 854 x 1.2 = 1024.8 still fits; 855 x 1.2 = 1026 does not.
    openVideo(250, 854, 5000);
    form->Command11_Click();
    EXPECT_EQ(form->state.VideoHeight, 6000);
    openVideo(250, 855, 480);
    form->Command11_Click();
    EXPECT_EQ(form->state.VideoWidth, 855);
    EXPECT_TRUE(channel.commands.isEmpty());
}

// "M" goes back to the source size, centred: halves round down, toward minus infinity for a
// picture larger than the screen; the screen is read at every click.
TEST_F(SizesTest, MiddleGoesBackToTheSourceSizeCentred)
{
    openVideo();
    form->Command11_Click();
    form->Command12_Click();
    form->Command20_Click();
    EXPECT_EQ(channel.commands.last(), put("352 254 320 260"));
    EXPECT_EQ(form->state.PutHeightText, QStringLiteral("260"));
    const struct {
        int width, height;
        const char *put;
    } rows[] = {{321, 241, "351 253 321 261"},
                {1280, 960, "-128 -106 1280 980"},
                {1025, 749, "-1 -1 1025 769"}};
    for (const auto &row : rows) {
        openVideo(250, row.width, row.height);
        form->Command20_Click();
        EXPECT_EQ(channel.commands, QStringList{put(row.put)});
    }
    openVideo();
    windowing::setFixedScreen(windowing::ScreenMetrics{9600, 7200, 12, 12}); // 800 x 600
    form->Command20_Click();
    EXPECT_EQ(channel.commands, QStringList{put("240 170 320 260")});
}
