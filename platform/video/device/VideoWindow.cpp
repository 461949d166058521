#include "platform/video/device/VideoWindow.h"

#include <QPainter>

namespace video {

VideoWindow::VideoWindow(std::function<const QImage &()> picture)
    : m_picture(std::move(picture))
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QImage &image = m_picture();
    if (image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image);
}

} // namespace video
