#include "shell/frmMain.h"

#include <QCloseEvent>

void frmMain::Form_Load() {}
void frmMain::Form_Unload() {}
void frmMain::Command5_Click() {}
void frmMain::setExitHandler(std::function<void()>) {}
void frmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}
