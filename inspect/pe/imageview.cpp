#include "inspect/pe/imageview.h"

#include <algorithm>
#include <cstring>

namespace pe {

namespace {

constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;

}  // namespace

HeaderFields headerFields(const platform::PeImage& image) {
    // What the image's one parse read; a short optional header reads as
    // zeros past the file, as the loader reads it.
    HeaderFields f;
    const std::uint64_t oh = image.optionalHeader();
    if (image.headers() < platform::PeImage::Headers::FileHeader || oh < 24) return f;
    f.ntHeaders = oh - 24;
    f.sectionCount = image.sectionCount();
    f.optionalSize = image.optionalHeaderSize();
    f.characteristics = image.characteristics();
    f.magic = image.optionalMagic();
    if (!image.complete() || (f.magic != kPe32Magic && f.magic != kPe32PlusMagic)) return f;
    f.sectionAlignment = image.sectionAlignment();
    f.fileAlignment = image.fileAlignment();
    f.sizeOfImage = image.sizeOfImage();
    f.sizeOfHeaders = image.sizeOfHeaders();
    f.dllCharacteristics = image.dllCharacteristics();
    f.directories = image.directoryOffset(0);
    f.directoryCount = image.directoryCount();
    f.sectionTable = image.sectionTable();
    f.valid = true;
    return f;
}

bool sectionHeader(const platform::PeImage& image, const HeaderFields& fields, std::uint32_t i, SectionHeader& out) {
    if (!fields.valid || i >= fields.sectionCount) return false;
    platform::PeSection s;
    if (image.sectionsRead()) s = image.sections()[i];
    else if (!image.section(i, s)) return false;  // a table cut short: the headers before the cut
    std::memcpy(out.name, s.name, sizeof out.name);
    out.virtualSize = s.virtualSize;
    out.virtualAddress = s.virtualAddress;
    out.rawSize = s.rawSize;
    out.rawPointer = s.rawPointer;
    out.characteristics = s.characteristics;
    return true;
}

bool locate(const platform::PeImage& image, const HeaderFields& fields, std::uint64_t rva, MappedRange& out) {
    const std::uint64_t fileSize = image.bytes().size();
    SectionHeader s;
    for (std::uint32_t i = 0; sectionHeader(image, fields, i, s); ++i) {
        const std::uint64_t extent = s.virtualSize ? s.virtualSize : s.rawSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
        out.rva = s.virtualAddress;
        out.size = extent;
        out.fileOffset = s.rawPointer;
        out.raw = std::min<std::uint64_t>(s.rawSize, extent);
        out.backed = s.rawPointer < fileSize ? std::min(out.raw, fileSize - s.rawPointer) : 0;
        return true;
    }
    // Below every section, the headers are mapped as the file has them.
    const std::uint64_t headersEnd =
        std::max<std::uint64_t>(fields.sizeOfHeaders, fields.sectionTable + kSectionHeaderSize * fields.sectionCount);
    if (!fields.valid || rva >= headersEnd) return false;
    out.rva = 0;
    out.size = headersEnd;
    out.fileOffset = 0;
    out.raw = headersEnd;
    out.backed = std::min(headersEnd, fileSize);
    return true;
}

std::size_t readIn(const platform::PeImage& image, const MappedRange& range, std::uint64_t rva, std::uint8_t* out,
                   std::size_t count) {
    if (rva < range.rva || rva - range.rva >= range.size) return 0;
    const std::uint64_t at = rva - range.rva;
    // A cut file ends the range where its bytes end; else zeros follow them.
    const std::uint64_t end = range.backed < range.raw ? range.backed : range.size;
    if (at >= end) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, end - at));
    const std::size_t fromFile =
        at < range.backed ? static_cast<std::size_t>(std::min<std::uint64_t>(n, range.backed - at)) : 0;
    if (fromFile && !image.bytes().read(range.fileOffset + at, out, fromFile)) return 0;
    std::memset(out + fromFile, 0, n - fromFile);
    return n;
}

std::size_t readMapped(const platform::PeImage& image, const HeaderFields& fields, std::uint64_t rva, std::uint8_t* out,
                       std::size_t count) {
    MappedRange range;
    return locate(image, fields, rva, range) ? readIn(image, range, rva, out, count) : 0;
}

}  // namespace pe
