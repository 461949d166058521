#include "help/Form2.h"

#include "help/HelpLine.h"
#include "platform/windowing/Fonts.h"

#include <QFontMetricsF>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPointer>

namespace {

QPointer<Form2> g_form2;

const QColor kBackColor(0xFF, 0xFF, 0xC0);

QFont gothic(double points, bool bold)
{
    QFont font(windowing::kGothicFont);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// A one-line label whose text is wider than its place has its letters set closer together
// until it fits; font, size and place stay as designed. The full-width product name needs it.
void fitToWidth(QLabel *label)
{
    QFont font = label->font();
    const QString text = label->text();
    const double natural = QFontMetricsF(font).horizontalAdvance(text);
    const double room = label->width() - 1;
    if (natural <= room || text.size() < 2)
        return;
    font.setLetterSpacing(QFont::AbsoluteSpacing, (room - natural) / (text.size() - 1));
    label->setFont(font);
}

QFont mincho()
{
    QFont font(windowing::kMinchoFont);
    font.setPointSizeF(8.25);
    return font;
}

// The instruction column: one line of text each, wrapped inside its rectangle.
struct Instruction {
    HelpLine *Form2::*member;
    const char *name;
    double top;
    double height;
    const char *text;
};
constexpr double kInstructionLeft = 5280;
constexpr double kInstructionWidth = 3375;
const Instruction kInstructions[] = {
    {&Form2::Label22, "Label22", 220, 375,
     "・このフォームのボタン以外の部分をクリックするとワープするよ。"},
    {&Form2::Label1, "Label1", 600, 375,
     "・時間の部分をダブルクリックしてごらん。表示形式が変わるよ。"},
    {&Form2::Label6, "Label6", 1005, 375,
     "・速度の部分をダブルクリックしてごらん。標準速度に戻るよ。"},
    {&Form2::Label2, "Label2", 1425, 375,
     "・スライダーをピックして移動すれば希望の部分や希望の速度にしてくれるよ。"},
    {&Form2::Label3, "Label3", 1830, 375,
     "・ﾌｧｲﾙを指定するまでは他のキーは受付けられないよ。"},
    {&Form2::Label4, "Label4", 2235, 375,
     "・巻戻しと早送りはトグルスイッチ式になってるよ。"},
    {&Form2::Label21, "Label21", 2600, 375,
     "・何かおかしな動作をしたら、停止ボタンを押してね。"},
    {&Form2::Label5, "Label5", 3000, 375,
     "・逆再生と正再生は一時停止ボタンも兼ねているんだ。"},
    {&Form2::Label7, "Label7", 3400, 735,
     "・Ｓ　Ｃ　Ｅ　は、スタート、クリア、エンドの略。特定の部分を見るときに便利だよ。"
     "時間スライダーの下にある△マークが指定した部分なんだ。"},
    {&Form2::Label8, "Label8", 4200, 495,
     "・一回とあるボタンを押すと、連続に変わるよ。自動的に表示を繰り返してくれるんだ。"},
    {&Form2::Label9, "Label9", 4600, 375,
     "・音も消せるよ。音を出したいなら同じボタンを押してね。"},
    {&Form2::Label10, "Label10", 5000, 375,
     "・画面の大きさは、Ｓ　Ｍ　Ｌで変更できるんだ。Ｍは元の大きさに戻るんだよ。"},
    {&Form2::Label11, "Label11", 5400, 495,
     "・コピーボタンは、画面のデータをﾌｧｲﾙやクリップボードにコピーするんだ。"
     "ファイルはビットマップ形式だよ。"},
};

} // namespace

// The artwork lives in a static library; naming its initialiser keeps the linker from
// dropping it, and registers the pictures before the first window needs them.
static void initAssets()
{
    Q_INIT_RESOURCE(assets);
}

Form2 *Form2::instance()
{
    if (!g_form2)
        g_form2 = new Form2;
    return g_form2;
}

Form2 *Form2::existing()
{
    return g_form2;
}

Form2::Form2()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      geometry(this)
{
    initAssets();
    setUpWindow();
    // Pictures first, so that their headings lie above them where the two meet.
    addPictures();
    addAboutBlock();
    addInstructions();
}

void Form2::setUpWindow()
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Kurimo　ヘルプ"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/kurimo-icon.png")));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackColor);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    // The page is static: no control takes the focus or a key.
    setFocusPolicy(Qt::NoFocus);
    // The window's default font, for the labels that name no font of their own.
    setFont(gothic(9, false));
}

void Form2::addPictures()
{
    Image1 = addImage("Image1", QStringLiteral(":/assets/help-video.jpg"), 1200, 1560, 2355,
                      2085);
    Image3 = addImage("Image3", QStringLiteral(":/assets/help-capture.jpg"), 1200, 3720, 2340,
                      2265);
    Image2 = addImage("Image2", QStringLiteral(":/assets/help-panel.jpg"), 3960, 0, 1035,
                      6165);
    Label12 = addLabel("Label12", QStringLiteral("表示画面"), 360, 2520, 1095, 255);
    Label13 = addLabel("Label13", QStringLiteral("コピー時画面"), 120, 4800, 1455, 255);
}

void Form2::addAboutBlock()
{
    Label14 = addLabel("Label14", QStringLiteral("Ｋｕｒｉｍｏ"), 240, 60, 975, 375);
    Label14->setFont(gothic(14.25, true));
    fitToWidth(Label14);
    Label20 = addLabel("Label20", QStringLiteral("（クリモ）"), 1100, 120, 1335, 255);
    Label20->setFont(gothic(9.75, true));
    Label15 = addLabel("Label15", QStringLiteral("Ver " KURIMO_VERSION_SHORT), 2520, 110, 855, 255);
    Label15->setFont(gothic(11.25, true));
    Label16 = addLabel("Label16", QStringLiteral("(C) 2026 Kurimo 開発チーム"), 720, 360, 3015,
                       180);
    Label16->setFont(gothic(9.75, true));
    Label19 = addLabel("Label19", QStringLiteral("Mail : kurimo@example.org"), 360, 600, 3255,
                       255);
    Label18 = addLabel("Label18", QStringLiteral("https://example.org/kurimo/"), 360, 800,
                       3255, 180);
    Shape1 = new QFrame(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setFrameShape(QFrame::Box);
    Shape1->setFrameShadow(QFrame::Plain);
    Shape1->setLineWidth(1);
    Shape1->setGeometry(windowing::twipsRect(360, 1035, 3255, 495));
    Label17 = addLabel("Label17", QStringLiteral("コマ送りのできるAVIプレーヤー"), 600, 1080,
                       2775, 375);
    Label17->setFont(gothic(9, true));
    QPalette red = Label17->palette();
    red.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0x00));
    Label17->setPalette(red);
}

void Form2::addInstructions()
{
    for (const Instruction &line : kInstructions) {
        auto *label = new HelpLine(QString::fromUtf8(line.text), this);
        label->setObjectName(QString::fromLatin1(line.name));
        label->setFont(mincho());
        label->setGeometry(
            windowing::twipsRect(kInstructionLeft, line.top, kInstructionWidth, line.height));
        this->*line.member = label;
    }
}

QLabel *Form2::addLabel(const char *name, const QString &text, double left, double top,
                        double width, double height)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setContextMenuPolicy(Qt::NoContextMenu);
    label->setGeometry(windowing::twipsRect(left, top, width, height));
    return label;
}

QLabel *Form2::addImage(const char *name, const QString &resource, double left, double top,
                        double width, double height)
{
    // Shown at the picture's own size from the control's top-left corner, never stretched.
    QLabel *image = addLabel(name, QString(), left, top, width, height);
    image->setPixmap(QPixmap(resource));
    return image;
}
