// Test entry point shared by the native and the Windows test programs.
#include <gtest/gtest.h>

#include "common/platform/Socket.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    platform::StartSocketLibrary();
    return RUN_ALL_TESTS();
}
