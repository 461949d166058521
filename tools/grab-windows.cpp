// grab-windows: draws the help window and the capture window headless, for the docs and for
// the help pictures (tools/make-help-pictures.sh). Usage: grab-windows OUT_DIR [FRAME_IMAGE]
//   OUT_DIR/help-window.png      the help window
//   OUT_DIR/capture-window.png   the capture window holding FRAME_IMAGE (or a test pattern)
//   OUT_DIR/capture-menu.png     the same with its menu open
#include "capture/Form1.h"
#include "help/Form2.h"
#include "media/CommandChannel.h"
#include "media/MciControl.h"
#include "platform/mci/Surfaces.h"
#include "platform/windowing/Fonts.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <cstdio>

namespace {

// The device's part: draws the frame into the surface an update command names.
class DrawingChannel final : public CommandChannel {
public:
    explicit DrawingChannel(QImage frame) : m_frame(std::move(frame)) {}
    bool mciExecute(const QString &command) override
    {
        if (QImage *image = mci::Surfaces::find(command.section(QLatin1Char(' '), -1).toUInt()))
            QPainter(image).drawImage(0, 0, m_frame);
        return true;
    }
    int mciSendString(const QString &, QString &, int) override { return 0; }

private:
    QImage m_frame;
};

// Nothing is opened: the windows only need the panel's state.
class NoControl final : public MciControl {
public:
    void setDeviceType(const QString &) override {}
    QString deviceType() const override { return {}; }
    void setFileName(const QString &) override {}
    QString fileName() const override { return {}; }
    void setCommand(const QString &) override {}
    void setTo(qint32) override {}
    bool canPlay() const override { return false; }
    qint32 length() const override { return 0; }
    qint32 position() const override { return 0; }
};

QImage testPattern(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const QColor bars[] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green,
                           Qt::magenta, Qt::red, Qt::blue, Qt::black};
    const int w = size.width() / 8 + 1;
    for (int i = 0; i < 8; ++i)
        painter.fillRect(i * w, 0, w, size.height(), bars[i]);
    return image;
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: grab-windows OUT_DIR [FRAME_IMAGE]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    windowing::installFontSubstitutes();
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QImage given = argc > 2 ? QImage(QString::fromLocal8Bit(argv[2])) : QImage();
    const QSize size = given.isNull() ? QSize(320, 240) : given.size();

    DrawingChannel channel(given.isNull() ? testPattern(size) : given);
    NoControl control;
    frmMain panel(channel, control);
    panel.Form_Load();
    panel.DeviceError = 0;
    panel.MediaPath = QStringLiteral("/videos/clip.avi");
    panel.state.VideoWidth = size.width();
    panel.state.VideoHeight = size.height();
    panel.state.PutHeightText = QString::number(size.height() + panel.state.WindowHeightMargin);

    panel.Command21_Click();
    settle();
    bool ok = Form2::existing()->grab().save(out.filePath(QStringLiteral("help-window.png")));

    panel.Command19_Click();
    Form1 *capture = Form1::existing();
    settle();
    const QPixmap window = capture->grab();
    ok = window.save(out.filePath(QStringLiteral("capture-window.png"))) && ok;

    // The menu is a window of its own: paint it where it drops down.
    const QRect title = capture->menuBar()->actionGeometry(capture->mn->menuAction());
    capture->mn->popup(capture->mapToGlobal(title.bottomLeft()));
    settle();
    QPixmap withMenu = window;
    {
        QPainter painter(&withMenu);
        painter.drawPixmap(title.bottomLeft(), capture->mn->grab());
    }
    capture->mn->hide();
    ok = withMenu.save(out.filePath(QStringLiteral("capture-menu.png"))) && ok;
    return ok ? 0 : 1;
}
