#include "platform/windowing/Twips.h"

#include "platform/windowing/ScreenMetrics.h"

#include <QEvent>
#include <QWidget>
#include <cmath>

namespace windowing {

int twipsToPixelsX(double twips)
{
    return int(std::lround(twips / screenMetrics().twipsPerPixelX));
}

int twipsToPixelsY(double twips)
{
    return int(std::lround(twips / screenMetrics().twipsPerPixelY));
}

double pixelsToTwipsX(double pixels)
{
    return pixels * screenMetrics().twipsPerPixelX;
}

double pixelsToTwipsY(double pixels)
{
    return pixels * screenMetrics().twipsPerPixelY;
}

QRect twipsRect(double left, double top, double width, double height)
{
    return QRect(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width),
                 twipsToPixelsY(height));
}

int panelUnitsToPixelsX(float units)
{
    return twipsToPixelsX(double(units * kPanelUnitTwipsX));
}

float pixelsToPanelUnitsX(double pixels)
{
    return float(pixelsToTwipsX(pixels) / kPanelUnitTwipsX);
}

float pixelsToPanelUnitsY(double pixels)
{
    return float(pixelsToTwipsY(pixels) / kPanelUnitTwipsY);
}

// Until a window is first shown it has no frame, so an outer size set before the show would go
// to the client area and the frame would come on top. At the first show the geometry the form
// asked for is applied again, frame and all.
class FormGeometryFilter final : public QObject {
public:
    FormGeometryFilter(FormGeometry *geometry, QWidget *window)
        : QObject(window), m_geometry(geometry)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !m_done) {
            m_done = true;
            m_geometry->reapply();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    FormGeometry *m_geometry;
    bool m_done = false;
};

FormGeometry::FormGeometry(QWidget *window) : m_window(window)
{
    new FormGeometryFilter(this, window);
}

void FormGeometry::reapply()
{
    if (m_hasWidth || m_hasHeight)
        applySize();
    const QRect frame = outerPixels();
    m_window->move(m_hasLeft ? twipsToPixelsX(m_left) : frame.x(),
                   m_hasTop ? twipsToPixelsY(m_top) : frame.y());
}

QRect FormGeometry::outerPixels() const
{
    // Before the first show there is no frame yet; frameGeometry then equals geometry.
    return m_window->frameGeometry();
}

double FormGeometry::left() const
{
    const int px = outerPixels().x();
    if (m_hasLeft && px == twipsToPixelsX(m_left))
        return m_left;
    return pixelsToTwipsX(px);
}

double FormGeometry::top() const
{
    const int px = outerPixels().y();
    if (m_hasTop && px == twipsToPixelsY(m_top))
        return m_top;
    return pixelsToTwipsY(px);
}

double FormGeometry::width() const
{
    const int px = outerPixels().width();
    if (m_hasWidth && px == twipsToPixelsX(m_width))
        return m_width;
    return pixelsToTwipsX(px);
}

double FormGeometry::height() const
{
    const int px = outerPixels().height();
    if (m_hasHeight && px == twipsToPixelsY(m_height))
        return m_height;
    return pixelsToTwipsY(px);
}

void FormGeometry::setLeft(double twips)
{
    m_left = twips;
    m_hasLeft = true;
    m_window->move(twipsToPixelsX(twips), outerPixels().y());
}

void FormGeometry::setTop(double twips)
{
    m_top = twips;
    m_hasTop = true;
    m_window->move(outerPixels().x(), twipsToPixelsY(twips));
}

void FormGeometry::setWidth(double twips)
{
    m_width = twips;
    m_hasWidth = true;
    applySize();
}

void FormGeometry::setHeight(double twips)
{
    m_height = twips;
    m_hasHeight = true;
    applySize();
}

void FormGeometry::applySize()
{
    // Outer size in, client size to Qt: take off whatever frame the window system draws.
    const QRect frame = m_window->frameGeometry();
    const QRect client = m_window->geometry();
    const int frameW = frame.width() - client.width();
    const int frameH = frame.height() - client.height();
    const int outerW = m_hasWidth ? twipsToPixelsX(m_width) : frame.width();
    const int outerH = m_hasHeight ? twipsToPixelsY(m_height) : frame.height();
    m_window->resize(std::max(1, outerW - frameW), std::max(1, outerH - frameH));
}

} // namespace windowing
