#include "help/Form2.h"
#include "help/HelpLine.h"
#include "tests/support/PanelFixture.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QFrame>

// The help window on the 1024 by 768 screen (15360 by 11520 twips).
class HelpTest : public PanelFixture {
protected:
    ~HelpTest() override
    {
        if (Form2 *help = Form2::existing())
            help->close();
    }
};

// One modeless window, before any video too, centred at its size each time it is asked for,
// after a move, after its close box, on the screen of the moment.
TEST_F(HelpTest, OpensCentredAtItsSizeEveryTime)
{
    form->Command21_Click();
    Form2 *help = Form2::existing();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(help->isModal());
    EXPECT_EQ(help->windowTitle(), QStringLiteral("Kurimo　ヘルプ"));
    EXPECT_EQ(twips(help->geometry), QRectF((15360 - 8900) / 2, (11520 - 6500) / 2, 8900, 6500));

    help->move(12, 34);
    help->resize(300, 200);
    form->Command21_Click();
    EXPECT_EQ(twips(help->geometry), QRectF((15360 - 8900) / 2, (11520 - 6500) / 2, 8900, 6500));
    help->close();
    windowing::setFixedScreen(windowing::ScreenMetrics{19200, 14400, 15, 15}); // 1280 x 960
    form->Command21_Click();
    EXPECT_EQ(Form2::existing(), help);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(twips(help->geometry), QRectF((19200 - 8900) / 2, (14400 - 6500) / 2, 8900, 6500));
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                            [](QWidget *w) { return qobject_cast<Form2 *>(w) != nullptr; }),
              1);
    EXPECT_TRUE(channel.commands.isEmpty());
}

// Every text fits its box in a font with Japanese glyphs: the instruction lines wrapped
// with no line cut off at the bottom, the other labels on one line; the pictures are there
// at their own size, inside the window.
TEST_F(HelpTest, EveryTextFitsItsBoxAndEveryPictureIsThere)
{
    form->Command21_Click();
    Form2 *help = Form2::existing();
    const QList<HelpLine *> lines = help->findChildren<HelpLine *>();
    EXPECT_EQ(lines.size(), 13);
    for (QLabel *label : help->findChildren<QLabel *>()) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_TRUE(help->rect().contains(label->geometry()));
        if (!label->pixmap().isNull()) {
            EXPECT_LE(label->pixmap().width(), label->width());
            EXPECT_LE(label->pixmap().height(), label->height());
            continue;
        }
        ASSERT_FALSE(label->text().isEmpty());
        EXPECT_TRUE(hasJapaneseGlyphs(label->font()));
        if (auto *line = qobject_cast<HelpLine *>(label)) {
            EXPECT_GT(line->neededHeight(), 0);
            EXPECT_LE(line->neededHeight(), line->height());
        } else {
            EXPECT_LE(QFontMetricsF(label->font()).horizontalAdvance(label->text()),
                      label->width());
        }
    }
}
