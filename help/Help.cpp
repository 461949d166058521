#include "help/Form2.h"
#include "platform/windowing/ScreenMetrics.h"
#include "shell/frmMain.h"

// The help button: the one help window, at its design size and centred on the screen,
// modeless, so the panel goes on working beside it.

namespace {

constexpr float kHelpWidth = 8900;
constexpr float kHelpHeight = 6500;

void placeHelpWindow(Form2 *form)
{
    form->geometry.setWidth(kHelpWidth);
    form->geometry.setHeight(kHelpHeight);
    const windowing::ScreenMetrics screen = windowing::screenMetrics();
    form->geometry.setTop((screen.heightTwips - float(form->geometry.height())) / 2);
    form->geometry.setLeft((screen.widthTwips - float(form->geometry.width())) / 2);
}

} // namespace

void frmMain::Command21_Click()
{
    Form2 *form = Form2::instance();
    placeHelpWindow(form);
    form->show();
    // A window shown for the first time only now has its frame; the outer size and the
    // centre count the frame, so they are set once more.
    placeHelpWindow(form);
    form->raise();
    form->activateWindow();
}
