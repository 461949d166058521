#include "tests/support/PanelFixture.h"

#include <QFontInfo>
#include <QImage>
#include <cmath>

namespace {

// A design rectangle in twips, as pixels on a screen of 15 twips a pixel.
QRect pixelsOf(int left, int top, int width, int height)
{
    auto px = [](int twips) { return int(std::lround(twips / 15.0)); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

using LayoutTest = PanelFixture;

TEST_F(LayoutTest, LoadStepGivesTheDefaults)
{
    EXPECT_EQ(form->DeviceError, -1);
    EXPECT_EQ(pair(), std::make_pair(0, 0));
    EXPECT_EQ(form->state.RangeFrom, 0);
    EXPECT_EQ(form->state.RangeTo, 0);
    EXPECT_EQ(form->state.PlaybackSpeed, 1000);
    EXPECT_EQ(form->state.SoundState, QStringLiteral("on"));
    EXPECT_EQ(form->state.RepeatMode, 0);
    EXPECT_EQ(form->state.TimeDisplayMode, 1);
    EXPECT_EQ(form->state.WindowHeightMargin, 20);
    EXPECT_EQ(form->state.RewindState, 0);
    EXPECT_EQ(form->state.FastForwardState, 0);
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_TRUE(control.log.isEmpty());
}

TEST_F(LayoutTest, LoadStepDisablesEverythingThatNeedsAVideo)
{
    for (QWidget *w : mediaControls())
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    const QList<QWidget *> enabled = {form->Command5, form->Command8, form->Command19,
                                      form->Command21, form->Label3, form->Label4};
    for (QWidget *w : enabled)
        EXPECT_TRUE(w->isEnabled());
}

TEST_F(LayoutTest, DocksAtTheRightEdgeCentredDown)
{
    EXPECT_DOUBLE_EQ(form->geometry.left(), 14275);
    EXPECT_DOUBLE_EQ(form->geometry.top(), 2660);
    EXPECT_DOUBLE_EQ(form->geometry.width(), 1070);
    EXPECT_DOUBLE_EQ(form->geometry.height(), 6200);
    form->show();
    EXPECT_DOUBLE_EQ(form->geometry.left(), 14275);
    EXPECT_DOUBLE_EQ(form->geometry.top(), 2660);
    // 14275 twips is 951.7 pixels: the window stands at the nearest pixel.
    EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(952, 177));
}

TEST_F(LayoutTest, WindowHasItsCaptionIconAndOnlyACloseBox)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Kurimo"));
    EXPECT_FALSE(form->windowIcon().pixmap(32, 32).isNull());
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
}

TEST_F(LayoutTest, EveryControlHasItsPlaceCaptionAndFont)
{
    struct Row {
        QWidget *control;
        QString caption; // empty for the sliders
        int left, top, width, height;
        double points;
        bool bold;
    };
    const QList<Row> rows = {
        {form->Label1, "時間", 0, 45, 990, 180, 8.25, false},
        {form->Slider1, "", 120, 195, 735, 255, 0, false},
        {form->Label3, "▲", 172, 450, 105, 255, 8.25, false},
        {form->Label4, "▲", 664, 450, 105, 255, 8.25, false},
        {form->Label2, "速度", 120, 600, 735, 255, 8.25, false},
        {form->Slider2, "", 120, 750, 735, 255, 0, false},
        {form->Command8, "ﾌｧｲﾙ", 150, 1080, 689, 255, 9, false},
        {form->Command3, "最初へ", 150, 1350, 689, 255, 8.25, false},
        {form->Command7, "巻戻し", 150, 1635, 689, 255, 8.25, false},
        {form->Command10, "一戻り", 150, 1905, 689, 255, 8.25, false},
        {form->Command15, "逆再生", 150, 2175, 689, 255, 8.25, false},
        {form->Command2, "停止", 150, 2445, 689, 255, 8.25, false},
        {form->Command1, "正再生", 150, 2730, 689, 255, 8.25, false},
        {form->Command9, "一送り", 150, 3000, 689, 255, 8.25, false},
        {form->Command6, "早送り", 150, 3270, 689, 255, 8.25, false},
        {form->Command4, "最後へ", 150, 3540, 689, 255, 8.25, false},
        {form->Command16, "S", 150, 3810, 197, 255, 9.75, true},
        {form->Command17, "C", 390, 3810, 197, 255, 9.75, true},
        {form->Command18, "E", 645, 3810, 197, 255, 9.75, true},
        {form->Command14, "一回", 148, 4080, 689, 255, 8.25, false},
        {form->Command13, "音あり", 148, 4350, 689, 255, 8.25, false},
        {form->Command12, "S", 150, 4635, 197, 255, 9.75, true},
        {form->Command20, "M", 395, 4635, 197, 255, 9.75, true},
        {form->Command11, "L", 640, 4635, 197, 255, 9.75, true},
        {form->Command19, "コピー", 148, 4905, 689, 255, 8.25, false},
        {form->Command21, "ヘルプ", 148, 5190, 689, 255, 8.25, false},
        {form->Command5, "終了", 148, 5475, 689, 255, 8.25, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.caption.toStdString() + " at top " + std::to_string(row.top));
        EXPECT_EQ(row.control->geometry(), pixelsOf(row.left, row.top, row.width, row.height));
        if (auto *button = qobject_cast<QPushButton *>(row.control)) {
            EXPECT_EQ(button->text(), row.caption);
        }
        if (auto *label = qobject_cast<QLabel *>(row.control)) {
            EXPECT_EQ(label->text(), row.caption);
        }
        if (row.points == 0)
            continue;
        EXPECT_EQ(row.control->font().family(), QStringLiteral("ＭＳ ゴシック"));
        EXPECT_DOUBLE_EQ(row.control->font().pointSizeF(), row.points);
        EXPECT_EQ(row.control->font().bold(), row.bold);
        // The design name must land on a Japanese font with real glyphs.
        EXPECT_TRUE(QFontInfo(row.control->font()).family().startsWith(QStringLiteral("IPA")))
            << QFontInfo(row.control->font()).family().toStdString();
    }
    // Centred across, at the top like a design label, so the speed slider leaves "速度" clear.
    EXPECT_EQ(form->Label1->alignment(), Qt::AlignHCenter | Qt::AlignTop);
    EXPECT_EQ(form->Label2->alignment(), Qt::AlignHCenter | Qt::AlignTop);
}

TEST_F(LayoutTest, SlidersHaveTheirDesignSettings)
{
    EXPECT_EQ(form->Slider1->orientation(), Qt::Horizontal);
    EXPECT_EQ(form->Slider1->minimum(), 0);
    EXPECT_EQ(form->Slider1->maximum(), 10);
    EXPECT_EQ(form->Slider1->value(), 0);
    EXPECT_EQ(form->Slider1->tickInterval(), 1);
    EXPECT_EQ(form->Slider1->singleStep(), 1);
    EXPECT_EQ(form->Slider1->pageStep(), 5);
    EXPECT_EQ(form->Slider2->minimum(), 1);
    EXPECT_EQ(form->Slider2->maximum(), 3000);
    EXPECT_EQ(form->Slider2->value(), 1000);
    EXPECT_EQ(form->Slider2->tickInterval(), 300);
    EXPECT_EQ(form->Slider2->singleStep(), 1);
    EXPECT_EQ(form->Slider2->pageStep(), 5);
}

TEST_F(LayoutTest, TabOrderFollowsTheDesign)
{
    const QList<QWidget *> expected = {
        form->Command5,  form->Command8,  form->Command1,  form->Command2,  form->Command3,
        form->Command6,  form->Command7,  form->Command9,  form->Command10, form->Command4,
        form->Command11, form->Command12, form->Command13, form->Command15, form->Command14,
        form->Slider1,   form->Slider2,   form->Command16, form->Command17, form->Command18,
        form->Command19, form->Command20, form->Command21};
    QList<QWidget *> order;
    QWidget *w = form->Command5;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            order << w;
        w = w->nextInFocusChain();
    } while (w != form->Command5 && order.size() <= expected.size());
    EXPECT_EQ(order, expected);
}

TEST_F(LayoutTest, PaintsTheBackgroundColoursAndMarkers)
{
    // Everything enabled, so that no face is greyed.
    openVideo();
    const QImage panel = form->grab().toImage();
    const QImage background(QStringLiteral(":/assets/panel-background.jpg"));
    ASSERT_EQ(background.size(), QSize(112, 414));
    ASSERT_EQ(panel.size(), QSize(71, 413));

    // The picture at its own size from the top-left corner, also behind the transparent labels.
    for (QPoint p : {QPoint(2, 2), QPoint(3, 60), QPoint(69, 410), QPoint(1, 200)})
        EXPECT_EQ(panel.pixel(p), background.pixel(p)) << p.x() << "," << p.y();
    const QPoint insideLabel2 = form->Label2->geometry().topLeft() + QPoint(1, 1);
    EXPECT_EQ(panel.pixel(insideLabel2), background.pixel(insideLabel2));

    // Button faces in their colours, just inside the edge.
    const QList<std::pair<QWidget *, QRgb>> faces = {
        {form->Command8, 0xC0C0FF},  {form->Command3, 0xFFC0FF},  {form->Command7, 0xC0FFFF},
        {form->Command10, 0xC0FFC0}, {form->Command15, 0xFFC0C0}, {form->Command2, 0xFF8080},
        {form->Command1, 0xFFC0C0},  {form->Command9, 0xC0FFC0},  {form->Command6, 0xC0FFFF},
        {form->Command4, 0xFFC0FF},  {form->Command16, 0x8080FF}, {form->Command17, 0x00FF00},
        {form->Command18, 0xFF0000}, {form->Command14, 0x00C0C0}, {form->Command13, 0xFFC080},
        {form->Command12, 0x80FF80}, {form->Command20, 0x80FF80}, {form->Command11, 0x80FF80},
        {form->Command19, 0xFF8000}, {form->Command21, 0xFFFF80}, {form->Command5, 0x00C000}};
    for (const auto &[button, colour] : faces) {
        const QPoint p = button->geometry().topLeft() + QPoint(2, 2);
        EXPECT_EQ(QColor(panel.pixel(p)), QColor(colour)) << button->y();
    }

    // The markers: a blue and a red triangle on the picture.
    auto hasGlyphIn = [&](QWidget *label, auto isInk) {
        const QRect r = label->geometry();
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (isInk(QColor(panel.pixel(x, y))))
                    return true;
        return false;
    };
    EXPECT_TRUE(hasGlyphIn(form->Label3, [](QColor c) {
        return c.blue() > 200 && c.red() < 60 && c.green() < 60;
    }));
    EXPECT_TRUE(hasGlyphIn(form->Label4, [](QColor c) {
        return c.red() > 200 && c.blue() < 60 && c.green() < 60;
    }));
}
