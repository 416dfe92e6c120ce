#include "platform/peimage.h"

#include <algorithm>
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

PeImage::PeImage(const ByteSource& bytes) : bytes_(bytes) {
    std::uint16_t magic = 0;
    std::uint32_t lfanew = 0, signature = 0;
    if (!bytes_.u16(0, magic) || magic != kMz || !bytes_.u32(0x3C, lfanew)) return;
    const std::uint64_t nt = lfanew;
    if (!bytes_.u32(nt, signature) || signature != kPe || !bytes_.u16(nt + 4, machine_)) return;
    headers_ = Headers::Machine;
    if (!bytes_.u16(nt + 6, sectionCount_) || !bytes_.u16(nt + 20, optionalSize_)) return;
    bytes_.u16(nt + 22, characteristics_);
    optionalHeader_ = nt + 24;
    headers_ = Headers::FileHeader;
    readSectionTable();
    std::uint16_t optionalMagic = 0;
    if (!bytes_.u16(optionalHeader_, optionalMagic)) return;
    plus_ = optionalMagic == kPe32PlusMagic;
    optionalMagic_ = optionalMagic;
    headers_ = Headers::OptionalHeader;
    readOptionalFields();
}

void PeImage::readOptionalFields() {
    // The fields up to the data directories, in one read of what the file holds.
    const std::uint64_t at = optionalHeader_;
    const std::uint64_t want = plus_ ? 0x70 + 8 * kDirectories : 0x60 + 8 * kDirectories;
    const std::uint64_t have = bytes_.size() > at ? std::min<std::uint64_t>(want, bytes_.size() - at) : 0;
    std::uint8_t raw[0x70 + 8 * kDirectories] = {};
    if (have == 0 || !bytes_.read(at, raw, static_cast<std::size_t>(have))) return;
    const MemoryByteSource h(raw, static_cast<std::size_t>(have));
    std::uint32_t base32 = 0;
    const bool base = plus_ ? h.has(24, 8) : h.u32(28, base32);
    if (plus_ && base) {
        std::uint32_t low = 0, high = 0;
        h.u32(24, low);
        h.u32(28, high);
        imageBase_ = low | static_cast<std::uint64_t>(high) << 32;
    } else {
        imageBase_ = base32;
    }
    h.u32(32, sectionAlignment_);
    h.u32(36, fileAlignment_);
    rangeRead_ = h.u32(56, sizeOfImage_) && (plus_ ? base : h.has(28, 4));
    h.u32(60, sizeOfHeaders_);
    h.u16(70, dllCharacteristics_);
    const std::uint64_t dirs = plus_ ? 0x70 : 0x60;
    countRead_ = h.u32(dirs - 4, directoryCount_);
    for (unsigned i = 0; i < kDirectories; ++i)
        if (h.u32(dirs + 8 * i, directories_[i].rva) && h.u32(dirs + 8 * i + 4, directories_[i].size))
            directoriesHeld_ |= 1u << i;
}

PeImage::Directory PeImage::directory(unsigned index) const {
    if (headers_ != Headers::OptionalHeader || !countRead_ || index >= directoryCount_ || index >= kDirectories ||
        !(directoriesHeld_ & (1u << index)))
        return {};
    return directories_[index];
}

bool PeImage::directoryIgnoringCount(unsigned index, Directory& out) const {
    if (headers_ != Headers::OptionalHeader || index >= kDirectories || !(directoriesHeld_ & (1u << index)))
        return false;
    out = directories_[index];
    return true;
}

namespace {
void decodeSection(const MemoryByteSource& b, std::uint64_t h, PeSection& out) {
    std::memcpy(out.name, b.data() + h, sizeof out.name);
    b.u32(h + 8, out.virtualSize);
    b.u32(h + 12, out.virtualAddress);
    b.u32(h + 16, out.rawSize);
    b.u32(h + 20, out.rawPointer);
    b.u32(h + 36, out.characteristics);
}
}  // namespace

bool PeImage::section(std::uint32_t i, PeSection& out) const {
    if (headers_ < Headers::FileHeader || i >= sectionCount_) return false;
    std::uint8_t raw[kSectionHeaderSize];
    if (!bytes_.read(sectionTable() + kSectionHeaderSize * i, raw, sizeof raw)) return false;
    decodeSection(MemoryByteSource(raw, sizeof raw), 0, out);
    return true;
}

void PeImage::readSectionTable() {
    const std::uint64_t table = sectionTable();
    const std::uint64_t bytes = kSectionHeaderSize * sectionCount_;
    if (!bytes_.has(table, bytes)) return;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
    if (!raw.empty() && !bytes_.read(table, raw.data(), raw.size())) return;
    sections_.resize(sectionCount_);
    const MemoryByteSource b(raw.data(), raw.size());
    for (std::uint32_t i = 0; i < sectionCount_; ++i) {
        decodeSection(b, kSectionHeaderSize * i, sections_[i]);
    }
    sectionsRead_ = true;
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
                           std::uint64_t& length) const {
    const Directory resources = directory(kResourceEntry);
    const std::uint32_t resourceRva = resources.rva;
    if (resourceRva == 0 || resources.size == 0 || !sectionsRead_) return false;
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
