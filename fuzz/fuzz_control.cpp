// Fuzz target: the control connection driven by a hostile player. The input is a sequence of
// steps, each an opcode byte and its fields: bytes arriving in chunks of the sizes the input
// gives, read notifications (also for a socket closed since), the PC's requests, the posted
// deferred answers (also stale ones), the peer closing, a new connection, sends that take only
// part of a packet. After every step: the play state within its values and agreeing with
// `playing`, no `connected` without a connection, every packet the PC sent well formed and
// within its size, every posted answer for a request the PC answers, every log line within its
// buffer. ASan sees every read outside the received bytes.
#include <algorithm>
#include <string>

#include "common/text/DebugPrint.h"
#include "fuzz/ManagerFuzz.h"
#include "manager/core/DeviceControl.h"
#include "tests/support/ManagerFakes.h"

namespace {

using manager::testing::Address;
using manager::testing::FakePort;

// The largest packet the PC sends: the answer to a largest request, 4 bytes longer.
constexpr std::size_t kMaxSent = manager::kMaxPacketSize + 4;

struct Checker {
    FakePort& port;
    manager::DeviceControl& control;
    std::shared_ptr<manager::testing::StreamLog> checkedStream;
    std::size_t checkedSends = 0;
    std::size_t checkedLogs = 0;

    void CheckSent(const std::vector<std::uint8_t>& bytes, std::size_t limit) {
        // A send cut by the socket is recorded with the bytes it took: its first part only.
        if (bytes.size() >= limit)
            return;
        manager::PacketHeader header;
        fuzzing::Check(bytes.size() >= 16 && manager::ReadHeader(bytes, header),
                       "a packet sent shorter than 16 bytes");
        fuzzing::Check(bytes.size() <= kMaxSent, "a packet sent larger than its buffer");
        fuzzing::Check(header.reserved == 0 && header.tag == manager::kPacketTag,
                       "a packet sent with a wrong header");
        fuzzing::Check(header.length + manager::kPacketHeaderSize == bytes.size(),
                       "a packet sent whose length is not its size");
    }

    void Step() {
        const manager::ControlState& state = control.State();
        fuzzing::Check(state.playState <= manager::kPlayStatePaused, "playState outside 0..2");
        fuzzing::Check(state.playing == (state.playState != manager::kPlayStateStopped),
                       "playing disagrees with playState");
        fuzzing::Check(!state.connected || control.HasConnection(),
                       "connected without a connection");
        const manager::SessionDisplay display = control.Display();
        fuzzing::Check(!display.connected || (state.connected && control.HasConnection()),
                       "the popup shows a connection that is not there");
        if (port.stream != checkedStream) {
            checkedStream = port.stream;
            checkedSends = 0;
        }
        if (checkedStream) {
            const auto& sends = checkedStream->sends;
            for (; checkedSends < sends.size(); ++checkedSends) {
                CheckSent(sends[checkedSends], checkedStream->sendLimit);
            }
        }
        for (const auto& [cmd, subCmd] : port.posted) {
            (void)subCmd;
            fuzzing::Check(cmd == manager::CTRL_REQ_CONNECT_PC ||
                               cmd == manager::CTRL_REQ_GETNEXTFILE_PC ||
                               cmd == manager::CTRL_REQ_PLAYSTATUS_PC ||
                               cmd == manager::CTRL_REQ_ASSIGNFILESTATUS_PC,
                           "an answer posted for a request the PC does not answer");
        }
        for (; checkedLogs < port.logs.size(); ++checkedLogs)
            fuzzing::Check(port.logs[checkedLogs].size() < text::kDebugLineUnits,
                           "log line longer than its buffer");
    }
};

void Request(manager::DeviceControl& control, const manager::HostIdentity& host,
             fuzzing::InputReader& in) {
    const std::uint8_t which = in.U8();
    switch (which % 5) {
    case 0: {
        const auto code = in.Take(in.U8() % 12);
        control.REQ_ConnectKestro(
            (which >> 3) & 3, host.mac,
            std::string_view(reinterpret_cast<const char*>(code.data()), code.size()));
        return;
    }
    case 1: {
        const std::uint32_t index = in.U32();
        control.REQ_AssignFileIndex(index, in.U32());
        return;
    }
    case 2:
        control.REQ_PlayCtrl(in.U8());
        return;
    case 3:
        control.REQ_UpdateFileList(3);
        return;
    default:
        control.REQ_GetStatus();
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::CheckDebugLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::InputReader in(data, size);
    FakePort port;
    manager::HostIdentity host;
    host.mac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
    host.hostNameUtf8 = "pc-fuzz";
    manager::DeviceControl control(port, host);
    Checker checker{port, control, nullptr};
    const std::uint32_t player = Address(192, 0, 2, 7);
    control.OpenControlConnection(player);
    checker.Step();

    while (!in.Empty()) {
        const std::uint8_t op = in.U8();
        switch (op & 7) {
        case 0: { // bytes arrive, one chunk per receive call at most
            const std::size_t count = in.U16() % (manager::kMaxPacketSize + 200) + 1;
            const auto bytes = in.Take(count);
            if (port.stream && !bytes.empty())
                port.stream->incoming.emplace_back(bytes.begin(), bytes.end());
            if ((op & 8) != 0 && port.stream)
                control.OnSocketEvent(port.stream->id, manager::FD_READ_EVENT, 0);
            break;
        }
        case 1: // a read notification, for this socket or for one closed before it
            if (port.stream)
                control.OnSocketEvent(port.stream->id - ((op >> 3) & 1), manager::FD_READ_EVENT, 0);
            break;
        case 2:
            Request(control, host, in);
            break;
        case 3: { // the posted answers come back, in order, then perhaps a forged one
            const auto posted = port.posted;
            port.posted.clear();
            for (const auto& [cmd, subCmd] : posted)
                control.OnAnswerDeviceRequest(cmd, subCmd);
            if ((op & 8) != 0) {
                const std::uint32_t cmd = in.U32();
                control.OnAnswerDeviceRequest(cmd, in.U32());
            }
            break;
        }
        case 4: // the peer closes
            if (port.stream)
                control.OnSocketEvent(port.stream->id - ((op >> 3) & 1), manager::FD_CLOSE_EVENT,
                                      0);
            break;
        case 5: // a new connection (the old one, if any, is dropped first)
            if (control.HasConnection())
                control.DoDisConnect();
            control.OpenControlConnection((op & 8) != 0 ? 0 : player);
            break;
        case 6: { // the next sends take at most this many bytes (0: all)
            const std::uint16_t limit = in.U16();
            port.streamSettings.sendLimit = limit == 0 ? SIZE_MAX : limit;
            if (port.stream)
                port.stream->sendLimit = port.streamSettings.sendLimit;
            break;
        }
        default:
            if (port.stream)
                control.OnSocketEvent(port.stream->id, manager::FD_CONNECT_EVENT, 0);
            break;
        }
        checker.Step();
    }
    return 0;
}
