#include "shell/frmMain.h"

void frmMain::Command11_Click() {}
void frmMain::Command12_Click() {}
void frmMain::Command20_Click() {}
void frmMain::CenterVideoWindow() {}
