#pragma once

#include <QObject>

class frmMain;
class PanelButton;

// The play button a single play/pause toggle clicks (Space, the desktop's PlayPause): 正再生,
// or 逆再生 while a reverse play runs or is paused. Both pauses leave the pair at 2, so the
// play button clicked last tells which one paused.
class PlayToggle : public QObject {
    Q_OBJECT
public:
    explicit PlayToggle(frmMain &panel);

    PanelButton *button() const;

private:
    frmMain &m_panel;
    bool m_reverseLast = false;
};
