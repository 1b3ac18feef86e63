// Packet framing, building and the per-command checks of the control protocol.
#include "player/ControlCodec.h"

#include <algorithm>
#include <cstdio>

namespace player {

namespace {

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string Number(std::uint32_t value) {
    return std::to_string(value);
}

void ExpectLength(const Packet& request, std::size_t length, const char* rule, Departures& out) {
    if (request.length != length)
        out.push_back({rule, std::string(CommandName(request.cmd)) + " has length " +
                                 Number(request.length) + ", not " + Number(length)});
}

void CheckConnect(const Packet& request, const RequestContext& context, Departures& out) {
    const std::uint32_t subCmd = request.Word(12);
    if (subCmd > kConnectDeactivate)
        out.push_back({"connect.subcmd", "subCmd " + Number(subCmd) + " is not 0 to 3"});
    ConnectPayload payload;
    if (!DecodeConnectPayload(request, payload)) {
        out.push_back({"connect.length", "length " + Number(request.length) +
                                             " leaves no room for the 17-byte minimum payload"});
        return;
    }
    if (context.discoveryMac && payload.mac != *context.discoveryMac)
        out.push_back({"connect.mac", "MAC " + MacText(payload.mac) +
                                          " differs from the search request's " +
                                          MacText(*context.discoveryMac)});
    if (context.expectedMac && payload.mac != *context.expectedMac)
        out.push_back({"connect.mac", "MAC " + MacText(payload.mac) + ", expected " +
                                          MacText(*context.expectedMac)});
    const ByteSpan body = request.From(16);
    if (body[6] != 0 || body[7] != 0)
        out.push_back({"connect.zero", "payload bytes 6 and 7 are not zero"});
    if (subCmd != kConnectWithCode && !IsAllZero(payload.code))
        out.push_back(
            {"connect.code", "access code bytes are not zero in subCmd " + Number(subCmd)});
    if (subCmd == kConnectWithCode) {
        const auto firstZero = std::find(payload.code.begin(), payload.code.end(), 0);
        if (!std::all_of(firstZero, payload.code.end(), [](std::uint8_t b) { return b == 0; }))
            out.push_back(
                {"connect.code", "access code is not zero-padded: " + ToHex(payload.code)});
        if (!context.accessCodeAsked)
            out.push_back(
                {"connect.order", "subCmd 2 although this connection was never answered 101"});
    }
    const ByteSpan name = body.subspan(16);
    const auto zero = std::find(name.begin(), name.end(), 0);
    if (zero == name.end())
        out.push_back({"connect.hostname", "host name has no terminating zero byte"});
    else if (zero + 1 != name.end())
        out.push_back({"connect.hostname",
                       "host name's zero byte is at " + Number(zero - name.begin()) + " of " +
                           Number(name.size()) + " bytes; exactly one zero must end it"});
    const std::size_t nameLength = static_cast<std::size_t>(zero - name.begin());
    if (nameLength > 127)
        out.push_back({"connect.hostname",
                       "host name of " + Number(nameLength) + " bytes is longer than 127"});
    if (!IsValidUtf8(name.first(nameLength)))
        out.push_back(
            {"connect.hostname", "host name is not valid UTF-8: " + ToHex(name.first(nameLength))});
    if (context.expectedHostName && payload.hostName != *context.expectedHostName)
        out.push_back({"connect.hostname", "host name \"" + payload.hostName + "\", expected \"" +
                                               *context.expectedHostName + "\""});
}

} // namespace

const char* CommandName(std::uint32_t cmd) {
    switch (cmd) {
    case REQ_ConnectKestro:
        return "REQ_ConnectKestro";
    case REQ_AssignFileIndex:
        return "REQ_AssignFileIndex";
    case REQ_PlayCtrl:
        return "REQ_PlayCtrl";
    case REQ_UpdateFileList:
        return "REQ_UpdateFileList";
    case REQ_GetStatus:
        return "REQ_GetStatus";
    case SwapHalves(REQ_ConnectKestro):
        return "CTRL_ACK_PC_CONNECT";
    case SwapHalves(REQ_AssignFileIndex):
        return "CTRL_ACK_PC_ASSIGNFILE";
    case SwapHalves(REQ_PlayCtrl):
        return "CTRL_ACK_PC_PLAYCTRL";
    case SwapHalves(REQ_UpdateFileList):
        return "CTRL_ACK_PC_UPDATEFILELIST";
    case SwapHalves(REQ_GetStatus):
        return "CTRL_ACK_PC_GETSTATUS";
    case CTRL_REQ_CONNECT_PC:
        return "CTRL_REQ_CONNECT_PC";
    case CTRL_REQ_GETNEXTFILE_PC:
        return "CTRL_REQ_GETNEXTFILE_PC";
    case CTRL_REQ_PLAYSTATUS_PC:
        return "CTRL_REQ_PLAYSTATUS_PC";
    case CTRL_REQ_ASSIGNFILESTATUS_PC:
        return "CTRL_REQ_ASSIGNFILESTATUS_PC";
    default:
        return "unknown";
    }
}

PacketFramer::Outcome PacketFramer::Next(Packet& packet, Bytes& dropped) {
    if (buffer_.size() < kHeaderSize)
        return Outcome::NeedMore;
    const std::uint32_t reserved = GetU32(buffer_, 4);
    const std::uint16_t tag = GetU16(buffer_, 8);
    if (reserved != 0 || tag != kPacketTag) {
        dropped = std::move(buffer_);
        buffer_.clear();
        return Outcome::OutOfStep;
    }
    // `length` is 16 bits wide, so any value frames; each command checks its own.
    const std::size_t size = kHeaderSize + GetU16(buffer_, 10);
    if (buffer_.size() < size)
        return Outcome::NeedMore;
    packet.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
    packet.cmd = GetU32(packet.bytes, 0);
    packet.reserved = reserved;
    packet.tag = tag;
    packet.length = GetU16(packet.bytes, 10);
    return Outcome::Packet;
}

Bytes BuildPacket(std::uint32_t cmd, std::uint32_t word12, ByteSpan body) {
    Bytes out;
    out.reserve(16 + body.size());
    PutU32(out, cmd);
    PutU32(out, 0);
    PutU16(out, kPacketTag);
    PutU16(out, static_cast<std::uint16_t>(4 + body.size()));
    PutU32(out, word12);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes BuildAnswer(const Packet& request, std::uint32_t result, Bytes body) {
    const std::size_t payload = request.length >= 4 ? request.length - 4u : 0u;
    body.resize(payload, 0);
    Bytes out;
    out.reserve(20 + payload);
    PutU32(out, SwapHalves(request.cmd));
    PutU32(out, 0);
    PutU16(out, kPacketTag);
    PutU16(out, static_cast<std::uint16_t>(request.length + 4));
    PutU32(out, result);
    PutU32(out, request.Word(12));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

AnswerExpectation ExpectedAnswer(ByteSpan request) {
    if (request.size() < 16 || GetU16(request, 10) < 4)
        return {};
    const std::uint32_t cmd = GetU32(request, 0);
    const std::uint32_t subCmd = GetU32(request, 12);
    switch (cmd) {
    case CTRL_REQ_CONNECT_PC:
        return subCmd == 1 ? AnswerExpectation{} : AnswerExpectation{true, 0};
    case CTRL_REQ_GETNEXTFILE_PC:
        return {true, 200};
    case CTRL_REQ_PLAYSTATUS_PC:
    case CTRL_REQ_ASSIGNFILESTATUS_PC:
        return {true, 0};
    default:
        return {};
    }
}

Departures CheckPcAnswer(ByteSpan request, const Packet& answer) {
    Departures out;
    const std::uint32_t cmd = GetU32(request, 0);
    const std::uint16_t length = GetU16(request, 10);
    const char* name = CommandName(cmd);
    const AnswerExpectation expected = ExpectedAnswer(request);
    if (!expected.answered) {
        out.push_back(
            {"answer.forbidden", std::string(name) + " subCmd " +
                                     Number(request.size() >= 16 ? GetU32(request, 12) : 0) +
                                     " must get no answer"});
        return out;
    }
    if (answer.cmd != SwapHalves(cmd))
        out.push_back(
            {"answer.cmd", "cmd " + Hex32(answer.cmd) + ", expected " + Hex32(SwapHalves(cmd))});
    if (answer.length != length + 4u)
        out.push_back({"answer.length",
                       "length " + Number(answer.length) + ", expected " + Number(length + 4u)});
    const std::uint32_t result = answer.Word(12);
    if (answer.bytes.size() < 16 || result != expected.result)
        out.push_back({"answer.result", std::string(name) + " answered with result " +
                                            Number(result) + ", expected " +
                                            Number(expected.result)});
    if (answer.bytes.size() < 20 || answer.Word(16) != GetU32(request, 12))
        out.push_back({"answer.subcmd", "echoed subCmd " + Number(answer.Word(16)) + ", expected " +
                                            Number(GetU32(request, 12))});
    const ByteSpan payload = ByteSpan(request).subspan(16);
    const ByteSpan body = answer.From(20);
    if (!std::equal(payload.begin(), payload.end(), body.begin(), body.end()))
        out.push_back({"answer.body",
                       "body " + ToHex(body) + " is not the request's payload " + ToHex(payload)});
    return out;
}

bool DecodeConnectPayload(const Packet& request, ConnectPayload& payload) {
    const ByteSpan body = request.From(16);
    if (request.length < 4 + 17 || body.size() < 17)
        return false;
    payload.mac.assign(body.begin(), body.begin() + 6);
    payload.code.assign(body.begin() + 8, body.begin() + 16);
    const ByteSpan name = body.subspan(16);
    const auto zero = std::find(name.begin(), name.end(), 0);
    payload.hostName.assign(name.begin(), zero);
    return true;
}

Departures CheckPcRequest(const Packet& request, const RequestContext& context) {
    Departures out;
    const std::uint32_t subCmd = request.Word(12);
    switch (request.cmd) {
    case REQ_ConnectKestro:
        CheckConnect(request, context, out);
        break;
    case REQ_AssignFileIndex:
        ExpectLength(request, 12, "assign.length", out);
        if (subCmd != 1)
            out.push_back({"assign.subcmd", "subCmd " + Number(subCmd) + ", not 1"});
        if (request.bytes.size() >= 24) {
            if (request.Word(16) == 0)
                out.push_back({"assign.index", "file index 0; indexes count from 1"});
            if (request.Word(20) > 3)
                out.push_back({"assign.mediatype",
                               "mediaType " + Number(request.Word(20)) + " is not 0 to 3"});
        }
        break;
    case REQ_PlayCtrl:
        ExpectLength(request, 4, "playctrl.length", out);
        if (subCmd != KEY_PLAY && subCmd != kKeyStop && subCmd != kKeyPause &&
            subCmd != kKeyForward && subCmd != kKeyRewind)
            out.push_back({"playctrl.key", "key " + Number(subCmd) + " is not 0, 1, 2, 5 or 6"});
        break;
    case REQ_UpdateFileList:
        ExpectLength(request, 4, "update.length", out);
        if (subCmd != 3)
            out.push_back({"update.subcmd", "subCmd " + Number(subCmd) + ", not 3"});
        break;
    case REQ_GetStatus:
        ExpectLength(request, 16, "status.length", out);
        if (subCmd != 1)
            out.push_back({"status.subcmd", "subCmd " + Number(subCmd) + ", not 1"});
        if (!IsAllZero(request.From(16)))
            out.push_back(
                {"status.payload", "payload " + ToHex(request.From(16)) + " is not 12 zero bytes"});
        break;
    default:
        out.push_back({"packet.cmd", "cmd " + Hex32(request.cmd) + " is no PC request"});
        break;
    }
    if (request.length < 4)
        out.push_back(
            {"packet.length", "length " + Number(request.length) + " leaves no room for subCmd"});
    return out;
}

} // namespace player
