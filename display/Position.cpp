#include "shell/frmMain.h"

void frmMain::Timer1_Timer() {}
void frmMain::UpdateTimeLabel() {}
void frmMain::Slider1_Change() {}
void frmMain::Label1_DblClick() {}
