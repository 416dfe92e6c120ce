#include "inspect/pe/arm64x.h"

#include <algorithm>
#include <new>

namespace pe {

namespace {

constexpr std::uint64_t kDynamicRelocationArm64x = 6;
constexpr unsigned kImportEntry = 1, kDelayImportEntry = 13;

// Applies one fixup to `bytes` (at `base`, `count` long). A delta adds to
// a 32-bit value: its low bytes do not depend on the high ones, so a target
// cut at the end of `bytes` is still right for the part given.
bool applyTo(const Arm64xFixup& f, std::uint64_t base, std::uint8_t* bytes, std::size_t count) {
    const std::uint64_t start = f.rva, end = start + f.size;
    if (end <= base || start >= base + count) return true;
    if (f.type == Arm64xFixup::Type::Delta) {
        if (start < base) return false;
        const std::size_t at = static_cast<std::size_t>(start - base);
        const std::size_t n = std::min<std::size_t>(4, count - at);
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
        v += static_cast<std::uint32_t>(f.delta);
        for (std::size_t i = 0; i < n; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return true;
    }
    for (std::uint64_t r = std::max(start, base); r < std::min(end, base + count); ++r)
        bytes[r - base] =
            f.type == Arm64xFixup::Type::Value ? static_cast<std::uint8_t>(f.value >> (8 * (r - start))) : 0;
    return true;
}

// Reads the ARM64X relocations of `image` in Wine's order and hands each
// fixup to `sink`; sets `view.outcome` and `reason` when they are missing
// or damaged.
class RelocationReader {
public:
    RelocationReader(const platform::PeImage& image, const HeaderFields& fields, CodeView& view)
        : image_(image), fields_(fields), view_(view) {}

    template <typename Sink>
    void run(const LoadConfig& config, Sink&& sink) {
        if (!config.dynamicValueRelocTableOffset || !config.dynamicValueRelocTableSection)
            return none("the load configuration is too short to locate dynamic relocations");
        const std::uint32_t sec = *config.dynamicValueRelocTableSection, offset = *config.dynamicValueRelocTableOffset;
        SectionHeader s;
        if (sec == 0 || sec > fields_.sectionCount || !sectionHeader(image_, fields_, sec - 1, s))
            return none("no dynamic relocation table");
        if (offset >= s.virtualSize) return none("the dynamic relocation table lies past its section");
        // Through the section itself, not the first that holds the address.
        range_.rva = s.virtualAddress;
        range_.size = s.virtualSize;
        range_.fileOffset = s.rawPointer;
        range_.raw = std::min(s.rawSize, s.virtualSize);
        const std::uint64_t fileSize = image_.bytes().size();
        range_.backed = s.rawPointer < fileSize ? std::min<std::uint64_t>(range_.raw, fileSize - s.rawPointer) : 0;
        const std::uint64_t table = std::uint64_t{s.virtualAddress} + offset;
        std::uint32_t version = 0, size = 0;
        if (!u32(table, version) || !u32(table + 4, size))
            return damaged("the dynamic relocation table runs past its section");
        // Zeros past the file's bytes hold no ARM64X entry: the walk stops there.
        const std::uint64_t begin = table + 8, end = begin + size;
        const std::uint64_t backedEnd = range_.rva + range_.backed;
        for (std::uint64_t p = begin; p < end && p < backedEnd;) {
            std::uint64_t symbol = 0, fixupsAt = 0;
            std::uint32_t length = 0;
            if (version == 1) {
                std::uint32_t lo = 0, hi = 0;
                if (!u32(p, lo) || !u32(p + 4, hi) || !u32(p + 8, length))
                    return damaged("a dynamic relocation runs past its section");
                symbol = (std::uint64_t{hi} << 32) | lo;
                fixupsAt = p + 12;
            } else if (version == 2) {
                std::uint32_t header = 0, lo = 0, hi = 0;
                if (!u32(p, header) || !u32(p + 4, length) || !u32(p + 8, lo) || !u32(p + 12, hi))
                    return damaged("a dynamic relocation runs past its section");
                if (header < 24) return damaged("a dynamic relocation header is too short");
                symbol = (std::uint64_t{hi} << 32) | lo;
                fixupsAt = p + header;
            } else {
                return none("unsupported dynamic relocation table version " + std::to_string(version));
            }
            if (symbol == kDynamicRelocationArm64x) return blocks(fixupsAt, fixupsAt + length, sink);
            p = fixupsAt + length;
        }
        none("no ARM64X relocations");
    }

private:
    bool u16(std::uint64_t rva, std::uint16_t& out) const {
        std::uint8_t b[2];
        if (readIn(image_, range_, rva, b, 2) != 2) return false;
        out = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool u32(std::uint64_t rva, std::uint32_t& out) const {
        std::uint16_t lo = 0, hi = 0;
        if (!u16(rva, lo) || !u16(rva + 2, hi)) return false;
        out = lo | (std::uint32_t{hi} << 16);
        return true;
    }
    void none(std::string reason) {
        view_.outcome = CodeView::Outcome::NoTable;
        view_.reason = std::move(reason);
    }
    void damaged(std::string reason) {
        view_.outcome = CodeView::Outcome::Damaged;
        view_.reason = std::move(reason);
    }

    // Base relocation blocks of ARM64X fixup records, each for a page.
    template <typename Sink>
    void blocks(std::uint64_t p, std::uint64_t end, Sink& sink) {
        while (p + 8 < end) {
            std::uint32_t page = 0, blockSize = 0;
            if (!u32(p, page) || !u32(p + 4, blockSize)) return damaged("an ARM64X block runs past its section");
            if (blockSize == 0) return;
            if (blockSize < 8) return damaged("an ARM64X block is shorter than its header");
            const std::uint64_t blockEnd = p + (blockSize & ~1u);
            if (blockEnd > end) return damaged("an ARM64X block runs past its relocation");
            for (std::uint64_t r = p + 8; r < blockEnd;) {
                std::uint16_t record = 0;
                if (!u16(r, record)) return damaged("an ARM64X block runs past its section");
                if (record == 0) break;
                r += 2;
                Arm64xFixup f;
                f.rva = page + (record & 0xFFF);
                f.type = static_cast<Arm64xFixup::Type>((record >> 12) & 3);
                const unsigned arg = record >> 14;
                if (f.type == Arm64xFixup::Type::ZeroFill) {
                    f.size = static_cast<std::uint8_t>(1u << arg);
                } else if (f.type == Arm64xFixup::Type::Value) {
                    f.size = static_cast<std::uint8_t>(1u << arg);
                    if (r + f.size > blockEnd) return damaged("an ARM64X value runs past its block");
                    std::uint8_t v[8] = {};
                    if (readIn(image_, range_, r, v, f.size) != f.size)
                        return damaged("an ARM64X value runs past its section");
                    for (unsigned i = 0; i < f.size; ++i) f.value |= std::uint64_t{v[i]} << (8 * i);
                    // Whole words: a one-byte value takes none of its own, as Wine reads it.
                    r += f.size & ~1u;
                } else if (f.type == Arm64xFixup::Type::Delta) {
                    std::uint16_t amount = 0;
                    if (r + 2 > blockEnd || !u16(r, amount)) return damaged("an ARM64X delta runs past its block");
                    r += 2;
                    f.size = 4;
                    f.delta = std::int64_t{amount} * ((arg & 2) ? 8 : 4);
                    if (arg & 1) f.delta = -f.delta;
                } else {
                    continue;  // type 3: nothing, as in Wine
                }
                sink(f);
            }
            p = blockEnd;
        }
    }

    const platform::PeImage& image_;
    const HeaderFields& fields_;
    CodeView& view_;
    MappedRange range_;
};

// `header` holds the image's bytes from `base`: the NT headers as far as
// the data directories.
void readDirectories(const std::vector<std::uint8_t>& header, std::uint64_t base, const HeaderFields& h,
                     CodeView& view) {
    const platform::MemoryByteSource b(header.data(), header.size());
    std::uint16_t machine = 0;
    if (b.u16(h.ntHeaders + 4 - base, machine)) view.ecMachine = machine;
    b.u32(h.directories - 4 - base, view.directoryCount);
    for (unsigned i = 0; i < view.directories.size(); ++i) {
        DirectoryEntry& e = view.directories[i];
        const std::uint64_t at = h.directories - base + 8ull * i;
        if (!b.u32(at, e.rva) || !b.u32(at + 4, e.size)) e = {};
    }
    view.import = view.directories[kImportEntry];
    view.delayImport = view.directoryCount > kDelayImportEntry ? view.directories[kDelayImportEntry] : DirectoryEntry{};
}

CodeView read(const platform::PeImage& image, const LoadConfig& config) {
    CodeView view;
    const HeaderFields h = headerFields(image);
    view.machine = view.ecMachine = image.machine();
    if (!h.valid) return view;
    // The part of the headers a view changes: from the PE signature to the
    // end of the data directories, as far as the file holds it.
    const std::uint64_t base = h.ntHeaders, fileSize = image.bytes().size();
    const std::uint64_t end = std::min<std::uint64_t>(h.directories + 8 * 16, fileSize);
    std::vector<std::uint8_t> header(static_cast<std::size_t>(end > base ? end - base : 0));
    if (!image.bytes().read(base, header.data(), header.size())) return view;
    const bool hybrid = config.chpeMetadataPointer.value_or(0) != 0;
    if (hybrid && view.machine == kMachineAmd64) view.kind = CodeView::Kind::Arm64ec;
    if (hybrid && view.machine == kMachineArm64) {
        view.kind = CodeView::Kind::Arm64x;
        RelocationReader(image, h, view).run(config, [&](const Arm64xFixup& f) {
            applyTo(f, base, header.data(), header.size());
            if (f.rva >= base && f.rva + f.size <= base + header.size()) return;
            if (view.fixups.size() < kMaxArm64xFixups)
                view.fixups.push_back(f);
            else
                view.fixupsCut = true;
        });
    }
    readDirectories(header, base, h, view);
    view.byRva.resize(view.fixups.size());
    for (std::uint32_t i = 0; i < view.byRva.size(); ++i) view.byRva[i] = i;
    std::stable_sort(view.byRva.begin(), view.byRva.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return view.fixups[a].rva < view.fixups[b].rva; });
    return view;
}

}  // namespace

bool CodeView::patch(std::uint64_t rva, std::uint8_t* bytes, std::size_t count) const {
    // The fixups that can reach these bytes (none is longer than 8), applied
    // in table order as the loader applies them.
    const std::uint64_t from = rva < 8 ? 0 : rva - 7;
    auto it = std::lower_bound(byRva.begin(), byRva.end(), from,
                               [&](std::uint32_t i, std::uint64_t r) { return fixups[i].rva < r; });
    try {
        std::vector<std::uint32_t> hits;
        for (; it != byRva.end() && fixups[*it].rva < rva + count; ++it) hits.push_back(*it);
        std::sort(hits.begin(), hits.end());
        bool whole = true;
        for (std::uint32_t i : hits) whole = applyTo(fixups[i], rva, bytes, count) && whole;
        return whole;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool EcViewSource::read(std::uint64_t offset, void* out, std::size_t count) const {
    if (!native_.bytes().read(offset, out, count)) return false;
    auto* bytes = static_cast<std::uint8_t*>(out);
    // Each piece of the range in the headers or in a section's raw data is
    // patched at the RVA the loader maps it to.
    const std::uint64_t end = offset + count;
    std::uint64_t headersEnd = native_.sizeOfHeaders();
    for (const platform::PeSection& s : native_.sections())
        if (s.rawSize && s.rawPointer) headersEnd = std::min<std::uint64_t>(headersEnd, s.rawPointer);
    if (offset < headersEnd) view_.patch(offset, bytes, static_cast<std::size_t>(std::min(end, headersEnd) - offset));
    for (const platform::PeSection& s : native_.sections()) {
        const std::uint64_t from = std::max<std::uint64_t>(offset, s.rawPointer);
        const std::uint64_t to = std::min<std::uint64_t>(end, std::uint64_t{s.rawPointer} + s.rawSize);
        if (from >= to) continue;
        view_.patch(s.virtualAddress + (from - s.rawPointer), bytes + (from - offset), static_cast<std::size_t>(to - from));
    }
    return true;
}

CodeView readCodeView(const platform::PeImage& image, const LoadConfig& config) {
    try {
        return read(image, config);
    } catch (const std::bad_alloc&) {
        CodeView view;
        view.machine = view.ecMachine = image.machine();
        view.outcome = CodeView::Outcome::Damaged;
        view.reason = "out of memory";
        return view;
    }
}

}  // namespace pe
