// Lumavert.exe's entry point.
#include <windows.h>

#include "manager/win32/KestroApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    manager::CKestroApp app;
    return app.Run();
}
