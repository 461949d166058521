#include "shell/frmMain.h"

void frmMain::Command8_Click() {}
