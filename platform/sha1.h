// SHA-1 (FIPS 180-4), for the public key tokens of .NET assemblies: the
// last 8 bytes of the SHA-1 of the key. Our own small one, so the MinGW-w64
// build needs no crypto library (none is packaged for it here).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

class Sha1 {
public:
    using Digest = std::array<std::uint8_t, 20>;

    Sha1();
    void update(const void* data, std::size_t size);
    // The digest of everything given so far; the object is spent after it.
    Digest finish();

    static Digest of(const void* data, std::size_t size) {
        Sha1 h;
        h.update(data, size);
        return h.finish();
    }

private:
    void block(const std::uint8_t* p);

    std::uint32_t state_[5];
    std::uint64_t length_ = 0;  // bytes hashed
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
};

}  // namespace platform
