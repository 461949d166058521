#include "tests/support/QtApp.h"

#include <gtest/gtest.h>

// Every test binary gets a QApplication before its first test: widgets, timers and the
// clipboard all need one.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    testApplication();
    return RUN_ALL_TESTS();
}
