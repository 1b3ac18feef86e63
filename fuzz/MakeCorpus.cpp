// make_fuzz_corpus: writes the seed corpus (a valid call for every procedure of every service)
// and the dictionaries of the fuzz targets, after checking each call against the fuzzing
// fixture's daemon, and those of the manager's targets. Usage: make_fuzz_corpus
// FUZZ_SOURCE_FOLDER (writes corpus/ and *.dict).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzFixture.h"
#include "fuzz/ManagerSeeds.h"
#include "tests/support/RpcClient.h"

namespace {

namespace fs = std::filesystem;
using fuzzing::Service;
using rpctest::Bytes;
using rpctest::XdrArgs;

constexpr std::uint32_t kAnyStatus = 0xFFFFFFFFu;

struct Seed {
    std::string name;
    Service service;
    std::uint32_t procedure;
    XdrArgs args;
    // Expected accept status, and the first result word (nfsstat3, mountstat3) when not any.
    std::uint32_t acceptStatus = rpctest::kSuccess;
    std::uint32_t status = kAnyStatus;
    bool authUnix = false;
    bool tcp = false;
};

const char* TargetName(Service service) {
    switch (service) {
    case Service::Portmap:
        return "fuzz_portmap";
    case Service::Mount:
        return "fuzz_mount";
    case Service::Nfs:
        return "fuzz_nfs";
    }
    return "";
}

std::uint32_t ProgramOf(Service service) {
    switch (service) {
    case Service::Portmap:
        return rpctest::kPortmapProgram;
    case Service::Mount:
        return rpctest::kMountProgram;
    case Service::Nfs:
        return rpctest::kNfsProgram;
    }
    return 0;
}

Bytes BuildSeed(const Seed& seed, std::uint32_t xid) {
    rpctest::CallHeader header;
    // The xid's first bit picks the transport in the fuzz targets.
    header.xid = (xid & 0x00FFFFFFu) | (seed.tcp ? 0x01000000u : 0u);
    header.program = ProgramOf(seed.service);
    header.version = seed.service == Service::Portmap ? 2 : 3;
    header.procedure = seed.procedure;
    if (seed.authUnix) {
        header.credentialFlavor = rpctest::kAuthUnix;
        header.credentialBody = rpctest::AuthUnixBody(7, "player", 0, 0, {0, 100});
    }
    return rpctest::BuildCall(header, seed.args);
}

Bytes Word(std::uint32_t value) {
    return XdrArgs().PutUInt32(value).Data();
}
Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::vector<Seed> PortmapSeeds() {
    std::vector<Seed> seeds;
    const auto getPort = [](std::uint32_t program, std::uint32_t version, std::uint32_t protocol) {
        return XdrArgs().PutUInt32(program).PutUInt32(version).PutUInt32(protocol).PutUInt32(0);
    };
    seeds.push_back({"null", Service::Portmap, 0, {}});
    seeds.push_back({"null_auth_unix_tcp", Service::Portmap, 0, {}, 0, kAnyStatus, true, true});
    seeds.push_back({"getport_nfs_tcp", Service::Portmap, 3, getPort(100003, 3, 6)});
    seeds.push_back({"getport_mount_udp", Service::Portmap, 3, getPort(100005, 3, 17)});
    seeds.push_back({"getport_unknown", Service::Portmap, 3, getPort(100021, 4, 6)});
    seeds.push_back({"dump", Service::Portmap, 4, {}, 0, kAnyStatus, false, true});
    seeds.push_back({"gettime", Service::Portmap, 6, {}});
    seeds.push_back(
        {"set_unavailable", Service::Portmap, 1, getPort(100003, 3, 6), rpctest::kProcUnavail});
    seeds.push_back({"callit_unavailable", Service::Portmap, 5,
                     XdrArgs().PutUInt32(100003).PutUInt32(3).PutUInt32(0).PutOpaque(Bytes{}),
                     rpctest::kProcUnavail});
    return seeds;
}

std::vector<Seed> MountSeeds() {
    std::vector<Seed> seeds;
    const auto path = [](std::string_view text) { return XdrArgs().PutString(text); };
    // UMNTALL first: the NFS seeds that follow need the MNT of the export again.
    seeds.push_back({"null", Service::Mount, 0, {}});
    seeds.push_back({"umnt", Service::Mount, 3, path("/Films/Deep"), 0, 0});
    seeds.push_back({"umntall", Service::Mount, 4, {}, 0, 0});
    seeds.push_back({"mnt_root", Service::Mount, 1, path("/"), 0, 0});
    seeds.push_back({"mnt_folder_tcp", Service::Mount, 1, path("/Films/Deep"), 0, 0, false, true});
    seeds.push_back({"mnt_list", Service::Mount, 1, path("/lst"), 0, 0, true});
    seeds.push_back({"mnt_file_notdir", Service::Mount, 1, path("/notes.txt"), 0, 20});
    seeds.push_back({"mnt_missing", Service::Mount, 1, path("/nothing"), 0, 2});
    seeds.push_back({"mnt_escape", Service::Mount, 1, path("/../.."), 0, 13});
    seeds.push_back({"mnt_backslash_escape", Service::Mount, 1, path("\\..\\sentinel"), 0, 13});
    // After the MNTs, so that DUMP has entries to list.
    seeds.push_back({"dump", Service::Mount, 2, {}});
    seeds.push_back({"export", Service::Mount, 5, {}});
    return seeds;
}

std::vector<Seed> NfsSeeds(const fuzzing::TFuzzFixture& fixture) {
    const std::uint32_t root = fixture.HandleOf("/");
    const std::uint32_t films = fixture.HandleOf("/Films");
    const std::uint32_t deep = fixture.HandleOf("/Films/Deep");
    const std::uint32_t list = fixture.HandleOf("/lst");
    const std::uint32_t movie = fixture.HandleOf("/movie.mkv");
    const std::uint32_t notes = fixture.HandleOf("/notes.txt");
    const std::uint32_t clip = fixture.HandleOf("/Films/clip.avi");
    const std::uint32_t song = fixture.HandleOf("/lst/song.mp3");
    const auto handle = [](std::uint32_t id) { return XdrArgs().PutHandle(id); };
    const auto dirOp = [](std::uint32_t id, std::string_view name) {
        return XdrArgs().PutHandle(id).PutString(name);
    };
    // sattr3 that sets nothing, and one that sets size and both times to the server's clock.
    const auto noAttributes = [](XdrArgs args) {
        return args.PutBool(false)
            .PutBool(false)
            .PutBool(false)
            .PutBool(false)
            .PutUInt32(0)
            .PutUInt32(0);
    };
    const auto write = [](std::uint32_t id, std::uint64_t offset, std::uint32_t stable,
                          std::string_view data) {
        return XdrArgs()
            .PutHandle(id)
            .PutUInt64(offset)
            .PutUInt32(static_cast<std::uint32_t>(data.size()))
            .PutUInt32(stable)
            .PutOpaque(data);
    };
    std::vector<Seed> seeds;
    const auto add = [&](std::string name, std::uint32_t procedure, XdrArgs args,
                         std::uint32_t status, bool tcp = false) {
        seeds.push_back({std::move(name), Service::Nfs, procedure, std::move(args),
                         rpctest::kSuccess, status, false, tcp});
    };
    add("null", 0, {}, kAnyStatus);
    add("getattr_file", 1, handle(movie), 0);
    add("getattr_list_folder", 1, handle(list), 0, true);
    add("getattr_stale", 1, handle(0x01020304), 70);
    add("setattr_size_times", 2,
        XdrArgs()
            .PutHandle(notes)
            .PutBool(false)
            .PutBool(false)
            .PutBool(false)
            .PutBool(true)
            .PutUInt64(20)
            .PutUInt32(1)
            .PutUInt32(2)
            .PutUInt32(1234)
            .PutUInt32(0)
            .PutBool(false),
        0);
    add("lookup_file", 3, dirOp(films, "clip.avi"), 0, true);
    add("lookup_dotdot", 3, dirOp(deep, ".."), 0);
    add("lookup_escape", 3, dirOp(root, ".."), 13);
    add("lookup_escape_deep", 3, dirOp(films, "a/../../../x"), 13);
    add("lookup_backslash", 3, dirOp(root, "..\\sentinel"), 13);
    add("lookup_list", 3, dirOp(list, "song.mp3"), 0);
    add("access", 4, XdrArgs().PutHandle(clip).PutUInt32(0x3F), 0);
    add("read_start", 6, XdrArgs().PutHandle(movie).PutUInt64(0).PutUInt32(4096), 0, true);
    add("read_tail", 6, XdrArgs().PutHandle(movie).PutUInt64(65000).PutUInt32(65536), 0);
    add("read_list_file", 6, XdrArgs().PutHandle(song).PutUInt64(100).PutUInt32(100), 0);
    add("read_past_end", 6, XdrArgs().PutHandle(clip).PutUInt64(8192).PutUInt32(16), 0);
    // Over UDP (the first xid bit clear): a short count that fits the datagram.
    add("read_udp_large", 6, XdrArgs().PutHandle(movie).PutUInt64(0).PutUInt32(1048576), 0);
    add("create_unchecked", 8, noAttributes(dirOp(root, "new.txt").PutUInt32(0)), 0, true);
    add("write_unstable", 7, write(notes, 4, 0, "unstable data"), 0);
    add("write_file_sync", 7, write(notes, 0, 2, "stable"), 0, true);
    add("commit", 21, XdrArgs().PutHandle(notes).PutUInt64(0).PutUInt32(0), 0);
    add("create_guarded_exists", 8, noAttributes(dirOp(root, "new.txt").PutUInt32(1)), 17);
    add("create_exclusive", 8, dirOp(films, "excl.bin").PutUInt32(2).PutUInt64(0x1122334455667788),
        0);
    add("create_escape", 8, noAttributes(dirOp(root, "../x").PutUInt32(0)), 13);
    add("mkdir", 9, noAttributes(dirOp(root, "NewDir")), 0);
    add("mkdir_escape", 9, noAttributes(dirOp(list, "../escaped")), 13);
    add("rename", 14, dirOp(root, "new.txt").PutHandle(films).PutString("renamed.txt"), 0, true);
    add("rename_escape", 14, dirOp(root, "notes.txt").PutHandle(root).PutString("../x"), 13);
    // A name is one name: a zero byte inside no longer cuts it to the exported folder's own.
    add("rename_zero_export", 14,
        dirOp(root, std::string_view("\0x", 2)).PutHandle(list).PutString("moved"), 13);
    add("lookup_zero", 3, dirOp(root, std::string_view("Films\0junk", 10)), 13);
    add("rmdir_dot_list", 13, dirOp(list, "."), 13);
    add("remove", 12, dirOp(films, "renamed.txt"), 0);
    add("remove_escape", 12, dirOp(deep, "../../../nest/zq"), 13);
    add("rmdir", 13, dirOp(root, "NewDir"), 0);
    add("readdir", 16, XdrArgs().PutHandle(root).PutUInt64(0).PutUInt64(0).PutUInt32(8192), 0);
    add("readdirplus_root", 17,
        XdrArgs().PutHandle(root).PutUInt64(0).PutUInt64(0).PutUInt32(8192).PutUInt32(32768), 0,
        true);
    add("readdirplus_deep", 17,
        XdrArgs().PutHandle(deep).PutUInt64(0).PutUInt64(0).PutUInt32(8192).PutUInt32(32768), 0);
    add("fsstat", 18, handle(root), 0);
    add("fsinfo", 19, handle(movie), 0, true);
    add("pathconf", 20, handle(films), 0);
    seeds.push_back(
        {"readlink_unavailable", Service::Nfs, 5, handle(movie), rpctest::kProcUnavail});
    seeds.push_back({"link_unavailable", Service::Nfs, 15, handle(movie), rpctest::kProcUnavail});
    return seeds;
}

// Runs the seed through the fixture and compares the outcome with what it is meant to show.
bool CheckSeed(fuzzing::TFuzzFixture& fixture, const Seed& seed, const Bytes& call) {
    const fuzzing::CallResult result = fixture.Run(seed.service, call, seed.tcp);
    if (!result.replied) {
        std::fprintf(stderr, "%s/%s: no reply\n", TargetName(seed.service), seed.name.c_str());
        return false;
    }
    rpctest::RpcReply reply = rpctest::ParseReply(Bytes(result.reply.begin(), result.reply.end()));
    if (!reply.Accepted() || reply.acceptStatus != seed.acceptStatus) {
        std::fprintf(stderr, "%s/%s: %s\n", TargetName(seed.service), seed.name.c_str(),
                     reply.Describe().c_str());
        return false;
    }
    if (seed.status == kAnyStatus)
        return true;
    const std::uint32_t status = reply.body.GetUInt32();
    if (status != seed.status) {
        std::fprintf(stderr, "%s/%s: status %u, meant to be %u\n", TargetName(seed.service),
                     seed.name.c_str(), status, seed.status);
        return false;
    }
    return true;
}

bool WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string Dictionary(const fuzzing::TFuzzFixture& fixture, Service service) {
    std::string out = "# Generated by make_fuzz_corpus: words the calls of this service use.\n";
    int n = 0;
    const auto entry = [&](const Bytes& bytes) {
        out += "w" + std::to_string(++n) + "=" + fuzzing::DictionaryWord(bytes) + "\n";
    };
    for (std::uint32_t program : {100000u, 100003u, 100005u})
        entry(Word(program));
    if (service == Service::Portmap) {
        for (std::uint32_t protocol : {6u, 17u})
            entry(Word(protocol));
        return out;
    }
    for (std::string_view path : {"/", "/lst", "/lst/", "/Films", "/Films/Deep", "..", "."})
        entry(XdrArgs().PutString(path).Data());
    if (service == Service::Mount)
        return out;
    for (const fuzzing::NamedHandle& handle : fixture.Handles()) {
        entry(Word(handle.id));
        entry(XdrArgs().PutHandle(handle.id).Data());
    }
    // The cookie verifier of the first directory reading of the fixture's daemon.
    entry(XdrArgs().PutUInt64(fuzzing::kIdSeed * 2654435761u).Data());
    const std::string_view names[] = {"movie.mkv",
                                      "notes.txt",
                                      "Films",
                                      "clip.avi",
                                      "Deep",
                                      "song.mp3",
                                      "..",
                                      "\\",
                                      "/",
                                      "C:",
                                      std::string_view("\0", 1)};
    for (std::string_view name : names)
        entry(Text(name));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_fuzz_corpus FUZZ_SOURCE_FOLDER\n", stderr);
        return 2;
    }
    const fs::path out = argv[1];
    fuzzing::TFuzzFixture& fixture = fuzzing::TFuzzFixture::Get();
    // The identifiers count up from the seed in the fixture's lookup order.
    for (std::size_t i = 0; i < fixture.Handles().size(); ++i) {
        if (fixture.Handles()[i].id != fuzzing::kIdSeed + i) {
            std::fprintf(stderr, "handle of %s is not seed + %zu\n",
                         fixture.Handles()[i].exportPath.c_str(), i);
            return 1;
        }
    }

    std::vector<Seed> seeds = PortmapSeeds();
    for (std::vector<Seed> more : {MountSeeds(), NfsSeeds(fixture)})
        seeds.insert(seeds.end(), more.begin(), more.end());
    bool ok = true;
    std::uint32_t xid = 0x100;
    std::error_code error;
    for (Service service : {Service::Portmap, Service::Mount, Service::Nfs}) {
        const fs::path folder = out / "corpus" / TargetName(service);
        fs::remove_all(folder, error);
        fs::create_directories(folder, error);
        if (!WriteFile(out / (std::string(TargetName(service)) + ".dict"),
                       Dictionary(fixture, service)))
            ok = false;
    }
    for (const Seed& seed : seeds) {
        const Bytes call = BuildSeed(seed, ++xid);
        if (!CheckSeed(fixture, seed, call))
            ok = false;
        const fs::path file = out / "corpus" / TargetName(seed.service) / seed.name;
        if (!WriteFile(file, std::string(call.begin(), call.end())))
            ok = false;
    }
    if (!fuzzing::WriteManagerSeeds(out))
        ok = false;
    std::printf("%zu seeds written to %s\n", seeds.size(), (out / "corpus").string().c_str());
    return ok ? 0 : 1;
}
