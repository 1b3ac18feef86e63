// SHA-256 against the FIPS 180-4 example vectors, fed whole and in uneven pieces.
#include "player/Sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace player {
namespace {

std::string Digest(const std::string& text, std::size_t piece) {
    Sha256 sha;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t at = 0; at < text.size(); at += piece)
        sha.Update(ByteSpan(bytes + at, std::min(piece, text.size() - at)));
    return sha.FinishHex();
}

TEST(Sha256, StandardVectorsWholeAndInPieces) {
    const struct {
        std::string text;
        const char* digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
    };
    for (const auto& v : vectors) {
        for (std::size_t piece :
             {std::size_t{1000000}, std::size_t{1}, std::size_t{63}, std::size_t{65}}) {
            if (piece == 1 && v.text.size() > 100000)
                continue; // a million single-byte calls only slow the sanitizers down
            EXPECT_EQ(Digest(v.text, piece), v.digest)
                << v.text.size() << " bytes in pieces of " << piece;
        }
    }
}

} // namespace
} // namespace player
