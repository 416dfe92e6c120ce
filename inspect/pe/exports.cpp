#include "inspect/pe/exports.h"

#include <algorithm>
#include <new>

#include "inspect/pe/imports.h"
#include "platform/platform.h"

namespace pe {

namespace {
constexpr std::uint64_t kExportDirectorySize = 40;
constexpr unsigned kExportEntry = 0;
constexpr std::size_t kMaxFunctionName = 4096;
// "OTHER.Function": a DLL name, a dot, a function name.
constexpr std::size_t kMaxForward = kMaxDllName + 1 + kMaxFunctionName;
// Name ordinals are 16-bit: no name, and no ordinal import, reaches further
// into the address table.
constexpr std::uint32_t kMaxExportIndex = 0x10000;

std::string_view nameAt(const std::string& bytes, std::uint32_t at, std::uint32_t length) {
    return std::string_view(bytes).substr(at, length);
}

// An RVA to a file offset inside the file; false when no section holds it
// or its data lies past the end.
bool offsetOf(const platform::PeImage& image, std::uint64_t rva, std::uint64_t& offset) {
    return image.rvaToOffset(rva, offset) && offset < image.bytes().size();
}
}  // namespace

class ExportReader {
public:
    // Damaged unless the table is read whole.
    static void read(const platform::PeImage& image, ExportTable& out) {
        if (!image.complete()) return;  // Unreadable
        out.state = ExportTable::State::Damaged;
        const platform::ByteSource& file = image.bytes();
        const platform::PeImage::Directory d = image.directory(kExportEntry);
        const std::uint32_t rva = d.rva, size = d.size;
        if (rva == 0 || size == 0) {
            out.state = ExportTable::State::Read;  // exports nothing
            return;
        }
        if (!image.sectionsRead()) return;
        std::uint64_t dir = 0;
        std::uint32_t base = 0, functionCount = 0, nameCount = 0, functionsRva = 0, namesRva = 0, ordinalsRva = 0;
        if (!offsetOf(image, rva, dir) || !file.has(dir, kExportDirectorySize) || !file.u32(dir + 16, base) ||
            !file.u32(dir + 20, functionCount) || !file.u32(dir + 24, nameCount) || !file.u32(dir + 28, functionsRva) ||
            !file.u32(dir + 32, namesRva) || !file.u32(dir + 36, ordinalsRva))
            return;
        ReadBudget budget(file.size());
        out.base_ = base;
        const std::uint32_t count = std::min(functionCount, kMaxExportIndex);
        std::uint64_t at = 0;
        if (count > 0) {
            if (!offsetOf(image, functionsRva, at) || !file.has(at, 4ull * count)) return;
            out.addresses_.resize(count);
            std::vector<std::uint8_t> raw(4ull * count);
            if (!file.read(at, raw.data(), raw.size())) return;
            const platform::MemoryByteSource table(raw.data(), raw.size());
            for (std::uint32_t i = 0; i < count; ++i) table.u32(4ull * i, out.addresses_[i]);
        }
        // An address inside the export directory is a forwarder's text.
        std::string text;
        bool cut = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t a = out.addresses_[i];
            if (a < rva || a - rva >= size) continue;
            std::uint64_t textAt = 0;
            if (!offsetOf(image, a, textAt) || !readString(file, textAt, kMaxForward, budget, text, cut)) return;
            if (cut) text += '\x85';  // "…" in code page 1252; a module that long is never found
            out.forwards_.emplace(i, text);
        }
        if (nameCount > 0) {
            std::uint64_t names = 0, ordinals = 0;
            if (!offsetOf(image, namesRva, names) || !file.has(names, 4ull * nameCount) ||
                !offsetOf(image, ordinalsRva, ordinals) || !file.has(ordinals, 2ull * nameCount))
                return;
            out.names_.reserve(std::min<std::uint64_t>(nameCount, 1 << 20));
            for (std::uint32_t i = 0; i < nameCount; ++i) {
                std::uint32_t nameRva = 0;
                std::uint16_t index = 0;
                std::uint64_t textAt = 0;
                if (!file.u32(names + 4ull * i, nameRva) || !file.u16(ordinals + 2ull * i, index)) return;
                // A name for no function exports nothing.
                if (index >= count || out.addresses_[index] == 0) continue;
                if (!image.rvaToOffset(nameRva, textAt)) continue;
                if (textAt >= file.size() || !readString(file, textAt, kMaxFunctionName, budget, text, cut)) return;
                out.names_.push_back({static_cast<std::uint32_t>(out.nameBytes_.size()),
                                      static_cast<std::uint32_t>(text.size()), index});
                out.nameBytes_ += text;
            }
            const std::string& bytes = out.nameBytes_;
            std::stable_sort(out.names_.begin(), out.names_.end(), [&](const auto& a, const auto& b) {
                return nameAt(bytes, a.at, a.length) < nameAt(bytes, b.at, b.length);
            });
        }
        out.state = ExportTable::State::Read;
    }
};

ExportTable::Entry ExportTable::entry(std::uint32_t index) const {
    if (index >= addresses_.size() || addresses_[index] == 0) return {};
    const auto it = forwards_.find(index);
    return {true, it == forwards_.end() ? nullptr : &it->second};
}

ExportTable::Entry ExportTable::byName(std::string_view name) const {
    const auto it = std::lower_bound(names_.begin(), names_.end(), name, [&](const Name& n, std::string_view v) {
        return nameAt(nameBytes_, n.at, n.length) < v;
    });
    if (it == names_.end() || nameAt(nameBytes_, it->at, it->length) != name) return {};
    return entry(it->index);
}

ExportTable::Entry ExportTable::byOrdinal(std::uint32_t ordinal) const {
    if (ordinal < base_) return {};
    return entry(ordinal - base_);
}

ExportTable readExports(const platform::PeImage& image) {
    ExportTable out;
    try {
        ExportReader::read(image, out);
    } catch (const std::bad_alloc&) {
        out = ExportTable{};
    }
    return out;
}

ExportTable readExports(const std::string& path) {
    ExportTable out;
    try {
        platform::FileReader file;
        if (file.open(path) != platform::MapStatus::Ok) return out;
        ExportReader::read(platform::PeImage(file), out);
        if (file.failed() && out.state == ExportTable::State::Damaged) out.state = ExportTable::State::Unreadable;
    } catch (const std::bad_alloc&) {
        out = ExportTable{};
    }
    return out;
}

}  // namespace pe
