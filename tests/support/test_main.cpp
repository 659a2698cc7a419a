// GoogleTest main for tests that need the application object (Qt, hidden
// windows, forms). Runs on the offscreen platform unless a display is asked for.
#include "forms.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    TApplication app;
    return RUN_ALL_TESTS();
}
