#include "tests/support/pewriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <tuple>

#include "platform/text.h"

namespace pew {

namespace {

void append16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void append32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    append16(b, static_cast<std::uint16_t>(v));
    append16(b, static_cast<std::uint16_t>(v >> 16));
}
void align(std::vector<std::uint8_t>& b, std::size_t n) {
    while (b.size() % n) b.push_back(0);
}
std::uint32_t alignUp(std::uint32_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

// One node: wLength, wValueLength, wType, key, padding, value, padding, children.
std::vector<std::uint8_t> node(const std::string& key, const std::vector<std::uint8_t>& value,
                               std::uint16_t valueLength, std::uint16_t type,
                               const std::vector<std::vector<std::uint8_t>>& children) {
    std::vector<std::uint8_t> b;
    append16(b, 0);
    append16(b, valueLength);
    append16(b, type);
    for (char16_t c : platform::utf8ToUtf16(key)) append16(b, c);
    append16(b, 0);
    align(b, 4);
    b.insert(b.end(), value.begin(), value.end());
    for (const auto& child : children) {
        align(b, 4);
        b.insert(b.end(), child.begin(), child.end());
    }
    put16(b, 0, static_cast<std::uint16_t>(b.size()));
    return b;
}

std::vector<std::uint8_t> utf16z(const std::string& text, std::uint16_t& chars) {
    std::vector<std::uint8_t> b;
    const std::u16string w = platform::utf8ToUtf16(text);
    for (char16_t c : w) append16(b, c);
    append16(b, 0);
    chars = static_cast<std::uint16_t>(w.size() + 1);
    return b;
}

// The tables of .NET metadata up to GenericParamConstraint, written down
// apart from the reader's: each column as a letter. '2'/'4' fixed bytes,
// 's'/'g'/'b' heap indexes, 'T' + table a simple index, 'C' + kind a coded
// index.
struct CodedIndex {
    unsigned bits;
    std::vector<unsigned> tables;
};
const std::vector<CodedIndex>& codedIndexes() {
    static const std::vector<CodedIndex> all = {
        {2, {0x02, 0x01, 0x1B}},                                      // 0 TypeDefOrRef
        {2, {0x04, 0x08, 0x17}},                                      // 1 HasConstant
        {5, {0x06, 0x04, 0x01, 0x02, 0x08, 0x09, 0x0A, 0x00, 0x0E, 0x17, 0x14, 0x11, 0x1A, 0x1B, 0x20, 0x23,
             0x26, 0x27, 0x28, 0x2A, 0x2C, 0x2B}},                    // 2 HasCustomAttribute
        {1, {0x04, 0x08}},                                            // 3 HasFieldMarshal
        {2, {0x02, 0x06, 0x20}},                                      // 4 HasDeclSecurity
        {3, {0x02, 0x01, 0x1A, 0x06, 0x1B}},                          // 5 MemberRefParent
        {1, {0x14, 0x17}},                                            // 6 HasSemantics
        {1, {0x06, 0x0A}},                                            // 7 MethodDefOrRef
        {1, {0x04, 0x06}},                                            // 8 MemberForwarded
        {2, {0x26, 0x23, 0x27}},                                      // 9 Implementation
        {3, {0x06, 0x0A}},                                            // 10 CustomAttributeType
        {2, {0x00, 0x1A, 0x23, 0x01}},                                // 11 ResolutionScope
        {1, {0x02, 0x06}},                                            // 12 TypeOrMethodDef
    };
    return all;
}
struct Col {
    char kind;
    unsigned arg = 0;
};
using Cols = std::vector<Col>;
const std::vector<Cols>& tableColumns() {
    const Col u2{'2'}, u4{'4'}, s{'s'}, g{'g'}, b{'b'};
    const auto T = [](unsigned t) { return Col{'T', t}; };
    const auto C = [](unsigned k) { return Col{'C', k}; };
    static const std::vector<Cols> all = {
        {u2, s, g, g, g},                        // 0x00 Module
        {C(11), s, s},                           // 0x01 TypeRef
        {u4, s, s, C(0), T(0x04), T(0x06)},      // 0x02 TypeDef
        {T(0x04)},                               // 0x03 FieldPtr
        {u2, s, b},                              // 0x04 Field
        {T(0x06)},                               // 0x05 MethodPtr
        {u4, u2, u2, s, b, T(0x08)},             // 0x06 MethodDef
        {T(0x08)},                               // 0x07 ParamPtr
        {u2, u2, s},                             // 0x08 Param
        {T(0x02), C(0)},                         // 0x09 InterfaceImpl
        {C(5), s, b},                            // 0x0A MemberRef
        {u2, C(1), b},                           // 0x0B Constant
        {C(2), C(10), b},                        // 0x0C CustomAttribute
        {C(3), b},                               // 0x0D FieldMarshal
        {u2, C(4), b},                           // 0x0E DeclSecurity
        {u2, u4, T(0x02)},                       // 0x0F ClassLayout
        {u4, T(0x04)},                           // 0x10 FieldLayout
        {b},                                     // 0x11 StandAloneSig
        {T(0x02), T(0x14)},                      // 0x12 EventMap
        {T(0x14)},                               // 0x13 EventPtr
        {u2, s, C(0)},                           // 0x14 Event
        {T(0x02), T(0x17)},                      // 0x15 PropertyMap
        {T(0x17)},                               // 0x16 PropertyPtr
        {u2, s, b},                              // 0x17 Property
        {u2, T(0x06), C(6)},                     // 0x18 MethodSemantics
        {T(0x02), C(7), C(7)},                   // 0x19 MethodImpl
        {s},                                     // 0x1A ModuleRef
        {b},                                     // 0x1B TypeSpec
        {u2, C(8), s, T(0x1A)},                  // 0x1C ImplMap
        {u4, T(0x04)},                           // 0x1D FieldRVA
        {u4, u4},                                // 0x1E ENCLog
        {u4},                                    // 0x1F ENCMap
        {u4, u2, u2, u2, u2, u4, b, s, s},       // 0x20 Assembly
        {u4},                                    // 0x21 AssemblyProcessor
        {u4, u4, u4},                            // 0x22 AssemblyOS
        {u2, u2, u2, u2, u4, b, s, s, b},        // 0x23 AssemblyRef
        {u4, T(0x23)},                           // 0x24 AssemblyRefProcessor
        {u4, u4, u4, T(0x23)},                   // 0x25 AssemblyRefOS
        {u4, s, b},                              // 0x26 File
        {u4, u4, s, s, C(9)},                    // 0x27 ExportedType
        {u4, u4, s, C(9)},                       // 0x28 ManifestResource
        {T(0x02), T(0x02)},                      // 0x29 NestedClass
        {u2, u2, C(12), s},                      // 0x2A GenericParam
        {C(7), b},                               // 0x2B MethodSpec
        {T(0x2A), C(0)},                         // 0x2C GenericParamConstraint
    };
    return all;
}

// The CLI header and the metadata, for a section at `rva`; the offsets in
// `where` relative to the section's start.
std::vector<std::uint8_t> managedSection(const Managed& m, std::uint32_t rva, Layout::ManagedOffsets& where) {
    // Heaps: each starts with its empty entry.
    std::vector<std::uint8_t> strings(1, 0), blobs(1, 0), guids;
    std::map<std::string, std::uint32_t> stringAt;
    const auto str = [&](const std::string& text) -> std::uint32_t {
        if (text.empty()) return 0;
        const auto it = stringAt.find(text);
        if (it != stringAt.end()) return it->second;
        const auto at = static_cast<std::uint32_t>(strings.size());
        strings.insert(strings.end(), text.begin(), text.end());
        strings.push_back(0);
        return stringAt[text] = at;
    };
    std::map<std::string, std::uint32_t> blobAt;  // equal blobs stored once, as compilers do
    const auto blob = [&](const std::vector<std::uint8_t>& bytes) -> std::uint32_t {
        if (bytes.empty()) return 0;
        const std::string key(bytes.begin(), bytes.end());
        const auto known = blobAt.find(key);
        if (known != blobAt.end()) return known->second;
        const auto at = blobAt[key] = static_cast<std::uint32_t>(blobs.size());
        const auto n = static_cast<std::uint32_t>(bytes.size());
        if (n < 0x80) {
            blobs.push_back(static_cast<std::uint8_t>(n));
        } else if (n < 0x4000) {
            blobs.push_back(static_cast<std::uint8_t>(0x80 | n >> 8));
            blobs.push_back(static_cast<std::uint8_t>(n));
        } else {
            for (int i = 3; i >= 0; --i) blobs.push_back(static_cast<std::uint8_t>((i == 3 ? 0xC0 : 0) | n >> (8 * i)));
        }
        blobs.insert(blobs.end(), bytes.begin(), bytes.end());
        return at;
    };
    for (int i = 0; i < 16; ++i) guids.push_back(static_cast<std::uint8_t>(0x10 + i));

    // Rows as column values, then encoded with the widths.
    std::vector<std::vector<std::vector<std::uint32_t>>> rows(0x2D);
    rows[0x00].push_back({0, str(m.moduleName), 1, 0, 0});
    rows[0x02].push_back({0, str("<Module>"), 0, 0, 1, 1});
    for (const std::string& name : m.moduleRefs) rows[0x1A].push_back({str(name)});
    if (m.assembly) {
        const ManagedName& a = *m.assembly;
        rows[0x20].push_back({0x8004, a.major, a.minor, a.build, a.revision, a.publicKey.empty() ? 0u : 1u,
                              blob(a.publicKey), str(a.name), str(a.culture)});
    }
    for (const ManagedName& r : m.references)
        rows[0x23].push_back({r.major, r.minor, r.build, r.revision, r.fullKey ? 1u : 0u, blob(r.publicKey),
                              str(r.name), str(r.culture), 0});
    std::array<std::uint32_t, 64> count{};
    for (unsigned t = 0; t < rows.size(); ++t) {
        const auto extra = m.extraRows.find(t);
        count[t] = static_cast<std::uint32_t>(rows[t].size()) + (extra == m.extraRows.end() ? 0 : extra->second);
    }
    const std::uint8_t heapSizes = static_cast<std::uint8_t>((m.wideStrings ? 1 : 0) | (m.wideGuids ? 2 : 0) |
                                                             (m.wideBlobs ? 4 : 0) | (m.extraData ? 0x40 : 0));
    const auto width = [&](const Col& c) -> unsigned {
        switch (c.kind) {
            case '2': return 2;
            case '4': return 4;
            case 's': return m.wideStrings ? 4 : 2;
            case 'g': return m.wideGuids ? 4 : 2;
            case 'b': return m.wideBlobs ? 4 : 2;
            case 'T': return count[c.arg] > 0xFFFF ? 4 : 2;
        }
        const CodedIndex& k = codedIndexes()[c.arg];
        std::uint32_t most = 0;
        for (unsigned t : k.tables) most = std::max(most, count[t]);
        return most >= (1u << (16 - k.bits)) ? 4 : 2;
    };

    std::vector<std::uint8_t> tables(24, 0);
    tables[4] = 2;  // version 2.0
    tables[6] = heapSizes;
    std::uint64_t valid = 0;
    std::array<std::uint32_t, 64> countAt{};
    for (unsigned t = 0; t < rows.size(); ++t)
        if (count[t] > 0) {
            valid |= 1ull << t;
            countAt[t] = static_cast<std::uint32_t>(tables.size());
            append32(tables, count[t]);
        }
    put32(tables, 8, static_cast<std::uint32_t>(valid));
    put32(tables, 12, static_cast<std::uint32_t>(valid >> 32));
    if (m.extraData) append32(tables, 0);
    std::array<std::uint32_t, 64> tableAt{}, rowSize{};
    for (unsigned t = 0; t < rows.size(); ++t) {
        if (count[t] == 0) continue;
        const Cols& cols = tableColumns()[t];
        tableAt[t] = static_cast<std::uint32_t>(tables.size());
        for (const Col& c : cols) rowSize[t] += width(c);
        for (const auto& row : rows[t])
            for (std::size_t c = 0; c < cols.size(); ++c) {
                if (width(cols[c]) == 2)
                    append16(tables, static_cast<std::uint16_t>(row[c]));
                else
                    append32(tables, row[c]);
            }
        tables.resize(tables.size() + static_cast<std::size_t>(count[t] - rows[t].size()) * rowSize[t], 0);
    }

    // The metadata root, its stream headers, then the streams.
    std::vector<std::uint8_t> md;
    append32(md, 0x424A5342);
    append16(md, 1);
    append16(md, 1);
    append32(md, 0);
    std::string version = m.runtimeVersion;
    version.push_back(0);
    while (version.size() % 4) version.push_back(0);
    append32(md, static_cast<std::uint32_t>(version.size()));
    md.insert(md.end(), version.begin(), version.end());
    append16(md, 0);
    const std::vector<std::uint8_t> userStrings(4, 0);
    const std::vector<std::pair<std::string, const std::vector<std::uint8_t>*>> streams = {
        {m.enc ? "#-" : "#~", &tables}, {"#Strings", &strings}, {"#US", &userStrings}, {"#GUID", &guids},
        {"#Blob", &blobs}};
    append16(md, static_cast<std::uint16_t>(streams.size()));
    std::vector<std::size_t> headerAt;
    for (const auto& [name, bytes] : streams) {
        headerAt.push_back(md.size());
        append32(md, 0);
        append32(md, 0);
        md.insert(md.end(), name.begin(), name.end());
        md.push_back(0);
        align(md, 4);
    }
    std::vector<std::uint32_t> streamAt;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const std::vector<std::uint8_t>& bytes = *streams[i].second;
        streamAt.push_back(static_cast<std::uint32_t>(md.size()));
        md.insert(md.end(), bytes.begin(), bytes.end());
        align(md, 4);
        put32(md, headerAt[i], streamAt[i]);
        put32(md, headerAt[i] + 4, static_cast<std::uint32_t>(md.size()) - streamAt[i]);
    }

    // The CLI header, then the metadata.
    constexpr std::uint32_t kHeader = 72;
    std::vector<std::uint8_t> b;
    append32(b, kHeader);
    append16(b, 2);
    append16(b, 5);
    append32(b, rva + kHeader);
    append32(b, static_cast<std::uint32_t>(md.size()));
    append32(b, m.cliFlags);
    b.resize(kHeader, 0);
    b.insert(b.end(), md.begin(), md.end());

    where.cliHeader = 0;
    where.metadata = kHeader;
    where.streamHeaders.clear();
    for (std::size_t at : headerAt) where.streamHeaders.push_back(kHeader + static_cast<std::uint32_t>(at));
    where.tablesStream = kHeader + streamAt[0];
    where.strings = kHeader + streamAt[1];
    where.guids = kHeader + streamAt[3];
    where.blobs = kHeader + streamAt[4];
    for (unsigned t = 0; t < 64; ++t) {
        where.rowCount[t] = countAt[t] ? where.tablesStream + countAt[t] : 0;
        where.table[t] = count[t] ? where.tablesStream + tableAt[t] : 0;
        where.rowSize[t] = rowSize[t];
    }
    return b;
}

}  // namespace

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, static_cast<std::uint16_t>(v));
    put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

VersionInfo VersionInfo::simple(const std::string& fileVersion, std::uint16_t language, std::uint16_t codePage) {
    VersionInfo v;
    char key[9];
    std::snprintf(key, sizeof key, "%04x%04x", language, codePage);
    v.tables.push_back({key, {{"FileVersion", fileVersion}, {"ProductVersion", "1.0.0.0"}}});
    v.translations.push_back(static_cast<std::uint32_t>(language) | (static_cast<std::uint32_t>(codePage) << 16));
    return v;
}

std::vector<std::uint8_t> versionBlock(const VersionInfo& info) {
    std::vector<std::uint8_t> fixed;
    if (info.withFixedInfo) {
        append32(fixed, 0xFEEF04BD);
        append32(fixed, 0x00010000);
        append32(fixed, (static_cast<std::uint32_t>(info.major) << 16) | info.minor);
        append32(fixed, (static_cast<std::uint32_t>(info.release) << 16) | info.build);
        append32(fixed, (static_cast<std::uint32_t>(info.major) << 16) | info.minor);
        append32(fixed, (static_cast<std::uint32_t>(info.release) << 16) | info.build);
        append32(fixed, 0x3F);
        append32(fixed, 0);
        append32(fixed, 0x40004);  // VOS_NT_WINDOWS32
        append32(fixed, 2);        // VFT_DLL
        append32(fixed, 0);
        append32(fixed, 0);
        append32(fixed, 0);
    }
    std::vector<std::vector<std::uint8_t>> tables;
    for (const StringTable& t : info.tables) {
        std::vector<std::vector<std::uint8_t>> strings;
        for (const auto& [k, v] : t.values) {
            std::uint16_t chars = 0;
            const std::vector<std::uint8_t> value = utf16z(v, chars);
            strings.push_back(node(k, value, chars, 1, {}));
        }
        tables.push_back(node(t.key, {}, 0, 1, strings));
    }
    std::vector<std::vector<std::uint8_t>> children;
    if (!tables.empty()) children.push_back(node("StringFileInfo", {}, 0, 1, tables));
    if (info.withVarFileInfo) {
        std::vector<std::uint8_t> value;
        for (std::uint32_t t : info.translations) append32(value, t);
        children.push_back(
            node("VarFileInfo", {}, 0, 1, {node("Translation", value, static_cast<std::uint16_t>(value.size()), 0, {})}));
    }
    return node("VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), 0, children);
}

namespace {

// An ARM64X relocation table: the fixups in blocks by page, as they come.
std::vector<std::uint8_t> arm64xTable(std::uint32_t version, const std::vector<Arm64xFixup>& fixups) {
    std::vector<std::uint8_t> relocs;
    for (std::size_t i = 0; i < fixups.size();) {
        const std::uint32_t page = fixups[i].rva & ~0xFFFu;
        const std::size_t block = relocs.size();
        append32(relocs, page);
        append32(relocs, 0);
        for (; i < fixups.size() && (fixups[i].rva & ~0xFFFu) == page; ++i) {
            const Arm64xFixup& f = fixups[i];
            const auto offset = static_cast<std::uint16_t>(f.rva & 0xFFF);
            if (f.type == 2) {
                const auto delta = static_cast<std::int64_t>(f.value);
                const std::uint64_t magnitude = delta < 0 ? -static_cast<std::uint64_t>(delta) : delta;
                const bool eight = magnitude / 4 > 0xFFFF;
                append16(relocs, static_cast<std::uint16_t>(offset | 0x2000 | (delta < 0 ? 0x4000 : 0) | (eight ? 0x8000 : 0)));
                append16(relocs, static_cast<std::uint16_t>(magnitude / (eight ? 8 : 4)));
                continue;
            }
            const unsigned arg = f.size >= 8 ? 3 : f.size >= 4 ? 2 : f.size >= 2 ? 1 : 0;
            append16(relocs, static_cast<std::uint16_t>(offset | (f.type << 12) | (arg << 14)));
            if (f.type == 1)
                for (unsigned k = 0; k < (1u << arg); ++k) relocs.push_back(static_cast<std::uint8_t>(f.value >> (8 * k)));
        }
        align(relocs, 4);  // a zero record ends the block
        put32(relocs, block + 4, static_cast<std::uint32_t>(relocs.size() - block));
    }
    std::vector<std::uint8_t> t;
    append32(t, version);
    append32(t, static_cast<std::uint32_t>(relocs.size() + (version == 1 ? 12 : 24)));
    if (version == 1) {
        append32(t, 6);  // IMAGE_DYNAMIC_RELOCATION_ARM64X
        append32(t, 0);
        append32(t, static_cast<std::uint32_t>(relocs.size()));
    } else {
        append32(t, 24);
        append32(t, static_cast<std::uint32_t>(relocs.size()));
        append32(t, 6);
        append32(t, 0);
        append32(t, 0);  // symbol group
        append32(t, 0);  // flags
    }
    t.insert(t.end(), relocs.begin(), relocs.end());
    return t;
}

// The load configuration's section: the structure, the EC view's import
// descriptors and the ARM64X relocation table. `number` is the section's
// place in the table, from 1.
std::vector<std::uint8_t> loadConfigSection(const Image& image, std::uint32_t rva, std::uint16_t number,
                                            std::uint64_t base, Layout& layout) {
    LoadConfig c = *image.loadConfig;
    const bool plus = image.pe32plus;
    const std::uint32_t full = plus ? 0x140 : 0xC0;
    std::vector<std::uint8_t> s(std::clamp(c.size.value_or(full), full, 0x10000u), 0);
    std::vector<std::uint8_t> tail;
    const auto tailRva = [&] { return rva + static_cast<std::uint32_t>(s.size() + tail.size()); };
    while ((s.size() + tail.size()) % 8) tail.push_back(0);
    if (image.arm64x) {
        const Arm64x& x = *image.arm64x;
        const std::uint32_t dirs = layout.optionalHeader + (plus ? 112 : 96);
        std::vector<Arm64xFixup> fixups = {{layout.ntHeaders + 4, 1, 2, x.ecMachine}};
        if (!x.ecImports.empty()) {
            const std::uint32_t descriptors = tailRva();
            const std::size_t first = tail.size();
            tail.resize(tail.size() + 20 * (x.ecImports.size() + 1) + 8, 0);
            const std::uint32_t thunk = tailRva() - 8;
            for (std::size_t i = 0; i < x.ecImports.size(); ++i) {
                const std::size_t d = first + 20 * i;
                put32(tail, d, thunk);
                put32(tail, d + 12, tailRva());
                put32(tail, d + 16, thunk);
                tail.insert(tail.end(), x.ecImports[i].begin(), x.ecImports[i].end());
                tail.push_back(0);
                align(tail, 2);
            }
            fixups.push_back({dirs + 8, 1, 4, descriptors});
            fixups.push_back({dirs + 12, 1, 4, static_cast<std::uint64_t>(20 * (x.ecImports.size() + 1))});
        }
        fixups.insert(fixups.end(), x.extra.begin(), x.extra.end());
        while ((s.size() + tail.size()) % 8) tail.push_back(0);
        const std::uint32_t table = tailRva();
        const std::vector<std::uint8_t> t = arm64xTable(x.version, fixups);
        tail.insert(tail.end(), t.begin(), t.end());
        layout.arm64xTableRva = table;
        if (!c.dynamicValueRelocTableSection) {
            c.dynamicValueRelocTableSection = number;
            c.dynamicValueRelocTableOffset = table - rva;
        }
        if (!c.chpeMetadataPointer) c.chpeMetadataPointer = base + rva;
    }
    const auto ptr = [&](std::size_t at32, std::size_t at64, std::uint64_t v) {
        const std::size_t at = plus ? at64 : at32;
        put32(s, at, static_cast<std::uint32_t>(v));
        if (plus) put32(s, at + 4, static_cast<std::uint32_t>(v >> 32));
    };
    put32(s, 0, c.size.value_or(full));
    put16(s, plus ? 0x4E : 0x36, c.dependentLoadFlags);
    ptr(0x3C, 0x58, c.securityCookie);
    ptr(0x40, 0x60, c.seHandlerTable);
    ptr(0x44, 0x68, c.seHandlerCount);
    ptr(0x50, 0x80, c.guardCfFunctionTable);
    ptr(0x54, 0x88, c.guardCfFunctionCount);
    put32(s, plus ? 0x90 : 0x58, c.guardFlags);
    ptr(0x78, 0xC0, c.dynamicValueRelocTable);
    ptr(0x7C, 0xC8, c.chpeMetadataPointer);
    put32(s, plus ? 0xE0 : 0x88, c.dynamicValueRelocTableOffset);
    put16(s, plus ? 0xE4 : 0x8C, c.dynamicValueRelocTableSection);
    layout.loadConfigRva = rva;
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
}

}  // namespace

std::vector<std::uint8_t> build(const Image& image, Layout* layoutOut) {
    constexpr std::uint32_t kFileAlign = 0x200, kSectionAlign = 0x1000;
    Layout layout;
    const bool plus = image.pe32plus;
    const std::uint16_t optionalSize = plus ? 240 : 224;
    const bool resources = !image.versionResources.empty() || !image.resources.empty();
    const std::uint16_t sectionCount = static_cast<std::uint16_t>(
        image.extraSectionsFirst.size() + 1 + (resources ? 1 : 0) + image.dataSections.size() +
        (image.managed ? 1 : 0) + (image.loadConfig ? 1 : 0));
    layout.ntHeaders = 0x80;
    layout.optionalHeader = layout.ntHeaders + 24;
    layout.sectionTable = layout.optionalHeader + optionalSize;
    const std::uint32_t headersSize = alignUp(layout.sectionTable + 40u * sectionCount, kFileAlign);

    // Import section: descriptors, a zero thunk, the names; then the
    // functions' lookup tables and hint/names, the delay-load descriptors and
    // the export table.
    const std::uint32_t idataRva = kSectionAlign, idataRaw = headersSize;
    std::vector<std::uint8_t> idata((image.imports.size() + 1) * 20 + 8, 0);
    const std::uint32_t thunkRva = idataRva + static_cast<std::uint32_t>(image.imports.size() + 1) * 20;
    const auto here = [&] { return idataRva + static_cast<std::uint32_t>(idata.size()); };
    const auto appendName = [&](const std::string& name) {
        const std::uint32_t at = here();
        idata.insert(idata.end(), name.begin(), name.end());
        idata.push_back(0);
        if (idata.size() % 2) idata.push_back(0);
        return at;
    };
    for (std::size_t i = 0; i < image.imports.size(); ++i) {
        const std::uint32_t nameAt = static_cast<std::uint32_t>(idata.size());
        layout.dllNameOffsets.push_back(idataRaw + nameAt);
        appendName(image.imports[i]);
        put32(idata, i * 20 + 0, thunkRva);
        put32(idata, i * 20 + 12, idataRva + nameAt);
        put32(idata, i * 20 + 16, thunkRva);
    }
    const std::uint64_t base = plus ? 0x180000000ull : 0x10000000u;
    // A lookup table for `functions`; addresses instead of RVAs when `vas`.
    const auto thunks = [&](const std::vector<Function>& functions, bool vas) {
        std::vector<std::uint32_t> hintNames;
        for (const Function& f : functions) {
            if (f.name.empty()) {
                hintNames.push_back(0);
                continue;
            }
            align(idata, 2);
            hintNames.push_back(here());
            append16(idata, 0);
            appendName(f.name);
        }
        align(idata, 8);
        const std::uint32_t at = here();
        for (std::size_t k = 0; k < functions.size(); ++k) {
            const std::uint64_t v = functions[k].name.empty()
                                        ? (plus ? 0x8000000000000000ull : 0x80000000ull) | functions[k].ordinal
                                        : hintNames[k] + (vas ? base : 0);
            append32(idata, static_cast<std::uint32_t>(v));
            if (plus) append32(idata, static_cast<std::uint32_t>(v >> 32));
        }
        for (int z = 0; z < (plus ? 8 : 4); ++z) idata.push_back(0);
        return at;
    };
    for (std::size_t i = 0; i < image.imports.size(); ++i) {
        std::uint32_t at = 0;
        if (i < image.importFunctions.size() && !image.importFunctions[i].empty()) {
            at = thunks(image.importFunctions[i], false);
            put32(idata, i * 20 + 0, at);
            put32(idata, i * 20 + 16, at);
        }
        layout.thunkOffsets.push_back(at ? idataRaw + (at - idataRva) : 0);
    }
    std::uint32_t delayRva = 0, delaySize = 0;
    if (!image.delayImports.empty()) {
        const std::uint64_t va = image.delayAddresses ? base : 0;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // name, lookup table
        for (std::size_t i = 0; i < image.delayImports.size(); ++i) {
            const std::uint32_t name = appendName(image.delayImports[i]);
            const std::vector<Function> none;
            const auto& functions = i < image.delayFunctions.size() ? image.delayFunctions[i] : none;
            entries.emplace_back(name, functions.empty() ? 0 : thunks(functions, image.delayAddresses));
        }
        align(idata, 8);
        delayRva = here();
        delaySize = static_cast<std::uint32_t>((entries.size() + 1) * 32);
        layout.delayDescriptors = idataRaw + (delayRva - idataRva);
        for (const auto& [name, lookup] : entries) {
            append32(idata, image.delayAddresses ? 0 : 1);  // attributes: RVAs
            append32(idata, static_cast<std::uint32_t>(name + va));
            append32(idata, 0);
            append32(idata, static_cast<std::uint32_t>(thunkRva + va));  // the address table
            append32(idata, lookup ? static_cast<std::uint32_t>(lookup + va) : 0);
            for (int z = 0; z < 12; ++z) idata.push_back(0);
        }
        for (int z = 0; z < 32; ++z) idata.push_back(0);
    }
    std::uint32_t exportRva = 0, exportSize = 0;
    if (!image.exports.empty() || image.exportDirectory) {
        align(idata, 4);
        exportRva = here();
        layout.exportDirectory = idataRaw + (exportRva - idataRva);
        const auto count = static_cast<std::uint32_t>(image.exports.size());
        std::vector<std::size_t> named;
        for (std::size_t k = 0; k < image.exports.size(); ++k)
            if (!image.exports[k].name.empty()) named.push_back(k);
        const std::size_t dir = idata.size();
        idata.resize(dir + 40 + 4 * count + 4 * named.size() + 2 * named.size(), 0);
        const std::uint32_t functions = exportRva + 40, names = functions + 4 * count,
                            ordinals = names + 4 * static_cast<std::uint32_t>(named.size());
        put32(idata, dir + 16, image.exportBase);
        put32(idata, dir + 20, count);
        put32(idata, dir + 24, static_cast<std::uint32_t>(named.size()));
        put32(idata, dir + 28, functions);
        put32(idata, dir + 32, names);
        put32(idata, dir + 36, ordinals);
        layout.exportNamesRva = here();
        for (std::size_t j = 0; j < named.size(); ++j) {
            put32(idata, names - idataRva + 4 * j, appendName(image.exports[named[j]].name));
            put16(idata, ordinals - idataRva + 2 * j, static_cast<std::uint16_t>(named[j]));
        }
        for (std::size_t k = 0; k < image.exports.size(); ++k) {
            const Export& e = image.exports[k];
            // Code anywhere outside the export table: the descriptors will do.
            const std::uint32_t address = e.none ? 0 : e.forward.empty() ? idataRva : appendName(e.forward);
            put32(idata, functions - idataRva + 4 * k, address);
        }
        exportSize = here() - exportRva;
        put32(idata, dir + 12, exportRva);  // the DLL's own name: none
    }
    layout.importDescriptors = idataRaw;
    layout.importSectionRva = idataRva;
    layout.importSectionRaw = idataRaw;
    const std::uint32_t idataRawSize = alignUp(static_cast<std::uint32_t>(idata.size()), kFileAlign);

    // Resource section: type / ID / language directories, sorted by ID as
    // the loader expects, then the data entries, then the data.
    std::vector<std::uint8_t> rsrc;
    const std::uint32_t rsrcRva = idataRva + alignUp(static_cast<std::uint32_t>(idata.size()), kSectionAlign);
    const std::uint32_t rsrcRaw = idataRaw + idataRawSize;
    std::vector<Resource> all;
    for (const auto& [language, bytes] : image.versionResources) all.push_back({16, 1, language, bytes});
    all.insert(all.end(), image.resources.begin(), image.resources.end());
    std::stable_sort(all.begin(), all.end(), [](const Resource& a, const Resource& b) {
        return std::tie(a.type, a.id) < std::tie(b.type, b.id);
    });
    if (!all.empty()) {
        std::map<std::uint32_t, std::map<std::uint32_t, std::vector<std::size_t>>> tree;
        for (std::size_t i = 0; i < all.size(); ++i) tree[all[i].type][all[i].id].push_back(i);
        const auto directorySize = [](std::size_t entries) { return static_cast<std::uint32_t>(16 + 8 * entries); };
        std::uint32_t at = directorySize(tree.size());
        std::map<std::uint32_t, std::uint32_t> typeAt;
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> idAt;
        for (const auto& [type, ids] : tree) {
            typeAt[type] = at;
            at += directorySize(ids.size());
        }
        for (const auto& [type, ids] : tree)
            for (const auto& [id, entries] : ids) {
                idAt[{type, id}] = at;
                at += directorySize(entries.size());
            }
        const std::uint32_t dataEntries = at;
        const auto directory = [&](std::size_t ids) {
            for (int i = 0; i < 12; ++i) rsrc.push_back(0);
            append16(rsrc, 0);
            append16(rsrc, static_cast<std::uint16_t>(ids));
        };
        directory(tree.size());
        for (const auto& [type, ids] : tree) {
            append32(rsrc, type);
            append32(rsrc, 0x80000000u | typeAt[type]);
        }
        for (const auto& [type, ids] : tree) {
            directory(ids.size());
            for (const auto& [id, entries] : ids) {
                append32(rsrc, id);
                append32(rsrc, 0x80000000u | idAt[{type, id}]);
            }
        }
        std::uint32_t entry = 0;
        std::vector<std::size_t> order;
        for (const auto& [type, ids] : tree)
            for (const auto& [id, entries] : ids) {
                directory(entries.size());
                for (std::size_t i : entries) {
                    append32(rsrc, all[i].language);
                    append32(rsrc, dataEntries + 16 * entry++);
                    order.push_back(i);
                }
            }
        const std::uint32_t dataAt = dataEntries + 16 * static_cast<std::uint32_t>(order.size());
        std::vector<std::uint8_t> data;
        for (std::size_t i : order) {
            append32(rsrc, rsrcRva + dataAt + static_cast<std::uint32_t>(data.size()));
            append32(rsrc, static_cast<std::uint32_t>(all[i].bytes.size()));
            append32(rsrc, 0);
            append32(rsrc, 0);
            data.insert(data.end(), all[i].bytes.begin(), all[i].bytes.end());
            while (data.size() % 8) data.push_back(0);
        }
        rsrc.insert(rsrc.end(), data.begin(), data.end());
    }
    const std::uint32_t rsrcRawSize = alignUp(static_cast<std::uint32_t>(rsrc.size()), kFileAlign);
    std::uint32_t imageSize = rsrcRva + alignUp(static_cast<std::uint32_t>(rsrc.size() ? rsrc.size() : 1), kSectionAlign);
    std::uint32_t nextRaw = rsrcRaw + rsrcRawSize;
    std::vector<std::uint32_t> dataRvas, dataRaws;
    for (const auto& [name, bytes] : image.dataSections) {
        dataRvas.push_back(imageSize);
        dataRaws.push_back(nextRaw);
        imageSize += alignUp(static_cast<std::uint32_t>(bytes.size() ? bytes.size() : 1), kSectionAlign);
        nextRaw += alignUp(static_cast<std::uint32_t>(bytes.size()), kFileAlign);
    }
    std::vector<std::uint8_t> cor;
    const std::uint32_t corRva = imageSize, corRaw = nextRaw;
    if (image.managed) {
        cor = managedSection(*image.managed, corRva, layout.managed);
        imageSize += alignUp(static_cast<std::uint32_t>(cor.size()), kSectionAlign);
        Layout::ManagedOffsets& p = layout.managed;
        for (std::uint32_t* at : {&p.cliHeader, &p.metadata, &p.tablesStream, &p.strings, &p.blobs, &p.guids})
            *at += corRaw;
        for (std::uint32_t& at : p.streamHeaders) at += corRaw;
        for (unsigned t = 0; t < 64; ++t) {
            if (p.rowCount[t]) p.rowCount[t] += corRaw;
            if (p.table[t]) p.table[t] += corRaw;
        }
    }

    std::vector<std::uint8_t> lcfg;
    const std::uint32_t lcfgRva = imageSize, lcfgRaw = corRaw + alignUp(static_cast<std::uint32_t>(cor.size()), kFileAlign);
    if (image.loadConfig) {
        lcfg = loadConfigSection(image, lcfgRva, sectionCount, base, layout);
        imageSize += alignUp(static_cast<std::uint32_t>(lcfg.size()), kSectionAlign);
        layout.loadConfigSectionRva = lcfgRva;
        layout.loadConfigSectionRaw = layout.loadConfig = lcfgRaw;
        if (layout.arm64xTableRva) layout.arm64xTable = lcfgRaw + (layout.arm64xTableRva - lcfgRva);
    }

    std::vector<std::uint8_t> b(headersSize, 0);
    put16(b, 0, 0x5A4D);
    put32(b, 0x3C, layout.ntHeaders);
    put32(b, layout.ntHeaders, 0x00004550);
    const std::uint32_t fh = layout.ntHeaders + 4;
    put16(b, fh + 0, image.machine ? image.machine : plus ? 0x8664 : 0x014C);
    put16(b, fh + 2, sectionCount);
    put16(b, fh + 16, optionalSize);
    put16(b, fh + 18, plus ? 0x2022 : 0x2102);
    const std::uint32_t oh = layout.optionalHeader;
    put16(b, oh + 0, plus ? 0x20B : 0x10B);
    b[oh + 2] = 2;  // linker version
    if (plus) {
        put32(b, oh + 24, static_cast<std::uint32_t>(base));  // ImageBase, 64 bits
        put32(b, oh + 28, static_cast<std::uint32_t>(base >> 32));
    } else {
        put32(b, oh + 28, static_cast<std::uint32_t>(base));
    }
    put32(b, oh + 32, kSectionAlign);
    put32(b, oh + 36, kFileAlign);
    put16(b, oh + 40, 4);  // OS version
    put16(b, oh + 48, 4);  // subsystem version
    put32(b, oh + 56, imageSize);
    put32(b, oh + 60, headersSize);
    put16(b, oh + 68, 2);  // GUI subsystem
    put16(b, oh + 70, image.dllCharacteristics.value_or(0x0140));
    const std::uint32_t sizes = plus ? oh + 72 : oh + 72;
    if (plus) {
        put32(b, sizes + 0, 0x100000);
        put32(b, sizes + 8, 0x1000);
        put32(b, sizes + 16, 0x100000);
        put32(b, sizes + 24, 0x1000);
    } else {
        put32(b, sizes + 0, 0x100000);
        put32(b, sizes + 4, 0x1000);
        put32(b, sizes + 8, 0x100000);
        put32(b, sizes + 12, 0x1000);
    }
    const std::uint32_t dirs = oh + (plus ? 112 : 96);
    put32(b, dirs - 4, 16);  // NumberOfRvaAndSizes
    layout.importDataDirectory = dirs + 8;
    put32(b, dirs + 0, exportRva);
    put32(b, dirs + 4, exportSize);
    put32(b, dirs + 13 * 8, delayRva);
    put32(b, dirs + 13 * 8 + 4, delaySize);
    if (image.importDirectory && !image.imports.empty()) {
        put32(b, dirs + 8, idataRva);
        put32(b, dirs + 12, static_cast<std::uint32_t>((image.imports.size() + 1) * 20));
    }
    if (image.managed) {
        layout.managed.cliDirectory = dirs + 14 * 8;
        put32(b, dirs + 14 * 8, corRva);
        put32(b, dirs + 14 * 8 + 4, 72);
    }
    if (image.loadConfig) {
        put32(b, dirs + 10 * 8, lcfgRva);
        put32(b, dirs + 10 * 8 + 4, image.loadConfig->directorySize.value_or(static_cast<std::uint32_t>(
                                         image.loadConfig->size.value_or(plus ? 0x140 : 0xC0))));
    }
    if (!rsrc.empty()) {
        put32(b, dirs + 16, rsrcRva);
        put32(b, dirs + 20, static_cast<std::uint32_t>(rsrc.size()));
    }

    std::uint32_t sh = layout.sectionTable;
    for (const ExtraSection& s : image.extraSectionsFirst) {
        std::memcpy(&b[sh], ".extra\0\0", 8);
        put32(b, sh + 8, s.virtualSize);
        put32(b, sh + 12, s.virtualAddress);
        put32(b, sh + 16, s.rawSize);
        put32(b, sh + 20, s.rawPointer);
        put32(b, sh + 36, 0x40000040);
        sh += 40;
    }
    const auto section = [&](const char* name, std::uint32_t va, std::uint32_t vsize, std::uint32_t raw,
                             std::uint32_t rawSize, std::uint32_t flags) {
        std::memcpy(&b[sh], name, 8);
        put32(b, sh + 8, vsize);
        put32(b, sh + 12, va);
        put32(b, sh + 16, rawSize);
        put32(b, sh + 20, raw);
        put32(b, sh + 36, flags);
        sh += 40;
    };
    section(".idata\0\0", idataRva, static_cast<std::uint32_t>(idata.size()), idataRaw, idataRawSize, 0xC0000040);
    if (!rsrc.empty())
        section(".rsrc\0\0\0", rsrcRva, static_cast<std::uint32_t>(rsrc.size()), rsrcRaw, rsrcRawSize, 0x40000040);

    for (std::size_t i = 0; i < image.dataSections.size(); ++i) {
        char name[9] = {};
        std::strncpy(name, image.dataSections[i].first.c_str(), 8);
        const auto size = static_cast<std::uint32_t>(image.dataSections[i].second.size());
        section(name, dataRvas[i], size, dataRaws[i], alignUp(size, kFileAlign), 0x40000040);
    }
    if (image.managed) {
        const auto size = static_cast<std::uint32_t>(cor.size());
        section(".text\0\0\0", corRva, size, corRaw, alignUp(size, kFileAlign), 0x60000020);
    }
    if (image.loadConfig) {
        const auto size = static_cast<std::uint32_t>(lcfg.size());
        layout.loadConfigSectionHeader = sh;
        section(".lcfg\0\0\0", lcfgRva, size, lcfgRaw, alignUp(size, kFileAlign), 0x40000040);
    }

    idata.resize(idataRawSize, 0);
    b.insert(b.end(), idata.begin(), idata.end());
    if (!rsrc.empty()) {
        rsrc.resize(rsrcRawSize, 0);
        b.insert(b.end(), rsrc.begin(), rsrc.end());
    }
    for (const auto& [name, bytes] : image.dataSections) {
        b.insert(b.end(), bytes.begin(), bytes.end());
        align(b, kFileAlign);
    }
    b.insert(b.end(), cor.begin(), cor.end());
    align(b, kFileAlign);
    b.insert(b.end(), lcfg.begin(), lcfg.end());
    align(b, kFileAlign);
    if (layoutOut) *layoutOut = layout;
    return b;
}

std::vector<std::uint8_t> apiSetSchema(std::uint32_t version, const std::vector<ApiSet>& sets) {
    // Header, entries, value arrays, then the UTF-16 names.
    const std::uint32_t header = version == 2 ? 8 : version == 4 ? 16 : 28;
    const std::uint32_t entrySize = version == 2 ? 12 : 24, valueSize = version == 2 ? 16 : 20;
    const std::uint32_t valueHeader = version == 2 ? 4 : version == 4 ? 8 : 0;
    std::vector<std::uint8_t> b(header + entrySize * sets.size(), 0);
    std::vector<std::uint8_t> names;
    const auto count = static_cast<std::uint32_t>(sets.size());
    std::vector<std::pair<std::size_t, std::string>> pending;  // where a name's offset and length go
    std::uint32_t valuesAt = static_cast<std::uint32_t>(b.size());
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t e = header + entrySize * i;
        std::string name = sets[i].name;
        if (version < 6) name.erase(0, 4);
        pending.emplace_back(version == 2 ? e : e + 4, name);
        if (version == 6) {
            const std::size_t hyphen = name.rfind('-');
            put32(b, e + 12, static_cast<std::uint32_t>(2 * (hyphen == std::string::npos ? name.size() : hyphen)));
            put32(b, e + 16, valuesAt + valueHeader);
            put32(b, e + 20, static_cast<std::uint32_t>(sets[i].hosts.size()));
        } else {
            put32(b, version == 2 ? e + 8 : e + 20, valuesAt);
            put32(b, version == 2 ? valuesAt : valuesAt + 4, static_cast<std::uint32_t>(sets[i].hosts.size()));
        }
        for (std::size_t j = 0; j < sets[i].hosts.size(); ++j) {
            const std::uint32_t v = valuesAt + valueHeader + valueSize * static_cast<std::uint32_t>(j) + (version == 2 ? 0 : 4);
            pending.emplace_back(v, sets[i].hosts[j].first);
            pending.emplace_back(v + 8, sets[i].hosts[j].second);
        }
        valuesAt += valueHeader + valueSize * static_cast<std::uint32_t>(sets[i].hosts.size());
        if (b.size() < valuesAt) b.resize(valuesAt, 0);
    }
    for (const auto& [at, text] : pending) {
        const std::u16string w = platform::utf8ToUtf16(text);
        put32(b, at, static_cast<std::uint32_t>(b.size()));
        put32(b, at + 4, static_cast<std::uint32_t>(2 * w.size()));
        for (char16_t c : w) append16(b, c);
    }
    put32(b, 0, version);
    if (version == 2) {
        put32(b, 4, count);
    } else {
        put32(b, 4, static_cast<std::uint32_t>(b.size()));
        put32(b, 12, count);
        if (version == 6) put32(b, 16, header);
    }
    return b;
}

std::vector<std::uint8_t> bundleMarker() {
    return {0,    0,    0,    0,    0,    0,    0,    0,    0x8b, 0x12, 0x02, 0xb9, 0x6a, 0x61, 0x20, 0x38, 0x72, 0x7b, 0x93, 0x02,
            0x14, 0xd7, 0xa0, 0x32, 0x13, 0xf5, 0xb9, 0xe6, 0xef, 0xae, 0x33, 0x18, 0xee, 0x3b, 0x2d, 0xce, 0x24, 0xb3, 0x6a, 0xae};
}

std::vector<std::uint8_t> bundle(std::vector<std::uint8_t> b, std::uint32_t majorVersion,
                                 const std::vector<BundleFile>& files, const std::string& bundleId,
                                 std::uint64_t flags) {
    const std::vector<std::uint8_t> marker = bundleMarker();
    const auto at = std::search(b.begin(), b.end(), marker.begin() + 8, marker.end());
    if (at == b.end()) throw std::runtime_error("no bundle marker in the apphost");
    const std::size_t markerOffset = static_cast<std::size_t>(at - b.begin()) - 8;
    auto append64 = [&](std::uint64_t v) {
        for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto appendString = [&](const std::string& s) {
        if (s.size() < 0x80) {
            b.push_back(static_cast<std::uint8_t>(s.size()));
        } else {
            b.push_back(static_cast<std::uint8_t>(0x80 | (s.size() & 0x7F)));
            b.push_back(static_cast<std::uint8_t>(s.size() >> 7));
        }
        b.insert(b.end(), s.begin(), s.end());
    };
    std::vector<std::uint64_t> offsets;
    for (const BundleFile& f : files) {
        offsets.push_back(b.size());
        b.insert(b.end(), f.bytes.begin(), f.bytes.end());
    }
    const std::uint64_t header = b.size();
    append32(b, majorVersion);
    append32(b, 0);
    append32(b, static_cast<std::uint32_t>(files.size()));
    appendString(bundleId);
    if (majorVersion >= 2) {
        for (std::uint8_t type : {3, 4}) {
            std::uint64_t offset = 0, size = 0;
            for (std::size_t i = 0; i < files.size(); ++i)
                if (files[i].type == type && offset == 0) offset = offsets[i], size = files[i].bytes.size();
            append64(offset);
            append64(size);
        }
        append64(flags);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        const BundleFile& f = files[i];
        append64(offsets[i]);
        append64(f.inflatedSize ? f.inflatedSize : f.bytes.size());
        if (majorVersion >= 6) append64(f.inflatedSize ? f.bytes.size() : 0);
        b.push_back(f.type);
        appendString(f.path);
    }
    for (int i = 0; i < 8; ++i) b[markerOffset + i] = static_cast<std::uint8_t>(header >> (8 * i));
    return b;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(std::filesystem::path(reinterpret_cast<const char8_t*>(path.c_str())),
                      std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::string& path, const std::string& text) {
    writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace pew
