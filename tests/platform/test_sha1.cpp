// SHA-1 against the FIPS 180 examples, whole and fed in uneven pieces.
#include <gtest/gtest.h>

#include <string>

#include "platform/sha1.h"

namespace {
std::string hex(const platform::Sha1::Digest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : d) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}
}  // namespace

TEST(Sha1, KnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        // 56 bytes: the length no longer fits in the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& [text, digest] : cases) {
        EXPECT_EQ(hex(platform::Sha1::of(text.data(), text.size())), digest) << text.size();
        // Pieces of 1 to 97 bytes, across block boundaries.
        platform::Sha1 h;
        std::size_t at = 0;
        for (std::size_t piece = 1; at < text.size(); piece = piece % 97 + 1) {
            const std::size_t take = std::min(piece, text.size() - at);
            h.update(text.data() + at, take);
            at += take;
        }
        EXPECT_EQ(hex(h.finish()), digest) << text.size();
    }
}
