#pragma once

#include <QObject>
#include <QPointer>

class frmMain;
class QWidget;

// Keeps the panel above the video window. A video as large as the screen is centred and
// sticks out on every side, and would otherwise cover the panel so that no click reaches it.
// Whenever the video window shows, moves, changes size (the open handler, the size buttons)
// or is clicked, the panel is raised above it: only the panel, and only over it, never to
// stay on top of other programs. Installed on the application by the panel side.
class PanelOnTop : public QObject {
    Q_OBJECT
public:
    explicit PanelOnTop(frmMain &panel);
    ~PanelOnTop() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // After the handler that placed the video window has ended, and once for many events.
    void raiseSoon();
    void raiseIfCovered();

    frmMain &m_panel;
    QPointer<QWidget> m_video;
    bool m_raisePending = false;
};
