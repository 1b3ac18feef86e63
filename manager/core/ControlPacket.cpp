// Encoding and header checks of the control protocol's packets.
#include "manager/core/ControlPacket.h"

namespace manager {

std::vector<std::uint8_t> BuildPacket(std::uint32_t cmd, std::uint32_t subCmd, ByteSpan body) {
    std::vector<std::uint8_t> packet;
    packet.reserve(16 + body.size());
    PutU32(packet, cmd);
    PutU32(packet, 0);
    PutU16(packet, kPacketTag);
    PutU16(packet, static_cast<std::uint16_t>(4 + body.size()));
    PutU32(packet, subCmd);
    PutBytes(packet, body);
    return packet;
}

bool ReadHeader(ByteSpan bytes, PacketHeader& header) {
    return GetU32(bytes, 0, header.cmd) && GetU32(bytes, 4, header.reserved) &&
           GetU16(bytes, 8, header.tag) && GetU16(bytes, 10, header.length);
}

bool IsInStep(const PacketHeader& header) {
    return header.reserved == 0 && header.tag == kPacketTag && header.length >= kMinPacketLength &&
           header.length <= kMaxPacketLength;
}

std::vector<std::uint8_t> BuildAnswer(ByteSpan request, std::uint32_t result) {
    PacketHeader header;
    std::uint32_t subCmd = 0;
    if (!ReadHeader(request, header) || !GetU32(request, kPacketHeaderSize, subCmd))
        return {};
    // The payload as the request announced it, but never past the bytes that arrived.
    std::size_t payloadSize = header.length > 4 ? header.length - 4u : 0u;
    const std::size_t available = request.size() - (kPacketHeaderSize + 4);
    if (payloadSize > available)
        payloadSize = available;
    std::vector<std::uint8_t> answer;
    answer.reserve(20 + payloadSize);
    PutU32(answer, SwapHalves(header.cmd));
    PutU32(answer, 0);
    PutU16(answer, kPacketTag);
    // The request's length + 4 for every whole request (the only kind the stream hands over).
    PutU16(answer, static_cast<std::uint16_t>(8 + payloadSize));
    PutU32(answer, result);
    PutU32(answer, subCmd);
    PutBytes(answer, request.subspan(kPacketHeaderSize + 4, payloadSize));
    return answer;
}

} // namespace manager
