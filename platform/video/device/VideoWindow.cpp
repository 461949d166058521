#include "platform/video/device/VideoWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

namespace video {

VideoWindow::VideoWindow(std::function<const QImage &()> picture)
    : m_picture(std::move(picture))
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Installed after the panel's keys, so it hears Escape before they turn it into 停止.
    qApp->installEventFilter(this);
}

VideoWindow::~VideoWindow()
{
    qApp->removeEventFilter(this);
}

void VideoWindow::place(const QRect &geometry)
{
    if (windowState() & (Qt::WindowFullScreen | Qt::WindowMaximized))
        setWindowState(Qt::WindowNoState);
    m_shape = geometry.size();
    setGeometry(geometry);
}

QRect VideoWindow::pictureRect() const
{
    const QSize shape = m_shape.isEmpty() ? m_picture().size() : m_shape;
    if (shape.isEmpty() || size() == shape)
        return rect();
    const QSize fitted = shape.scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void VideoWindow::toggleFullScreen()
{
    setWindowState(windowState() ^ Qt::WindowFullScreen);
}

bool VideoWindow::eventFilter(QObject *, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !isFullScreen() || QApplication::activeModalWidget()
        || static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape)
        return false;
    toggleFullScreen();
    return true;
}

void VideoWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QImage &image = m_picture();
    const QRect target = pictureRect();
    if (image.isNull() || target != rect())
        painter.fillRect(rect(), Qt::black);
    if (image.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}

void VideoWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        toggleFullScreen();
}

void VideoWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F && !(event->modifiers() & ~Qt::KeypadModifier & ~Qt::ShiftModifier))
        toggleFullScreen();
    else
        QWidget::keyPressEvent(event);
}

} // namespace video
