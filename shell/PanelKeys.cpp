#include "shell/PanelKeys.h"

#include "shell/Controls.h"
#include "shell/FileDrop.h"
#include "shell/frmMain.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>
#include <cstdlib>
#include <utility>

namespace {

const QEvent::Type kTakeSteps = QEvent::Type(QEvent::registerEventType());

// The keys a focused control of that kind uses itself.
bool sliderKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

bool buttonKey(int key)
{
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

constexpr int kNotch = 120; // QWheelEvent's eighths of a degree in one notch
constexpr int kPageFrames = 10;

} // namespace

PanelKeys::PanelKeys(frmMain &panel) : m_panel(panel), m_playToggle(panel)
{
    for (PanelButton *button : m_panel.findChildren<PanelButton *>())
        button->setFocusPolicy(Qt::TabFocus);
    m_panel.setFocusPolicy(Qt::StrongFocus);
    m_panel.setFocus();
    qApp->installEventFilter(this);
}

PanelKeys::~PanelKeys()
{
    qApp->removeEventFilter(this);
}

bool PanelKeys::ours(QWidget *receiver) const
{
    if (!receiver || QApplication::activeModalWidget())
        return false;
    QWidget *window = receiver->window();
    return window == &m_panel || isVideoWindow(m_panel, window);
}

bool PanelKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *receiver = qobject_cast<QWidget *>(watched);
        return ours(receiver) && keyPressed(receiver, static_cast<QKeyEvent *>(event));
    }
    if (event->type() == QEvent::Wheel) {
        // Over the video window only: the sliders move as Qt moves them.
        auto *receiver = qobject_cast<QWidget *>(watched);
        return ours(receiver) && isVideoWindow(m_panel, receiver)
               && wheelTurned(static_cast<QWheelEvent *>(event));
    }
    return false;
}

bool PanelKeys::keyPressed(QWidget *receiver, QKeyEvent *event)
{
    const int key = event->key();
    if (qobject_cast<QAbstractSlider *>(receiver) && sliderKey(key))
        return false;
    if (qobject_cast<QAbstractButton *>(receiver) && buttonKey(key))
        return false;

    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier)
        return click(controlKeyButton(key), event);
    if (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier)
        return false;
    const Step step = stepKey(key);
    if (step.button) {
        // Steps fold while a key is held.
        if (step.button->isEnabled())
            addSteps(step.frames);
        return true;
    }
    return click(keyButton(key), event);
}

PanelKeys::Step PanelKeys::stepKey(int key) const
{
    frmMain &f = m_panel;
    switch (key) {
    case Qt::Key_Right:
    case Qt::Key_Period:
        return {f.Command9, 1};
    case Qt::Key_Left:
    case Qt::Key_Comma:
        return {f.Command10, -1};
    case Qt::Key_PageDown:
        return {f.Command6, kPageFrames};
    case Qt::Key_PageUp:
        return {f.Command7, -kPageFrames};
    default:
        return {};
    }
}

PanelButton *PanelKeys::keyButton(int key) const
{
    frmMain &f = m_panel;
    switch (key) {
    case Qt::Key_Space: return m_playToggle.button();
    case Qt::Key_Home: return f.Command3;
    case Qt::Key_End: return f.Command4;
    case Qt::Key_Escape: return f.Command2;
    case Qt::Key_BracketLeft: return f.Command16;
    case Qt::Key_BracketRight: return f.Command18;
    case Qt::Key_Backslash:
    case Qt::Key_yen: // the same key on a Japanese keyboard
        return f.Command17;
    default:
        return nullptr;
    }
}

PanelButton *PanelKeys::controlKeyButton(int key) const
{
    return key == Qt::Key_C ? m_panel.Command19 : key == Qt::Key_O ? m_panel.Command8 : nullptr;
}

bool PanelKeys::click(PanelButton *button, const QKeyEvent *event)
{
    if (!button)
        return false;
    // A held toggle must not flicker between play and pause.
    if (!event->isAutoRepeat()) {
        takeSteps();
        button->click();
    }
    return true;
}

bool PanelKeys::wheelTurned(QWheelEvent *event)
{
    m_wheelAngle += event->angleDelta().y();
    const int notches = m_wheelAngle / kNotch;
    m_wheelAngle -= notches * kNotch;
    // Turning down (towards the person) goes forwards.
    for (int i = 0; i < std::abs(notches); ++i) {
        PanelButton *button = notches < 0 ? m_panel.Command9 : m_panel.Command10;
        if (button->isEnabled())
            addSteps(notches < 0 ? 1 : -1);
    }
    return true;
}

void PanelKeys::addSteps(int frames)
{
    m_pendingFrames += frames;
    if (!m_takePosted) {
        // Posted behind every event already queued, the repeats that came in while the last
        // step decoded among them.
        m_takePosted = true;
        QCoreApplication::postEvent(this, new QEvent(kTakeSteps));
    }
}

void PanelKeys::customEvent(QEvent *event)
{
    if (event->type() == kTakeSteps) {
        m_takePosted = false;
        takeSteps();
    }
}

void PanelKeys::takeSteps()
{
    const int frames = std::exchange(m_pendingFrames, 0);
    if (frames == 1)
        m_panel.Command9->click();
    else if (frames == -1)
        m_panel.Command10->click();
    else if (frames != 0)
        m_panel.StepFrames(frames);
}
