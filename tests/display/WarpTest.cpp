#include "platform/windowing/Twips.h"
#include "tests/support/PanelFixture.h"

#include <QTest>

// The warp on the 1024 by 768 screen (15360 by 11520 twips); the panel is 1070 by 6200 twips.
class WarpTest : public PanelFixture {
protected:
    void placeAt(double left, double top)
    {
        form->geometry.setLeft(left);
        form->geometry.setTop(top);
    }
};

// Any button, with or without a video; the zone limits themselves move nothing.
TEST_F(WarpTest, PressesMoveToTheEdgeOrCornerOfTheirZone)
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
TEST_F(WarpTest, RealPressesWarpFromTheBackgroundOnly)
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
