#include "shell/PanelOnTop.h"

#include "shell/FileDrop.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QTimer>

PanelOnTop::PanelOnTop(frmMain &panel) : m_panel(panel)
{
    qApp->installEventFilter(this);
}

PanelOnTop::~PanelOnTop()
{
    qApp->removeEventFilter(this);
}

bool PanelOnTop::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::MouseButtonPress: {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && isVideoWindow(m_panel, widget)) {
            m_video = widget;
            raiseSoon();
        }
        break;
    }
    default:
        break;
    }
    return false;
}

void PanelOnTop::raiseSoon()
{
    if (m_raisePending)
        return;
    m_raisePending = true;
    QTimer::singleShot(0, this, [this] {
        m_raisePending = false;
        raiseIfCovered();
    });
}

void PanelOnTop::raiseIfCovered()
{
    if (m_video && m_video->isVisible() && m_panel.isVisible()
        && m_video->frameGeometry().intersects(m_panel.frameGeometry()))
        m_panel.raise();
}
