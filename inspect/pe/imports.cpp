#include "inspect/pe/imports.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace pe {

namespace {

constexpr std::uint64_t kDescriptorSize = 20;
constexpr std::uint64_t kDelayDescriptorSize = 32;
constexpr unsigned kImportEntry = 1, kDelayImportEntry = 13;
// MSVC cuts decorated names at 4,096 bytes; no toolchain writes longer ones.
constexpr std::size_t kMaxFunctionName = 4096;
// Slack over what the file itself could hold, for the rare tables that
// share entries.
constexpr std::uint64_t kBudgetSlack = 64 * 1024;

// An RVA through the section map, as the import walk translates it: in no
// section, or at a file offset, which past the end of the file makes the
// image a bad one.
enum class Where { Nowhere, InFile, PastFile };
Where locate(const platform::PeImage& image, std::uint64_t rva, std::uint64_t& offset) {
    if (!image.rvaToOffset(rva, offset)) return Where::Nowhere;
    return offset < image.bytes().size() ? Where::InFile : Where::PastFile;
}

std::string dllNameText(const std::uint8_t* p, std::size_t n) {
    return imageText(std::string_view(reinterpret_cast<const char*>(p), n));
}

// At most kMaxDllName bytes: a longer name is cut and never searched. False
// when the name runs to the end of the file without its zero.
bool readName(const platform::ByteSource& file, std::uint64_t at, DllName& out) {
    std::uint8_t buf[kMaxDllName + 1];
    const std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, file.size() - at));
    if (!file.read(at, buf, avail)) return false;
    if (const void* zero = std::memchr(buf, 0, avail)) {
        out = {dllNameText(buf, static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - buf)), true, {}};
        return true;
    }
    if (avail < sizeof buf) return false;
    out = {dllNameText(buf, kMaxDllName) + "…", false, {}};
    return true;
}

// The name at `rva`: empty (never found) when no section holds it.
bool readNameAt(const platform::PeImage& image, std::uint64_t rva, DllName& out) {
    std::uint64_t at = 0;
    switch (locate(image, rva, at)) {
        case Where::Nowhere: out = DllName{}; return true;
        case Where::PastFile: return false;
        case Where::InFile: break;
    }
    return readName(image.bytes(), at, out);
}

class ThunkReader {
public:
    ThunkReader(const platform::PeImage& image, ReadBudget& budget, ImportTable& table)
        : image_(image), file_(image.bytes()), budget_(budget), table_(table) {}

    // The thunks at `rva` up to their zero entry; false on damage.
    bool read(std::uint64_t rva, bool addresses, DllName& dll) {
        std::uint64_t at = 0;
        if (rva == 0 || rva > UINT32_MAX) return true;
        switch (locate(image_, rva, at)) {
            case Where::Nowhere: return true;
            case Where::PastFile: return false;
            case Where::InFile: break;
        }
        const bool plus = image_.plus();
        const std::uint64_t width = plus ? 8 : 4;
        const std::uint64_t ordinalFlag = plus ? 0x8000000000000000ull : 0x80000000ull;
        std::string name;
        for (;; at += width) {
            if (!budget_.thunk()) return false;
            std::uint64_t thunk = 0;
            if (plus) {
                if (!file_.u64(at, thunk)) return false;
            } else {
                std::uint32_t v = 0;
                if (!file_.u32(at, v)) return false;
                thunk = v;
            }
            if (thunk == 0) return true;
            if (addresses && !toRva(thunk)) return false;
            ImportedFunction f;
            if (thunk & ordinalFlag) {
                f.byOrdinal = true;
                f.ordinal = static_cast<std::uint16_t>(thunk & 0xFFFF);
            } else {
                // The hint, then the name; a name in no section reads empty.
                std::uint64_t nameAt = 0;
                const std::uint64_t nameRva = (thunk & (ordinalFlag - 1)) + 2;
                const Where w = nameRva <= UINT32_MAX ? locate(image_, nameRva, nameAt) : Where::Nowhere;
                if (w == Where::PastFile) return false;
                if (w == Where::InFile) {
                    if (!readString(file_, nameAt, kMaxFunctionName, budget_, name, f.cut)) return false;
                    f.at = static_cast<std::uint32_t>(table_.functionNames.size());
                    f.length = static_cast<std::uint32_t>(name.size());
                    table_.functionNames += name;
                }
            }
            dll.functions.push_back(f);
        }
    }

    // A lookup table that holds anything (old linkers leave it zero).
    bool hasThunks(std::uint32_t rva, bool& damaged) const {
        std::uint64_t at = 0;
        std::uint32_t first = 0;
        if (rva == 0) return false;
        switch (locate(image_, rva, at)) {
            case Where::Nowhere: return false;
            case Where::PastFile: damaged = true; return false;
            case Where::InFile: break;
        }
        return file_.u32(at, first) && first != 0;
    }

    // An address of the image as an RVA; other values stay as they are.
    // False when the image's range cannot be read.
    bool toRva(std::uint64_t& va) const {
        if (!image_.imageRangeRead()) return false;
        const std::uint64_t base = image_.imageBase() & 0xFFFFFFFFu, size = image_.sizeOfImage();
        if (va >= base && va - base < size) va -= base;
        return true;
    }

private:
    const platform::PeImage& image_;
    const platform::ByteSource& file_;
    ReadBudget& budget_;
    ImportTable& table_;
};

}  // namespace

ReadBudget::ReadBudget(std::uint64_t fileSize) : bytes_(fileSize + kBudgetSlack), thunks_(fileSize / 4 + kBudgetSlack) {}

bool ReadBudget::bytes(std::uint64_t n) {
    if (n > bytes_) return false;
    bytes_ -= n;
    return true;
}

bool ReadBudget::thunk() {
    if (thunks_ == 0) return false;
    --thunks_;
    return true;
}

// Control characters, which no file or function name holds, shown as '?'.
std::string imageText(std::string_view bytes) {
    std::string raw(bytes);
    for (char& c : raw)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return platform::cp1252ToUtf8(raw);
}

bool readString(const platform::ByteSource& file, std::uint64_t at, std::size_t max, ReadBudget& budget,
                std::string& out, bool& cut) {
    out.clear();
    cut = false;
    std::uint8_t buf[64];
    for (;;) {
        if (at >= file.size()) return false;
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, file.size() - at));
        if (!file.read(at, buf, take)) return false;
        const auto* zero = static_cast<const std::uint8_t*>(std::memchr(buf, 0, take));
        const std::size_t n = zero ? static_cast<std::size_t>(zero - buf) : take;
        if (!budget.bytes(zero ? n + 1 : take)) return false;
        out.append(reinterpret_cast<const char*>(buf), std::min(n, max - std::min(max, out.size())));
        if (zero) return true;
        if (out.size() >= max) {
            cut = true;
            return true;
        }
        at += take;
    }
}

TableStatus readImports(const platform::PeImage& image, bool functions, ReadBudget& budget, ImportTable& out,
                        bool& functionsDamaged, const platform::PeImage::Directory* directory) {
    const platform::ByteSource& file = image.bytes();
    platform::PeImage::Directory dir;
    if (directory) dir = *directory;
    else if (!image.directoryIgnoringCount(kImportEntry, dir)) return TableStatus::Damaged;
    if (dir.size == 0) return TableStatus::Absent;
    if (!image.sectionsRead()) return TableStatus::Damaged;
    std::uint64_t cursor = 0;
    if (dir.rva == 0) return TableStatus::Absent;
    switch (locate(image, dir.rva, cursor)) {
        case Where::Nowhere: return TableStatus::Absent;
        case Where::PastFile: return TableStatus::Damaged;
        case Where::InFile: break;
    }
    ThunkReader thunks(image, budget, out);
    for (;; cursor += kDescriptorSize) {
        std::uint32_t nameRva = 0;
        if (!file.has(cursor, kDescriptorSize) || !file.u32(cursor + 12, nameRva)) return TableStatus::Damaged;
        if (nameRva == 0) return TableStatus::Read;
        DllName dll;
        if (!readNameAt(image, nameRva, dll)) return TableStatus::Damaged;
        out.dlls.push_back(std::move(dll));
        if (!functions || functionsDamaged) continue;
        std::uint32_t lookup = 0, address = 0;
        file.u32(cursor, lookup);
        file.u32(cursor + 16, address);
        // The lookup table when it holds anything, else the address table.
        const bool lookupHolds = thunks.hasThunks(lookup, functionsDamaged);
        if (!functionsDamaged && !thunks.read(lookupHolds ? lookup : address, false, out.dlls.back()))
            functionsDamaged = true;
    }
}

TableStatus readDelayImports(const platform::PeImage& image, bool functions, ReadBudget& budget, ImportTable& out,
                             const platform::PeImage::Directory* directory) {
    const platform::ByteSource& file = image.bytes();
    const platform::PeImage::Directory dir = directory ? *directory : image.directory(kDelayImportEntry);
    if (dir.rva == 0 || dir.size == 0) return TableStatus::Absent;
    if (!image.sectionsRead()) return TableStatus::Damaged;
    std::uint64_t cursor = 0;
    switch (locate(image, dir.rva, cursor)) {
        case Where::Nowhere: return TableStatus::Absent;  // as an import directory in no section
        case Where::PastFile: return TableStatus::Damaged;
        case Where::InFile: break;
    }
    ThunkReader thunks(image, budget, out);
    bool damaged = false;
    // The table ends at its zero descriptor, or where its size says.
    for (std::uint32_t n = 0; n < dir.size / kDelayDescriptorSize; ++n, cursor += kDelayDescriptorSize) {
        std::uint32_t attributes = 0, nameRva = 0, lookup = 0;
        if (!file.has(cursor, kDelayDescriptorSize) || !file.u32(cursor, attributes) ||
            !file.u32(cursor + 4, nameRva) || !file.u32(cursor + 16, lookup))
            return TableStatus::Damaged;
        if (nameRva == 0) break;
        // Before Visual C++ 6 the descriptors held addresses, not RVAs.
        const bool addresses = !image.plus() && (attributes & 1) == 0;
        std::uint64_t name = nameRva;
        if (addresses && !thunks.toRva(name)) return TableStatus::Damaged;
        DllName dll;
        if (!readNameAt(image, name, dll)) return TableStatus::Damaged;
        out.dlls.push_back(std::move(dll));
        if (!functions || damaged) continue;
        std::uint64_t table = lookup;
        if (addresses && !thunks.toRva(table)) damaged = true;
        else if (!thunks.read(table, addresses, out.dlls.back())) damaged = true;
    }
    return damaged ? TableStatus::Damaged : TableStatus::Read;
}

}  // namespace pe
