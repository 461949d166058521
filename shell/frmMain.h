#pragma once

#include "platform/windowing/CommonDialog.h"
#include "platform/windowing/Twips.h"
#include "playback/PlayerState.h"
#include "shell/Controls.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <functional>

class CommandChannel;
class MciControl;
class PanelButton;
class PanelLabel;
class Slider;

// The control panel: a narrow column of buttons docked at the screen edge.
//
// It holds the player state and every control, and its handlers are its member functions.
// Each handler is defined in the folder of its subsystem: shell/ (layout, load, unload, exit),
// playback/ (open, transport, seek and step, winds, range, toggles), display/ (poll, sliders,
// labels), placement/ (video sizes, warp), capture/ and help/ (the two other windows).
// The device is reached only through the channel and the control.
class frmMain : public QWidget {
    Q_OBJECT
public:
    frmMain(CommandChannel &channel, MciControl &control, QWidget *parent = nullptr);
    ~frmMain() override;

    // --- Lifecycle (shell/) ---------------------------------------------------------------
    void Form_Load();
    void Form_Unload();
    void Command5_Click();  // exit: ends the program at once, without the unload step

    // --- Opening (playback/Open.cpp) ------------------------------------------------------
    void Command8_Click();

    // --- Play, reverse, pause, stop (playback/Transport.cpp) ------------------------------
    void Command1_Click();
    void Command15_Click();
    void Command2_Click();

    // --- Seeking, stepping, winds (playback/Seek.cpp) -------------------------------------
    void Command3_Click();
    void Command4_Click();
    void Command9_Click();
    void Command10_Click();
    // The two step buttons' step, any number of frames on (or back, when negative) in one
    // seek, stopping at either end: the keys fold held repeats and Page Up/Down into it.
    void StepFrames(qint32 frames);
    void Command6_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, float x, float y);
    void Command7_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, float x, float y);

    // --- Range marks (playback/Range.cpp) -------------------------------------------------
    void Command16_Click();
    void Command17_Click();
    void Command18_Click();

    // --- Sound and repeat (playback/Toggles.cpp) ------------------------------------------
    void Command13_Click();
    void Command14_Click();

    // --- Position and speed (display/) ----------------------------------------------------
    void Timer1_Timer();
    void Slider1_Change();
    void Label1_DblClick();
    void Slider2_Change();
    void Label2_DblClick();
    void UpdateTimeLabel();
    // The slider and the label brought to the device's position once, as a poll tick does.
    void ShowDevicePosition();
    // Switches the poll off and shows where the device stands: what the poll read last
    // may be a few frames behind the picture that stays.
    void PollOffShowingPosition();

    // --- Video sizes and warp (placement/) ------------------------------------------------
    void Command11_Click();
    void Command12_Click();
    void Command20_Click();
    void CenterVideoWindow(); // the centring step, shared with the open handler
    void Form_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, float X, float Y);

    // --- Capture and help (capture/, help/) -----------------------------------------------
    void Command19_Click();
    void Command21_Click();

    // --- State ----------------------------------------------------------------------------
    PlayerState state;
    QString MediaPath;
    qint32 MediaLength = 0;
    qint16 DeviceError = 0;

    // --- Controls -------------------------------------------------------------------------
    PanelLabel *Label1 = nullptr;
    Slider *Slider1 = nullptr;
    PanelLabel *Label3 = nullptr;
    PanelLabel *Label4 = nullptr;
    PanelLabel *Label2 = nullptr;
    Slider *Slider2 = nullptr;
    PanelButton *Command1 = nullptr;
    PanelButton *Command2 = nullptr;
    PanelButton *Command3 = nullptr;
    PanelButton *Command4 = nullptr;
    PanelButton *Command5 = nullptr;
    PanelButton *Command6 = nullptr;
    PanelButton *Command7 = nullptr;
    PanelButton *Command8 = nullptr;
    PanelButton *Command9 = nullptr;
    PanelButton *Command10 = nullptr;
    PanelButton *Command11 = nullptr;
    PanelButton *Command12 = nullptr;
    PanelButton *Command13 = nullptr;
    PanelButton *Command14 = nullptr;
    PanelButton *Command15 = nullptr;
    PanelButton *Command16 = nullptr;
    PanelButton *Command17 = nullptr;
    PanelButton *Command18 = nullptr;
    PanelButton *Command19 = nullptr;
    PanelButton *Command20 = nullptr;
    PanelButton *Command21 = nullptr;
    PanelTimer Timer1;
    windowing::CommonDialog CommonDialog1;
    MciControl &mciAVI;
    CommandChannel &channel;

    // The window's own position and size in twips.
    windowing::FormGeometry geometry;

    // Move a control's left edge, in panel units (the range markers).
    void setControlLeft(QWidget *control, float units);

    // Tests: what the exit button does instead of ending the process.
    static void setExitHandler(std::function<void()> handler);

protected:
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void createControls();
    // The controls that need an open video: the buttons of the load step in their order,
    // then the two sliders and the two labels.
    void setMediaControlsEnabled(bool enabled);
    // Write "Close" to the control; the video a running wind was winding is gone.
    void closeMedia();
    // The winds of Command6 (`step` 10) and Command7 (-10), each on its own state.
    template <typename WindState>
    void Wind(WindState &windState, int step);

    QPixmap m_background;
    // Changes whenever the open video goes away (closed, replaced, the program ending). A wind
    // runs other handlers in its event pump; when this changes under it, it stops.
    quint64 m_mediaEpoch = 0;
};
