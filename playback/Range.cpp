#include "shell/frmMain.h"

void frmMain::Command16_Click() {}
void frmMain::Command17_Click() {}
void frmMain::Command18_Click() {}
