// Reading the control connection: packets cut from the byte stream, the player's requests and
// the answers to the PC's requests.
#include "manager/core/DeviceControl.h"

#include "manager/core/PortText.h"

namespace manager {

namespace {

// The logs print 32-bit values with %d as the C library would.
std::int32_t Signed(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

// UTF-16LE text from `offset` to its zero unit or the end of the packet.
std::u16string Utf16LeText(ByteSpan packet, std::size_t offset) {
    std::u16string text;
    for (std::size_t i = offset; i + 1 < packet.size(); i += 2) {
        const auto unit = static_cast<char16_t>(packet[i] | (packet[i + 1] << 8));
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

} // namespace

void DeviceControl::ReceiveCtrlPackets() {
    if (!socket_)
        return;
    const ReceiveResult read = socket_->Receive(readBuffer_);
    if (read.status != ReceiveStatus::Data || read.count == 0)
        return;
    const std::uint32_t serial = connectionSerial_;
    ByteSpan unread(readBuffer_.data(), read.count);
    std::vector<std::uint8_t> packet;
    // A header out of step is logged once per notification: garbage is scanned for the next
    // packet without a line for each place that could not start one.
    bool outOfStep = false;
    while (!unread.empty()) {
        unread = unread.subspan(stream_.Append(unread));
        for (;;) {
            PacketHeader header;
            const std::size_t buffered = stream_.Buffered();
            const ControlStream::Next next = stream_.Take(header, packet);
            if (next == ControlStream::Next::Empty || next == ControlStream::Next::HeaderIncomplete)
                break;
            if (next == ControlStream::Next::OutOfStep) {
                if (!outOfStep)
                    Log(port_, u"recv: size=%d, cmd=0x%x", static_cast<int>(buffered), header.cmd);
                outOfStep = true;
                continue;
            }
            Log(port_, u"recv: size=%d, cmd=0x%x", static_cast<int>(buffered), header.cmd);
            if (next == ControlStream::Next::Incomplete) {
                Log(port_, u"recv: size=%d < (%d+%d)", static_cast<int>(buffered),
                    static_cast<int>(header.length), static_cast<int>(kPacketHeaderSize));
                break;
            }
            HandlePacket(header, packet);
            if (connectionSerial_ != serial)
                return;
        }
    }
}

void DeviceControl::HandlePacket(const PacketHeader& header, ByteSpan packet) {
    if (IsPlayerRequest(header.cmd))
        HandlePlayerRequest(header, packet);
    else
        HandleAnswer(header, packet);
}

void DeviceControl::SetPlayState(std::uint32_t state) {
    switch (state) {
    case kPlayStatePlaying:
    case kPlayStatePaused:
        state_.playing = true;
        state_.playState = state;
        return;
    case kPlayStateStopped:
        state_.playing = false;
        state_.playState = state;
        return;
    default:
        return;
    }
}

void DeviceControl::HandlePlayerRequest(const PacketHeader& header, ByteSpan packet) {
    std::uint32_t subCmd = 0;
    GetU32(packet, kPacketHeaderSize, subCmd);
    switch (header.cmd) {
    case CTRL_REQ_CONNECT_PC:
        if (subCmd == 1) {
            Log(port_, u"REQ CTRL_REQ_CONNECT_PC: do DoDisConnect() \n ");
            DoDisConnect();
        } else {
            Log(port_, u"REQ CTRL_REQ_CONNECT_PC: not support subCmd=%d \n ", Signed(subCmd));
        }
        Log(port_, u"REQ CTRL_REQ_CONNECT_PC: %x ", subCmd);
        break;
    case CTRL_REQ_GETNEXTFILE_PC:
        Log(port_, u"REQ CTRL_REQ_GETNEXTFILE_PC: %x ", subCmd);
        break;
    case CTRL_REQ_PLAYSTATUS_PC: {
        const std::uint32_t state = subCmd & 0xFF;
        SetPlayState(state);
        RefreshStatus(false);
        Log(port_, u"REQ CTRL_REQ_PLAYSTATUS_PC: %x ", state);
        break;
    }
    case CTRL_REQ_ASSIGNFILESTATUS_PC: {
        Log(port_, u"REQ CTRL_REQ_ASSIGNFILESTATUS_PC: %x ", subCmd);
        if (subCmd == 0) {
            Log(port_, u"\tFile Name: %s", Utf16LeText(packet, 16));
        } else if (subCmd == 1) {
            // Index and type only when the payload holds them.
            std::uint32_t fileIndex = 0;
            std::uint32_t mediaType = 0;
            if (GetU32(packet, 16, fileIndex) && GetU32(packet, 20, mediaType)) {
                Log(port_, u"\tFile Idx: %d, MediaType=%d ", Signed(fileIndex), Signed(mediaType));
                state_.fileIndex = fileIndex;
                state_.mediaType = mediaType;
            }
        }
        RefreshStatus(false);
        break;
    }
    default:
        return; // unknown player requests are dropped and not answered
    }
    lastDeviceRequest_.assign(packet.begin(), packet.end());
    port_.PostAnswerDeviceRequest(header.cmd, subCmd);
}

void DeviceControl::HandleAnswer(const PacketHeader& header, ByteSpan packet) {
    // Only the answer to the latest request counts; anything else leaves the slots as they are.
    PacketHeader request;
    std::uint32_t requestSubCmd = 0;
    if (!ReadHeader(lastRequest_, request) ||
        !GetU32(lastRequest_, kPacketHeaderSize, requestSubCmd))
        return;
    std::uint32_t result = 0;
    std::uint32_t echoed = 0;
    if (header.cmd != SwapHalves(request.cmd) || header.length != request.length + 4u ||
        !GetU32(packet, kPacketHeaderSize, result) || !GetU32(packet, 16, echoed) ||
        echoed != requestSubCmd)
        return;

    Log(port_, u"ACK CMD_0x%x_0x%x: %d", header.cmd, echoed, Signed(result));
    ResultSlots& slots = state_.results;
    switch (header.cmd) {
    case CTRL_ACK_PC_CONNECT:
        slots.connectResult = result;
        if (echoed == kConnectOpen || echoed == kConnectWithCode) {
            slots.openResult = result;
            if (result == 0) {
                state_.connected = true;
                state_.playing = false;
                state_.playState = kPlayStateStopped;
            }
        } else if (echoed == kConnectClose || echoed == kConnectDeactivate) {
            slots.closeResult = result;
            if (result == 0) {
                state_.connected = false;
                state_.playing = false;
                state_.playState = kPlayStateStopped;
            }
        }
        RefreshStatus(false);
        Log(port_, u"ACK CTRL_ACK_PC_CONNECT_0x%x: %d", echoed, Signed(slots.connectResult));
        return;
    case CTRL_ACK_PC_ASSIGNFILE:
        slots.assignResult = result;
        Log(port_, u"ACK CTRL_ACK_PC_ASSIGNFILE_%x: %d", echoed, Signed(result));
        return;
    case CTRL_ACK_PC_PLAYCTRL: {
        const std::uint32_t key = echoed & 0xFF;
        if (key == KEY_PLAY) {
            slots.playResult = result;
            if (result == 0)
                SetPlayState(kPlayStatePlaying);
        } else if (key == KEY_PAUSE) {
            if (result == 0)
                SetPlayState(kPlayStatePaused);
        } else if (key == KEY_STOP) {
            slots.stopResult = result;
            if (result == 0)
                SetPlayState(kPlayStateStopped);
        }
        RefreshStatus(false);
        Log(port_, u"ACK CTRL_ACK_PC_PLAYCTRL_%x: %d", echoed, Signed(result));
        return;
    }
    case CTRL_ACK_PC_UPDATEFILELIST:
        slots.updateResult = result;
        Log(port_, u"ACK CTRL_ACK_PC_UPDATEFILELIST_%x: %d", echoed, Signed(result));
        return;
    case CTRL_ACK_PC_GETSTATUS: {
        slots.statusResult = result;
        Log(port_, u"ACK CTRL_ACK_PC_GETSTATUS_%x: %d", echoed, Signed(result));
        std::uint32_t status = 0;
        if (result == 0 && GetU32(packet, 20, status)) {
            const std::uint32_t state = status & 0xFF;
            SetPlayState(state);
            if (echoed == 0) {
                Log(port_, u"\tFile Name: (status=%d) %s", Signed(state), Utf16LeText(packet, 24));
            } else if (echoed == 1) {
                std::uint32_t fileIndex = 0;
                std::uint32_t mediaType = 0;
                if (GetU32(packet, 24, fileIndex) && GetU32(packet, 28, mediaType)) {
                    state_.fileIndex = fileIndex;
                    state_.mediaType = mediaType;
                    Log(port_, u"\tFile Idx: (status=%d) %d, MediaType=%d", Signed(state),
                        Signed(fileIndex), Signed(mediaType));
                }
            }
        }
        RefreshStatus(false);
        return;
    }
    default:
        return;
    }
}

} // namespace manager
