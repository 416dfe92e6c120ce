#include "platform/bytes.h"

#include <cstring>

namespace platform {

bool MemoryByteSource::read(std::uint64_t offset, void* out, std::size_t count) const {
    if (!has(offset, count)) return false;
    if (count) std::memcpy(out, data_ + offset, count);
    return true;
}

bool ByteSource::u16(std::uint64_t offset, std::uint16_t& out) const {
    std::uint8_t b[2];
    return read(offset, b, 2) && MemoryByteSource(b, 2).u16(0, out);
}

bool ByteSource::u32(std::uint64_t offset, std::uint32_t& out) const {
    std::uint8_t b[4];
    return read(offset, b, 4) && MemoryByteSource(b, 4).u32(0, out);
}

bool ByteSource::u64(std::uint64_t offset, std::uint64_t& out) const {
    std::uint32_t low = 0, high = 0;
    if (!u32(offset, low) || !u32(offset + 4, high)) return false;
    out = low | static_cast<std::uint64_t>(high) << 32;
    return true;
}

}  // namespace platform
