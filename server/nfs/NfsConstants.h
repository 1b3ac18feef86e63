// NFS version 3 status codes and protocol constants.
#pragma once

#include <cstdint>

namespace nfs {

inline constexpr std::uint32_t NFS3_OK = 0;
inline constexpr std::uint32_t NFS3ERR_PERM = 1;
inline constexpr std::uint32_t NFS3ERR_NOENT = 2;
inline constexpr std::uint32_t NFS3ERR_IO = 5;
inline constexpr std::uint32_t NFS3ERR_NXIO = 6;
inline constexpr std::uint32_t NFS3ERR_ACCES = 13;
inline constexpr std::uint32_t NFS3ERR_EXIST = 17;
inline constexpr std::uint32_t NFS3ERR_NOTDIR = 20;
inline constexpr std::uint32_t NFS3ERR_ISDIR = 21;
inline constexpr std::uint32_t NFS3ERR_INVAL = 22;
inline constexpr std::uint32_t NFS3ERR_FBIG = 27;
inline constexpr std::uint32_t NFS3ERR_NOSPC = 28;
inline constexpr std::uint32_t NFS3ERR_ROFS = 30;
inline constexpr std::uint32_t NFS3ERR_NAMETOOLONG = 63;
inline constexpr std::uint32_t NFS3ERR_NOTEMPTY = 66;
inline constexpr std::uint32_t NFS3ERR_STALE = 70;
inline constexpr std::uint32_t NFS3ERR_BADHANDLE = 10001;
inline constexpr std::uint32_t NFS3ERR_NOT_SYNC = 10002;
inline constexpr std::uint32_t NFS3ERR_BAD_COOKIE = 10003;
inline constexpr std::uint32_t NFS3ERR_NOTSUPP = 10004;
inline constexpr std::uint32_t NFS3ERR_SERVERFAULT = 10006;

inline constexpr std::uint32_t NF3REG = 1;
inline constexpr std::uint32_t NF3DIR = 2;

inline constexpr std::uint32_t UNSTABLE = 0;
inline constexpr std::uint32_t DATA_SYNC = 1;
inline constexpr std::uint32_t FILE_SYNC = 2;

inline constexpr std::uint32_t UNCHECKED = 0;
inline constexpr std::uint32_t GUARDED = 1;
inline constexpr std::uint32_t EXCLUSIVE = 2;

// Longest Windows path the procedures accept, in UTF-16 units.
inline constexpr std::size_t kMaxPath = 260;
// Name lengths on the wire: 1 .. kMaxNameBytes - 1.
inline constexpr std::uint32_t kMaxNameBytes = 1024;

// Procedure sizes as FSINFO announces them. A WRITE of wtmax bytes plus its headers must fit
// one record, so wtmax is 4 KiB below the record limit.
inline constexpr std::uint32_t kReadMax = 10485760;
inline constexpr std::uint32_t kWriteMax = 10481664;
inline constexpr std::uint32_t kDirPref = 10485760;
// Over UDP every call and reply is one datagram: READ and WRITE of this size fit one with their
// headers and credentials to spare (a power of two, as clients round sizes down to one).
inline constexpr std::uint32_t kDatagramTransferMax = 32768;

// Maps a Win32 error code to the NFS status reported for a failed file operation.
std::uint32_t WinErrorToNfsStatus(std::uint32_t winError);
// The status of the platform call that just failed; call before anything else touches the
// platform's error.
std::uint32_t LastFileStatus();

} // namespace nfs
