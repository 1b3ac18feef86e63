// ONC RPC, portmapper and MOUNT protocol numbers used by the server.
#pragma once

#include <cstdint>

namespace rpc {

inline constexpr std::uint32_t kMsgCall = 0;
inline constexpr std::uint32_t kMsgReply = 1;
inline constexpr std::uint32_t kRpcVersion = 2;

inline constexpr std::uint32_t kMsgAccepted = 0;
inline constexpr std::uint32_t kMsgDenied = 1;

// accept_stat
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kProgUnavail = 1;
inline constexpr std::uint32_t kProgMismatch = 2;
inline constexpr std::uint32_t kProcUnavail = 3;
inline constexpr std::uint32_t kGarbageArgs = 4;

// reject_stat and auth_stat
inline constexpr std::uint32_t kRpcMismatch = 0;
inline constexpr std::uint32_t kAuthError = 1;
inline constexpr std::uint32_t kAuthTooWeak = 5;

inline constexpr std::uint32_t kAuthNone = 0;

inline constexpr std::uint32_t kProtocolTcp = 6;
inline constexpr std::uint32_t kProtocolUdp = 17;

inline constexpr std::uint32_t kPortmapProgram = 100000;
inline constexpr std::uint32_t kPortmapVersion = 2;
inline constexpr std::uint32_t kMountProgram = 100005;
inline constexpr std::uint32_t kMountVersion = 3;
inline constexpr std::uint32_t kNfsProgram = 100003;
inline constexpr std::uint32_t kNfsVersion = 3;

// mountstat3
inline constexpr std::uint32_t kMnt3Ok = 0;
inline constexpr std::uint32_t kMnt3ErrNoEnt = 2;
inline constexpr std::uint32_t kMnt3ErrAcces = 13;
inline constexpr std::uint32_t kMnt3ErrNotDir = 20;
inline constexpr std::uint32_t kMnt3ErrNameTooLong = 63;

} // namespace rpc
