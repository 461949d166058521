#include "shell/frmMain.h"

void frmMain::Command1_Click() {}
void frmMain::Command15_Click() {}
void frmMain::Command2_Click() {}
