// The fuzzing fixture: one daemon per process over a temporary export with known files, its NFS
// gate opened for a fake peer, and the checks that abort the run when a call breaks a promise
// (reply size, reply shape, nothing outside the export read, listed or changed). The checks run
// after every input, so the input that broke a promise is the one libFuzzer saves as the crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "server/rpc/Daemon.h"

namespace fuzzing {

enum class Service { Portmap, Mount, Nfs };

// Handle identifiers count up from this seed in the order the fixture looks objects up, so
// that the corpus and the dictionaries can name live handles.
inline constexpr std::uint32_t kIdSeed = 0x4C554D41;
// The fake client every call comes from (10.1.2.3, network order built at run time).
inline constexpr std::uint32_t kPeerHostOrder = 0x0A010203;
// The sentinel folders beside the export hold this text in their file names and contents; a
// reply that carries it read or listed something outside the export. The fixture never passes
// it to a compared string function while an input runs, so the fuzzer cannot learn it.
inline constexpr char kOutsideMarker[] = "zq7-outside-3c9e1f5a";
// Inputs between two full sentinel checks (which also restore the export's files). After every
// input a change watch on the sentinel folders is asked, which costs one system call.
inline constexpr std::uint64_t kCheckInterval = 1000;

// An object of the seed tree and the handle the fixture got for it. `exportPath` is as MNT
// takes it: "/Films/clip.avi", "/lst/song.mp3".
struct NamedHandle {
    std::string exportPath;
    bool directory = false;
    std::uint32_t id = 0;
};

struct CallResult {
    bool replied = false;
    std::span<const std::uint8_t> reply; // the reply message, record mark excluded
};

class TFuzzFixture {
  public:
    // The process-wide fixture, set up on first use (call it from LLVMFuzzerInitialize, where
    // the fuzzer does not record comparisons); aborts when the set-up fails.
    static TFuzzFixture& Get();
    ~TFuzzFixture();
    TFuzzFixture(const TFuzzFixture&) = delete;
    TFuzzFixture& operator=(const TFuzzFixture&) = delete;

    // Runs one call through ProcessCall and checks the reply; aborts on a violation.
    CallResult Run(Service service, std::span<const std::uint8_t> call, bool tcp);
    // Checks the sentinel watch for what the input did (aborting on anything outside the
    // export), counts it, and every kCheckInterval inputs compares the whole sentinel tree and
    // restores the export's seed files (and the handles for them). When only that comparison
    // finds a change, the inputs since the last one are saved and named in the message.
    void AfterInput(std::span<const std::uint8_t> input);
    // Sentinel check and clean-up, once, at process exit.
    void Finish();

    const std::vector<NamedHandle>& Handles() const { return handles_; }
    std::uint32_t HandleOf(const std::string& exportPath) const;
    std::uint16_t Port(Service service) const;
    server::TDaemon& Daemon() { return *daemon_; }

  private:
    // Keyed by a hash of the path and compared without the path: comparing paths would hand
    // the sentinel names to the fuzzer's comparison hooks.
    struct SnapshotEntry {
        std::string path; // for the report only
        char type = 0;    // 'f' file, 'd' directory, 'o' other
        std::uint64_t size = 0;
        std::uint64_t contentHash = 0;
        std::int64_t writeTime = 0;
        unsigned permissions = 0;
        bool operator==(const SnapshotEntry& other) const {
            return type == other.type && size == other.size && contentHash == other.contentHash &&
                   writeTime == other.writeTime && permissions == other.permissions;
        }
    };
    using Snapshot = std::map<std::uint64_t, SnapshotEntry>;

    TFuzzFixture();
    void BuildTree();
    void RestoreExport();
    void OpenGateAndLookUp();
    Snapshot TakeSnapshot() const;
    void CheckSentinels(const char* when);
    void WatchSentinels();
    // Aborts when the watch saw anything outside the export opened or changed; with
    // `ownWork` the events are the fixture's own (its snapshot, its restore) and are dropped.
    void CheckWatch(bool ownWork);
    std::string SaveRecentInputs() const;
    void CheckReply(const CallResult& result, std::span<const std::uint8_t> call) const;

    std::filesystem::path base_, exportDir_, listDir_;
    Snapshot sentinels_;
    std::unique_ptr<server::TDaemon> daemon_;
    platform::SocketAddress peer_;
    std::vector<NamedHandle> handles_;
    std::uint64_t inputs_ = 0;
    // The inotify descriptor and the folder each of its watches is on.
    int watch_ = -1;
    int nestWatch_ = -1; // the folder that holds both exported folders
    std::map<int, std::string> watchedFolders_;
    // The inputs since the last full check, for its report.
    std::vector<std::vector<std::uint8_t>> recent_;
    std::uint64_t lostSeeds_ = 0;
    bool finished_ = false;
};

// The body of every fuzz target: one input, one call to `service`.
int FuzzOneInput(Service service, const std::uint8_t* data, std::size_t size);

// Ends the process with a message; the run counts as failed.
[[noreturn]] void Violation(const std::string& what);

} // namespace fuzzing
