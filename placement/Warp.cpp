#include "shell/frmMain.h"

void frmMain::Form_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, float, float) {}
