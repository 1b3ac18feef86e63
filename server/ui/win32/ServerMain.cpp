// Server.exe entry point (placeholder until the settings front-end lands).
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
