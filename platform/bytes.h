// Bounded little-endian reads from an image's bytes, whether a file read
// piecewise or bytes already in memory: the one reader every PE table goes
// through. Offsets are 64-bit so that sums of 32-bit file fields can never
// wrap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // False when [offset, offset + count) is not all inside the source.
    virtual bool read(std::uint64_t offset, void* out, std::size_t count) const = 0;

    bool has(std::uint64_t offset, std::uint64_t count) const { return offset <= size() && count <= size() - offset; }
    bool u16(std::uint64_t offset, std::uint16_t& out) const;
    bool u32(std::uint64_t offset, std::uint32_t& out) const;
    bool u64(std::uint64_t offset, std::uint64_t& out) const;
};

// Bytes already in memory (a resource block, a section, a fuzzer's input).
// Its own u16/u32 read in place, without the virtual call.
class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource() = default;
    MemoryByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* out, std::size_t count) const override;
    const std::uint8_t* data() const { return data_; }

    bool has(std::uint64_t offset, std::uint64_t count) const { return offset <= size_ && count <= size_ - offset; }
    bool u16(std::uint64_t offset, std::uint16_t& out) const {
        if (!has(offset, 2)) return false;
        out = static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
        return true;
    }
    bool u32(std::uint64_t offset, std::uint32_t& out) const {
        if (!has(offset, 4)) return false;
        out = static_cast<std::uint32_t>(data_[offset]) | (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
              (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
              (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
        return true;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace platform
