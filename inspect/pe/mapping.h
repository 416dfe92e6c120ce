// Whether the loader would map an image at all, whatever the process's
// architecture: the checks Wine makes in get_image_params (server) and
// map_image_into_view (ntdll) before any import is looked at, which refuse
// a DLL with STATUS_INVALID_IMAGE_FORMAT (c000007b) or its kin. Only what
// those refuse is refused; what the documentation asks of linkers but no
// loader checks (adjacent sections, SizeOfHeaders rounded to FileAlignment)
// is not.
#pragma once

#include <cstdint>
#include <string>

#include "platform/peimage.h"

namespace pe {

constexpr std::uint32_t kStatusInvalidImageFormat = 0xC000007B, kStatusInvalidImageNotMz = 0xC000012F,
                        kStatusInvalidImageProtect = 0xC0000130, kStatusInvalidFileForSection = 0xC0000020;

struct Mapping {
    enum class Outcome {
        Mappable,
        NotPe,    // no MZ header or no PE signature: not an image at all
        Refused,  // a PE image the loader will not map
    };
    enum class Problem {
        None,
        EmptyFile,
        NotMz,
        NoPeSignature,
        UnknownMagic,     // the optional header is neither PE32 nor PE32+
        MachineMismatch,  // a 64-bit machine with a PE32 header, or the reverse
        UnknownMachine,   // none of x86, x64, ARM, ARM64
        ZeroSectionAlignment,
        ArmSmallAlignment,      // ARM and ARM64 images need page-aligned sections
        ArmWithoutNx,           // ... and NX_COMPAT
        ArmWithoutDynamicBase,  // ... and DYNAMIC_BASE
        SectionTableOutsideImage,
        SectionTableCut,        // the section table runs past the end of the file
        HeadersPastHeaderArea,  // the NT headers end past SizeOfHeaders (page-rounded)
        FlatMisaligned,         // sections under a page: FileAlignment and raw offsets must match the layout
        SectionPastImage,       // a section ends past SizeOfImage
        SectionDataPastFile,    // a section's raw data runs past the end of the file
    };
    Outcome outcome = Outcome::NotPe;
    Problem problem = Problem::None;
    std::uint32_t status = 0;  // the NTSTATUS the loader returns, 0 when mappable
    int section = -1;          // the section at fault, by index
    std::string sectionName;
    std::string reason;  // in English, for logs
};

// `image` has had readHeaders(); the rest is read through its bytes.
Mapping checkMapping(const platform::PeImage& image);

}  // namespace pe
