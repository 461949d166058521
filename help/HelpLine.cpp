#include "help/HelpLine.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

HelpLine::HelpLine(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

int HelpLine::linePitch() const
{
    return QFontInfo(font()).pixelSize();
}

template <typename Visit> int HelpLine::layOut(Visit visit) const
{
    QTextLayout layout(text(), font());
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const int pitch = linePitch();
    // The font's own line box is centred on each em-high line.
    const double shift = (pitch - QFontMetricsF(font()).height()) / 2;
    int lines = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width());
        line.setPosition(QPointF(0, lines * pitch + shift));
        ++lines;
    }
    layout.endLayout();
    visit(layout);
    return lines * pitch;
}

int HelpLine::neededHeight() const
{
    return layOut([](const QTextLayout &) {});
}

void HelpLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    layOut([&](const QTextLayout &layout) { layout.draw(&painter, QPointF(0, 0)); });
}
