#include "help/Form2.h"
#include "help/HelpLine.h"
#include "platform/windowing/Twips.h"
#include "tests/support/PanelFixture.h"

#include <algorithm>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QTest>

// The help window on the 1024 by 768 screen (15360 by 11520 twips).
class HelpTest : public PanelFixture {
protected:
    ~HelpTest() override
    {
        if (Form2 *help = Form2::existing())
            help->close();
    }
};

TEST_F(HelpTest, OpensCentredAtItsSizeBeforeAnyVideoAndAgainAfterAMove)
{
    ASSERT_EQ(form->DeviceError, -1);
    form->Command21_Click();
    Form2 *help = Form2::existing();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(help->isModal());
    EXPECT_EQ(help->parentWidget(), nullptr);
    EXPECT_EQ(help->windowTitle(), QString::fromUtf8("Kurimo\u3000ヘルプ"));
    EXPECT_EQ(help->geometry.left(), 3230);
    EXPECT_EQ(help->geometry.top(), 2510);
    EXPECT_EQ(help->geometry.width(), 8900);
    EXPECT_EQ(help->geometry.height(), 6500);

    help->move(12, 34);
    help->resize(300, 200);
    form->Command21_Click();
    EXPECT_EQ(Form2::existing(), help);
    EXPECT_EQ(help->geometry.left(), 3230);
    EXPECT_EQ(help->geometry.top(), 2510);
    EXPECT_EQ(help->geometry.width(), 8900);
    EXPECT_EQ(help->geometry.height(), 6500);

    // Closed with its close box and opened again: the same window, centred once more.
    help->close();
    EXPECT_FALSE(help->isVisible());
    form->Command21_Click();
    EXPECT_EQ(Form2::existing(), help);
    EXPECT_TRUE(help->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                            [](QWidget *w) { return qobject_cast<Form2 *>(w) != nullptr; }),
              1);
    EXPECT_TRUE(channel.commands.isEmpty());
}

TEST_F(HelpTest, CentresOnTheScreenOfTheMoment)
{
    windowing::setFixedScreen(windowing::ScreenMetrics{19200, 14400, 15, 15});  // 1280 x 960
    form->Command21_Click();
    EXPECT_EQ(Form2::existing()->geometry.left(), (19200 - 8900) / 2);
    EXPECT_EQ(Form2::existing()->geometry.top(), (14400 - 6500) / 2);
}

TEST_F(HelpTest, InstructionLinesWordForWordInMinchoAtTheirPlaces)
{
    form->Command21_Click();
    Form2 *help = Form2::existing();
    const struct {
        HelpLine *label;
        int top, height;
        const char *text;
    } lines[] = {
        {help->Label22, 220, 375, "・このフォームのボタン以外の部分をクリックするとワープするよ。"},
        {help->Label1, 600, 375, "・時間の部分をダブルクリックしてごらん。表示形式が変わるよ。"},
        {help->Label6, 1005, 375, "・速度の部分をダブルクリックしてごらん。標準速度に戻るよ。"},
        {help->Label2, 1425, 375,
         "・スライダーをピックして移動すれば希望の部分や希望の速度にしてくれるよ。"},
        {help->Label3, 1830, 375, "・ﾌｧｲﾙを指定するまでは他のキーは受付けられないよ。"},
        {help->Label4, 2235, 375, "・巻戻しと早送りはトグルスイッチ式になってるよ。"},
        {help->Label21, 2600, 375, "・何かおかしな動作をしたら、停止ボタンを押してね。"},
        {help->Label5, 3000, 375, "・逆再生と正再生は一時停止ボタンも兼ねているんだ。"},
        {help->Label7, 3400, 735,
         "・Ｓ　Ｃ　Ｅ　は、スタート、クリア、エンドの略。特定の部分を見るときに便利だよ。"
         "時間スライダーの下にある△マークが指定した部分なんだ。"},
        {help->Label8, 4200, 495,
         "・一回とあるボタンを押すと、連続に変わるよ。自動的に表示を繰り返してくれるんだ。"},
        {help->Label9, 4600, 375, "・音も消せるよ。音を出したいなら同じボタンを押してね。"},
        {help->Label10, 5000, 375,
         "・画面の大きさは、Ｓ　Ｍ　Ｌで変更できるんだ。Ｍは元の大きさに戻るんだよ。"},
        {help->Label11, 5400, 495,
         "・コピーボタンは、画面のデータをﾌｧｲﾙやクリップボードにコピーするんだ。"
         "ファイルはビットマップ形式だよ。"},
    };
    for (const auto &line : lines) {
        ASSERT_NE(line.label, nullptr) << line.text;
        EXPECT_EQ(line.label->text(), QString::fromUtf8(line.text));
        EXPECT_EQ(line.label->geometry(), windowing::twipsRect(5280, line.top, 3375, line.height))
            << line.text;
        EXPECT_EQ(line.label->font().family(), QStringLiteral("ＭＳ 明朝"));
        EXPECT_EQ(QFontInfo(line.label->font()).family(), QStringLiteral("IPAMincho"));
        EXPECT_EQ(line.label->font().pointSizeF(), 8.25);
        EXPECT_FALSE(line.label->font().bold());
        // Wrapped inside its rectangle, with no line cut off at the bottom.
        EXPECT_GT(line.label->neededHeight(), 0);
        EXPECT_LE(line.label->neededHeight(), line.label->height()) << line.text;
    }
}

TEST_F(HelpTest, AboutBlockAndPicturesAtTheirPlaces)
{
    form->Command21_Click();
    Form2 *help = Form2::existing();
    const struct {
        QWidget *widget;
        int left, top, width, height;
    } places[] = {
        {help->Label14, 240, 60, 975, 375},    {help->Label20, 1100, 120, 1335, 255},
        {help->Label15, 2520, 110, 855, 255},  {help->Label16, 720, 360, 3015, 180},
        {help->Label19, 360, 600, 3255, 255},  {help->Label18, 360, 800, 3255, 180},
        {help->Shape1, 360, 1035, 3255, 495},  {help->Label17, 600, 1080, 2775, 375},
        {help->Label12, 360, 2520, 1095, 255}, {help->Image1, 1200, 1560, 2355, 2085},
        {help->Label13, 120, 4800, 1455, 255}, {help->Image3, 1200, 3720, 2340, 2265},
        {help->Image2, 3960, 0, 1035, 6165},
    };
    for (const auto &p : places)
        EXPECT_EQ(p.widget->geometry(), windowing::twipsRect(p.left, p.top, p.width, p.height))
            << p.widget->objectName().toStdString();

    EXPECT_EQ(help->Label14->text(), QStringLiteral("Ｋｕｒｉｍｏ"));
    // Every one-line label shows its whole text inside its place.
    for (QLabel *label : {help->Label14, help->Label20, help->Label15, help->Label16,
                          help->Label19, help->Label18, help->Label17, help->Label12,
                          help->Label13})
        EXPECT_LE(QFontMetricsF(label->font()).horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
    EXPECT_TRUE(help->Label20->text().startsWith(QStringLiteral("（")));
    EXPECT_TRUE(help->Label20->text().endsWith(QStringLiteral("）")));
    EXPECT_EQ(help->Label15->text(), QStringLiteral("Ver 0.1"));
    EXPECT_TRUE(help->Label19->text().startsWith(QStringLiteral("Mail : ")));
    EXPECT_EQ(help->Label12->text(), QStringLiteral("表示画面"));
    EXPECT_EQ(help->Label13->text(), QStringLiteral("コピー時画面"));

    const struct {
        QLabel *label;
        double points;
    } bold[] = {{help->Label14, 14.25}, {help->Label20, 9.75}, {help->Label15, 11.25},
                {help->Label16, 9.75},  {help->Label17, 9}};
    for (const auto &b : bold) {
        EXPECT_EQ(b.label->font().pointSizeF(), b.points) << b.label->objectName().toStdString();
        EXPECT_TRUE(b.label->font().bold());
        EXPECT_EQ(QFontInfo(b.label->font()).family(), QStringLiteral("IPAGothic"));
    }
    EXPECT_EQ(help->Label17->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
    EXPECT_EQ(help->palette().color(QPalette::Window), QColor(0xFF, 0xFF, 0xC0));
    EXPECT_EQ(help->Shape1->frameShape(), QFrame::Box);

    // The pictures at their own size.
    EXPECT_EQ(help->Image1->pixmap().size(), QSize(157, 139));
    EXPECT_EQ(help->Image2->pixmap().size(), QSize(69, 411));
    EXPECT_EQ(help->Image3->pixmap().size(), QSize(156, 151));
}

TEST_F(HelpTest, ClicksAndKeysOnTheHelpWindowChangeNothing)
{
    form->Command21_Click();
    Form2 *help = Form2::existing();
    const QRect before = help->frameGeometry();
    const QString text = help->Label22->text();
    for (QWidget *target : {static_cast<QWidget *>(help), static_cast<QWidget *>(help->Label22),
                            static_cast<QWidget *>(help->Image2)}) {
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
        QTest::keyClick(target, Qt::Key_Space);
    }
    EXPECT_EQ(help->frameGeometry(), before);
    EXPECT_EQ(help->Label22->text(), text);
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(channel.commands.isEmpty());
    EXPECT_TRUE(messages.events.empty());
}
