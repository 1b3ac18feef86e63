// SHA-256 (FIPS 180-4), incremental, for the digest of what the player read over NFS.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "player/Bytes.h"

namespace player {

class Sha256 {
  public:
    Sha256();
    void Update(ByteSpan data);
    // Finishes the digest; the object must not be updated afterwards.
    std::array<std::uint8_t, 32> Finish();
    // Finish() as 64 lower-case hex digits.
    std::string FinishHex();

  private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};

} // namespace player
