// DllMain, the live-object count and the two exports.
#include "shellext/Module.h"

#include "shellext/ClassFactory.h"

#include <atomic>
#include <new>

namespace tavomenu {

namespace {

HMODULE gModule = nullptr;
std::atomic<long> gLiveObjects{0};

} // namespace

const CLSID kContextMenuClassId = {
    0x815A89D0, 0x4685, 0x4588, {0xB1, 0xF0, 0xD3, 0x3C, 0xAB, 0x66, 0xB6, 0x3E}};

HMODULE ModuleHandle() {
    return gModule;
}

void SetModuleHandle(HMODULE module) {
    gModule = module;
}

void ObjectCreated() {
    gLiveObjects.fetch_add(1);
}

void ObjectDestroyed() {
    gLiveObjects.fetch_sub(1);
}

long LiveObjects() {
    return gLiveObjects.load();
}

} // namespace tavomenu

// Only the module handle is kept: nothing else may run under the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        tavomenu::SetModuleHandle(instance);
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID interfaceId, LPVOID* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(classId, tavomenu::kContextMenuClassId))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) tavomenu::CContextMenuClassFactory();
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    // Held for the query: a failing QueryInterface leaves no factory behind.
    factory->AddRef();
    const HRESULT result = factory->QueryInterface(interfaceId, out);
    factory->Release();
    return result;
}

STDAPI DllCanUnloadNow() {
    return tavomenu::LiveObjects() == 0 ? S_OK : S_FALSE;
}
