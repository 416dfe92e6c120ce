#include "platform/peimage.h"

#include <cstring>

namespace platform {

namespace {

constexpr std::uint16_t kMz = 0x5A4D;
constexpr std::uint32_t kPe = 0x00004550;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr unsigned kResourceEntry = 2;

struct DirEntry {
    std::uint32_t id = 0;
    std::uint32_t target = 0;  // offset from the resource directory's start, bit 31 = subdirectory
};

// The ID entries of one resource directory.
bool readDirectory(const ByteSource& img, std::uint64_t base, std::uint64_t dirOffset, std::vector<DirEntry>& out) {
    std::uint16_t named = 0, ids = 0;
    const std::uint64_t at = base + dirOffset;
    if (!img.u16(at + 12, named) || !img.u16(at + 14, ids)) return false;
    const std::uint64_t first = at + 16 + 8ull * named;
    if (!img.has(first, 8ull * ids)) return false;
    out.clear();
    out.reserve(ids);
    for (std::uint32_t i = 0; i < ids; ++i) {
        DirEntry e;
        img.u32(first + 8ull * i, e.id);
        img.u32(first + 8ull * i + 4, e.target);
        if (e.id & 0x80000000u) continue;  // a named entry among the IDs: not ours
        out.push_back(e);
    }
    return true;
}

const DirEntry* findId(const std::vector<DirEntry>& entries, std::uint32_t id) {
    for (const DirEntry& e : entries)
        if (e.id == id) return &e;
    return nullptr;
}

const DirEntry* pickLanguage(const std::vector<DirEntry>& entries, std::uint16_t user) {
    if (entries.empty()) return nullptr;
    for (const DirEntry& e : entries)
        if ((e.id & 0x3FF) == 0) return &e;  // LANG_NEUTRAL, any sublanguage
    if (const DirEntry* e = findId(entries, user)) return e;
    for (const DirEntry& e : entries)
        if ((e.id & 0x3FF) == (user & 0x3FFu)) return &e;
    if (const DirEntry* e = findId(entries, 0x0409)) return e;
    return &entries.front();
}

}  // namespace

std::string_view PeSection::nameView() const {
    const void* zero = std::memchr(name, 0, sizeof name);
    return std::string_view(name, zero ? static_cast<const char*>(zero) - name : sizeof name);
}

PeImage::Headers PeImage::readHeaders() {
    headers_ = Headers::None;
    std::uint16_t magic = 0;
    std::uint32_t lfanew = 0, signature = 0;
    if (!bytes_.u16(0, magic) || magic != kMz || !bytes_.u32(0x3C, lfanew)) return headers_;
    const std::uint64_t nt = lfanew;
    if (!bytes_.u32(nt, signature) || signature != kPe || !bytes_.u16(nt + 4, machine_)) return headers_;
    headers_ = Headers::Machine;
    if (!bytes_.u16(nt + 6, sectionCount_) || !bytes_.u16(nt + 20, optionalSize_)) return headers_;
    bytes_.u16(nt + 22, characteristics_);
    optionalHeader_ = nt + 24;
    headers_ = Headers::FileHeader;
    std::uint16_t optionalMagic = 0;
    if (!bytes_.u16(optionalHeader_, optionalMagic)) return headers_;
    plus_ = optionalMagic == kPe32PlusMagic;
    return headers_ = Headers::OptionalHeader;
}

void PeImage::directory(unsigned index, std::uint32_t& rva, std::uint32_t& size) const {
    rva = size = 0;
    std::uint32_t count = 0;
    const std::uint64_t at = directories();
    if (headers_ != Headers::OptionalHeader || !bytes_.u32(at - 4, count) || index >= count ||
        !bytes_.u32(at + 8ull * index, rva) || !bytes_.u32(at + 8ull * index + 4, size))
        rva = size = 0;
}

bool PeImage::directoryIgnoringCount(unsigned index, std::uint32_t& rva, std::uint32_t& size) const {
    const std::uint64_t at = directories() + 8ull * index;
    return headers_ == Headers::OptionalHeader && bytes_.u32(at, rva) && bytes_.u32(at + 4, size);
}

bool PeImage::section(std::uint32_t i, PeSection& out) const {
    if (headers_ < Headers::FileHeader || i >= sectionCount_) return false;
    const std::uint64_t h = optionalHeader_ + optionalSize_ + kSectionHeaderSize * i;
    std::uint8_t raw[kSectionHeaderSize];
    if (!bytes_.read(h, raw, sizeof raw)) return false;
    const Bytes b{raw, sizeof raw};
    std::memcpy(out.name, raw, sizeof out.name);
    b.u32(8, out.virtualSize);
    b.u32(12, out.virtualAddress);
    b.u32(16, out.rawSize);
    b.u32(20, out.rawPointer);
    return true;
}

bool PeImage::readSections() {
    if (sectionsRead_) return true;
    if (headers_ < Headers::FileHeader ||
        !bytes_.has(optionalHeader_ + optionalSize_, kSectionHeaderSize * sectionCount_))
        return false;
    sections_.resize(sectionCount_);
    for (std::uint32_t i = 0; i < sectionCount_; ++i)
        if (!section(i, sections_[i])) return false;
    return sectionsRead_ = true;
}

bool PeImage::rvaToOffset(std::uint64_t rva, std::uint64_t& offset, Extent extent) const {
    for (const PeSection& s : sections_) {
        const std::uint64_t start = s.virtualAddress;
        const std::uint64_t end = start + (extent == Extent::Virtual ? s.virtualSize : s.rawSize);
        if (start <= rva && rva < end) {
            offset = rva - start + s.rawPointer;
            return true;
        }
    }
    return false;
}

bool PeImage::findResource(std::uint32_t type, std::uint32_t id, std::uint16_t userLanguage, std::uint64_t& offset,
                           std::uint64_t& length) {
    std::uint32_t resourceRva = 0, resourceSize = 0;
    directory(kResourceEntry, resourceRva, resourceSize);
    if (resourceRva == 0 || resourceSize == 0 || !readSections()) return false;
    std::uint64_t base = 0;
    if (!rvaToOffset(resourceRva, base, Extent::Raw)) return false;
    std::vector<DirEntry> entries;
    if (!readDirectory(bytes_, base, 0, entries)) return false;
    const DirEntry* t = findId(entries, type);
    if (!t || !(t->target & 0x80000000u)) return false;
    if (!readDirectory(bytes_, base, t->target & 0x7FFFFFFFu, entries)) return false;
    const DirEntry* name = findId(entries, id);
    if (!name || !(name->target & 0x80000000u)) return false;
    if (!readDirectory(bytes_, base, name->target & 0x7FFFFFFFu, entries)) return false;
    const DirEntry* lang = pickLanguage(entries, userLanguage);
    if (!lang || (lang->target & 0x80000000u)) return false;

    std::uint32_t dataRva = 0, dataSize = 0;
    const std::uint64_t data = base + lang->target;
    if (!bytes_.u32(data, dataRva) || !bytes_.u32(data + 4, dataSize)) return false;
    std::uint64_t at = 0;
    const std::uint64_t size = bytes_.size();
    if (!rvaToOffset(dataRva, at, Extent::Raw) || at >= size) return false;
    offset = at;
    length = dataSize < size - at ? dataSize : size - at;
    return length > 0;
}

}  // namespace platform
