// The fuzzing fixture: the temporary export and its sentinels, the daemon, the one-call runner
// and the invariant checks.
#include "fuzz/FuzzFixture.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <system_error>

#include "common/platform/Clock.h"
#include "common/platform/Socket.h"
#include "tests/support/RpcClient.h"

namespace fuzzing {
namespace fs = std::filesystem;

namespace {

// The export's seed tree. Paths below "lst/" live in the list folder ("/lst" on the wire).
struct SeedObject {
    const char* path;
    bool directory;
    std::size_t size;
};
constexpr SeedObject kSeedTree[] = {
    {"movie.mkv", false, 65536},
    {"notes.txt", false, 20},
    {"empty.dat", false, 0},
    {"Films", true, 0},
    {"Films/clip.avi", false, 8192},
    {"Films/Deep", true, 0},
    {"Films/Deep/inner.txt", false, 6},
    {"Empty", true, 0},
    {"lst/list.txt", false, 12},
    {"lst/song.mp3", false, 4096},
};
constexpr std::string_view kListPrefix = "lst/";

// Beside and above the export: what no call may read, list or change.
constexpr const char* kSentinelFiles[] = {
    "zq7-outside-top.txt",
    "nest/zq7-outside-name.txt",
    "nest/sentinel/zq7-outside-secret.txt",
    "nest/sentinel/Sub/zq7-outside-deep.bin",
};

std::string ExportPathOf(std::string_view seedPath) {
    if (seedPath.substr(0, kListPrefix.size()) == kListPrefix)
        return "/lst/" + std::string(seedPath.substr(kListPrefix.size()));
    return "/" + std::string(seedPath);
}

std::string ParentExportPath(const std::string& exportPath) {
    const std::size_t slash = exportPath.rfind('/');
    return slash == 0 ? "/" : exportPath.substr(0, slash);
}

// Deterministic contents, different for every path.
std::string SeedContent(std::string_view path, std::size_t size) {
    std::uint32_t state = 2166136261u;
    for (char c : path)
        state = (state ^ static_cast<std::uint8_t>(c)) * 16777619u;
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

bool WriteWhole(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

__attribute__((no_sanitize("coverage"))) std::uint64_t Fnv1a(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : bytes)
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    return hash;
}

std::uint32_t LoadWord(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

// Not instrumented: with comparison tracing the fuzzer would learn the marker from this very
// search and then write it into the export itself.
__attribute__((no_sanitize("coverage"))) bool ContainsMarker(std::span<const std::uint8_t> bytes) {
    const std::size_t length = sizeof kOutsideMarker - 1;
    if (bytes.size() < length)
        return false;
    for (std::size_t i = 0; i + length <= bytes.size(); ++i) {
        if (bytes[i] != static_cast<std::uint8_t>(kOutsideMarker[0]))
            continue;
        std::size_t k = 1;
        while (k < length && bytes[i + k] == static_cast<std::uint8_t>(kOutsideMarker[k]))
            ++k;
        if (k == length)
            return true;
    }
    return false;
}

void AtExit() {
    TFuzzFixture::Get().Finish();
}

// The events of the sentinel watch that mean something outside the export was opened (read or
// listed) or changed.
constexpr std::uint32_t kWatchedEvents = IN_OPEN | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                         IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                         IN_MOVED_FROM | IN_MOVED_TO;
// What the exported folders themselves may see from their parent's watch: they are opened,
// listed and changed (their times, their contents) by design; only that they stay counts.
constexpr std::uint32_t kExportFolderEvents = IN_OPEN | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE;

__attribute__((no_sanitize("coverage"))) bool SameName(const char* name, std::string_view wanted) {
    return std::string_view(name) == wanted;
}

} // namespace

[[noreturn]] void Violation(const std::string& what) {
    std::fprintf(stderr, "\n==== LUMAVERT FUZZ VIOLATION: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

TFuzzFixture& TFuzzFixture::Get() {
    // Never destroyed: Finish() releases the daemon and the files at exit.
    static TFuzzFixture* fixture = [] {
        auto* made = new TFuzzFixture();
        std::atexit(AtExit);
        return made;
    }();
    return *fixture;
}

TFuzzFixture::TFuzzFixture() {
    platform::StartSocketLibrary();
    std::error_code error;
    const fs::path temp = fs::temp_directory_path(error);
    if (error)
        Violation("no temporary folder");
    std::random_device device;
    base_ = temp / ("lumavert-fuzz-" + std::to_string(getpid()) + "-" + std::to_string(device()));
    exportDir_ = base_ / "nest" / "export";
    listDir_ = base_ / "nest" / "list";
    BuildTree();
    sentinels_ = TakeSnapshot();

    peer_ = platform::SocketAddress{platform::HostToNetwork32(kPeerHostOrder), 700};
    daemon_ = std::make_unique<server::TDaemon>(exportDir_.u16string(), 65001, listDir_.u16string(),
                                                server::ServicePorts{0, 0, 0}, kIdSeed);
    if (!daemon_->ErrorText().empty())
        Violation("daemon set-up failed: " + daemon_->ErrorText());
    OpenGateAndLookUp();
    WatchSentinels();
}

void TFuzzFixture::WatchSentinels() {
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0)
        Violation("no inotify for the sentinel watch");
    for (const fs::path& folder : {base_, base_ / "nest", base_ / "nest" / "sentinel",
                                   base_ / "nest" / "sentinel" / "Sub"}) {
        const int key = inotify_add_watch(watch_, folder.c_str(), kWatchedEvents);
        if (key < 0)
            Violation("cannot watch " + folder.string());
        watchedFolders_[key] = folder.string();
        if (folder == base_ / "nest")
            nestWatch_ = key;
    }
}

void TFuzzFixture::CheckWatch(bool ownWork) {
    alignas(inotify_event) char events[16384];
    for (;;) {
        const ssize_t got = ::read(watch_, events, sizeof events);
        if (got <= 0)
            return;
        if (ownWork)
            continue;
        for (const char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW)
                Violation("the sentinel watch lost events");
            if (event->mask & IN_IGNORED)
                continue;
            const char* name = event->len > 0 ? event->name : "";
            const bool exportFolder = (event->mask & IN_ISDIR) && event->wd == nestWatch_ &&
                                      (SameName(name, "export") || SameName(name, "list"));
            if (exportFolder && (event->mask & ~(kExportFolderEvents | IN_ISDIR)) == 0)
                continue;
            const auto folder = watchedFolders_.find(event->wd);
            const std::string where = folder != watchedFolders_.end() ? folder->second : "?";
            char mask[16];
            std::snprintf(mask, sizeof mask, "0x%x", event->mask);
            Violation("this input reached outside the export: event " + std::string(mask) + " on " +
                      where + (event->len > 0 ? "/" + std::string(name) : ""));
        }
    }
}

TFuzzFixture::~TFuzzFixture() {
    Finish();
}

void TFuzzFixture::BuildTree() {
    std::error_code error;
    fs::create_directories(base_ / "nest" / "sentinel" / "Sub", error);
    fs::create_directories(exportDir_, error);
    fs::create_directories(listDir_, error);
    for (const char* name : kSentinelFiles) {
        if (!WriteWhole(base_ / name, std::string(kOutsideMarker) + "content of " + name))
            Violation("cannot write sentinel " + std::string(name));
    }
    RestoreExport();
}

// Puts the seed tree back as it was made: extra objects go, missing or changed ones return.
void TFuzzFixture::RestoreExport() {
    std::set<fs::path> wanted{exportDir_, listDir_};
    for (const SeedObject& object : kSeedTree) {
        const std::string_view path = object.path;
        const bool inList = path.substr(0, kListPrefix.size()) == kListPrefix;
        wanted.insert(inList ? listDir_ / path.substr(kListPrefix.size()) : exportDir_ / path);
    }
    std::error_code error;
    for (const fs::path& top : {exportDir_, listDir_}) {
        std::vector<fs::path> extra;
        for (auto it = fs::recursive_directory_iterator(top, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (wanted.count(it->path()) == 0) {
                extra.push_back(it->path());
                it.disable_recursion_pending();
            }
        }
        error.clear();
        for (const fs::path& path : extra)
            fs::remove_all(path, error);
    }
    for (const SeedObject& object : kSeedTree) {
        const std::string_view path = object.path;
        const bool inList = path.substr(0, kListPrefix.size()) == kListPrefix;
        const fs::path disk =
            inList ? listDir_ / path.substr(kListPrefix.size()) : exportDir_ / path;
        const fs::file_status status = fs::symlink_status(disk, error);
        if (object.directory) {
            if (!fs::is_directory(status)) {
                fs::remove_all(disk, error);
                fs::create_directories(disk, error);
            }
        } else {
            // The size first: a file grown to terabytes (sparse) is not read to find out.
            const std::string content = SeedContent(path, object.size);
            if (!fs::is_regular_file(status) || fs::file_size(disk, error) != object.size ||
                ReadWhole(disk) != content) {
                fs::remove_all(disk, error);
                if (!WriteWhole(disk, content))
                    Violation("cannot restore " + disk.string());
            }
        }
        fs::permissions(disk, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                        error);
    }
}

// MNT of the export and the list folder from the fake peer, then a LOOKUP of every seed object,
// all through the same call path the fuzzer uses.
void TFuzzFixture::OpenGateAndLookUp() {
    handles_.clear();
    std::uint32_t xid = 0x7F000000;
    const auto call = [&](Service service, std::uint32_t procedure, const rpctest::XdrArgs& args) {
        rpctest::CallHeader header;
        header.xid = ++xid;
        header.program = service == Service::Mount ? rpctest::kMountProgram : rpctest::kNfsProgram;
        header.version = 3;
        header.procedure = procedure;
        const rpctest::Bytes message = rpctest::BuildCall(header, args);
        const CallResult result = Run(service, message, false);
        if (!result.replied)
            Violation("fixture call got no reply");
        return rpctest::ParseReply(rpctest::Bytes(result.reply.begin(), result.reply.end()));
    };
    std::uint32_t status = 0;
    const auto readHandle = [&status](rpctest::RpcReply& reply) -> std::uint32_t {
        status = reply.Succeeded() ? reply.body.GetUInt32() : 0xFFFFFFFFu;
        if (status != 0)
            return 0;
        const rpctest::Bytes handle = reply.body.GetOpaque(64);
        return handle.size() == 4 ? LoadWord(handle.data()) : 0;
    };

    for (const char* path : {"/", "/lst"}) {
        rpctest::RpcReply reply = call(Service::Mount, 1, rpctest::XdrArgs().PutString(path));
        const std::uint32_t id = readHandle(reply);
        if (id == 0)
            Violation(std::string("fixture MNT failed: ") + path + ", status " +
                      std::to_string(status));
        handles_.push_back({path, true, id});
    }
    for (const SeedObject& object : kSeedTree) {
        const std::string exportPath = ExportPathOf(object.path);
        const std::string parent = ParentExportPath(exportPath);
        const std::string name = exportPath.substr(exportPath.rfind('/') + 1);
        rpctest::RpcReply reply =
            call(Service::Nfs, 3, rpctest::XdrArgs().PutHandle(HandleOf(parent)).PutString(name));
        const std::uint32_t id = readHandle(reply);
        // After a restore a name may have changed its type behind the daemon's back (a folder
        // the fuzzer made where a seed file was): the table keeps the old entry, and LOOKUP of
        // the name fails until a restart. Only the first set-up must find everything.
        if (id == 0 && inputs_ == 0)
            Violation("fixture LOOKUP failed: " + exportPath + ", status " +
                      std::to_string(status));
        if (id == 0)
            ++lostSeeds_;
        handles_.push_back({exportPath, object.directory, id});
    }
}

std::uint32_t TFuzzFixture::HandleOf(const std::string& exportPath) const {
    for (const NamedHandle& handle : handles_) {
        if (handle.exportPath == exportPath)
            return handle.id;
    }
    return 0;
}

std::uint16_t TFuzzFixture::Port(Service service) const {
    const server::ServicePorts& ports = daemon_->Ports();
    switch (service) {
    case Service::Portmap:
        return ports.portmap;
    case Service::Mount:
        return ports.mount;
    case Service::Nfs:
        return ports.nfs;
    }
    return 0;
}

CallResult TFuzzFixture::Run(Service service, std::span<const std::uint8_t> call, bool tcp) {
    // The call sits in a block of exactly its size, so that AddressSanitizer reports any read
    // past its end (the daemon's own request buffer is 10 MiB).
    rpc::XdrBuffer& request = daemon_->RequestBuffer();
    auto* exact = static_cast<std::uint8_t*>(std::malloc(call.empty() ? 1 : call.size()));
    if (exact == nullptr)
        Violation("out of memory");
    if (!call.empty())
        std::memcpy(exact, call.data(), call.size());
    std::uint8_t* const saved = request.data;
    const std::uint32_t savedCapacity = request.capacity;
    request.data = exact;
    request.capacity = static_cast<std::uint32_t>(call.size());
    request.length = static_cast<std::uint32_t>(call.size());
    request.position = 0;

    bool close = false;
    const bool replied = daemon_->ProcessCall(Port(service), tcp, peer_, close);

    request.data = saved;
    request.capacity = savedCapacity;
    request.Reset();
    std::free(exact);

    const rpc::XdrBuffer& reply = daemon_->ReplyBuffer();
    if (reply.position > reply.length || reply.length > rpc::kMessageLimit)
        Violation("reply of " + std::to_string(reply.length) + " bytes (limit " +
                  std::to_string(rpc::kMessageLimit) + ")");
    if (replied && !tcp && reply.length - reply.position > rpc::kDatagramLimit)
        Violation("UDP reply of " + std::to_string(reply.length - reply.position) +
                  " bytes does not fit one datagram");
    CallResult result;
    result.replied = replied;
    if (replied) {
        const std::uint32_t mark = tcp ? 4 : 0;
        if (reply.length - reply.position < mark)
            Violation("TCP reply without room for its record mark");
        result.reply = std::span<const std::uint8_t>(reply.data + reply.position + mark,
                                                     reply.length - reply.position - mark);
    }
    CheckReply(result, call);
    return result;
}

void TFuzzFixture::CheckReply(const CallResult& result, std::span<const std::uint8_t> call) const {
    if (!result.replied)
        return;
    const std::span<const std::uint8_t> reply = result.reply;
    if (reply.size() < 12 || reply.size() % 4 != 0)
        Violation("reply of " + std::to_string(reply.size()) + " bytes is no XDR reply");
    if (call.size() < 4 || LoadWord(reply.data()) != LoadWord(call.data()))
        Violation("reply does not echo the call's xid");
    if (LoadWord(reply.data() + 4) != 1)
        Violation("reply message type is not REPLY");
    if (ContainsMarker(reply))
        Violation("reply carries what lies outside the export");
}

void TFuzzFixture::AfterInput(std::span<const std::uint8_t> input) {
    CheckWatch(false);
    recent_.emplace_back(input.begin(), input.end());
    if (++inputs_ % kCheckInterval != 0)
        return;
    CheckSentinels("periodic check");
    recent_.clear();
    RestoreExport();
    // As the idle sweep would: write files held open by unstable writes are closed.
    daemon_->Handles().CloseIdleFiles(platform::TickCountMs() + 1000, 0);
    OpenGateAndLookUp();
    CheckWatch(true);
}

// Writes the inputs since the last full check into a folder of the temporary folder (scripts/fuzz
// points it into fuzz-out/) and names it.
std::string TFuzzFixture::SaveRecentInputs() const {
    if (recent_.empty())
        return " (no input since the last check)";
    std::error_code error;
    const fs::path folder =
        fs::temp_directory_path(error) / ("lumavert-fuzz-suspects-" + std::to_string(getpid()));
    fs::create_directories(folder, error);
    for (std::size_t i = 0; i < recent_.size(); ++i) {
        std::ofstream out(folder / ("input-" + std::to_string(i)), std::ios::binary);
        out.write(reinterpret_cast<const char*>(recent_[i].data()),
                  static_cast<std::streamsize>(recent_[i].size()));
    }
    return "; the " + std::to_string(recent_.size()) + " inputs since the last check are in " +
           folder.string();
}

void TFuzzFixture::Finish() {
    if (finished_)
        return;
    finished_ = true;
    CheckWatch(false);
    CheckSentinels("exit check");
    std::fprintf(stderr,
                 "fuzz fixture: %llu inputs, each checked by the sentinel watch, %llu full "
                 "sentinel checks, %llu seed lookups failed after restores\n",
                 static_cast<unsigned long long>(inputs_),
                 static_cast<unsigned long long>(inputs_ / kCheckInterval + 1),
                 static_cast<unsigned long long>(lostSeeds_));
    daemon_.reset();
    if (watch_ >= 0)
        ::close(watch_);
    watch_ = -1;
    std::error_code error;
    fs::remove_all(base_, error);
}

TFuzzFixture::Snapshot TFuzzFixture::TakeSnapshot() const {
    const std::uint64_t exportKey = Fnv1a(exportDir_.native());
    const std::uint64_t listKey = Fnv1a(listDir_.native());
    Snapshot snapshot;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(base_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        const std::uint64_t key = Fnv1a(path.native());
        SnapshotEntry entry;
        entry.path = path.native();
        const fs::file_status status = fs::symlink_status(path, error);
        entry.type = fs::is_directory(status) ? 'd' : fs::is_regular_file(status) ? 'f' : 'o';
        // The exported folders change by design: only that they are there counts.
        if (key == exportKey || key == listKey) {
            it.disable_recursion_pending();
            snapshot[key] = entry;
            continue;
        }
        entry.permissions = static_cast<unsigned>(status.permissions());
        entry.writeTime = fs::last_write_time(path, error).time_since_epoch().count();
        if (entry.type == 'f') {
            const std::string content = ReadWhole(path);
            entry.size = content.size();
            entry.contentHash = Fnv1a(content);
        }
        snapshot[key] = entry;
    }
    return snapshot;
}

void TFuzzFixture::CheckSentinels(const char* when) {
    const Snapshot now = TakeSnapshot();
    CheckWatch(true); // the snapshot's own reads
    if (now == sentinels_)
        return;
    std::string difference;
    for (const auto& [key, entry] : now) {
        const auto it = sentinels_.find(key);
        if (it == sentinels_.end())
            difference += " new:" + entry.path;
        else if (!(it->second == entry))
            difference += " changed:" + entry.path;
    }
    for (const auto& [key, entry] : sentinels_) {
        if (now.count(key) == 0)
            difference += " gone:" + entry.path;
    }
    Violation(std::string(when) + ": something outside the export changed:" + difference +
              SaveRecentInputs());
}

int FuzzOneInput(Service service, const std::uint8_t* data, std::size_t size) {
    TFuzzFixture& fixture = TFuzzFixture::Get();
    // The xid's first bit picks the transport: replies differ only in the record mark slot.
    const bool tcp = size > 0 && (data[0] & 1) != 0;
    fixture.Run(service, std::span<const std::uint8_t>(data, size), tcp);
    fixture.AfterInput(std::span<const std::uint8_t>(data, size));
    return 0;
}

} // namespace fuzzing
