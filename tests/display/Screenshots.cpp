// Grabs the help window and the capture window headless, for the docs and for the help
// pictures. Usage: display_screenshots OUT_DIR [FRAME_IMAGE]
//   OUT_DIR/help-window.png      the help window
//   OUT_DIR/capture-window.png   the capture window holding FRAME_IMAGE (or a test pattern)
//   OUT_DIR/capture-menu.png     the same with its menu open
#include "capture/Form1.h"
#include "capture/PictureBox.h"
#include "help/Form2.h"
#include "platform/mci/Surfaces.h"
#include "shell/frmMain.h"
#include "tests/support/QtApp.h"
#include "tests/support/RecordingChannel.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <cstdio>

namespace {

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
        std::fprintf(stderr, "usage: display_screenshots OUT_DIR [FRAME_IMAGE]\n");
        return 2;
    }
    testApplication();
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QImage frame = argc > 2 ? QImage(QString::fromLocal8Bit(argv[2])) : QImage();

    RecordingChannel channel;
    RecordingControl control;
    frmMain panel(channel, control);
    panel.Form_Load();
    panel.DeviceError = 0;
    panel.MediaPath = QStringLiteral("/videos/clip.avi");
    const QSize size = frame.isNull() ? QSize(320, 240) : frame.size();
    panel.state.VideoWidth = size.width();
    panel.state.VideoHeight = size.height();
    panel.state.PutHeightText = QString::number(size.height() + panel.state.WindowHeightMargin);
    // The device's part: draw the frame into the surface named in the update command.
    channel.onExecute = [&](const QString &command) {
        QImage *image = mci::Surfaces::find(command.section(QLatin1Char(' '), -1).toUInt());
        if (image) {
            QPainter painter(image);
            painter.drawImage(0, 0, frame.isNull() ? testPattern(size) : frame);
        }
    };

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
