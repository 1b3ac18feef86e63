#include "tests/support/FakePortmapper.h"

#include "tests/support/RpcClient.h"

namespace rpctest {
namespace {

constexpr std::uint32_t kSet = 1, kUnset = 2, kDump = 4;
constexpr std::size_t kCallHeaderBytes = 40; // xid .. procedure, AUTH_NONE credential, verifier

std::uint32_t WordAt(const Bytes& bytes, std::size_t offset) {
    return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
           (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
}

} // namespace

FakePortmapper::FakePortmapper(std::vector<Row> rows, bool acceptChanges)
    : rows_(std::move(rows)), acceptChanges_(acceptChanges) {
    listener_ = platform::Socket::Create(platform::SocketKind::Tcp);
    platform::SocketAddress local;
    if (!listener_.Bind({platform::kInaddrAny, 0}) || !listener_.Listen(4) ||
        !listener_.LocalAddress(local))
        return;
    port_ = local.port;
    thread_ = std::thread([this] { Serve(); });
}

bool FakePortmapper::Finish() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    return answeredDump_;
}

void FakePortmapper::Serve() {
    while (!stop_) {
        if (!listener_.WaitReadable(50))
            continue;
        TcpConnection connection(listener_.Accept(nullptr));
        Bytes call;
        while (!stop_) {
            const ReceiveStatus status = connection.ReceiveRecord(call, 50);
            if (status == ReceiveStatus::TimedOut)
                continue;
            if (status != ReceiveStatus::Ok || call.size() < kCallHeaderBytes)
                break;
            Call& seen = calls_.emplace_back();
            seen.procedure = WordAt(call, 20);
            for (std::size_t at = kCallHeaderBytes; at + 4 <= call.size(); at += 4)
                seen.arguments.push_back(WordAt(call, at));
            XdrArgs reply;
            reply
                .PutRaw(Bytes(call.begin(), call.begin() + 4)) // xid
                .PutUInt32(kReply)
                .PutUInt32(kAccepted)
                .PutUInt32(kAuthNone)
                .PutUInt32(0)
                .PutUInt32(kSuccess);
            if (seen.procedure == kDump) {
                for (const Row& row : rows_) {
                    reply.PutBool(true).PutUInt32(row.program).PutUInt32(row.version);
                    reply.PutUInt32(row.protocol).PutUInt32(row.port);
                }
                reply.PutBool(false);
            } else if (seen.procedure == kSet || seen.procedure == kUnset) {
                reply.PutBool(acceptChanges_);
            }
            if (!connection.SendRecord(reply.Data()))
                break;
            if (seen.procedure == kDump)
                answeredDump_ = true;
        }
    }
}

} // namespace rpctest
