// The driver's entry point: an STA thread, as Explorer's window threads are.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "tests/win32/shellext/DriverCommands.h"
#include "tests/win32/shellext/DriverSupport.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    driver::StartDebugCapture();
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 3;
    int exitCode = 0;
    if (driver::RunCommand(exitCode)) {
        ::CoUninitialize();
        return exitCode;
    }
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
