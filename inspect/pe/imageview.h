// The parts of a PE image that the loader-facing readers (load
// configuration, ARM64X view, hardening, mapping) share: the optional
// header's fields past the data directories' reach of PeImage, the section
// headers with their characteristics, and reads of the image as the loader
// maps it (file bytes up to a section's raw size, zeros after it).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/peimage.h"

namespace pe {

struct DirectoryEntry {
    std::uint32_t rva = 0, size = 0;
};

// Offsets in the optional header, the same in PE32 and PE32+.
constexpr std::uint64_t kSectionAlignment = 32, kFileAlignment = 36, kSizeOfImage = 56, kSizeOfHeaders = 60,
                        kDllCharacteristics = 70;

constexpr std::uint16_t kMachineI386 = 0x014C, kMachineArmNt = 0x01C4, kMachineAmd64 = 0x8664, kMachineArm64 = 0xAA64;

struct SectionHeader {
    char name[8] = {};
    std::uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0, characteristics = 0;
};

// What the file header and optional header say, read once from the image's
// bytes at the places PeImage found.
struct HeaderFields {
    bool valid = false;           // the optional header's magic is PE32 or PE32+ and its fixed part is in the file
    std::uint64_t ntHeaders = 0;  // file offset of the PE signature
    std::uint16_t sectionCount = 0, optionalSize = 0, characteristics = 0, dllCharacteristics = 0, magic = 0;
    std::uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfImage = 0, sizeOfHeaders = 0;
    std::uint32_t directoryCount = 0;  // NumberOfRvaAndSizes
    std::uint64_t directories = 0;     // file offset of data directory 0
    std::uint64_t sectionTable = 0;    // file offset of the first section header
};

// `image` has had readHeaders(); fields are zero where the file ends early.
HeaderFields headerFields(const platform::PeImage& image);

// Section header `i`; false when the table entry is not in the file.
bool sectionHeader(const platform::PeImage& image, const HeaderFields& fields, std::uint32_t i, SectionHeader& out);

// Where the loader puts the bytes around an RVA: the first section whose
// virtual range holds it (its VirtualSize, or its raw size when that is
// zero), else the headers when the RVA lies below their end. The first
// `raw` bytes of the range are the file's at `fileOffset`, of which the
// file holds `backed` (fewer when it was cut short); past `raw` the range
// reads as zeros.
struct MappedRange {
    std::uint64_t rva = 0, size = 0;
    std::uint64_t fileOffset = 0, raw = 0, backed = 0;
};
bool locate(const platform::PeImage& image, const HeaderFields& fields, std::uint64_t rva, MappedRange& out);

// `count` bytes at `rva` inside `range`; how many could be given (short
// where the range ends, or where a cut file lacks its raw bytes).
std::size_t readIn(const platform::PeImage& image, const MappedRange& range, std::uint64_t rva, std::uint8_t* out,
                   std::size_t count);

// locate, then readIn.
std::size_t readMapped(const platform::PeImage& image, const HeaderFields& fields, std::uint64_t rva, std::uint8_t* out,
                       std::size_t count);

}  // namespace pe
