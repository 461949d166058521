#pragma once

// A QApplication for GUI tests, created once per test binary by the shared main.
class QApplication;
QApplication &testApplication();
