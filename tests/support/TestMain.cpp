// Entry point of every test executable: GoogleTest with a QCoreApplication-free main; tests that
// need Qt create their application object themselves.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
