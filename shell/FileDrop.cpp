#include "shell/FileDrop.h"

#include "capture/Form1.h"
#include "help/Form2.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

// The first local file among the dragged items; empty when there is none (a web link, text).
QString draggedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return {};
}

} // namespace

void openAsIfChosen(frmMain &panel, const QString &path)
{
    const QString whole =
        path.isEmpty() ? path : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    panel.CommonDialog1.answerNextShow(whole);
    panel.Command8_Click();
}

bool isVideoWindow(const frmMain &panel, const QWidget *window)
{
    return window && window->isWindow() && window->windowType() == Qt::Window
           && window != &panel && !qobject_cast<const QDialog *>(window)
           && !qobject_cast<const Form1 *>(window) && !qobject_cast<const Form2 *>(window);
}

FileDrop::FileDrop(frmMain &panel) : m_panel(panel)
{
    m_panel.setAcceptDrops(true);
    qApp->installEventFilter(this);
}

FileDrop::~FileDrop()
{
    qApp->removeEventFilter(this);
}

bool FileDrop::takesDrops(QWidget *window) const
{
    return window == &m_panel || isVideoWindow(m_panel, window);
}

bool FileDrop::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show: {
        // A drop only reaches a window that says it takes drops; the layer's window is told
        // here, when it first shows.
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && !widget->acceptDrops() && isVideoWindow(m_panel, widget))
            widget->setAcceptDrops(true);
        return false;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || !takesDrops(widget))
            return false;
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (!QApplication::activeModalWidget() && !draggedFile(drag->mimeData()).isEmpty())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || !takesDrops(widget))
            return false;
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = draggedFile(drop->mimeData());
        if (path.isEmpty() || QApplication::activeModalWidget()) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        // Not inside the drop: the file manager waits for the drop to finish, and the open
        // may hold a box up for as long as the person leaves it.
        QTimer::singleShot(0, &m_panel, [this, path] { openAsIfChosen(m_panel, path); });
        return true;
    }
    default:
        return false;
    }
}
