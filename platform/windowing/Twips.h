#pragma once

#include <QRect>

class QWidget;

namespace windowing {

// The one place where twips and panel units meet Qt's pixels.
//
// The program's own windows are placed and sized in twips (1/1440 inch), in screen
// coordinates. Inside the control panel, positions set at run time and mouse coordinates are
// in panel units: 24.6 twips across (held as the single-precision 24.60009) and 15 down.
inline constexpr float kPanelUnitTwipsX = 24.60009f;
inline constexpr float kPanelUnitTwipsY = 15.0f;

int twipsToPixelsX(double twips);
int twipsToPixelsY(double twips);
double pixelsToTwipsX(double pixels);
double pixelsToTwipsY(double pixels);

// A design rectangle in twips (left, top, width, height) as a Qt rectangle in pixels.
QRect twipsRect(double left, double top, double width, double height);

// Panel units to pixels, for positions inside the panel's client area.
int panelUnitsToPixelsX(float units);
float pixelsToPanelUnitsX(double pixels);
float pixelsToPanelUnitsY(double pixels);

// A top-level window's outer geometry in twips, as the form code reads and writes it.
//
// Qt keeps geometry in whole pixels, so a width of 1070 twips (71.33 pixels at 15 twips a
// pixel) would read back as 1065. The form keeps the twips it was given and hands them back
// as long as the window still stands where those twips put it; once the window system or the
// user has moved or resized it, the window's own pixels count. Width and height are those of
// the whole window, frame included, as the window system reports its frame.
class FormGeometry {
public:
    explicit FormGeometry(QWidget *window);

    double left() const;
    double top() const;
    double width() const;
    double height() const;
    void setLeft(double twips);
    void setTop(double twips);
    void setWidth(double twips);
    void setHeight(double twips);

private:
    QRect outerPixels() const;
    void applySize();
    void reapply();
    friend class FormGeometryFilter;

    QWidget *m_window;
    double m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    bool m_hasLeft = false, m_hasTop = false, m_hasWidth = false, m_hasHeight = false;
};

} // namespace windowing
