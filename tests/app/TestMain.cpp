// Entry point of the application tests: the program's own application object (so that failures
// escaping event handlers reach the failure report), then GoogleTest. Run with the offscreen
// platform (QT_QPA_PLATFORM=offscreen) where there is no display.
#include "app/TApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    gq::app::TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
