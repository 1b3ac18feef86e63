// The adapter list from GetAdaptersInfo, the host name and socket error texts on Windows.
#include "common/platform/Network.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <memory>

#include "common/platform/Socket.h"

namespace platform {

namespace {

// The first try takes one adapter's record; a larger table says how much it needs.
constexpr ULONG kFirstTableSize = 648;

struct HeapDeleter {
    void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using HeapBlock = std::unique_ptr<void, HeapDeleter>;

HeapBlock Allocate(ULONG size) {
    return HeapBlock(HeapAlloc(GetProcessHeap(), 0, size));
}

} // namespace

AdapterListStatus ReadAdapterList(std::vector<AdapterInfo>& adapters, int& error) {
    adapters.clear();
    error = 0;
    ULONG size = kFirstTableSize;
    HeapBlock table = Allocate(size);
    if (!table)
        return AdapterListStatus::NoMemory;
    if (GetAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(table.get()), &size) ==
        ERROR_BUFFER_OVERFLOW) {
        table.reset();
        table = Allocate(size);
        if (!table)
            return AdapterListStatus::NoMemory;
    }
    const DWORD status = GetAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(table.get()), &size);
    if (status != NO_ERROR) {
        error = static_cast<int>(status);
        return AdapterListStatus::Failed;
    }
    for (const IP_ADAPTER_INFO* adapter = static_cast<const IP_ADAPTER_INFO*>(table.get());
         adapter != nullptr; adapter = adapter->Next) {
        AdapterInfo info;
        info.name = adapter->AdapterName;
        const UINT length = adapter->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH
                                ? adapter->AddressLength
                                : MAX_ADAPTER_ADDRESS_LENGTH;
        info.hardwareAddress.assign(adapter->Address, adapter->Address + length);
        for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry != nullptr;
             entry = entry->Next)
            info.addresses.push_back(AdapterAddress{entry->IpAddress.String, entry->IpMask.String});
        adapters.push_back(std::move(info));
    }
    return AdapterListStatus::Ok;
}

bool GetLocalHostName(std::string& name) {
    name.clear();
    if (!StartSocketLibrary())
        return false;
    char buffer[128] = {};
    if (gethostname(buffer, static_cast<int>(sizeof(buffer) - 1)) != 0)
        return false;
    name = buffer;
    return !name.empty();
}

std::u16string SocketErrorText(int wsaError) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(wsaError), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        const std::wstring number = std::to_wstring(wsaError);
        return u"Unknown error " + std::u16string(number.begin(), number.end());
    }
    std::u16string out(reinterpret_cast<const char16_t*>(text), length);
    LocalFree(text);
    while (!out.empty() && (out.back() == u'\r' || out.back() == u'\n' || out.back() == u' '))
        out.pop_back();
    return out;
}

} // namespace platform
