#include "platform/windowing/Twips.h"
#include "tests/support/PanelFixture.h"

#include <QTest>

// The warp on the 1024 by 768 screen (15360 by 11520 twips); the panel, 1070 by 6200 twips,
// starts at the right edge, centred: left 14275, top 2660.
class WarpTest : public PanelFixture {
protected:
    void press(float x, float y, Qt::MouseButton button = Qt::LeftButton)
    {
        form->Form_MouseDown(button, Qt::NoModifier, x, y);
    }
    void placeAt(double left, double top)
    {
        form->geometry.setLeft(left);
        form->geometry.setTop(top);
    }
};

TEST_F(WarpTest, PressesMoveToTheEdgeOrCornerOfTheirZone)
{
    const struct {
        float x, y;
        double left, top;
    } cases[] = {
        {10, 200, 15, 3000},     // left edge, top untouched
        {30, 20, 14275, 15},     // top right corner
        {5, 360, 15, 4820},      // bottom left corner: 11520 - 6200 - 500
        {19, 200, 3000, 3000},   // inside both dead bands
        {18, 50, 3000, 3000},    // the zone limits themselves move nothing
        {21, 330, 3000, 3000},
        {21.5, 200, 14275, 3000},
        {17.99f, 330.01f, 15, 4820},
    };
    for (const auto &c : cases) {
        placeAt(3000, 3000);
        press(c.x, c.y);
        EXPECT_EQ(form->geometry.left(), c.left) << c.x << "," << c.y;
        EXPECT_EQ(form->geometry.top(), c.top) << c.x << "," << c.y;
    }
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(WarpTest, AnyButtonWarpsWithoutAVideo)
{
    ASSERT_EQ(form->DeviceError, -1);
    placeAt(3000, 3000);
    press(10, 20, Qt::RightButton);
    EXPECT_EQ(form->geometry.left(), 15);
    EXPECT_EQ(form->geometry.top(), 15);
    press(30, 400, Qt::MiddleButton);
    EXPECT_EQ(form->geometry.left(), 14275);
    EXPECT_EQ(form->geometry.top(), 4820);
}

TEST_F(WarpTest, TheScreenIsReadAtThePress)
{
    windowing::setFixedScreen(windowing::ScreenMetrics{12000, 9000, 15, 15});  // 800 x 600
    press(30, 400);
    EXPECT_EQ(form->geometry.left(), 12000 - 1070 - 15);
    EXPECT_EQ(form->geometry.top(), 9000 - 6200 - 500);
}

TEST_F(WarpTest, ARealPressOnTheBackgroundWarps)
{
    placeAt(3000, 3000);
    // 5 by 360 panel units, as pixels in the client area.
    const QPoint where(qRound(5 * windowing::kPanelUnitTwipsX / 15), 360);
    QTest::mousePress(form.get(), Qt::RightButton, Qt::NoModifier, where);
    EXPECT_EQ(form->geometry.left(), 15);
    EXPECT_EQ(form->geometry.top(), 4820);
}
