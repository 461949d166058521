#include "shell/frmMain.h"

void frmMain::Command19_Click() {}
