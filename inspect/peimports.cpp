// Bounded reading of a PE image's tables: the import descriptors with their
// thunks, the delay-load descriptors, the export table. Every read goes
// through the file reader's bounds; hostile sizes are bounded too: a name is
// cut at the longest a toolchain writes, and the thunks and names of one
// image may not add up to more than the file could hold.
#include <algorithm>
#include <cstring>
#include <new>

#include "inspect/peimports.h"

#include "inspect/fileversion.h"
#include "platform/bytes.h"
#include "platform/peimage.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr std::uint64_t kDescriptorSize = 20;
constexpr std::uint64_t kDelayDescriptorSize = 32;
constexpr std::uint64_t kExportDirectorySize = 40;
constexpr unsigned kExportEntry = 0, kDelayImportEntry = 13;
// The longest name the search can ever find (MAX_PATH less its zero).
constexpr std::size_t kMaxDllName = 259;
// MSVC cuts decorated names at 4,096 bytes; no toolchain writes longer ones.
constexpr std::size_t kMaxFunctionName = 4096;
// "OTHER.Function": a DLL name, a dot, a function name.
constexpr std::size_t kMaxForward = kMaxDllName + 1 + kMaxFunctionName;
// Name ordinals are 16-bit: no name, and no ordinal import, reaches further
// into the address table.
constexpr std::uint32_t kMaxExportIndex = 0x10000;
// Slack over what the file itself could hold, for the rare tables that
// share entries.
constexpr std::uint64_t kBudgetSlack = 64 * 1024;

std::string dllNameText(const std::uint8_t* p, std::size_t n) {
    return imageText(std::string_view(reinterpret_cast<const char*>(p), n));
}

[[noreturn]] void wrongFormat() { throw EWrongFormat(std::string()); }

// The headers and the section map as the import walk reads them: a read
// outside the file is a bad image.
class Image {
public:
    explicit Image(const platform::ByteSource& file) : image_(file) {}

    const platform::ByteSource& file() const { return image_.bytes(); }

    // DOS and NT headers; `machine` is kept as soon as it is read.
    void readHeaders(std::uint16_t& machine, bool& isDll) {
        const auto headers = image_.readHeaders();
        if (headers >= platform::PeImage::Headers::Machine) machine = image_.machine();
        isDll = (image_.characteristics() & 0x2000) != 0;
        if (headers != platform::PeImage::Headers::OptionalHeader) wrongFormat();
    }

    bool plus() const { return image_.plus(); }

    // The import directory (entry 1), read whatever NumberOfRvaAndSizes says.
    void importDirectory(std::uint32_t& rva, std::uint32_t& size) const {
        if (!image_.directoryIgnoringCount(1, rva, size)) wrongFormat();
    }
    void directory(unsigned index, std::uint32_t& rva, std::uint32_t& size) const {
        image_.directory(index, rva, size);
    }

    // The section map, built on first need.
    void readSections() {
        if (!image_.readSections()) wrongFormat();
    }
    bool sectionsFit() { return image_.readSections(); }

    // RvaToPointer over the file: the first section holding `rva` wins; a
    // position outside the file is a bad image.
    bool rvaToOffset(std::uint64_t rva, std::uint64_t& offset) const {
        if (!image_.rvaToOffset(rva, offset)) return false;
        if (offset >= file().size()) wrongFormat();  // a section whose data lies past the file
        return true;
    }

    // The old delay-load descriptors hold addresses: ImageBase and
    // SizeOfImage to turn them into RVAs (PE32 only, as those linkers were).
    void imageRange(std::uint64_t& base, std::uint64_t& size) const {
        std::uint32_t b = 0, s = 0;
        if (!file().u32(image_.optionalHeader() + 28, b) || !file().u32(image_.optionalHeader() + 56, s))
            wrongFormat();
        base = b;
        size = s;
    }

private:
    platform::PeImage image_;
};

// What one image may make us read and keep at most: its thunks and the
// bytes of its names could never add up to more than the file holds, save
// for tables that share entries.
class Budget {
public:
    explicit Budget(std::uint64_t fileSize) : bytes_(fileSize + kBudgetSlack), thunks_(fileSize / 4 + kBudgetSlack) {}
    void bytes(std::uint64_t n) {
        if (n > bytes_) wrongFormat();
        bytes_ -= n;
    }
    void thunk() {
        if (thunks_ == 0) wrongFormat();
        --thunks_;
    }

private:
    std::uint64_t bytes_, thunks_;
};

// The zero-terminated bytes at `at`, at most `max` of them (`cut` when no
// zero came by then). Running off the file without a zero is a bad image.
void readString(const platform::ByteSource& file, std::uint64_t at, std::size_t max, Budget& budget,
                std::string& out, bool& cut) {
    out.clear();
    cut = false;
    std::uint8_t buf[64];
    for (;;) {
        if (at >= file.size()) wrongFormat();
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, file.size() - at));
        if (!file.read(at, buf, take)) wrongFormat();
        const auto* zero = static_cast<const std::uint8_t*>(std::memchr(buf, 0, take));
        const std::size_t n = zero ? static_cast<std::size_t>(zero - buf) : take;
        budget.bytes(zero ? n + 1 : take);
        out.append(reinterpret_cast<const char*>(buf), std::min(n, max - std::min(max, out.size())));
        if (zero) return;
        if (out.size() >= max) {
            cut = true;
            return;
        }
        at += take;
    }
}

// The import walk, and on demand the thunks and the delay-load table.
class Walker {
public:
    Walker(const platform::ByteSource& file, ImageImports& out, const RunOptions& options)
        : image_(file), out_(out), checks_(options), budget_(file.size()) {}

    void walk() {
        image_.readHeaders(out_.machine, out_.isDll);
        // Headers and section table whole: the loader could map the image.
        out_.loadable = image_.sectionsFit();
        try {
            imports();
            out_.outcome = ImageImports::Outcome::Read;
        } catch (const EWrongFormat&) {
            out_.outcome = ImageImports::Outcome::WrongFormat;
            return;
        } catch (const ENoImport&) {
            out_.outcome = ImageImports::Outcome::NoImport;
        }
        if (checks_.delayLoad && !out_.tablesDamaged) {
            try {
                delayImports();
            } catch (const EWrongFormat&) {
                out_.tablesDamaged = true;
            }
        }
    }

private:
    const platform::ByteSource& file() const { return image_.file(); }

    void imports() {
        std::uint32_t importRva = 0, importSize = 0;
        image_.importDirectory(importRva, importSize);
        if (importSize == 0) throw ENoImport();
        image_.readSections();
        std::uint64_t cursor = 0;
        if (importRva == 0 || !image_.rvaToOffset(importRva, cursor)) throw ENoImport();
        for (;; cursor += kDescriptorSize) {
            std::uint32_t nameRva = 0;
            if (!file().has(cursor, kDescriptorSize) || !file().u32(cursor + 12, nameRva)) wrongFormat();
            if (nameRva == 0) break;
            std::uint64_t at = 0;
            // A name in no section: searched as an empty name, never found.
            out_.names.push_back(image_.rvaToOffset(nameRva, at) ? readName(at) : DllName{});
            if (checks_.functions && !out_.tablesDamaged) {
                std::uint32_t lookup = 0, address = 0;
                file().u32(cursor, lookup);
                file().u32(cursor + 16, address);
                // The lookup table when it holds anything, else the address table
                // (old linkers leave the first zero).
                guarded([&] { functions(hasThunks(lookup) ? lookup : address, false, out_.names.back()); });
            }
        }
    }

    void delayImports() {
        std::uint32_t rva = 0, size = 0;
        image_.directory(kDelayImportEntry, rva, size);
        if (rva == 0 || size == 0) return;
        image_.readSections();
        std::uint64_t cursor = 0;
        if (!image_.rvaToOffset(rva, cursor)) return;  // as an import directory in no section
        // The table ends at its zero descriptor, or where its size says.
        for (std::uint32_t n = 0; n < size / kDelayDescriptorSize; ++n, cursor += kDelayDescriptorSize) {
            std::uint32_t attributes = 0, nameRva = 0, lookup = 0;
            if (!file().has(cursor, kDelayDescriptorSize) || !file().u32(cursor, attributes) ||
                !file().u32(cursor + 4, nameRva) || !file().u32(cursor + 16, lookup))
                wrongFormat();
            if (nameRva == 0) break;
            // Before Visual C++ 6 the descriptors held addresses, not RVAs.
            const bool addresses = !image_.plus() && (attributes & 1) == 0;
            std::uint64_t at = 0;
            const std::uint64_t name = addresses ? toRva(nameRva) : nameRva;
            out_.delayNames.push_back(image_.rvaToOffset(name, at) ? readName(at) : DllName{});
            if (checks_.functions && !out_.tablesDamaged)
                guarded([&] { functions(addresses ? toRva(lookup) : lookup, addresses, out_.delayNames.back()); });
        }
    }

    // A damaged function table marks the image and ends the reading of
    // functions; the DLL names go on as without the checks.
    template <class F>
    void guarded(F&& read) {
        try {
            read();
        } catch (const EWrongFormat&) {
            out_.tablesDamaged = true;
        }
    }

    bool hasThunks(std::uint32_t rva) const {
        std::uint64_t at = 0;
        std::uint32_t first = 0;
        return rva != 0 && image_.rvaToOffset(rva, at) && file().u32(at, first) && first != 0;
    }

    // An address of the image as an RVA; other values stay as they are.
    std::uint64_t toRva(std::uint64_t va) {
        if (!rangeRead_) {
            image_.imageRange(imageBase_, imageSize_);
            rangeRead_ = true;
        }
        return va >= imageBase_ && va - imageBase_ < imageSize_ ? va - imageBase_ : va;
    }

    // The thunks at `rva`, up to their zero entry.
    void functions(std::uint64_t rva, bool addresses, DllName& dll) {
        std::uint64_t at = 0;
        if (rva == 0 || rva > UINT32_MAX || !image_.rvaToOffset(rva, at)) return;
        const bool plus = image_.plus();
        const std::uint64_t width = plus ? 8 : 4;
        const std::uint64_t ordinalFlag = plus ? 0x8000000000000000ull : 0x80000000ull;
        std::string name;
        for (;; at += width) {
            budget_.thunk();
            std::uint64_t thunk = 0;
            if (plus) {
                std::uint32_t low = 0, high = 0;
                if (!file().u32(at, low) || !file().u32(at + 4, high)) wrongFormat();
                thunk = low | static_cast<std::uint64_t>(high) << 32;
            } else {
                std::uint32_t v = 0;
                if (!file().u32(at, v)) wrongFormat();
                thunk = v;
            }
            if (thunk == 0) break;
            if (addresses) thunk = toRva(thunk);
            ImportedFunction f;
            if (thunk & ordinalFlag) {
                f.byOrdinal = true;
                f.ordinal = static_cast<std::uint16_t>(thunk & 0xFFFF);
            } else {
                // The hint, then the name; a name in no section reads empty.
                std::uint64_t nameAt = 0;
                const std::uint64_t nameRva = (thunk & (ordinalFlag - 1)) + 2;
                if (nameRva <= UINT32_MAX && image_.rvaToOffset(nameRva, nameAt)) {
                    readString(file(), nameAt, kMaxFunctionName, budget_, name, f.cut);
                    f.at = static_cast<std::uint32_t>(out_.functionNames.size());
                    f.length = static_cast<std::uint32_t>(name.size());
                    out_.functionNames += name;
                }
            }
            dll.functions.push_back(f);
        }
    }

    // At most kMaxDllName bytes: a longer name is cut and never searched.
    DllName readName(std::uint64_t at) const {
        std::uint8_t buf[kMaxDllName + 1];
        const std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, file().size() - at));
        if (!file().read(at, buf, avail)) wrongFormat();
        const void* zero = std::memchr(buf, 0, avail);
        if (zero)
            return {dllNameText(buf, static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - buf)), true, {}};
        if (avail < sizeof buf) wrongFormat();  // runs to the end of the file without its zero
        return {dllNameText(buf, kMaxDllName) + "…", false, {}};
    }

    Image image_;
    ImageImports& out_;
    const RunOptions& checks_;
    Budget budget_;
    bool rangeRead_ = false;
    std::uint64_t imageBase_ = 0, imageSize_ = 0;
};

}  // namespace

// Control characters, which no file or function name holds, shown as '?'.
std::string imageText(std::string_view bytes) {
    std::string raw(bytes);
    for (char& c : raw)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return platform::cp1252ToUtf8(raw);
}

namespace {
// With -a, the image's .NET metadata when it has any.
void readManaged(const platform::ByteSource& file, const RunOptions& options, ImageImports& out) {
    if (!options.assemblies) return;
    auto managed = std::make_shared<ManagedImage>(readManagedImage(file));
    if (managed->state != ManagedImage::State::NotManaged) out.managed = std::move(managed);
}

// The walk over an open image; false when memory ran out.
bool walkImage(const platform::ByteSource& file, const RunOptions& options, ImageImports& out) {
    try {
        try {
            Walker(file, out, options).walk();
        } catch (const EWrongFormat&) {
            out.outcome = ImageImports::Outcome::WrongFormat;
        }
        return true;
    } catch (const std::bad_alloc&) {
        out = ImageImports{};
        out.outcome = ImageImports::Outcome::NotViewable;
        return false;
    }
}
}  // namespace

ImageImports readImageImports(const platform::ByteSource& image, const RunOptions& options) {
    ImageImports out;
    out.outcome = ImageImports::Outcome::Read;
    if (walkImage(image, options, out)) readManaged(image, options, out);
    return out;
}

ImageImports readImageImports(const std::string& path, bool withVersion, const RunOptions& options,
                              bool withManifest) {
    ImageImports out;
    try {
        platform::FileReader file;
        switch (file.open(path)) {
            case platform::MapStatus::Ok: break;
            case platform::MapStatus::NotMappable: out.outcome = ImageImports::Outcome::NotMappable; return out;
            case platform::MapStatus::NotViewable: out.outcome = ImageImports::Outcome::NotViewable; return out;
            default: out.outcome = ImageImports::Outcome::NotOpenable; return out;
        }
        if (!walkImage(file, options, out)) return out;
        // A read that failed, rather than ending at the end of the file.
        if (file.failed() && (out.outcome == ImageImports::Outcome::WrongFormat || out.tablesDamaged)) {
            out.outcome = ImageImports::Outcome::NotViewable;
            out.names.clear();
            out.delayNames.clear();
            out.tablesDamaged = false;
        }
        readManaged(file, options, out);
        if (withManifest) out.manifest = std::make_shared<const sxs::ModuleResource>(sxs::moduleResource(file, out.isDll));
        std::vector<std::uint8_t> block;
        if (withVersion && platform::versionBlockOf(path, file, block)) {
            out.versionRead = true;
            out.version = FileVersionFromBlock(block);
            out.fixedVersion = FixedFileVersion(block);
        }
    } catch (const std::bad_alloc&) {
        out = ImageImports{};
        out.outcome = ImageImports::Outcome::NotViewable;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Exports

namespace {
std::string_view nameAt(const std::string& bytes, std::uint32_t at, std::uint32_t length) {
    return std::string_view(bytes).substr(at, length);
}
}  // namespace

class ExportReader {
public:
    static void read(const platform::ByteSource& file, ExportTable& out) {
        Image image(file);
        std::uint16_t machine = 0;
        bool isDll = false;
        try {
            image.readHeaders(machine, isDll);
        } catch (const EWrongFormat&) {
            return;  // Unreadable
        }
        out.state = ExportTable::State::Damaged;
        try {
            std::uint32_t rva = 0, size = 0;
            image.directory(kExportEntry, rva, size);
            if (rva == 0 || size == 0) {
                out.state = ExportTable::State::Read;  // exports nothing
                return;
            }
            image.readSections();
            std::uint64_t dir = 0;
            std::uint32_t base = 0, functionCount = 0, nameCount = 0, functionsRva = 0, namesRva = 0, ordinalsRva = 0;
            if (!image.rvaToOffset(rva, dir) || !file.has(dir, kExportDirectorySize) || !file.u32(dir + 16, base) ||
                !file.u32(dir + 20, functionCount) || !file.u32(dir + 24, nameCount) ||
                !file.u32(dir + 28, functionsRva) || !file.u32(dir + 32, namesRva) || !file.u32(dir + 36, ordinalsRva))
                return;
            Budget budget(file.size());
            out.base_ = base;
            const std::uint32_t count = std::min(functionCount, kMaxExportIndex);
            std::uint64_t at = 0;
            if (count > 0) {
                if (!image.rvaToOffset(functionsRva, at) || !file.has(at, 4ull * count)) return;
                out.addresses_.resize(count);
                std::vector<std::uint8_t> raw(4ull * count);
                if (!file.read(at, raw.data(), raw.size())) return;
                const platform::Bytes table{raw.data(), raw.size()};
                for (std::uint32_t i = 0; i < count; ++i) table.u32(4ull * i, out.addresses_[i]);
            }
            // An address inside the export directory is a forwarder's text.
            std::string text;
            bool cut = false;
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t a = out.addresses_[i];
                if (a < rva || a - rva >= size) continue;
                std::uint64_t textAt = 0;
                if (!image.rvaToOffset(a, textAt)) return;
                readString(file, textAt, kMaxForward, budget, text, cut);
                if (cut) text += '\x85';  // "…" in code page 1252; a module that long is never found
                out.forwards_.emplace(i, text);
            }
            if (nameCount > 0) {
                std::uint64_t names = 0, ordinals = 0;
                if (!image.rvaToOffset(namesRva, names) || !file.has(names, 4ull * nameCount) ||
                    !image.rvaToOffset(ordinalsRva, ordinals) || !file.has(ordinals, 2ull * nameCount))
                    return;
                out.names_.reserve(std::min<std::uint64_t>(nameCount, 1 << 20));
                for (std::uint32_t i = 0; i < nameCount; ++i) {
                    std::uint32_t nameRva = 0;
                    std::uint16_t index = 0;
                    std::uint64_t textAt = 0;
                    if (!file.u32(names + 4ull * i, nameRva) || !file.u16(ordinals + 2ull * i, index)) return;
                    // A name for no function exports nothing.
                    if (index >= count || out.addresses_[index] == 0 || !image.rvaToOffset(nameRva, textAt)) continue;
                    readString(file, textAt, kMaxFunctionName, budget, text, cut);
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
        } catch (const EWrongFormat&) {
            // Damaged
        }
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

ExportTable readExportTable(const platform::ByteSource& image) {
    ExportTable out;
    try {
        ExportReader::read(image, out);
    } catch (const std::bad_alloc&) {
        out = ExportTable{};
    }
    return out;
}

ExportTable readExportTable(const std::string& path) {
    ExportTable out;
    try {
        platform::FileReader file;
        if (file.open(path) != platform::MapStatus::Ok) return out;
        ExportReader::read(file, out);
        if (file.failed() && out.state == ExportTable::State::Damaged) out.state = ExportTable::State::Unreadable;
    } catch (const std::bad_alloc&) {
        out = ExportTable{};
    }
    return out;
}
