#include "platform/windowing/Twips.h"
#include "tests/support/PanelFixture.h"

#include <QTest>

// The three video sizes and the panel's warp on the 1024 by 768 screen (15360 by 11520 twips,
// 15 a pixel); the panel is 1070 by 6200 twips.
class SizesTest : public PanelFixture {
protected:
    void placeAt(double left, double top)
    {
        form->geometry.setLeft(left);
        form->geometry.setTop(top);
    }
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

// Any button, with or without a video; the zone limits themselves move nothing.
TEST_F(SizesTest, PressesMoveToTheEdgeOrCornerOfTheirZone)
{
    const struct {
        float x, y;
        Qt::MouseButton button;
        double left, top;
    } cases[] = {
        {10, 200, Qt::LeftButton, 15, 3000},        // left edge, top untouched
        {30, 20, Qt::RightButton, 14275, 15},       // top right corner
        {5, 360, Qt::MiddleButton, 15, 4820},       // bottom left: 11520 - 6200 - 500
        {19, 200, Qt::LeftButton, 3000, 3000},      // inside both dead bands
        {18, 50, Qt::LeftButton, 3000, 3000},
        {21, 330, Qt::LeftButton, 3000, 3000},
        {21.5, 200, Qt::LeftButton, 14275, 3000},
        {17.99f, 330.01f, Qt::LeftButton, 15, 4820},
    };
    for (const auto &c : cases) {
        placeAt(3000, 3000);
        form->Form_MouseDown(c.button, Qt::NoModifier, c.x, c.y);
        EXPECT_EQ(twips(form->geometry).topLeft(), QPointF(c.left, c.top)) << c.x << "," << c.y;
    }
    EXPECT_TRUE(channel.commands.isEmpty());
    windowing::setFixedScreen(windowing::ScreenMetrics{12000, 9000, 15, 15}); // 800 x 600
    form->Form_MouseDown(Qt::LeftButton, Qt::NoModifier, 30, 400);
    EXPECT_EQ(twips(form->geometry).topLeft(), QPointF(12000 - 1070 - 15, 9000 - 6200 - 500));
}

// A real press on the background warps; one on a slider, with any button, never does.
TEST_F(SizesTest, RealPressesWarpFromTheBackgroundOnly)
{
    form->show();
    placeAt(3000, 3000);
    for (Slider *slider : {form->Slider1, form->Slider2})
        for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton})
            QTest::mousePress(slider, button, {}, QPoint(3, 3));
    EXPECT_EQ(twips(form->geometry).topLeft(), QPointF(3000, 3000));
    const QPoint where(qRound(5 * windowing::kPanelUnitTwipsX / 15), 360); // 5 by 360 units
    QTest::mousePress(form.get(), Qt::RightButton, Qt::NoModifier, where);
    EXPECT_EQ(twips(form->geometry).topLeft(), QPointF(15, 4820));
}
