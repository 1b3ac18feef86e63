// NFS composites over the XDR codec: sattr3 decoding, wcc_data and post_op_attr, NFS times.
#include "server/nfs/NfsXdr.h"

namespace nfs {

bool ReadSetAttributes(rpc::XdrReader& reader, SetAttributes& attributes) {
    attributes = SetAttributes{};
    if (!reader.ReadBool(attributes.setMode) ||
        (attributes.setMode && !reader.ReadUInt32(attributes.mode)))
        return false;
    if (!reader.ReadBool(attributes.setUid) ||
        (attributes.setUid && !reader.ReadUInt32(attributes.uid)))
        return false;
    if (!reader.ReadBool(attributes.setGid) ||
        (attributes.setGid && !reader.ReadUInt32(attributes.gid)))
        return false;
    if (!reader.ReadBool(attributes.setSize) ||
        (attributes.setSize && !reader.ReadUInt64(attributes.size)))
        return false;
    // time_how: 0 DONT_CHANGE, 1 SET_TO_SERVER_TIME, 2 SET_TO_CLIENT_TIME (the time follows).
    struct TimeMember {
        bool* set;
        bool* fromClient;
        NfsTime* time;
    };
    for (const TimeMember member :
         {TimeMember{&attributes.setAccessTime, &attributes.accessTimeFromClient,
                     &attributes.accessTime},
          TimeMember{&attributes.setModifyTime, &attributes.modifyTimeFromClient,
                     &attributes.modifyTime}}) {
        std::uint32_t how = 0;
        if (!reader.ReadUInt32(how))
            return false;
        *member.set = how != 0;
        *member.fromClient = how == 2;
        if (how == 2 && (!reader.ReadUInt32(member.time->seconds) ||
                         !reader.ReadUInt32(member.time->nanoseconds)))
            return false;
    }
    return true;
}

bool WriteWccData(rpc::XdrWriter& writer, const Fattr3& before, const Fattr3& after) {
    return writer.WriteBool(true) && writer.WriteBytes(before.data() + fattr::kSize, 8) &&
           writer.WriteBytes(before.data() + fattr::kMtime, 8) &&
           writer.WriteBytes(before.data() + fattr::kCtime, 8) &&
           WritePostOpAttributes(writer, after);
}

bool WritePostOpAttributes(rpc::XdrWriter& writer, const Fattr3& attributes) {
    return writer.WriteBool(true) && writer.WriteBytes(attributes.data(), kFattrSize);
}

NfsTime FileTimeToNfsTime(std::uint64_t fileTime) {
    if (fileTime <= kFileTimeUnixEpoch)
        return {};
    const std::uint64_t ticks = fileTime - kFileTimeUnixEpoch;
    const std::uint64_t seconds = ticks / 10000000;
    if (seconds > 0xFFFFFFFFull)
        return {0xFFFFFFFFu, 999999900u};
    return {static_cast<std::uint32_t>(seconds),
            static_cast<std::uint32_t>(ticks % 10000000 * 100)};
}

std::uint64_t NfsTimeToFileTime(NfsTime time) {
    return kFileTimeUnixEpoch + std::uint64_t{time.seconds} * 10000000 + time.nanoseconds / 100;
}

} // namespace nfs
