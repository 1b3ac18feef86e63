// The library's shared state: its module handle, the count of live COM objects behind
// DllCanUnloadNow, and the handler's class id.
#pragma once

#include <windows.h>

namespace tavomenu {

// {815A89D0-4685-4588-B1F0-D33CAB66B63E}. A plain constant: MinGW ignores __declspec(uuid) on
// classes of our own.
extern const CLSID kContextMenuClassId;

// The library itself, where the bitmaps are (Explorer's module has none of them).
HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

// Factories and handlers alive in the process. Explorer runs a thread per window and
// DllCanUnloadNow may come from any of them, so the count is atomic.
void ObjectCreated();
void ObjectDestroyed();
long LiveObjects();

} // namespace tavomenu
