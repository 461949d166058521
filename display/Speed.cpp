#include "shell/frmMain.h"

void frmMain::Slider2_Change() {}
void frmMain::Label2_DblClick() {}
