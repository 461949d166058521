#include "capture/Form1.h"

#include "capture/PictureBox.h"
#include "platform/windowing/Messages.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QIcon>
#include <QMenuBar>
#include <QPointer>

namespace {
QPointer<Form1> g_form1;
capture::BitmapWriter g_writer;
} // namespace

// The icon lives in a static library; naming its initialiser keeps the linker from dropping it.
static void initAssets()
{
    Q_INIT_RESOURCE(assets);
}

Form1 *Form1::instance()
{
    if (!g_form1)
        g_form1 = new Form1;
    return g_form1;
}

Form1 *Form1::existing()
{
    return g_form1;
}

void Form1::setBitmapWriter(capture::BitmapWriter writer)
{
    g_writer = std::move(writer);
}

Form1::Form1()
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                               | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      geometry(this)
{
    initAssets();
    setWindowTitle(QStringLiteral("画像コピー"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/kurimo-icon.png")));

    mn = menuBar()->addMenu(QStringLiteral("メニュー"));
    mn->setObjectName(QStringLiteral("mn"));
    tofile = mn->addAction(QStringLiteral("ファイルへ"));
    tofile->setObjectName(QStringLiteral("tofile"));
    toclip = mn->addAction(QStringLiteral("クリップボードへ"));
    toclip->setObjectName(QStringLiteral("toclip"));
    toend = mn->addAction(QStringLiteral("閉じる"));
    toend->setObjectName(QStringLiteral("toend"));
    connect(tofile, &QAction::triggered, this, &Form1::tofile_Click);
    connect(toclip, &QAction::triggered, this, &Form1::toclip_Click);
    connect(toend, &QAction::triggered, this, &Form1::toend_Click);

    // The client area lies below the menu bar; the picture box sits at its top-left corner.
    auto *client = new QWidget(this);
    setCentralWidget(client);
    Picture1 = new PictureBox(client);
    Picture1->setObjectName(QStringLiteral("Picture1"));
}

Form1::~Form1() = default;

void Form1::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Absent from now on: a copy made before the deferred delete runs gets a new window.
    if (g_form1 == this)
        g_form1 = nullptr;
    deleteLater();
}

void Form1::tofile_Click()
{
    CommonDialog1.setDialogTitle(QStringLiteral("データロード"));
    CommonDialog1.setFilter(QStringLiteral("ビットマップファイル(*.BMP)|*.bmp"));
    CommonDialog1.setFileName(QStringLiteral("dummy.bmp"));
    CommonDialog1.showSave(this);
    const QString fileName = CommonDialog1.fileName();
    if (fileName.isEmpty())
        return;
    QString reason;
    const capture::BitmapWriter &writer = g_writer ? g_writer : capture::writeBmp;
    if (!capture::saveBitmapFile(Picture1->image(), fileName, &reason, writer)) {
        // The window stays open with its picture, so the user can try another name.
        windowing::messages().messageBox(
            {windowTitle(),
             QStringLiteral("ファイルに保存できませんでした。\r") + fileName + QLatin1Char('\r')
                 + reason,
             windowing::MessageIcon::Warning});
        return;
    }
    close();
}

void Form1::toclip_Click()
{
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(Picture1->image());
    close();
}

void Form1::toend_Click()
{
    close();
}
