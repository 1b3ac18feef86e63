// NFS calls and reply decoding for the lookup and namespace tests.
#include "tests/support/NfsNamespaceCalls.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>

namespace rpctest::nfs3 {
namespace {

NfsTimeValue GetTime(XdrDecoder& in) {
    NfsTimeValue time;
    time.seconds = in.GetUInt32();
    time.nanoseconds = in.GetUInt32();
    return time;
}

void PutTime(XdrArgs& args, NfsTimeValue time) {
    args.PutUInt32(time.seconds).PutUInt32(time.nanoseconds);
}

} // namespace

Fattr GetFattr(XdrDecoder& in) {
    Fattr a;
    a.type = in.GetUInt32();
    a.mode = in.GetUInt32();
    a.nlink = in.GetUInt32();
    a.uid = in.GetUInt32();
    a.gid = in.GetUInt32();
    a.size = in.GetUInt64();
    a.used = in.GetUInt64();
    a.rdev = in.GetUInt64();
    a.fsid = in.GetUInt64();
    a.fileid = in.GetUInt64();
    a.atime = GetTime(in);
    a.mtime = GetTime(in);
    a.ctime = GetTime(in);
    return a;
}

std::optional<Fattr> GetPostOpAttr(XdrDecoder& in) {
    if (!in.GetBool())
        return std::nullopt;
    return GetFattr(in);
}

Wcc GetWcc(XdrDecoder& in) {
    Wcc wcc;
    wcc.hasBefore = in.GetBool();
    if (wcc.hasBefore) {
        wcc.beforeSize = in.GetUInt64();
        wcc.beforeMtime = GetTime(in);
        wcc.beforeCtime = GetTime(in);
    }
    wcc.after = GetPostOpAttr(in);
    return wcc;
}

XdrArgs& PutSetAttr(XdrArgs& args, const SetAttr& attributes) {
    for (const auto* field : {&attributes.mode, &attributes.uid, &attributes.gid}) {
        args.PutBool(field->has_value());
        if (field->has_value())
            args.PutUInt32(**field);
    }
    args.PutBool(attributes.size.has_value());
    if (attributes.size)
        args.PutUInt64(*attributes.size);
    args.PutUInt32(attributes.atimeHow);
    if (attributes.atimeHow == 2)
        PutTime(args, attributes.atime);
    args.PutUInt32(attributes.mtimeHow);
    if (attributes.mtimeHow == 2)
        PutTime(args, attributes.mtime);
    return args;
}

XdrArgs DirOp(std::uint32_t directory, std::string_view name) {
    XdrArgs args;
    args.PutHandle(directory).PutString(name);
    return args;
}

NfsSession::NfsSession(const TestDaemonOptions& options)
    : server_(options), client_(server_.Ports()) {
    if (!server_.Ready())
        return;
    const MountResult mount = client_.Mount("/");
    root_ = mount.handle;
    ready_ = mount.Ok();
}

NfsSession::~NfsSession() {
    // Read-only files would outlive the temporary folder on Windows.
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(server_.Root(), error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    }
}

std::filesystem::path NfsSession::Disk(std::string_view relative) const {
    return server_.Root() / Utf8Path(relative);
}

std::size_t NfsSession::ServerPathLength(std::uint32_t directory) {
    const server::TObjectHandle* entry = server_.Daemon().Handles().Find(directory);
    return entry == nullptr ? 0 : entry->GetPath().size();
}

std::uint32_t NfsSession::Status(RpcReply& reply) {
    if (!reply.Succeeded())
        return 0xFFFFFFFFu;
    return reply.body.GetUInt32();
}

LookupResult NfsSession::Lookup(std::uint32_t directory, std::string_view name) {
    LookupResult result;
    result.reply = Call(kLookup, DirOp(directory, name));
    result.status = Status(result.reply);
    if (result.status != kOk)
        return result;
    XdrDecoder& in = result.reply.body;
    if (in.GetUInt32() != 4)
        return result;
    const Bytes handle = in.GetFixed(4);
    if (handle.size() == 4)
        result.handle = (std::uint32_t{handle[0]} << 24) | (std::uint32_t{handle[1]} << 16) |
                        (std::uint32_t{handle[2]} << 8) | handle[3];
    if (const auto attributes = GetPostOpAttr(in))
        result.attributes = *attributes;
    return result;
}

AttrResult NfsSession::GetAttr(std::uint32_t handle) {
    AttrResult result;
    result.reply = Call(kGetAttr, XdrArgs().PutHandle(handle));
    result.status = Status(result.reply);
    if (result.status == kOk)
        result.attributes = GetFattr(result.reply.body);
    return result;
}

std::filesystem::path Utf8Path(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

bool WriteFile(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SetReadOnly(const std::filesystem::path& path, bool readOnly) {
    using std::filesystem::perms;
    const perms writeBits = perms::owner_write | perms::group_write | perms::others_write;
    std::filesystem::permissions(path, writeBits,
                                 readOnly ? std::filesystem::perm_options::remove
                                          : std::filesystem::perm_options::add);
}

bool IsReadOnly(const std::filesystem::path& path) {
    return (std::filesystem::status(path).permissions() & std::filesystem::perms::owner_write) ==
           std::filesystem::perms::none;
}

std::int64_t UnixSeconds(std::filesystem::file_time_type time) {
    const auto system = std::chrono::file_clock::to_sys(time);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

std::filesystem::file_time_type FileTimeOf(std::int64_t unixSeconds) {
    const std::chrono::sys_seconds system{std::chrono::seconds(unixSeconds)};
    return std::chrono::time_point_cast<std::filesystem::file_time_type::duration>(
        std::chrono::file_clock::from_sys(system));
}

std::int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace rpctest::nfs3
