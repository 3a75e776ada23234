// Entry point of the application tests: the program's own application object (so that failures
// escaping event handlers reach the failure report), then GoogleTest. Without a display (CI, and
// the test listing at build time) the offscreen platform is used.
// SPDX-License-Identifier: Apache-2.0
#include "app/TApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    gq::app::TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
