#include "platform/bytes.h"

#include <cstring>

namespace platform {

bool MemoryByteSource::read(std::uint64_t offset, void* out, std::size_t count) const {
    if (!has(offset, count)) return false;
    std::memcpy(out, data_ + offset, count);
    return true;
}

bool ByteSource::u16(std::uint64_t offset, std::uint16_t& out) const {
    std::uint8_t b[2];
    return read(offset, b, 2) && Bytes{b, 2}.u16(0, out);
}

bool ByteSource::u32(std::uint64_t offset, std::uint32_t& out) const {
    std::uint8_t b[4];
    return read(offset, b, 4) && Bytes{b, 4}.u32(0, out);
}

}  // namespace platform
