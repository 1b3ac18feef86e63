// Device discovery: the broadcast exchange that rebuilds the target table (SearchTargets), the
// lighter refresh of the device list (UDP_Client_Send), and DiscoverTargets around them.
#pragma once

#include <cstdint>
#include <string_view>

#include "manager/core/HostAddress.h"
#include "manager/core/ManagerPort.h"
#include "manager/core/TargetTable.h"

namespace manager {

// Discovery error codes.
inline constexpr int kDiscoveryOk = 0;
inline constexpr int kDiscoveryNoSocketLibrary = 1;
inline constexpr int kDiscoveryNoSocket = 2;
inline constexpr int kDiscoveryBindFailed = 3;
inline constexpr int kDiscoverySendFailed = 4;
inline constexpr int kDiscoveryTimeout = 5;
inline constexpr int kDiscoveryBadDatagram = 100;
inline constexpr int kDiscoveryNoAddress = 200;
inline constexpr int kDiscoveryNoValidDevice = 201;

inline constexpr int kSearchWaitMs = 100;
inline constexpr int kRefreshWaitMs = 50;
// However often datagrams come, an exchange ends this long after its first request: the idle
// count alone never ends one while answers arrive faster than the wait.
inline constexpr std::uint32_t kExchangeLimitMs = 10000;

// What the main dialog keeps between runs: the lookup's results and the last error.
struct DiscoveryContext {
    HostIdentity host;
    int lastError = 0;
};

// Waits up to `ms` for a datagram; a failed wait counts as one that found nothing.
bool WaitReadable(IDatagramSocket& socket, int ms);

// The full exchange: 100 ms waits (each from the end of the one before), answers merged into
// `table` (checked with the MAC echo). Always ends with 1 to 5.
int SearchTargets(IManagerPort& port, std::string_view broadcastText, std::uint16_t targetPort,
                  TargetTable& table, const MacAddress& mac);

// The refresh exchange on a working copy of the table: 50 ms waits with one dialog message
// pumped in each empty one, no MAC echo check, 100 on any datagram that fails the checks.
int UDP_Client_Send(IManagerPort& port, const HostIdentity& host, TargetTable& table,
                    bool& validChanged, bool& anyChanged);

// LookUpHostAddress, then SearchTargets from an empty table; leaves the error in
// context.lastError and shows the error box (with `boxTicket`) when no free player was found.
void DiscoverTargets(IManagerPort& port, DiscoveryContext& context, TargetTable& table,
                     DialogTicket boxTicket = {});

} // namespace manager
