#include "shell/frmMain.h"

void frmMain::Command13_Click() {}
void frmMain::Command14_Click() {}
