// The headers and the section table of a PE image, parsed in one place for
// every reader of its tables: imports and exports, version and manifest
// resources, the API set schema, .NET metadata. Reads go through a
// ByteSource (a file read piecewise, or bytes in memory) and are bounded
// by it; nothing is read before it is asked for.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace platform {

struct PeSection {
    char name[8] = {};
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawPointer = 0;

    std::string_view nameView() const;  // up to its first zero
};

class PeImage {
public:
    explicit PeImage(const ByteSource& bytes) : bytes_(bytes) {}

    const ByteSource& bytes() const { return bytes_; }

    // How far the headers could be read, each step needing the ones before:
    // the MZ mark and e_lfanew, the PE signature, then the fields below.
    enum class Headers {
        None,            // no MZ mark, no PE signature, or they lie outside
        Machine,         // IMAGE_FILE_HEADER.Machine
        FileHeader,      // NumberOfSections and SizeOfOptionalHeader too
        OptionalHeader,  // and the optional header's magic
    };
    Headers readHeaders();
    Headers headers() const { return headers_; }

    std::uint16_t machine() const { return machine_; }
    // IMAGE_FILE_HEADER.Characteristics (IMAGE_FILE_DLL is 0x2000).
    std::uint16_t characteristics() const { return characteristics_; }
    std::uint16_t sectionCount() const { return sectionCount_; }
    // PE32+ (the 64-bit optional header).
    bool plus() const { return plus_; }
    std::uint64_t optionalHeader() const { return optionalHeader_; }

    // Data directory `index`: zero when NumberOfRvaAndSizes leaves it out or
    // the image does not hold it.
    void directory(unsigned index, std::uint32_t& rva, std::uint32_t& size) const;
    // The entry read whatever NumberOfRvaAndSizes says, as the loader reads
    // the import directory; false when the image does not hold it.
    bool directoryIgnoringCount(unsigned index, std::uint32_t& rva, std::uint32_t& size) const;

    // Section header `i` of the table, read on its own; false outside the image.
    bool section(std::uint32_t i, PeSection& out) const;
    // The whole section table; false when it does not fit in the image.
    bool readSections();
    const std::vector<PeSection>& sections() const { return sections_; }

    // How far a section reaches in RVA terms: as mapped (VirtualSize: a
    // section of size 0 holds nothing) or as stored (SizeOfRawData), the
    // way the resource functions look at an image loaded as data.
    enum class Extent { Virtual, Raw };
    // The file offset of `rva` through the first section of the table that
    // holds it (readSections first); false when none does.
    bool rvaToOffset(std::uint64_t rva, std::uint64_t& offset, Extent extent = Extent::Virtual) const;

    // The bytes of resource `type`/`id` (IDs only), in the language the
    // loader picks for a neutral request: neutral, then `userLanguage`
    // (exact, then same primary language), then US English, then the first.
    // `offset`/`length` locate them in the image, the length cut to its end.
    bool findResource(std::uint32_t type, std::uint32_t id, std::uint16_t userLanguage, std::uint64_t& offset,
                      std::uint64_t& length);

private:
    // PE32+ images keep their data directories 16 bytes further on.
    std::uint64_t directories() const { return optionalHeader_ + (plus_ ? 0x70 : 0x60); }

    const ByteSource& bytes_;
    Headers headers_ = Headers::None;
    std::uint16_t machine_ = 0, sectionCount_ = 0, optionalSize_ = 0, characteristics_ = 0;
    std::uint64_t optionalHeader_ = 0;
    bool plus_ = false;
    bool sectionsRead_ = false;
    std::vector<PeSection> sections_;
};

}  // namespace platform
