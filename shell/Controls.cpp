#include "shell/Controls.h"

#include "platform/windowing/Twips.h"

#include <QMouseEvent>

PanelButton::PanelButton(const QString &caption, const QColor &backColor, QWidget *parent)
    : QPushButton(caption, parent)
{
    // The graphical style: a flat face in the back colour with a thin raised edge.
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black;"
                                 " border: 1px outset #808080; padding: 0px; }"
                                 "QPushButton:pressed { border-style: inset; }"
                                 "QPushButton:disabled { color: #808080; }")
                      .arg(backColor.name()));
}

void PanelButton::mousePressEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    emit mouseDown(event->button(), event->modifiers(), windowing::pixelsToPanelUnitsX(pos.x()),
                   windowing::pixelsToPanelUnitsY(pos.y()));
    QPushButton::mousePressEvent(event);
}

PanelLabel::PanelLabel(const QString &caption, QWidget *parent) : QLabel(caption, parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void PanelLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (isEnabled())
        emit doubleClicked();
    QLabel::mouseDoubleClickEvent(event);
}

void PanelLabel::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

Slider::Slider(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
    connect(this, &QSlider::valueChanged, this, [this] {
        if (!m_programSetting && !isSliderDown())
            emit change();
    });
    connect(this, &QSlider::sliderReleased, this, [this] { emit change(); });
}

void Slider::setProgramValue(int value)
{
    m_programSetting = true;
    setValue(value);
    m_programSetting = false;
}
