#include "capture/PictureBox.h"

#include "media/DrawingSurface.h"
#include "platform/windowing/Twips.h"

#include <QPainter>

namespace {
// The screen's own format: what the device draws into and what the clipboard receives.
constexpr QImage::Format kSurfaceFormat = QImage::Format_RGB32;
const QColor kBlank(0xC0, 0xC0, 0xC0);
} // namespace

PictureBox::PictureBox(QWidget *parent) : QWidget(parent), m_image(1, 1, kSurfaceFormat)
{
    m_image.fill(kBlank);
    // The image object stays the same for the box's life, so one handle serves every copy.
    m_handle = DrawingSurface::lend(&m_image);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

PictureBox::~PictureBox()
{
    DrawingSurface::giveBack(m_handle);
}

void PictureBox::setTwipsGeometry(double left, double top, double width, double height)
{
    QRect rect = windowing::twipsRect(left, top, width, height);
    // A size that rounds to nothing still gets a box to draw into.
    rect.setSize(rect.size().expandedTo(QSize(1, 1)));
    setGeometry(rect);
    if (m_image.size() != rect.size()) {
        m_image = QImage(rect.size(), kSurfaceFormat);
        m_image.fill(kBlank);
    }
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
}
