#pragma once

#include <QColor>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

// The panel's kinds of control, each a thin Qt widget with the events the handlers use.

// A push button whose face is painted in its back colour. Reports the mouse going down (any
// button) as well as the click.
class PanelButton : public QPushButton {
    Q_OBJECT
public:
    PanelButton(const QString &caption, const QColor &backColor, QWidget *parent);

signals:
    // x and y in the panel's units, relative to the button.
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, float x, float y);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

// The panel's timer: switched on and off. Switching on a timer that already runs keeps its
// rhythm, so quick clicks never hold back the poll.
class PanelTimer : public QTimer {
    Q_OBJECT
public:
    using QTimer::QTimer;
    void setEnabled(bool enabled)
    {
        if (!enabled)
            stop();
        else if (!isActive())
            start();
    }
    bool isEnabled() const { return isActive(); }
};

// A label with a transparent background that reports double-clicks.
class PanelLabel : public QLabel {
    Q_OBJECT
public:
    PanelLabel(const QString &caption, QWidget *parent);

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    // A press on a label is the label's, never the panel's background.
    void mousePressEvent(QMouseEvent *event) override;
};

// The slider: value, minimum, maximum, tick spacing, small and large step, enabled; and one
// notification, change(), for a change the user made. Values the program sets never notify.
// Dragging notifies once, when the thumb is released; clicks on the track and keys notify
// at once.
class Slider : public QSlider {
    Q_OBJECT
public:
    explicit Slider(QWidget *parent);

    // Set by the program: never a change(), also when a new range moves the value into it.
    void setProgramValue(int value);
    void setProgramMaximum(int maximum);
    void setProgramMinimum(int minimum);

signals:
    void change();

private:
    bool m_programSetting = false;
    int m_valueAtPress = 0;
};
