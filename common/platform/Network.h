// What the manager asks the system about its own network: the adapter list, the host name and
// the text of a socket error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One IPv4 address of an adapter, both parts as dotted text ("192.0.2.1", "255.255.255.0").
struct AdapterAddress {
    std::string address;
    std::string mask;
};

struct AdapterInfo {
    std::string name;
    // As long as the system reports it: 6 bytes for Ethernet, none for a link without one.
    std::vector<std::uint8_t> hardwareAddress;
    // Aliases of the interface are listed under it, in the system's order.
    std::vector<AdapterAddress> addresses;
};

enum class AdapterListStatus {
    Ok,
    NoMemory, // the table's buffer could not be allocated
    Failed,   // the system refused the table; `error` holds its code
};

// The system's adapters without loopback.
AdapterListStatus ReadAdapterList(std::vector<AdapterInfo>& adapters, int& error);

// The host name in the ANSI code page, at most 127 bytes (it fills a 128-byte buffer). False
// (and an empty name) when the system gives none.
bool GetLocalHostName(std::string& name);

// A readable text for a socket error in Winsock numbering.
std::u16string SocketErrorText(int wsaError);

} // namespace platform
