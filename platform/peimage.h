// One parse of a PE image: its headers, data directories and section table,
// read once when the object is made, for every reader of its tables
// (imports and exports, version and manifest resources, the API set
// schema, .NET metadata, the load configuration). Reads go through a
// ByteSource (a file read piecewise, or bytes in memory) and are bounded by
// it; the tables themselves are left to their readers.
#pragma once

#include <array>
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
    std::uint32_t characteristics = 0;

    std::string_view nameView() const;  // up to its first zero
};

class PeImage {
public:
    explicit PeImage(const ByteSource& bytes);

    const ByteSource& bytes() const { return bytes_; }

    // How far the headers could be read, each step needing the ones before:
    // the MZ mark and e_lfanew, the PE signature, then the fields below.
    enum class Headers {
        None,            // no MZ mark, no PE signature, or they lie outside
        Machine,         // IMAGE_FILE_HEADER.Machine
        FileHeader,      // NumberOfSections and SizeOfOptionalHeader too
        OptionalHeader,  // and the optional header's magic
    };
    Headers headers() const { return headers_; }
    bool complete() const { return headers_ == Headers::OptionalHeader; }

    std::uint16_t machine() const { return machine_; }
    // IMAGE_FILE_HEADER.Characteristics (IMAGE_FILE_DLL is 0x2000).
    std::uint16_t characteristics() const { return characteristics_; }
    bool isDll() const { return (characteristics_ & 0x2000) != 0; }
    std::uint16_t sectionCount() const { return sectionCount_; }
    // PE32+ (the 64-bit optional header).
    bool plus() const { return plus_; }
    // The optional header's magic (0x10B PE32, 0x20B PE32+), 0 when not read.
    std::uint16_t optionalMagic() const { return optionalMagic_; }
    std::uint64_t optionalHeader() const { return optionalHeader_; }
    std::uint16_t optionalHeaderSize() const { return optionalSize_; }

    // Optional-header fields, 0 when the header does not hold them.
    std::uint64_t imageBase() const { return imageBase_; }
    std::uint32_t sizeOfImage() const { return sizeOfImage_; }
    std::uint32_t sizeOfHeaders() const { return sizeOfHeaders_; }
    std::uint32_t sectionAlignment() const { return sectionAlignment_; }
    std::uint32_t fileAlignment() const { return fileAlignment_; }
    std::uint16_t dllCharacteristics() const { return dllCharacteristics_; }
    // NumberOfRvaAndSizes, 0 when not read.
    std::uint32_t directoryCount() const { return directoryCount_; }
    // ImageBase and SizeOfImage both lie in the image.
    bool imageRangeRead() const { return rangeRead_; }
    // File offset of the CheckSum field (what an Authenticode hash skips).
    std::uint64_t checksumOffset() const { return optionalHeader_ + 64; }

    struct Directory {
        std::uint32_t rva = 0, size = 0;
    };
    // Data directory `index`: zero when NumberOfRvaAndSizes leaves it out or
    // the image does not hold it.
    Directory directory(unsigned index) const;
    // The entry read whatever NumberOfRvaAndSizes says, as the loader reads
    // the import directory; false when the image does not hold it.
    bool directoryIgnoringCount(unsigned index, Directory& out) const;
    // File offset of data directory entry `index`.
    std::uint64_t directoryOffset(unsigned index) const { return directories() + 8ull * index; }

    // The section table read whole; false when it does not fit in the image
    // (then sections() is empty and no RVA translates).
    bool sectionsRead() const { return sectionsRead_; }
    const std::vector<PeSection>& sections() const { return sections_; }
    // Section header `i` read on its own: a table cut short still gives the
    // headers before the cut. False outside the image.
    bool section(std::uint32_t i, PeSection& out) const;
    std::uint64_t sectionTable() const { return optionalHeader_ + optionalSize_; }

    // How far a section reaches in RVA terms: as mapped (VirtualSize: a
    // section of size 0 holds nothing) or as stored (SizeOfRawData), the
    // way the resource functions look at an image loaded as data.
    enum class Extent { Virtual, Raw };
    // The file offset of `rva` through the first section of the table that
    // holds it; false when none does.
    bool rvaToOffset(std::uint64_t rva, std::uint64_t& offset, Extent extent = Extent::Virtual) const;

    // The bytes of resource `type`/`id` (IDs only), in the language the
    // loader picks for a neutral request: neutral, then `userLanguage`
    // (exact, then same primary language), then US English, then the first.
    // `offset`/`length` locate them in the image, the length cut to its end.
    bool findResource(std::uint32_t type, std::uint32_t id, std::uint16_t userLanguage, std::uint64_t& offset,
                      std::uint64_t& length) const;

private:
    // PE32+ images keep their data directories 16 bytes further on.
    std::uint64_t directories() const { return optionalHeader_ + (plus_ ? 0x70 : 0x60); }
    void readOptionalFields();
    void readSectionTable();

    const ByteSource& bytes_;
    Headers headers_ = Headers::None;
    std::uint16_t machine_ = 0, sectionCount_ = 0, optionalSize_ = 0, characteristics_ = 0;
    std::uint64_t optionalHeader_ = 0;
    bool plus_ = false;
    std::uint16_t optionalMagic_ = 0;
    std::uint64_t imageBase_ = 0;
    std::uint32_t sizeOfImage_ = 0, sizeOfHeaders_ = 0, sectionAlignment_ = 0, fileAlignment_ = 0;
    std::uint16_t dllCharacteristics_ = 0;
    bool rangeRead_ = false;
    std::uint32_t directoryCount_ = 0;
    bool countRead_ = false;
    static constexpr unsigned kDirectories = 16;
    std::array<Directory, kDirectories> directories_{};
    std::uint32_t directoriesHeld_ = 0;  // bit i: entry i lies in the image
    bool sectionsRead_ = false;
    std::vector<PeSection> sections_;
};

}  // namespace platform
