#pragma once

#include <QObject>
#include <QString>

class frmMain;
class QWidget;

// Opens a file named from outside the panel (the command line, a drop) through the file
// button's own handler, exactly as if the person had chosen it in the open dialog: the same
// commands, checks and error box. A relative path is taken from the working folder, as the
// dialog would give it whole.
void openAsIfChosen(frmMain &panel, const QString &path);

// The video window: a plain top-level window of the program that the panel side did not make.
// It belongs to the multimedia layer, which knows nothing of the panel, so the panel side
// recognises it from outside instead of being told.
bool isVideoWindow(const frmMain &panel, const QWidget *window);

// A file dropped on the panel or on the video window opens as if chosen in the dialog.
// Installed on the application by the panel side, so the layer's window needs no part in it.
// While a modal window (the open dialog, a box) is up nothing is taken: an open must not
// start inside another.
class FileDrop : public QObject {
    Q_OBJECT
public:
    explicit FileDrop(frmMain &panel);
    ~FileDrop() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool takesDrops(QWidget *window) const;

    frmMain &m_panel;
};
