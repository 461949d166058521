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
    const Qt::MouseButton button = event->button();
    const Qt::KeyboardModifiers shift = event->modifiers();
    const QPointF pos = event->position();
    QPushButton::mousePressEvent(event);
    // Any button is the button's: a right-click on it must not reach the panel's background.
    event->accept();
    // Last, because a handler may run the event pump for a long time (the winds) and may see
    // this button's window closed and deleted meanwhile.
    emit mouseDown(button, shift, windowing::pixelsToPanelUnitsX(pos.x()),
                   windowing::pixelsToPanelUnitsY(pos.y()));
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
    connect(this, &QSlider::sliderPressed, this, [this] { m_valueAtPress = value(); });
    connect(this, &QSlider::sliderReleased, this, [this] {
        if (value() != m_valueAtPress)
            emit change();
    });
    // A press the slider does not use (the right button, say) is still the slider's: it must
    // not reach the panel's background and warp it.
    setAttribute(Qt::WA_NoMousePropagation);
}

void Slider::setProgramValue(int value)
{
    m_programSetting = true;
    setValue(value);
    m_programSetting = false;
}

void Slider::setProgramMaximum(int maximum)
{
    m_programSetting = true;
    setMaximum(maximum);
    m_programSetting = false;
}

void Slider::setProgramMinimum(int minimum)
{
    m_programSetting = true;
    setMinimum(minimum);
    m_programSetting = false;
}
