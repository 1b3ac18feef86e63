// TDaemon: the server thread. It owns the sockets of the portmapper, MOUNT and NFS services,
// receives one call at a time, checks the caller, dispatches to the procedure and sends the
// reply. Every procedure is an operation of TDaemon that reads the request buffer, writes the
// reply buffer and returns true to have the reply sent.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/platform/FileSystem.h"
#include "common/platform/Socket.h"
#include "server/nfs/ObjectHandles.h"
#include "server/nfs/ReadDirHandles.h"
#include "server/rpc/Clock.h"
#include "server/rpc/Mounts.h"
#include "server/rpc/XdrBuffer.h"
#include "server/rpc/XdrCodec.h"

namespace server {

struct ServicePorts {
    std::uint16_t portmap = 111;
    std::uint16_t mount = 635;
    std::uint16_t nfs = 2049;
};

// What set-up does when another program holds the portmapper port.
enum class PortmapperTaken {
    Refuse,   // say who is there and start nothing (Server.exe)
    Register, // when it is a portmapper, register MOUNT and NFS with it instead of running one
              // (as the system's own NFS services do on Linux); unregister at the end
};

// The port that set-up could not use, for a front-end that can say more than the error text
// (who holds it, what to do).
struct PortConflict {
    std::uint16_t port = 0; // 0: none
    bool tcp = true;
    // Winsock numbering; 0 when the port is taken by a service registered with the portmapper.
    int socketError = 0;
};

// A TCP record that has begun must be complete within this time, or the connection is closed,
// so that one stalled client cannot hold up the others.
inline constexpr int kRecordReceiveTimeoutMs = 10000;
// One send of a reply waits at most this long for its client to take data. A client that stopped
// reading loses its connection after at most two such waits (the first may still have moved a
// part of the reply), for the same reason.
inline constexpr int kReplySendTimeoutMs = 5000;
// Alignment that bulk copies want.
inline constexpr std::uint32_t kPageSize = 4096;
// Write files unused for this long are closed by the idle sweep.
inline constexpr std::uint32_t kIdleFileMs = 60000;

// The daemon's time-outs: the constants above unless a test asks for others.
struct DaemonTimes {
    int recordReceiveMs = kRecordReceiveTimeoutMs;
    int replySendMs = kReplySendTimeoutMs;
    std::uint32_t idleFileMs = kIdleFileMs;
};

class TDaemon {
  public:
    // Sets everything up; on failure ErrorText() tells why (the texts users see). `idSeed`
    // seeds the handle and reading identifiers; 0 picks a random seed (a fixed one is only for
    // fuzzing, which needs handles it can know in advance).
    TDaemon(std::u16string_view root, std::uint32_t codePage, std::u16string_view listFolder,
            ServicePorts ports = {}, std::uint32_t idSeed = 0,
            PortmapperTaken whenTaken = PortmapperTaken::Refuse);
    ~TDaemon();
    TDaemon(const TDaemon&) = delete;
    TDaemon& operator=(const TDaemon&) = delete;

    const std::string& ErrorText() const { return errorText_; }
    const ServicePorts& Ports() const { return ports_; }
    const PortConflict& Conflict() const { return conflict_; }
    // MOUNT and NFS are registered with another portmapper, which answers for this server.
    bool UsesSystemPortmapper() const { return registered_; }

    // Before Start only.
    void AddAllowedHost(std::string_view host);
    // Before Start only: the clock the daemon reads (the platform's by default), which must
    // outlive it, and its time-outs.
    void SetClock(const TClock& clock, const DaemonTimes& times = {});
    // Starts the thread; false when set-up failed.
    bool Start();
    // Asks the thread to stop (polled at least once a second) and waits for it.
    void Stop();

    bool IsHostAllowed(std::uint32_t address) const;
    bool HasMountedClient(std::uint32_t address) const;

    // Decodes the call in the request buffer and builds the reply in the reply buffer.
    // `localPort` chooses the service. Returns whether a reply is to be sent; `closeConnection`
    // is set when the call's first word could not be read (a TCP connection then ends).
    // Used by the loop, and directly by tests and fuzzing.
    bool ProcessCall(std::uint16_t localPort, bool tcp, const platform::SocketAddress& peer,
                     bool& closeConnection);
    rpc::XdrBuffer& RequestBuffer() { return request_; }
    rpc::XdrBuffer& ReplyBuffer() { return reply_; }
    TObjectHandles& Handles() { return *handles_; }

  private:
    using Procedure = bool (TDaemon::*)();
    struct ProcedureEntry {
        std::uint32_t number;
        Procedure handler;
    };
    struct Connection;
    struct LoopState;
    // What the program on the portmapper port said about itself.
    struct PortmapperProbe {
        bool answered = false; // a DUMP reply came: it is a portmapper
        bool portmapUdp = false;
        PortConflict mount, nfs; // port 0: no version 3 registered
    };
    enum class LocalCall { SendFailed, NoAnswer, Answered };

    // Set-up and the loop.
    void SetUpSockets();
    bool SetUpService(platform::Socket& tcp, platform::Socket& udp, std::uint16_t& port);
    bool ProbePortmapper(PortmapperProbe& probe);
    // One call to the portmapper on the local portmapper port; Answered leaves the reader at
    // the results of an accepted, successful reply.
    LocalCall CallLocalPortmapper(platform::Socket& socket, std::uint32_t xid,
                                  std::uint32_t procedure,
                                  std::initializer_list<std::uint32_t> arguments);
    platform::SocketAddress LocalPortmapper() const;
    void SetUpWithSystemPortmapper(const PortmapperProbe& probe);
    bool RegisterWithPortmapper();
    void UnregisterFromPortmapper();
    // The loop and its steps: wait for ready sockets, take new connections, serve the calls
    // that have come, close the connections that are done.
    void Execute();
    // Fills the select set for one round; returns how long the round may wait.
    int FillSelectSet(LoopState& loop);
    void AcceptConnections(LoopState& loop);
    void ServeDatagrams(const LoopState& loop);
    void ServeConnections(LoopState& loop);
    // Receives one record of the connection and answers it; false when the connection ends.
    bool ServeConnection(Connection& connection);
    void ServeDatagram(platform::Socket& socket);
    bool ReceiveRecord(platform::Socket& socket, std::uint32_t shift = 0);
    bool SendReply(platform::Socket& socket, bool tcp, const platform::SocketAddress& peer);
    void IdleSweep();
    bool Dispatch(std::uint16_t localPort, std::uint32_t program, std::uint32_t version,
                  std::uint32_t procedure);

    // Portmapper.
    bool PortmapNull();
    bool PortmapGetPort();
    bool PortmapDump();
    bool PortmapGetTime();

    // MOUNT.
    bool MountNull();
    bool MountMnt();
    bool MountUmnt();
    bool MountUmntAll();
    bool MountDump();
    bool MountExport();
    bool ReadDirPath(std::string& path);

    // NFS: lookup, attributes and access.
    bool NfsNull();
    bool NfsGetAttr();
    bool NfsSetAttr();
    bool NfsLookup();
    bool NfsAccess();
    // NFS: reading and writing.
    bool NfsRead();
    bool NfsWrite();
    bool NfsCommit();
    bool ReadThroughWriteFile(const TObjectHandle& entry, platform::File& file,
                              std::uint64_t offset, std::uint32_t count);
    // NFS: directory listing.
    bool NfsReadDir();
    bool NfsReadDirPlus();
    bool BeginListing(std::uint32_t id, std::uint64_t cookie, std::uint64_t& verifier,
                      TDirHandle*& directory, TReadDirReading*& reading);
    TObjectHandle* ListedObject(TReadDirReading& reading, std::size_t k, TDirHandle* directory);
    // NFS: namespace changes and file-system information.
    bool NfsCreate();
    bool NfsMkDir();
    bool NfsRemove();
    bool NfsRmDir();
    bool RemoveObject(bool (*remove)(std::u16string_view));
    bool NfsRename();
    bool NfsFsStat();
    bool NfsFsInfo();
    bool NfsPathConf();

    // Shared by the NFS procedures.
    // Reads an nfs_fh3: false (garbage) unless its length is 4.
    bool ReadHandle(std::uint32_t& id);
    // NFS3_OK with the entry, NFS3ERR_BADHANDLE for 0, NFS3ERR_STALE for no live entry.
    std::uint32_t ResolveHandle(std::uint32_t id, TObjectHandle*& entry);
    std::uint32_t ResolveDirectory(std::uint32_t id, TDirHandle*& directory);
    // Reads a file name (1..1023 bytes, kept whole); false (garbage) otherwise.
    bool ReadName(std::string& name);
    // NFS3ERR_ACCES for a name that is not one name of `directory` (a zero character or a
    // separator in it) or that leaves the export; NFS3_OK otherwise.
    std::uint32_t NameStatus(const TDirHandle& directory, std::u16string_view name) const;
    // The same for a name that REMOVE, RMDIR or RENAME acts on, which must not be "." or ".."
    // nor reach an exported folder.
    std::uint32_t ChangedNameStatus(const TDirHandle& directory, std::u16string_view name) const;
    std::u16string NameToWide(std::string_view bytes) const;
    std::string NameToWire(std::u16string_view name) const;
    bool WriteHandle(const TObjectHandle& entry);
    bool WriteAcceptStatus(std::uint32_t status) { return writer_.WriteUInt32(status); }
    // Closes the read slot's file if it belongs to `entryId` (or always, with 0).
    void ReleaseReadSlot(std::uint32_t entryId = 0);
    // Closes the read slot's file when its entry has left the table.
    void ReleaseOrphanedReadSlot();
    // Before REMOVE, RMDIR or RENAME of `name` in `directory`: closes the server's own files of
    // that object and of everything below it (write files, the read slot).
    void ReleaseFilesAt(const TDirHandle& directory, std::u16string_view name);
    // For an entry whose object could not be opened or asked (`otherwise`: the status for that,
    // computed first, as it reads the platform's error): NFS3ERR_STALE when the object is gone
    // from the disk, its entry and everything found through it then dropped (the entry must not
    // be used after that); `otherwise` when it is still there.
    std::uint32_t StaleIfGone(TObjectHandle& entry, std::uint32_t otherwise);

    // Configuration.
    std::uint32_t codePage_;
    ServicePorts ports_;
    PortmapperTaken whenTaken_;
    std::string errorText_;
    PortConflict conflict_;
    const TClock* clock_ = &PlatformClock();
    DaemonTimes times_;
    bool registered_ = false;

    // Client filter and the file-system state.
    TMounts mounts_;
    TAllowedAddrs allowed_;
    std::vector<std::string> exportGroups_; // the allowed hosts as written, for EXPORT
    std::unique_ptr<TObjectHandles> handles_;
    std::unique_ptr<TReadDirHandles> readDirs_;

    // Sockets.
    platform::Socket portmapTcp_, portmapUdp_;
    platform::Socket mountTcp_, mountUdp_;
    platform::Socket nfsTcp_, nfsUdp_;

    // The call in progress.
    rpc::XdrBuffer request_;
    rpc::XdrBuffer reply_;
    rpc::XdrReader reader_{request_};
    rpc::XdrWriter writer_{reply_};
    platform::Socket* currentSocket_ = nullptr;
    std::uint32_t currentProtocol_ = 0;
    // What the reply of the call may hold, record mark included: one TCP record or one datagram.
    // READ answers a short count and the listings fewer entries to stay within it.
    std::uint32_t replyLimit_ = rpc::kMessageLimit;
    platform::SocketAddress peer_;

    // Where the call in progress starts in the request buffer, and where the next TCP record
    // is placed so that WRITE data (same header length as the last WRITE) begins on a page
    // boundary: the copies from the socket and into the file run several times faster so.
    std::uint32_t recordStart_ = 0;
    std::uint32_t writeDataShift_ = 0;

    // READ keeps the last file read open for the next READ.
    std::uint32_t readSlotEntryId_ = 0;
    platform::File readSlotFile_;

    // Thread.
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::uint32_t lastSweepMs_ = 0;
};

} // namespace server
