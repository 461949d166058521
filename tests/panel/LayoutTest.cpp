#include "tests/support/PanelFixture.h"

#include <QImage>
#include <QSet>

using LayoutTest = PanelFixture;

// 15360 - 1070 - 15 and (11520 - 6200) / 2 twips; 14275 twips is 951.7 pixels, so the window
// stands at the nearest pixel, and the window system's frame changes neither place nor size.
TEST_F(LayoutTest, DocksAtTheRightEdgeCentredDownWithOnlyACloseBox)
{
    form->show();
    EXPECT_EQ(twips(form->geometry).topLeft(), QPointF(14275, 2660));
    EXPECT_EQ(form->frameGeometry(), QRect(952, 177, 71, 413));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Kurimo"));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(form->windowFlags()
                 & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

// Inside the panel, no button over another control, every caption fitting its control in a
// font with Japanese glyphs (but the range markers, whose design width is narrower than
// their triangle); read top to bottom and left to right, the design's captions. The
// keyboard reaches every button and slider, and no label.
TEST_F(LayoutTest, ControlsFitThePanelAndReadInTheDesignOrder)
{
    QList<QWidget *> controls = form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    std::sort(controls.begin(), controls.end(), [](QWidget *a, QWidget *b) {
        return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x());
    });
    QStringList captions;
    QSet<QWidget *> focusable;
    for (QWidget *w : controls) {
        const auto *button = qobject_cast<QAbstractButton *>(w);
        const auto *label = qobject_cast<QLabel *>(w);
        captions << (button ? button->text() : label ? label->text() : QStringLiteral("|"));
        SCOPED_TRACE(captions.back().toStdString());
        EXPECT_TRUE(form->rect().contains(w->geometry()));
        for (QWidget *other : controls)
            EXPECT_TRUE(other == w || !(button && other->geometry().intersects(w->geometry())));
        if (!label)
            focusable << w;
        if (captions.back() != QStringLiteral("|")) {
            if (w != form->Label3 && w != form->Label4) {
                EXPECT_LE(QFontMetrics(w->font()).horizontalAdvance(captions.back()),
                          w->width());
            }
            EXPECT_TRUE(hasJapaneseGlyphs(w->font()));
        }
    }
    EXPECT_EQ(captions.join(QLatin1Char(' ')),
              QStringLiteral("時間 | ▲ ▲ 速度 | ﾌｧｲﾙ 最初へ 巻戻し 一戻り 逆再生 停止 正再生 一送り "
                             "早送り 最後へ S C E 一回 音あり S M L コピー ヘルプ 終了"));
    QSet<QWidget *> chain;
    QWidget *w = form->Command5;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain << w;
        w = w->nextInFocusChain();
    } while (w != form->Command5);
    EXPECT_EQ(chain, focusable);
}

TEST_F(LayoutTest, PaintsTheBackgroundColouredFacesAndMarkers)
{
    openVideo(); // everything enabled, so that no face is greyed
    const QImage panel = form->grab().toImage();
    const QImage background(QStringLiteral(":/assets/panel-background.jpg"));
    // The picture at its own size from the top-left corner, also behind the clear labels.
    for (QPoint p : {QPoint(2, 2), QPoint(69, 410), form->Label2->geometry().topLeft()})
        EXPECT_EQ(panel.pixel(p), background.pixel(p)) << p.x() << "," << p.y();
    for (QPushButton *button : form->findChildren<QPushButton *>())
        EXPECT_GT(panel.pixelColor(button->geometry().topLeft() + QPoint(2, 2)).hsvSaturation(),
                  40)
            << button->text().toStdString();
    // A blue and a red triangle.
    auto ink = [&](QWidget *label, auto isInk) {
        const QRect r = label->geometry();
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (isInk(panel.pixelColor(x, y)))
                    return true;
        return false;
    };
    EXPECT_TRUE(ink(form->Label3, [](QColor c) { return c.blue() > 200 && c.red() < 60; }));
    EXPECT_TRUE(ink(form->Label4, [](QColor c) { return c.red() > 200 && c.blue() < 60; }));
}
