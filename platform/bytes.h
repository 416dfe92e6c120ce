// Bounds-checked little-endian reads from a byte range. Offsets are 64-bit so
// that sums of 32-bit file fields can never wrap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct Bytes {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    bool has(std::uint64_t offset, std::uint64_t count) const {
        return offset <= size && count <= size - offset;
    }
    bool u16(std::uint64_t offset, std::uint16_t& out) const {
        if (!has(offset, 2)) return false;
        out = static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
        return true;
    }
    bool u32(std::uint64_t offset, std::uint32_t& out) const {
        if (!has(offset, 4)) return false;
        out = static_cast<std::uint32_t>(data[offset]) | (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
              (static_cast<std::uint32_t>(data[offset + 2]) << 16) |
              (static_cast<std::uint32_t>(data[offset + 3]) << 24);
        return true;
    }
};

}  // namespace platform
