#include "shell/frmMain.h"

#include "platform/windowing/Fonts.h"
#include "shell/Controls.h"

#include <QFont>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>

namespace {

QFont panelFont(double pointSize, bool bold = false)
{
    QFont font(windowing::kGothicFont);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace

frmMain::frmMain(CommandChannel &channel, MciControl &control, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      mciAVI(control), channel(channel), geometry(this)
{
    // The artwork lives in a static library: make sure its resources are registered.
    Q_INIT_RESOURCE(assets);
    setWindowTitle(QStringLiteral("Kurimo"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/kurimo-icon.png")));
    m_background.load(QStringLiteral(":/assets/panel-background.jpg"));

    // Yellow under the picture, in case the picture is missing.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0x00));
    setPalette(pal);
    setAutoFillBackground(true);

    Timer1.setInterval(100);

    createControls();
}

frmMain::~frmMain() = default;

void frmMain::createControls()
{
    const QFont regular = panelFont(8.25);
    const QFont small = panelFont(8.25);
    const QFont letter = panelFont(9.75, true);

    auto label = [&](const QString &caption, double l, double t, double w, double h) {
        auto *control = new PanelLabel(caption, this);
        control->setGeometry(windowing::twipsRect(l, t, w, h));
        control->setFont(regular);
        return control;
    };
    auto button = [&](const QString &caption, QRgb colour, double l, double t, double w,
                      double h, const QFont &font) {
        auto *control = new PanelButton(caption, QColor(colour), this);
        control->setGeometry(windowing::twipsRect(l, t, w, h));
        control->setFont(font);
        return control;
    };
    // Design range, value, tick spacing; small step 1 and large step 5 on both sliders.
    auto slider = [&](double l, double t, double w, double h, int min, int max, int value,
                      int tick) {
        auto *control = new Slider(this);
        control->setGeometry(windowing::twipsRect(l, t, w, h));
        control->setRange(min, max);
        control->setProgramValue(value);
        control->setTickInterval(tick);
        control->setSingleStep(1);
        control->setPageStep(5);
        return control;
    };

    // Top to bottom, as the panel reads.
    Label1 = label(QStringLiteral("時間"), 0, 45, 990, 180);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Slider1 = slider(120, 195, 735, 255, 0, 10, 0, 1);
    Label3 = label(QStringLiteral("▲"), 172, 450, 105, 255);
    Label4 = label(QStringLiteral("▲"), 664, 450, 105, 255);
    {
        QPalette blue = Label3->palette();
        blue.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
        Label3->setPalette(blue);
        QPalette red = Label4->palette();
        red.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0x00));
        Label4->setPalette(red);
    }
    Label2 = label(QStringLiteral("速度"), 120, 600, 735, 255);
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Slider2 = slider(120, 750, 735, 255, 1, 3000, 1000, 300);

    Command8 = button(QStringLiteral("ﾌｧｲﾙ"), 0xC0C0FF, 150, 1080, 689, 255, panelFont(9));
    Command3 = button(QStringLiteral("最初へ"), 0xFFC0FF, 150, 1350, 689, 255, small);
    Command7 = button(QStringLiteral("巻戻し"), 0xC0FFFF, 150, 1635, 689, 255, small);
    Command10 = button(QStringLiteral("一戻り"), 0xC0FFC0, 150, 1905, 689, 255, small);
    Command15 = button(QStringLiteral("逆再生"), 0xFFC0C0, 150, 2175, 689, 255, small);
    Command2 = button(QStringLiteral("停止"), 0xFF8080, 150, 2445, 689, 255, small);
    Command1 = button(QStringLiteral("正再生"), 0xFFC0C0, 150, 2730, 689, 255, small);
    Command9 = button(QStringLiteral("一送り"), 0xC0FFC0, 150, 3000, 689, 255, small);
    Command6 = button(QStringLiteral("早送り"), 0xC0FFFF, 150, 3270, 689, 255, small);
    Command4 = button(QStringLiteral("最後へ"), 0xFFC0FF, 150, 3540, 689, 255, small);
    Command16 = button(QStringLiteral("S"), 0x8080FF, 150, 3810, 197, 255, letter);
    Command17 = button(QStringLiteral("C"), 0x00FF00, 390, 3810, 197, 255, letter);
    Command18 = button(QStringLiteral("E"), 0xFF0000, 645, 3810, 197, 255, letter);
    Command14 = button(QStringLiteral("一回"), 0x00C0C0, 148, 4080, 689, 255, small);
    Command13 = button(QStringLiteral("音あり"), 0xFFC080, 148, 4350, 689, 255, small);
    Command12 = button(QStringLiteral("S"), 0x80FF80, 150, 4635, 197, 255, letter);
    Command20 = button(QStringLiteral("M"), 0x80FF80, 395, 4635, 197, 255, letter);
    Command11 = button(QStringLiteral("L"), 0x80FF80, 640, 4635, 197, 255, letter);
    Command19 = button(QStringLiteral("コピー"), 0xFF8000, 148, 4905, 689, 255, small);
    Command21 = button(QStringLiteral("ヘルプ"), 0xFFFF80, 148, 5190, 689, 255, small);
    Command5 = button(QStringLiteral("終了"), 0x00C000, 148, 5475, 689, 255, small);

    // Keyboard order; the labels take no focus and are left out.
    const QList<QWidget *> tabOrder = {
        Command5, Command8,  Command1,  Command2,  Command3,  Command6,  Command7,
        Command9, Command10, Command4,  Command11, Command12, Command13, Command15,
        Command14, Slider1,  Slider2,   Command16, Command17, Command18, Command19,
        Command20, Command21};
    for (int i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &PanelButton::mouseDown, this, &frmMain::Command6_MouseDown);
    connect(Command7, &PanelButton::mouseDown, this, &frmMain::Command7_MouseDown);
    connect(Command8, &QPushButton::clicked, this, [this] { Command8_Click(); });
    connect(Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    connect(Command10, &QPushButton::clicked, this, [this] { Command10_Click(); });
    connect(Command11, &QPushButton::clicked, this, [this] { Command11_Click(); });
    connect(Command12, &QPushButton::clicked, this, [this] { Command12_Click(); });
    connect(Command13, &QPushButton::clicked, this, [this] { Command13_Click(); });
    connect(Command14, &QPushButton::clicked, this, [this] { Command14_Click(); });
    connect(Command15, &QPushButton::clicked, this, [this] { Command15_Click(); });
    connect(Command16, &QPushButton::clicked, this, [this] { Command16_Click(); });
    connect(Command17, &QPushButton::clicked, this, [this] { Command17_Click(); });
    connect(Command18, &QPushButton::clicked, this, [this] { Command18_Click(); });
    connect(Command19, &QPushButton::clicked, this, [this] { Command19_Click(); });
    connect(Command20, &QPushButton::clicked, this, [this] { Command20_Click(); });
    connect(Command21, &QPushButton::clicked, this, [this] { Command21_Click(); });
    connect(&Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    connect(Slider1, &Slider::change, this, &frmMain::Slider1_Change);
    connect(Slider2, &Slider::change, this, &frmMain::Slider2_Change);
    connect(Label1, &PanelLabel::doubleClicked, this, &frmMain::Label1_DblClick);
    connect(Label2, &PanelLabel::doubleClicked, this, &frmMain::Label2_DblClick);
}

void frmMain::setControlLeft(QWidget *control, float units)
{
    control->move(windowing::panelUnitsToPixelsX(units), control->y());
}

void frmMain::mousePressEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    Form_MouseDown(event->button(), event->modifiers(), windowing::pixelsToPanelUnitsX(pos.x()),
                   windowing::pixelsToPanelUnitsY(pos.y()));
    event->accept();
}

void frmMain::paintEvent(QPaintEvent *)
{
    // At its own size from the top-left corner: at the panel's width only its left part shows.
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
}
