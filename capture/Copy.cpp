#include "capture/Form1.h"
#include "capture/PictureBox.h"
#include "media/Catalogue.h"
#include "media/CommandChannel.h"
#include "platform/windowing/ScreenMetrics.h"
#include "shell/frmMain.h"

// The copy button: the device draws its current frame into the capture window's picture,
// and the window is shown 500 twips below the middle of the screen.

namespace {

constexpr double kTitleAndMenuTwips = 500;

void placeCaptureWindow(Form1 *form, const PlayerState &state)
{
    const windowing::ScreenMetrics screen = windowing::screenMetrics();
    form->geometry.setWidth(state.VideoWidth * screen.twipsPerPixelX);
    form->geometry.setHeight(state.VideoHeight * screen.twipsPerPixelY + kTitleAndMenuTwips);
    form->geometry.setTop((screen.heightTwips - form->geometry.height()) / 2
                          + kTitleAndMenuTwips);
    form->geometry.setLeft((screen.widthTwips - form->geometry.width()) / 2);
}

} // namespace

void frmMain::Command19_Click()
{
    if (DeviceError == -1)
        return;
    const windowing::ScreenMetrics screen = windowing::screenMetrics();
    Form1 *form = Form1::instance();
    placeCaptureWindow(form, state);
    // The whole picture, every pixel: what is copied and saved is the frame on screen, not
    // a box a few pixels smaller that cuts its right and bottom edges off.
    form->Picture1->setTwipsGeometry(0, 0, state.VideoWidth * screen.twipsPerPixelX,
                                     state.VideoHeight * screen.twipsPerPixelY);
    // The rectangle is the whole device window (PutHeightText); the device draws the picture
    // and the box cuts off the rest.
    channel.mciExecute(Catalogue::update(MediaPath, qint64(state.VideoWidth), state.PutHeightText,
                                         form->Picture1->hDC()));
    // Drawn first, shown after: the window never shows an empty picture.
    form->show();
    // A window shown for the first time only now has its frame, which its outer size counts.
    placeCaptureWindow(form, state);
    form->raise();
}
