#include "shell/frmMain.h"

void frmMain::Command3_Click() {}
void frmMain::Command4_Click() {}
void frmMain::Command9_Click() {}
void frmMain::Command10_Click() {}
void frmMain::Command6_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, float, float) {}
void frmMain::Command7_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, float, float) {}
