#include "inspect/pe/loadconfig.h"

#include <algorithm>
#include <array>
#include <new>

#include "inspect/pe/imageview.h"
#include "platform/bytes.h"

namespace pe {

namespace {

constexpr unsigned kLoadConfigEntry = 10;
// Past the last field read here in either layout; the rest of a longer
// structure is never looked at.
constexpr std::size_t kReadLimit = 0x100;
// What x86 linkers put in the data directory for Windows XP, whatever the
// structure's size.
constexpr std::uint32_t kXpDirectorySize = 64;

struct Offsets {
    unsigned dependentLoadFlags, securityCookie, seHandlerTable, seHandlerCount, guardCfFunctionTable,
        guardCfFunctionCount, guardFlags, dynamicValueRelocTable, chpeMetadataPointer, dynamicValueRelocTableOffset,
        dynamicValueRelocTableSection;
};
constexpr Offsets kPe32{0x36, 0x3C, 0x40, 0x44, 0x50, 0x54, 0x58, 0x78, 0x7C, 0x88, 0x8C};
constexpr Offsets kPe32Plus{0x4E, 0x58, 0x60, 0x68, 0x80, 0x88, 0x90, 0xC0, 0xC8, 0xE0, 0xE4};

class Fields {
public:
    Fields(const std::uint8_t* bytes, std::uint32_t covered) : bytes_(bytes), covered_(covered) {}

    template <typename T>
    void get(unsigned at, unsigned width, std::optional<T>& out) const {
        if (at + width > covered_) return;
        std::uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(bytes_[at + i]) << (8 * i);
        out = static_cast<T>(v);
    }

private:
    const std::uint8_t* bytes_;
    std::uint32_t covered_;
};

LoadConfig read(const platform::PeImage& image) {
    LoadConfig c;
    const HeaderFields h = headerFields(image);
    if (!h.valid) {
        c.reason = "no PE optional header";
        return c;
    }
    c.plus = image.plus();
    const platform::PeImage::Directory dir = image.directory(kLoadConfigEntry);
    c.rva = dir.rva;
    c.directorySize = dir.size;
    if (c.rva == 0 || c.directorySize == 0) {
        c.outcome = LoadConfig::Outcome::Absent;
        return c;
    }
    c.outcome = LoadConfig::Outcome::Damaged;
    // As the loader looks it up: inside the image, else no load configuration.
    if (c.rva >= h.sizeOfImage || c.directorySize > h.sizeOfImage - c.rva) {
        c.reason = "the directory lies outside the image";
        return c;
    }
    std::array<std::uint8_t, kReadLimit> bytes{};
    const std::size_t got = readMapped(image, h, c.rva, bytes.data(), bytes.size());
    if (got < 4) {
        c.reason = "the structure lies in no section the file holds";
        return c;
    }
    platform::MemoryByteSource(bytes.data(), got).u32(0, c.size);
    std::uint64_t wanted = c.size;
    if (c.plus || c.directorySize != kXpDirectorySize) wanted = std::min<std::uint64_t>(wanted, c.directorySize);
    wanted = std::min<std::uint64_t>(wanted, kReadLimit);
    c.covered = static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, got));
    const Fields f(bytes.data(), c.covered);
    const Offsets& o = c.plus ? kPe32Plus : kPe32;
    const unsigned p = c.plus ? 8 : 4;  // pointer-sized fields
    f.get(o.dependentLoadFlags, 2, c.dependentLoadFlags);
    f.get(o.securityCookie, p, c.securityCookie);
    f.get(o.seHandlerTable, p, c.seHandlerTable);
    f.get(o.seHandlerCount, p, c.seHandlerCount);
    f.get(o.guardCfFunctionTable, p, c.guardCfFunctionTable);
    f.get(o.guardCfFunctionCount, p, c.guardCfFunctionCount);
    f.get(o.guardFlags, 4, c.guardFlags);
    f.get(o.dynamicValueRelocTable, p, c.dynamicValueRelocTable);
    f.get(o.chpeMetadataPointer, p, c.chpeMetadataPointer);
    f.get(o.dynamicValueRelocTableOffset, 4, c.dynamicValueRelocTableOffset);
    f.get(o.dynamicValueRelocTableSection, 2, c.dynamicValueRelocTableSection);
    // What could be read counts; the structure is damaged all the same.
    if (c.size > h.sizeOfImage - c.rva) {
        c.reason = "the structure's size runs past the image";
        return c;
    }
    if (got < wanted) {
        c.reason = "the structure runs past its section or the end of the file";
        return c;
    }
    c.outcome = LoadConfig::Outcome::Read;
    return c;
}

}  // namespace

LoadConfig readLoadConfig(const platform::PeImage& image) {
    try {
        return read(image);
    } catch (const std::bad_alloc&) {
        LoadConfig c;
        c.reason = "out of memory";
        return c;
    }
}

}  // namespace pe
