#include "shell/frmMain.h"

void frmMain::Command21_Click() {}
