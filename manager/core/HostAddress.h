// Who this PC is on the LAN: host name, address, the MAC and mask of the adapter carrying the
// address, and the directed broadcast address derived from them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/Network.h"
#include "manager/core/DiscoveryPacket.h"
#include "manager/core/ManagerPort.h"

namespace manager {

// Both host name buffers hold 128 bytes with their terminator.
inline constexpr std::size_t kHostNameBytes = 128;
inline constexpr int kLookupNoAddress = 200;

// The results of the last lookup, overwritten by each one. MAC and mask keep their earlier
// values when the adapter is not found; the mask is 0 until a lookup finds it, which makes the
// broadcast address 255.255.255.255.
struct HostIdentity {
    std::string hostName;      // ANSI code page
    std::string hostNameUtf8;  // at most 127 bytes, cut at a whole character
    std::uint32_t address = 0; // network byte order
    std::string addressText;
    MacAddress mac{};
    bool macKnown = false;
    std::uint32_t mask = 0; // network byte order
    std::string broadcastText;
};

// "%d.%d.%d.%d", first octet first.
std::string DottedText(std::uint32_t networkOrder);
// Four decimal octets separated by dots; 255.255.255.255 is as good as any other.
bool ParseDottedQuad(std::string_view text, std::uint32_t& networkOrder);

// UTF-16 to UTF-8 cut at a whole character so that it fits `capacity` bytes with a zero.
std::string Utf8CutToFit(std::u16string_view text, std::size_t capacity);

// Results of FindAdapterByAddress.
inline constexpr int kAdapterFound = 0;
inline constexpr int kAdapterNoMemory = 1;
inline constexpr int kAdapterTableFailed = 2;
inline constexpr int kAdapterNotFound = -1;
inline constexpr int kAdapterNotEthernet = -2;

// Walks every address of every adapter; the last exact match of `addressText` decides.
int MatchAdapter(const std::vector<platform::AdapterInfo>& adapters, std::string_view addressText,
                 MacAddress& mac, std::uint32_t& mask);

// Reads the adapter table through the port, then MatchAdapter.
int FindAdapterByAddress(IManagerPort& port, std::string_view addressText, MacAddress& mac,
                         std::uint32_t& mask);

// 0, or 200 when the host name yields no address.
int LookUpHostAddress(IManagerPort& port, HostIdentity& host);

} // namespace manager
