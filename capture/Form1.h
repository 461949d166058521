#pragma once

#include "capture/BitmapFile.h"
#include "platform/windowing/CommonDialog.h"
#include "platform/windowing/Twips.h"

#include <QMainWindow>

class PictureBox;
class QAction;
class QMenu;

// The capture window "画像コピー": the frame the device drew into Picture1, and a menu to put
// it on the clipboard, save it as a BMP file or close the window. One shared instance at a
// time; closing destroys it (and its picture), the next copy creates a new one.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    // The shared instance, created when there is none.
    static Form1 *instance();
    // The shared instance, or nullptr while there is none.
    static Form1 *existing();

    ~Form1() override;

    void tofile_Click();
    void toclip_Click();
    void toend_Click();

    PictureBox *Picture1 = nullptr;
    QMenu *mn = nullptr;
    QAction *tofile = nullptr;
    QAction *toclip = nullptr;
    QAction *toend = nullptr;
    windowing::CommonDialog CommonDialog1;
    // The window's outer position and size in twips.
    windowing::FormGeometry geometry;

    // Tests: write BMP files with this instead (a writer that breaks off, say); an empty
    // function brings the real writer back.
    static void setBitmapWriter(capture::BitmapWriter writer);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Form1();
};
