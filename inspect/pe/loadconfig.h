// The load configuration (data directory 10): IMAGE_LOAD_CONFIG_DIRECTORY32
// or 64, read as the loader sees it in the mapped image. A field exists only
// when the structure's own Size covers it, the data directory's size too
// (except the 64 bytes that x86 linkers write there for Windows XP, which
// the loader takes as a version mark), and the image holds its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/peimage.h"

namespace pe {

// DependentLoadFlags bits: the LOAD_LIBRARY_SEARCH_* flags the loader uses
// for the image's own imports.
constexpr std::uint16_t kSearchDllLoadDir = 0x100, kSearchApplicationDir = 0x200, kSearchUserDirs = 0x400,
                        kSearchSystem32 = 0x800, kSearchDefaultDirs = 0x1000;

// GuardFlags: the image's code was built for Control Flow Guard.
constexpr std::uint32_t kGuardCfInstrumented = 0x100;

struct LoadConfig {
    enum class Outcome {
        Read,      // the fields the structure and the image hold
        Absent,    // no data directory 10 (its address or size is zero)
        Damaged,   // the directory lies outside the image, or the structure runs past what the image holds
        NotImage,  // no PE optional header to find it through
    };
    Outcome outcome = Outcome::NotImage;
    std::string reason;  // why, when not Read

    bool plus = false;      // the 64-bit layout
    std::uint32_t rva = 0;  // data directory 10
    std::uint32_t directorySize = 0;
    std::uint32_t size = 0;     // the structure's Size field
    std::uint32_t covered = 0;  // bytes of the structure whose fields count

    std::optional<std::uint16_t> dependentLoadFlags;
    std::optional<std::uint64_t> securityCookie;
    std::optional<std::uint64_t> seHandlerTable, seHandlerCount;
    std::optional<std::uint64_t> guardCfFunctionTable, guardCfFunctionCount;
    std::optional<std::uint32_t> guardFlags;
    std::optional<std::uint64_t> dynamicValueRelocTable;  // a VA, the older form
    std::optional<std::uint64_t> chpeMetadataPointer;     // a VA: the image holds ARM64EC (or x86 hybrid) code
    std::optional<std::uint32_t> dynamicValueRelocTableOffset;
    std::optional<std::uint16_t> dynamicValueRelocTableSection;  // 1-based; 0: none
};

// `image` has had readHeaders() and reached its optional header.
LoadConfig readLoadConfig(const platform::PeImage& image);

}  // namespace pe
