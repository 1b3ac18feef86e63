// The steps of a driver script.
#include "tests/manager/driver/DriverScript.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "common/platform/CodePage.h"
#include "common/platform/Socket.h"
#include "manager/core/ControlPacket.h"
#include "manager/core/HostAddress.h"

namespace manager::driver {

const char* const kDriverUsage =
    "steps (run in order):\n"
    "  host                      look up the host address and print it\n"
    "  discover                  DiscoverTargets, then print the error and each target\n"
    "  open IP|free              OpenControlConnection to IP or the first free target\n"
    "  wait-connect MS           until FD_CONNECT arrived; print its error\n"
    "  connect SUB CODE|-        REQ_ConnectKestro\n"
    "  assign INDEX TYPE         REQ_AssignFileIndex\n"
    "  key K                     REQ_PlayCtrl\n"
    "  update SUB                REQ_UpdateFileList\n"
    "  status                    REQ_GetStatus\n"
    "  wait SLOT MS              until the slot (connect open close assign play stop update\n"
    "                            status) is no longer pending; print it\n"
    "  run MS                    deliver events for MS\n"
    "  wait-closed MS            until the connection is gone; print closed or open\n"
    "  state                     print connected, playing, playState, fileIndex, mediaType\n"
    "  disconnect                DoDisConnect\n"
    "  probe-broadcast IP        a datagram to IP:62000 without and then with SO_BROADCAST\n";

void DriverEvents::OnSocketEvent(SocketId socket, std::uint16_t event, int error) {
    if (control_ != nullptr && socket == control_->ConnectionId()) {
        if (event == FD_CONNECT_EVENT) {
            ++connectEvents;
            connectError = error;
        }
        if (event == FD_CLOSE_EVENT)
            ++closeEvents;
    }
    if (control_ != nullptr)
        control_->OnSocketEvent(socket, event, error);
}

void DriverEvents::OnAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) {
    if (control_ != nullptr)
        control_->OnAnswerDeviceRequest(cmd, subCmd);
}

void DriverEvents::OnErrorBoxClosed(DialogTicket ticket) {
    if (control_ != nullptr)
        control_->OnErrorBoxClosed(ticket);
}

std::string Printable(std::u16string_view line) {
    std::string out;
    for (char c : platform::Utf16ToUtf8(line)) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

namespace {

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%x", value);
    return text;
}

std::string MacText(const MacAddress& mac) {
    char text[32];
    std::snprintf(text, sizeof(text), "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string HexBytes(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char text[4];
        std::snprintf(text, sizeof(text), "%02x", c);
        out += text;
    }
    return out;
}

std::uint32_t* Slot(ResultSlots& slots, const std::string& name) {
    const std::map<std::string, std::uint32_t*> names = {
        {"connect", &slots.connectResult}, {"open", &slots.openResult},
        {"close", &slots.closeResult},     {"assign", &slots.assignResult},
        {"play", &slots.playResult},       {"stop", &slots.stopResult},
        {"update", &slots.updateResult},   {"status", &slots.statusResult}};
    const auto found = names.find(name);
    return found == names.end() ? nullptr : found->second;
}

std::uint32_t Number(const std::string& text) {
    return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

// A datagram to `address` without and with SO_BROADCAST: the first is refused by the system.
void ProbeBroadcast(DriverHost& host, std::uint32_t address) {
    platform::StartSocketLibrary();
    for (bool allowed : {false, true}) {
        platform::Socket socket = platform::Socket::Create(platform::SocketKind::Udp);
        socket.Bind(platform::SocketAddress{0, 0});
        if (allowed)
            socket.SetBroadcast(true);
        const char probe[] = "probe";
        std::size_t sent = 0;
        const bool ok = socket.SendTo(probe, sizeof(probe),
                                      platform::SocketAddress{address, kDiscoveryPort}, sent);
        host.Print(std::string("probe ") + (allowed ? "with" : "without") + " SO_BROADCAST: " +
                   (ok ? "sent" : "error " + std::to_string(platform::LastSocketError())));
    }
}

} // namespace

int RunDriverScript(DriverHost& host, DriverSession& session, DeviceControl& control,
                    const std::vector<std::string>& args) {
    ControlState& state = control.State();
    HostIdentity& identity = session.context.host;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& step = args[i];
        auto need = [&](std::size_t count) { return i + count < args.size(); };
        if (step == "host") {
            const int result = LookUpHostAddress(host.Port(), identity);
            host.Print("host result=" + std::to_string(result) + " name=" + identity.hostName +
                       " utf8=" + HexBytes(identity.hostNameUtf8) +
                       " address=" + identity.addressText + " mac=" + MacText(identity.mac) +
                       " macKnown=" + std::to_string(identity.macKnown) +
                       " broadcast=" + identity.broadcastText);
        } else if (step == "discover") {
            DiscoverTargets(host.Port(), session.context, session.table);
            host.Print("discover error=" + std::to_string(session.context.lastError) +
                       " found=" + std::to_string(session.table.foundCount) +
                       " valid=" + std::to_string(session.table.validCount));
            for (int t = 0; t < session.table.foundCount; ++t) {
                const TargetEntry& e = session.table.entries[static_cast<std::size_t>(t)];
                host.Print("target " + std::to_string(t) + " ip=" + DottedText(e.ip) +
                           " connectInform=" + std::to_string(e.connectInform) +
                           " product=" + platform::Utf16ToUtf8(e.productName) +
                           " device=" + platform::Utf16ToUtf8(e.deviceName));
            }
        } else if (step == "open" && need(1)) {
            const std::string target = args[++i];
            std::uint32_t address = 0;
            if (target == "free") {
                for (int t = 0; t < session.table.foundCount; ++t) {
                    if (session.table.entries[static_cast<std::size_t>(t)].connectInform == 0) {
                        address = session.table.entries[static_cast<std::size_t>(t)].ip;
                        break;
                    }
                }
            } else if (!ParseDottedQuad(target, address)) {
                return 2;
            }
            session.events.connectEvents = 0;
            control.OpenControlConnection(address);
            host.Print(std::string("open ") + (control.HasConnection() ? "started" : "failed"));
        } else if (step == "wait-connect" && need(1)) {
            const int ms = static_cast<int>(Number(args[++i]));
            host.RunFor(ms, [&] { return session.events.connectEvents > 0; });
            host.Print(session.events.connectEvents > 0
                           ? "connect-event error=" + std::to_string(session.events.connectError)
                           : std::string("connect-event none"));
        } else if (step == "connect" && need(2)) {
            const std::uint32_t sub = Number(args[i + 1]);
            const std::string code = args[i + 2] == "-" ? std::string() : args[i + 2];
            i += 2;
            control.REQ_ConnectKestro(sub, identity.mac, code);
        } else if (step == "assign" && need(2)) {
            control.REQ_AssignFileIndex(Number(args[i + 1]), Number(args[i + 2]));
            i += 2;
        } else if (step == "key" && need(1)) {
            control.REQ_PlayCtrl(static_cast<std::uint8_t>(Number(args[++i])));
        } else if (step == "update" && need(1)) {
            control.REQ_UpdateFileList(Number(args[++i]));
        } else if (step == "status") {
            control.REQ_GetStatus();
        } else if (step == "wait" && need(2)) {
            const std::string name = args[i + 1];
            const int ms = static_cast<int>(Number(args[i + 2]));
            i += 2;
            std::uint32_t* slot = Slot(state.results, name);
            if (slot == nullptr)
                return 2;
            host.RunFor(ms, [&] { return *slot != kResultPending; });
            host.Print(name + "=" + Hex(*slot));
        } else if (step == "run" && need(1)) {
            host.RunFor(static_cast<int>(Number(args[++i])), {});
        } else if (step == "wait-closed" && need(1)) {
            host.RunFor(static_cast<int>(Number(args[++i])),
                        [&] { return !control.HasConnection(); });
            host.Print(control.HasConnection() ? "open" : "closed");
        } else if (step == "state") {
            host.Print("state connected=" + std::to_string(state.connected) +
                       " playing=" + std::to_string(state.playing) +
                       " playState=" + std::to_string(state.playState) +
                       " fileIndex=" + std::to_string(state.fileIndex) +
                       " mediaType=" + std::to_string(state.mediaType));
        } else if (step == "disconnect") {
            control.DoDisConnect();
        } else if (step == "probe-broadcast" && need(1)) {
            std::uint32_t address = 0;
            if (!ParseDottedQuad(args[++i], address))
                return 2;
            ProbeBroadcast(host, address);
        } else {
            host.Print("unknown step: " + step);
            return 2;
        }
    }
    return 0;
}

} // namespace manager::driver
