// The byte buffers that calls are received into and replies are built in.
#pragma once

#include <cstdint>

namespace rpc {

// Largest TCP record (mark included) and largest buffer that growth produces.
inline constexpr std::uint32_t kMessageLimit = 10485760;
// Largest reply that one UDP datagram carries over IPv4 (65535 less the IP and UDP headers).
inline constexpr std::uint32_t kDatagramLimit = 65507;
inline constexpr std::uint32_t kGrowthAlignment = 10240;
inline constexpr std::uint32_t kRecordLastFragment = 0x80000000u;
inline constexpr std::uint32_t kRecordLengthMask = 0x7fffffffu;

// In a request, `length` is the bytes received and `position` the read cursor. In a reply,
// `length` is the bytes written (the TCP record mark slot included) and `position` the start.
// Page-backed buffers are page aligned so that sector-sized transfers can land in them.
class XdrBuffer {
  public:
    explicit XdrBuffer(bool pageBacked = false) : pageBacked_(pageBacked) {}
    ~XdrBuffer();
    XdrBuffer(const XdrBuffer&) = delete;
    XdrBuffer& operator=(const XdrBuffer&) = delete;

    std::uint8_t* data = nullptr;
    std::uint32_t position = 0;
    std::uint32_t length = 0;
    std::uint32_t capacity = 0;

    bool PageBacked() const { return pageBacked_; }
    void Reset(std::uint32_t newLength = 0) {
        position = 0;
        length = newLength;
    }

  private:
    bool pageBacked_;
};

// Makes room for at least `size` bytes (size rounded up to `alignment`); keeps the contents up
// to min(length, size). Size 0 frees. False when memory runs out (capacity is then 0).
bool SetCapacity(XdrBuffer& buffer, std::uint32_t size, std::uint32_t alignment);

} // namespace rpc
