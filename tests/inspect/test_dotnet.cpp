// The .NET metadata reader on images written by the test writer: the
// assembly, its references and P/Invoke modules; the heap-size flags and the
// index widths that follow from every table's row count; mixed-mode images;
// and hostile metadata (sizes, offsets, strings, streams), each small.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "inspect/pe/clr.h"
#include "inspect/pe/read.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

using State = pe::ManagedImage::State;

// The key of the ECMA standard (16 bytes) and a 1024-bit RSA key, with the
// tokens the framework's assemblies are known by.
const std::vector<std::uint8_t> kEcmaKey = {0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};
const char* const kEcmaToken = "b77a5c561934e089";
const char* const kMicrosoftKeyHex =
    "002400000480000094000000060200000024000052534131000400000100010007d1fa57c4aed9f0a32e84aa0faefd0de9e8fd6aec8f"
    "87fb03766c834c99921eb23be79ad9d5dcc1dd9ad236132102900b723cf980957fc4e177108fc607774f29e8320e92ea05ece4e821c0a5"
    "efe8f1645c4c0c93c1ab99285d622caa652c1dfad63d745d6f2de5f17e5eaf0fc4963d261c8a12436518206dc093344d5ad293";
const char* const kMicrosoftToken = "b03f5f7f11d50a3a";
const std::vector<std::uint8_t> kToken = {0xB7, 0x7A, 0x5C, 0x56, 0x19, 0x34, 0xE0, 0x89};

std::vector<std::uint8_t> fromHex(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

pew::ManagedName name(std::string n, std::uint16_t major, std::uint16_t minor, std::string culture = {},
                     std::vector<std::uint8_t> key = {}, bool full = false) {
    return {std::move(n), major, minor, 0, 0, std::move(culture), std::move(key), full};
}

// An assembly with a full key, references by token, by full key, with a
// culture or none, and three P/Invoke modules.
pew::Managed sample() {
    pew::Managed m;
    m.assembly = pew::ManagedName{"Demo", 1, 2, 3, 4, "", fromHex(kMicrosoftKeyHex), false};
    m.references = {name("mscorlib", 4, 0, "", kToken), name("Demo.resources", 1, 2, "fr-FR"),
                    name("Keyed", 2, 5, "", kEcmaKey, true), name("System.Xml", 4, 0, "", kToken)};
    m.references[3].build = 30319;
    m.references[3].revision = 17;
    m.moduleRefs = {"kernel32", "user32.dll", "libc.so.6"};
    return m;
}

std::string text(const pe::AssemblyName& a) {
    return a.name + " " + a.versionText() + " [" + a.culture + "] " + a.publicKeyToken;
}
std::vector<std::string> references(const pe::ManagedImage& m) {
    std::vector<std::string> out;
    for (const pe::AssemblyName& a : m.references) out.push_back(text(a));
    return out;
}
const std::vector<std::string> kSampleReferences = {
    "mscorlib 4.0.0.0 [] b77a5c561934e089", "Demo.resources 1.2.0.0 [fr-FR] ", "Keyed 2.5.0.0 [] b77a5c561934e089",
    "System.Xml 4.0.30319.17 [] b77a5c561934e089"};
const std::vector<std::string> kSampleModules = {"kernel32", "user32.dll", "libc.so.6"};

std::vector<std::uint8_t> image(const pew::Managed& m, pew::Layout* layout = nullptr, bool plus = false) {
    pew::Image img;
    img.pe32plus = plus;
    img.managed = m;
    return pew::build(img, layout);
}

pe::ManagedImage read(const std::vector<std::uint8_t>& bytes) {
    return pe::readManagedImage(platform::MemoryByteSource(bytes.data(), bytes.size()));
}

void expectSample(const pe::ManagedImage& m, const std::string& what) {
    EXPECT_EQ(m.state, State::Read) << what;
    EXPECT_TRUE(m.hasAssembly) << what;
    EXPECT_EQ(text(m.assembly), "Demo 1.2.3.4 [] b03f5f7f11d50a3a") << what;
    EXPECT_EQ(references(m), kSampleReferences) << what;
    EXPECT_EQ(m.moduleRefs, kSampleModules) << what;
}

std::uint16_t get16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The file offset of column `column` of row `row` (0-based) of `table`,
// given the widths of the columns before it.
std::size_t cell(const pew::Layout& l, unsigned table, std::uint32_t row, std::size_t before) {
    return l.managed.table[table] + static_cast<std::size_t>(row) * l.managed.rowSize[table] + before;
}
// AssemblyRef columns with narrow heaps: 4 x U2, U4, then the key blob,
// the name, the culture.
constexpr std::size_t kRefKey = 12, kRefName = 14, kRefCulture = 16;

}  // namespace

TEST(Dotnet, ReadsTheAssemblyItsReferencesAndModules) {
    for (bool plus : {false, true}) {
        const pe::ManagedImage m = read(image(sample(), nullptr, plus));
        expectSample(m, plus ? "PE32+" : "PE32");
        EXPECT_TRUE(m.ilOnly());
        EXPECT_EQ(m.runtimeVersion, "v4.0.30319");
    }
    // A module without an Assembly row (a .netmodule) and without references.
    pew::Managed bare;
    bare.moduleRefs = {"gdi32"};
    const pe::ManagedImage m = read(image(bare));
    EXPECT_EQ(m.state, State::Read);
    EXPECT_FALSE(m.hasAssembly);
    EXPECT_TRUE(m.references.empty());
    EXPECT_EQ(m.moduleRefs, std::vector<std::string>{"gdi32"});
}

TEST(Dotnet, TokensOfFullKeysAreTheEndOfTheirSha1Reversed) {
    // Keys whose blob length takes one, two and four bytes (the last one's
    // token computed apart with Python's hashlib).
    std::vector<std::uint8_t> big(20000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::pair<std::vector<std::uint8_t>, const char*> keys[] = {
        {kEcmaKey, kEcmaToken}, {fromHex(kMicrosoftKeyHex), kMicrosoftToken}, {big, "162fa377ea4ddeda"}};
    for (const auto& [key, token] : keys) {
        pew::Managed m;
        m.assembly = pew::ManagedName{"A", 1, 0, 0, 0, "", key, false};
        m.references = {name("R", 1, 0, "", key, true), name("T", 1, 0, "", kToken)};
        const pe::ManagedImage r = read(image(m));
        EXPECT_EQ(r.assembly.publicKeyToken, token) << key.size();
        EXPECT_EQ(r.references[0].publicKeyToken, token) << key.size();
        EXPECT_EQ(r.references[1].publicKeyToken, kEcmaToken);
    }
    // A token blob of another length than 8 is no token.
    pew::Managed odd;
    odd.references = {name("Odd", 1, 0, "", {1, 2, 3, 4, 5})};
    const pe::ManagedImage r = read(image(odd));
    EXPECT_EQ(r.state, State::Read);
    EXPECT_EQ(r.references[0].publicKeyToken, "");
}

TEST(Dotnet, HeapSizeFlagsAndBothTableStreamForms) {
    for (unsigned bits = 0; bits < 32; ++bits) {
        pew::Managed m = sample();
        m.wideStrings = bits & 1;
        m.wideGuids = bits & 2;
        m.wideBlobs = bits & 4;
        m.enc = bits & 8;
        m.extraData = bits & 16;
        expectSample(read(image(m)), "flags " + std::to_string(bits));
    }
}

// Every table's row count on both sides of each width threshold (2^11 for
// 5 tag bits up to 2^16 for a simple index), with a row in every other table
// so that each index column exists before AssemblyRef: a width taken from the
// wrong tables moves the rows read.
TEST(Dotnet, IndexWidthsFollowEveryTablesRowCount) {
    const pew::Managed base = sample();
    for (unsigned t = 0; t <= 0x2C; ++t) {
        for (std::uint32_t n : {2047u, 2048u, 8191u, 8192u, 16383u, 16384u, 32767u, 32768u, 65535u, 65536u}) {
            pew::Managed m = base;
            for (unsigned other = 0; other <= 0x2C; ++other) m.extraRows[other] = 1;
            // The table's own rows count too (within the reader's 65,536).
            const std::uint32_t own = t == 0x00 || t == 0x02 || t == 0x20 ? 1
                                      : t == 0x1A                        ? 3
                                      : t == 0x23                        ? 4
                                                                         : 0;
            m.extraRows[t] = n - own;
            const pe::ManagedImage r = read(image(m));
            const std::string what = "table " + std::to_string(t) + ", " + std::to_string(n) + " rows";
            ASSERT_EQ(r.state, State::Read) << what;
            ASSERT_EQ(text(r.assembly), "Demo 1.2.3.4 [] b03f5f7f11d50a3a") << what;
            std::vector<std::string> refs = references(r);
            ASSERT_GE(refs.size(), 4u) << what;
            refs.resize(4);
            EXPECT_EQ(refs, kSampleReferences) << what;
            ASSERT_GE(r.moduleRefs.size(), 3u) << what;
            EXPECT_EQ(std::vector<std::string>(r.moduleRefs.begin(), r.moduleRefs.begin() + 3), kSampleModules) << what;
        }
    }
}

TEST(Dotnet, MixedModeImagesHaveNativeImportsToo) {
    pew::Image img;
    img.import("mscoree.dll", {{"_CorDllMain"}}).import("KERNEL32.dll").import("MSVCR120.dll");
    img.managed = sample();
    img.managed->cliFlags = 0x10;  // a native entry point, not IL only
    const std::vector<std::uint8_t> bytes = pew::build(img);
    const platform::MemoryByteSource source(bytes.data(), bytes.size());
    const pe::ManagedImage m = pe::readManagedImage(source);
    expectSample(m, "mixed");
    EXPECT_FALSE(m.ilOnly());
    const pe::ImageRead native = pe::readImage(source, pe::ReadConfig{});
    ASSERT_EQ(native.outcome, pe::ImageRead::Outcome::Read);
    ASSERT_EQ(native.imports.dlls.size(), 3u);
    EXPECT_EQ(native.imports.dlls[2].text, "MSVCR120.dll");
}

TEST(Dotnet, NativeAndForeignFilesAreNotManaged) {
    pew::Image native;
    native.import("kernel32.dll");
    std::vector<std::uint8_t> bytes = pew::build(native);
    EXPECT_EQ(read(bytes).state, State::NotManaged);
    // A CLI directory left out by NumberOfRvaAndSizes does not count.
    pew::Layout l;
    bytes = image(sample(), &l);
    pew::put32(bytes, l.optionalHeader + 92, 14);
    EXPECT_EQ(read(bytes).state, State::NotManaged);
    for (const std::vector<std::uint8_t>& junk :
         {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{'M', 'Z'}, std::vector<std::uint8_t>(4096, 0xFF)}) {
        const pe::ManagedImage m = read(junk);
        EXPECT_EQ(m.state, State::NotManaged);
        EXPECT_TRUE(m.references.empty() && m.moduleRefs.empty() && !m.hasAssembly);
    }
}

TEST(Dotnet, ReadsFiles) {
    testutil::TempDir dir;
    const std::string path = dir.file("Demo.dll");
    pew::writeFile(path, image(sample()));
    expectSample(pe::readManagedImage(path), path);
    EXPECT_EQ(pe::readManagedImage(dir.file("absent.dll")).state, State::NotManaged);
}

// ---------------------------------------------------------------------------
// Hostile metadata

TEST(DotnetHostile, TruncatedFilesAndMetadataAreDamaged) {
    pew::Layout l;
    const std::vector<std::uint8_t> good = image(sample(), &l);
    const std::uint32_t mdSize = get32(good, l.managed.cliHeader + 12);
    // The file cut anywhere from the CLI header on.
    for (std::size_t cut = l.managed.cliHeader; cut < l.managed.metadata + mdSize; ++cut) {
        const std::vector<std::uint8_t> bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(read(bytes).state, State::Damaged) << cut;
    }
    // The metadata said to be shorter than its streams.
    for (std::uint32_t size = 0; size < mdSize; ++size) {
        std::vector<std::uint8_t> bytes = good;
        pew::put32(bytes, l.managed.cliHeader + 12, size);
        EXPECT_EQ(read(bytes).state, State::Damaged) << size;
    }
}

TEST(DotnetHostile, RowCountsInTheBillions) {
    pew::Layout l;
    const std::vector<std::uint8_t> good = image(sample(), &l);
    for (unsigned table : {0x00u, 0x02u, 0x1Au, 0x20u, 0x23u})
        for (std::uint32_t count : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x01000000u}) {
            std::vector<std::uint8_t> bytes = good;
            pew::put32(bytes, l.managed.rowCount[table], count);
            const pe::ManagedImage m = read(bytes);
            EXPECT_EQ(m.state, State::Damaged) << table << " " << count;
            EXPECT_TRUE(m.references.empty()) << table;
        }
    // More rows than any assembly has, all of them in the stream.
    pew::Managed many = sample();
    many.extraRows[0x23] = 70000;
    EXPECT_EQ(read(image(many)).state, State::Damaged);
}

TEST(DotnetHostile, AStreamClaimingEveryTable) {
    pew::Managed m = sample();
    m.extraRows[0x2C] = 200;  // room for 64 row counts
    pew::Layout l;
    const std::vector<std::uint8_t> good = image(m, &l);
    for (std::uint32_t count : {1u, 0x10000u, 0x00FFFFFFu, 0xFFFFFFFFu}) {
        std::vector<std::uint8_t> bytes = good;
        const std::size_t stream = l.managed.tablesStream;
        pew::put32(bytes, stream + 8, 0xFFFFFFFFu);
        pew::put32(bytes, stream + 12, 0xFFFFFFFFu);
        for (std::size_t i = 0; i < 64; ++i) pew::put32(bytes, stream + 24 + 4 * i, count);
        const pe::ManagedImage r = read(bytes);
        if (count > 1) {
            EXPECT_EQ(r.state, State::Damaged) << count;
        }
        EXPECT_LE(r.references.size(), 1u);
    }
}

TEST(DotnetHostile, HeapIndexesPastTheirHeaps) {
    pew::Layout l;
    const std::vector<std::uint8_t> good = image(sample(), &l);
    const std::uint32_t stringsSize = get32(good, l.managed.streamHeaders[1] + 4);
    const std::uint32_t blobsSize = get32(good, l.managed.streamHeaders[4] + 4);
    // The second reference's name, culture and key; what came before stays.
    for (const auto& [column, index] :
         {std::pair{kRefName, stringsSize}, std::pair{kRefCulture, 0xFFFFu}, std::pair{kRefKey, blobsSize}}) {
        std::vector<std::uint8_t> bytes = good;
        pew::put16(bytes, cell(l, 0x23, 1, column), static_cast<std::uint16_t>(index));
        const pe::ManagedImage m = read(bytes);
        EXPECT_EQ(m.state, State::Damaged) << column;
        EXPECT_EQ(references(m), std::vector<std::string>{kSampleReferences[0]}) << column;
        EXPECT_EQ(m.moduleRefs, kSampleModules);
    }
    // A full key whose length runs past the heap, and a length prefix no
    // blob has.
    for (std::uint8_t prefix : {0x7Fu, 0xBFu, 0xDFu, 0xE0u, 0xFFu}) {
        std::vector<std::uint8_t> bytes = good;
        const std::uint16_t key = get16(bytes, cell(l, 0x23, 2, kRefKey));
        bytes[l.managed.blobs + key] = prefix;
        bytes[l.managed.blobs + key + 1] = 0xFF;
        EXPECT_EQ(read(bytes).state, State::Damaged) << int(prefix);
    }
}

TEST(DotnetHostile, NamesWithoutEndLongOrOdd) {
    pew::Managed m;
    m.moduleRefs = {std::string(3000, 'x'), "a\tb\x01" "c\x7F", "\xC3(\xC2\x85z", ""};
    for (int i = 0; i < 1000; ++i) m.moduleRefs[3] += "\xE2\x82\xAC";  // "€", 3 bytes each
    const pe::ManagedImage r = read(image(m));
    EXPECT_EQ(r.state, State::Read);
    ASSERT_EQ(r.moduleRefs.size(), 4u);
    EXPECT_EQ(r.moduleRefs[0], std::string(pe::kMaxMetadataName, 'x') + "…");
    EXPECT_EQ(r.moduleRefs[1], "a?b?c?");
    EXPECT_EQ(r.moduleRefs[2], "\xEF\xBF\xBD(?z");  // an invalid byte, a C1 control character
    std::string euros;
    for (std::size_t i = 0; i < pe::kMaxMetadataName / 3; ++i) euros += "\xE2\x82\xAC";
    EXPECT_EQ(r.moduleRefs[3], euros + "…");  // cut between characters

    // The heap's last string running to its end without a zero.
    pew::Managed tail;
    tail.moduleRefs = {"kernel32"};
    pew::Layout l;
    std::vector<std::uint8_t> bytes = image(tail, &l);
    const std::uint32_t size = get32(bytes, l.managed.streamHeaders[1] + 4);
    const std::uint16_t at = get16(bytes, cell(l, 0x1A, 0, 0));
    std::memset(&bytes[l.managed.strings + at], 'A', size - at);
    EXPECT_EQ(read(bytes).state, State::Damaged);
}

TEST(DotnetHostile, DamagedHeadersAndStreams) {
    pew::Layout l;
    const std::vector<std::uint8_t> good = image(sample(), &l);
    const auto& p = l.managed;
    const auto rename = [&](std::vector<std::uint8_t>& b, std::size_t header, const char* name) {
        std::memcpy(&b[header + 8], name, std::strlen(name) + 1);
    };
    const std::vector<std::pair<const char*, std::function<void(std::vector<std::uint8_t>&)>>> cases = {
        {"CLI header in no section", [&](auto& b) { pew::put32(b, p.cliDirectory, 0x00F00000); }},
        {"metadata at RVA 0", [&](auto& b) { pew::put32(b, p.cliHeader + 8, 0); }},
        {"metadata past the file", [&](auto& b) { pew::put32(b, p.cliHeader + 12, 0x7FFFFFFF); }},
        {"no BSJB", [&](auto& b) { b[p.metadata] = 'X'; }},
        {"version text past the metadata", [&](auto& b) { pew::put32(b, p.metadata + 12, 0xFFFFFFF0); }},
        {"65,535 stream headers", [&](auto& b) { pew::put16(b, p.streamHeaders[0] - 2, 0xFFFF); }},
        {"stream name without its zero", [&](auto& b) { std::memset(&b[p.streamHeaders[4] + 8], 'A', 32); }},
        {"stream past the metadata", [&](auto& b) { pew::put32(b, p.streamHeaders[1], 0x10000); }},
        {"stream size past the metadata", [&](auto& b) { pew::put32(b, p.streamHeaders[4] + 4, 0xFFFFFFF0); }},
        {"no tables stream", [&](auto& b) { rename(b, p.streamHeaders[0], "#X"); }},
        // Where a name comes twice the last one counts: here the 4 bytes of #US.
        {"a second tables stream", [&](auto& b) { rename(b, p.streamHeaders[2], "#~"); }},
        {"tables header cut", [&](auto& b) { pew::put32(b, p.streamHeaders[0] + 4, 20); }},
    };
    for (const auto& [what, damage] : cases) {
        std::vector<std::uint8_t> bytes = good;
        damage(bytes);
        EXPECT_EQ(read(bytes).state, State::Damaged) << what;
    }
}

// Rows sharing one long name, or one key, or keys overlapping in the heap:
// the bytes scanned and hashed stay near what the heaps hold.
TEST(DotnetHostile, SharedNamesAndKeysStayWithinBudget) {
    pew::Managed shared;
    const std::string longName(1000, 'n');
    for (int i = 0; i < 20000; ++i) shared.references.push_back(name(longName, 1, 0));
    EXPECT_EQ(read(image(shared)).state, State::Damaged);

    // One key for all: hashed once.
    pew::Managed oneKey;
    const std::vector<std::uint8_t> key(4096, 0x7F);
    for (int i = 0; i < 2000; ++i) oneKey.references.push_back(name("R", 1, 0, "", key, true));
    pew::Layout l;
    std::vector<std::uint8_t> bytes = image(oneKey, &l);
    pe::ManagedImage r = read(bytes);
    EXPECT_EQ(r.state, State::Read);
    ASSERT_EQ(r.references.size(), 2000u);
    EXPECT_EQ(r.references.back().publicKeyToken, r.references.front().publicKeyToken);
    // Inside the key every byte 0x7F starts a blob of 127 bytes: two
    // thousand different keys to hash.
    for (std::uint32_t i = 0; i < 2000; ++i)
        pew::put16(bytes, cell(l, 0x23, i, kRefKey), static_cast<std::uint16_t>(8 + i));
    r = read(bytes);
    EXPECT_EQ(r.state, State::Damaged);
    EXPECT_LT(r.references.size(), 2000u);
}
