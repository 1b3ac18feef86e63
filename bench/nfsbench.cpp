// nfsbench: one NFS v3 client (libnfs, one call in flight) that times READ, WRITE+COMMIT,
// READDIRPLUS listings, LOOKUP+GETATTR pairs and random READs (seeks) against any server, plus
// the local tree maker the benchmark needs. Every timed run prints one line "<what> <units>
// <seconds>".
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

// libnfs.h defines what the raw headers use, so it goes first.
#include <nfsc/libnfs.h>
#include <nfsc/libnfs-raw.h>
#include <nfsc/libnfs-raw-nfs.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kChunk = 1024 * 1024; // libnfs moves at most 1 MiB per call

double Now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

[[noreturn]] void Die(const char* what, const char* detail) {
    std::fprintf(stderr, "nfsbench: %s: %s\n", what, detail);
    std::exit(1);
}

std::string FolderName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "d%04d", i);
    return name;
}

std::string FileName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%04d", i);
    return name;
}

// The server and export come from an nfs:// URL of a folder (its options, such as
// auto-traverse-mounts=0, apply); the other arguments are paths below the export.
struct Session {
    nfs_context* nfs = nullptr;
    explicit Session(const char* url) {
        nfs = nfs_init_context();
        if (nfs == nullptr)
            Die("libnfs", "no context");
        nfs_set_dircache(nfs, 0); // every listing goes to the server
        nfs_url* parsed = nfs_parse_url_dir(nfs, url);
        if (parsed == nullptr)
            Die("url", nfs_get_error(nfs));
        const int result = nfs_mount(nfs, parsed->server, parsed->path);
        nfs_destroy_url(parsed);
        if (result != 0)
            Die("mount", nfs_get_error(nfs));
    }
    ~Session() {
        nfs_umount(nfs);
        nfs_destroy_context(nfs);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

nfsfh* OpenForReading(Session& s, const char* path, nfs_stat_64& st) {
    nfsfh* fh = nullptr;
    if (nfs_open(s.nfs, path, O_RDONLY, &fh) != 0)
        Die("open", nfs_get_error(s.nfs));
    if (nfs_fstat64(s.nfs, fh, &st) != 0)
        Die("fstat", nfs_get_error(s.nfs));
    return fh;
}

// Reads the whole file in 1 MiB calls, `runs` times.
int Read(Session& s, const char* path, int runs) {
    std::vector<char> buffer(kChunk);
    for (int run = 0; run < runs; ++run) {
        // Some servers answer a READ at the end of the file with an error: stop before it.
        nfs_stat_64 st{};
        nfsfh* fh = OpenForReading(s, path, st);
        std::uint64_t offset = 0;
        const double start = Now();
        while (offset < st.nfs_size) {
            const int got = nfs_pread(s.nfs, fh, offset, kChunk, buffer.data());
            if (got <= 0)
                Die("read", nfs_get_error(s.nfs));
            offset += static_cast<std::uint64_t>(got);
        }
        const double seconds = Now() - start;
        nfs_close(s.nfs, fh);
        std::printf("read %llu %.6f\n", static_cast<unsigned long long>(offset), seconds);
        std::fflush(stdout);
    }
    return 0;
}

// Writes `mib` MiB from offset 0 in 1 MiB calls and COMMITs, `runs` times. The file is opened
// (not created or truncated) outside the timed part.
int Write(Session& s, const char* path, std::uint64_t mib, int runs) {
    std::vector<char> buffer(kChunk);
    std::mt19937_64 random(42);
    for (auto& byte : buffer)
        byte = static_cast<char>(random());
    for (int run = 0; run < runs; ++run) {
        nfsfh* fh = nullptr;
        if (nfs_open(s.nfs, path, O_WRONLY, &fh) != 0)
            Die("open", nfs_get_error(s.nfs));
        const double start = Now();
        for (std::uint64_t i = 0; i < mib; ++i) {
            buffer[0] = static_cast<char>(i); // no two chunks alike
            const int put = nfs_pwrite(s.nfs, fh, i * kChunk, kChunk, buffer.data());
            if (put != static_cast<int>(kChunk))
                Die("write", nfs_get_error(s.nfs));
        }
        if (nfs_fsync(s.nfs, fh) != 0)
            Die("commit", nfs_get_error(s.nfs));
        const double seconds = Now() - start;
        nfs_close(s.nfs, fh);
        std::printf("write %llu %.6f\n", static_cast<unsigned long long>(mib * kChunk), seconds);
        std::fflush(stdout);
    }
    return 0;
}

int CountListing(Session& s, const std::string& path) {
    nfsdir* dir = nullptr;
    if (nfs_opendir(s.nfs, path.c_str(), &dir) != 0)
        Die("opendir", nfs_get_error(s.nfs));
    int count = 0;
    while (nfs_readdir(s.nfs, dir) != nullptr)
        ++count;
    nfs_closedir(s.nfs, dir);
    return count;
}

// Lists the folder with READDIRPLUS `runs` times.
int List(Session& s, const char* path, int runs) {
    for (int run = 0; run < runs; ++run) {
        const double start = Now();
        const int count = CountListing(s, path);
        std::printf("readdirplus %d %.6f\n", count, Now() - start);
        std::fflush(stdout);
    }
    return 0;
}

// Lists folders [first, last) below `prefix`, which enters every name into the handle table.
int Fill(Session& s, const std::string& prefix, int first, int last) {
    const double start = Now();
    long long names = 0;
    for (int i = first; i < last; ++i)
        names += CountListing(s, prefix + "/" + FolderName(i));
    std::printf("fill %lld %.6f\n", names, Now() - start);
    return 0;
}

// Runs one raw call on the context's RPC connection and waits for its callback.
struct Pending {
    bool done = false;
    int status = 0;
    nfs_fh3 handle{};
    char handleBytes[NFS3_FHSIZE];
};

void Wait(rpc_context* rpc, Pending& pending) {
    while (!pending.done) {
        pollfd p{rpc_get_fd(rpc), static_cast<short>(rpc_which_events(rpc)), 0};
        if (poll(&p, 1, -1) < 0)
            Die("poll", std::strerror(errno));
        if (rpc_service(rpc, p.revents) < 0)
            Die("rpc", "service failed");
    }
}

void LookupDone(rpc_context*, int status, void* data, void* privateData) {
    auto& pending = *static_cast<Pending*>(privateData);
    pending.done = true;
    pending.status = -1;
    if (status != RPC_STATUS_SUCCESS)
        return;
    const auto* result = static_cast<LOOKUP3res*>(data);
    pending.status = result->status;
    if (result->status != NFS3_OK)
        return;
    const nfs_fh3& object = result->LOOKUP3res_u.resok.object;
    const u_int length = object.data.data_len < NFS3_FHSIZE ? object.data.data_len : NFS3_FHSIZE;
    std::memcpy(pending.handleBytes, object.data.data_val, length);
    pending.handle.data.data_len = length;
    pending.handle.data.data_val = pending.handleBytes;
}

void GetAttrDone(rpc_context*, int status, void* data, void* privateData) {
    auto& pending = *static_cast<Pending*>(privateData);
    pending.done = true;
    pending.status = status == RPC_STATUS_SUCCESS ? static_cast<GETATTR3res*>(data)->status : -1;
}

// libnfs keeps an open object's handle as {int len; char* val;}.
struct LibnfsHandle {
    int len;
    char* val;
};

// `runs` times `calls` LOOKUP+GETATTR pairs of random names f0000.. below folders
// [0, folders) of `prefix`.
int Lookup(Session& s, const std::string& prefix, int folders, int files, long calls, int runs) {
    std::vector<std::vector<char>> folderHandles;
    for (int i = 0; i < folders; ++i) {
        nfsfh* fh = nullptr;
        const std::string path = prefix + "/" + FolderName(i);
        if (nfs_open(s.nfs, path.c_str(), O_RDONLY, &fh) != 0)
            Die("open folder", nfs_get_error(s.nfs));
        const auto* handle = reinterpret_cast<const LibnfsHandle*>(nfs_get_fh(fh));
        folderHandles.emplace_back(handle->val, handle->val + handle->len);
        nfs_close(s.nfs, fh);
    }
    std::vector<std::string> names;
    for (int i = 0; i < files; ++i)
        names.push_back(FileName(i));
    rpc_context* rpc = nfs_get_rpc_context(s.nfs);
    std::mt19937 random(7);
    for (int run = 0; run < runs; ++run) {
        const double start = Now();
        for (long call = 0; call < calls; ++call) {
            std::vector<char>& folder = folderHandles[random() % folders];
            LOOKUP3args lookup{};
            lookup.what.dir.data.data_len = static_cast<u_int>(folder.size());
            lookup.what.dir.data.data_val = folder.data();
            lookup.what.name = names[random() % files].data();
            Pending found;
            if (rpc_nfs3_lookup_async(rpc, LookupDone, &lookup, &found) != 0)
                Die("lookup", "cannot send");
            Wait(rpc, found);
            if (found.status != NFS3_OK)
                Die("lookup", lookup.what.name);
            GETATTR3args getattr{};
            getattr.object = found.handle;
            Pending attributes;
            if (rpc_nfs3_getattr_async(rpc, GetAttrDone, &getattr, &attributes) != 0)
                Die("getattr", "cannot send");
            Wait(rpc, attributes);
            if (attributes.status != NFS3_OK)
                Die("getattr", lookup.what.name);
        }
        std::printf("lookup %ld %.6f\n", calls, Now() - start);
        std::fflush(stdout);
    }
    return 0;
}

// `calls` READs of `size` bytes at random multiples of `size`, one in flight. Prints
// "seek CALLS SECONDS P50_SECONDS P99_SECONDS".
int Seek(Session& s, const char* path, std::uint64_t size, long calls) {
    nfs_stat_64 st{};
    nfsfh* fh = OpenForReading(s, path, st);
    const std::uint64_t blocks = st.nfs_size / size;
    if (blocks == 0)
        Die("seek", "file smaller than one READ");
    std::vector<char> buffer(size);
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(calls));
    std::mt19937_64 random(11);
    const double start = Now();
    for (long call = 0; call < calls; ++call) {
        const double before = Now();
        if (nfs_pread(s.nfs, fh, random() % blocks * size, size, buffer.data()) !=
            static_cast<int>(size))
            Die("read", nfs_get_error(s.nfs));
        latencies.push_back(Now() - before);
    }
    const double seconds = Now() - start;
    nfs_close(s.nfs, fh);
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double fraction) {
        return latencies[static_cast<std::size_t>(fraction * (latencies.size() - 1) + 0.5)];
    };
    std::printf("seek %ld %.6f %.9f %.9f\n", calls, seconds, at(0.5), at(0.99));
    return 0;
}

// Local, no NFS: `folders` folders d0000.. of `files` empty files f0000.. below `root`.
int MakeTree(const std::string& root, int folders, int files) {
    const double start = Now();
    ::mkdir(root.c_str(), 0777);
    for (int i = 0; i < folders; ++i) {
        const std::string folder = root + "/" + FolderName(i);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
            Die("mkdir", folder.c_str());
        for (int j = 0; j < files; ++j) {
            const std::string file = folder + "/" + FileName(j);
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
            if (fd < 0)
                Die("create", file.c_str());
            ::close(fd);
        }
    }
    std::printf("maketree %lld %.6f\n", static_cast<long long>(folders) * files, Now() - start);
    return 0;
}

int Usage() {
    std::fputs("usage: nfsbench read URL PATH RUNS\n"
               "       nfsbench write URL PATH MIB RUNS\n"
               "       nfsbench readdir URL PATH RUNS\n"
               "       nfsbench fill URL PREFIX FIRST LAST\n"
               "       nfsbench lookup URL PREFIX FOLDERS FILES CALLS RUNS\n"
               "       nfsbench seek URL PATH SIZE CALLS\n"
               "       nfsbench maketree DIR FOLDERS FILES\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    const std::string command = argv[1];
    if (command == "maketree" && argc == 5)
        return MakeTree(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (command == "read" && argc == 5) {
        Session s(argv[2]);
        return Read(s, argv[3], std::atoi(argv[4]));
    }
    if (command == "write" && argc == 6) {
        Session s(argv[2]);
        return Write(s, argv[3], std::strtoull(argv[4], nullptr, 10), std::atoi(argv[5]));
    }
    if (command == "readdir" && argc == 5) {
        Session s(argv[2]);
        return List(s, argv[3], std::atoi(argv[4]));
    }
    if (command == "fill" && argc == 6) {
        Session s(argv[2]);
        return Fill(s, argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    }
    if (command == "lookup" && argc == 8) {
        Session s(argv[2]);
        return Lookup(s, argv[3], std::atoi(argv[4]), std::atoi(argv[5]), std::atol(argv[6]),
                      std::atoi(argv[7]));
    }
    if (command == "seek" && argc == 6) {
        Session s(argv[2]);
        return Seek(s, argv[3], std::strtoull(argv[4], nullptr, 10), std::atol(argv[5]));
    }
    return Usage();
}
