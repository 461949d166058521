#pragma once

#include "shell/PlayToggle.h"

#include <QObject>

class PanelButton;
class frmMain;
class QKeyEvent;
class QWheelEvent;
class QWidget;

// Keys and the wheel, as a layer over the panel: each key does what a click on its button does,
// through the button's own click, so a key whose button is disabled does nothing.
//
//   Right .  一送り       Left ,  一戻り       Page Down / Up  ten frames on / back, one jump
//   Space    正再生, or 逆再生 while a reverse play runs or is paused
//   Home 最初へ   End 最後へ   Escape 停止   [ S   ] E   \ C   Ctrl+C コピー   Ctrl+O ﾌｧｲﾙ
//   the wheel over the video window: one frame a notch, down is forwards
//
// It listens on the application, so it works while the panel or the video window is active;
// the video window stays the layer's and never hears of it. A focused slider keeps the arrows,
// Page Up/Down, Home and End; a focused button keeps Space and Return. Buttons take the focus
// from Tab only, no longer from a click, and the panel itself holds the focus at start: else
// the first button in the tab order (終了) would take Space.
//
// Held keys. Only the step keys repeat. A step decodes on this thread, so repeats that arrive
// meanwhile queue up; they are added together and taken as one step once the queue is drained,
// so the picture is never more than one step behind and is right as soon as the key is let go.
class PanelKeys : public QObject {
    Q_OBJECT
public:
    explicit PanelKeys(frmMain &panel);
    ~PanelKeys() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    bool ours(QWidget *receiver) const;
    bool keyPressed(QWidget *receiver, QKeyEvent *key);
    struct Step {
        PanelButton *button = nullptr; // whose click the step stands for
        int frames = 0;
    };
    Step stepKey(int key) const;
    // The button a key without Ctrl clicks, and with it.
    PanelButton *keyButton(int key) const;
    PanelButton *controlKeyButton(int key) const;
    // Clicks it once a press, however long the key is held; false without a button.
    bool click(PanelButton *button, const QKeyEvent *event);
    bool wheelTurned(QWheelEvent *wheel);
    // Steps wait here until the events already queued have been seen.
    void addSteps(int frames);
    void takeSteps();

    frmMain &m_panel;
    int m_pendingFrames = 0;
    bool m_takePosted = false;
    int m_wheelAngle = 0; // what a fine-grained wheel turned short of a whole notch
    PlayToggle m_playToggle;
};
