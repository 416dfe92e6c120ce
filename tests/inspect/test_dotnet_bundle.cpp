// Single-file bundles of each header version built on a test apphost, their
// entries read back (inflated when zlib is here), damaged ones; the machine
// managed images run as; .NET Framework's own assemblies.
#include <gtest/gtest.h>

#include <cstring>

#include "inspect/pe/clr.h"
#include "inspect/dotnet/bundle.h"
#include "inspect/dotnet/depsjson.h"
#include "inspect/dotnet/machine.h"
#include "inspect/dotnet/netfxlist.h"
#include "inspect/dotnet/runtimeconfig.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"

#ifdef TAVELIN_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

using namespace dotnet;

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> apphost() {
    pew::Image host;
    host.pe32plus = true;
    host.import("kernel32.dll");
    host.dataSections.emplace_back(".data", pew::bundleMarker());
    return pew::build(host);
}

const std::string kConfig = R"({"runtimeOptions": {"tfm": "net8.0", "includedFrameworks": [
  {"name": "Microsoft.NETCore.App", "version": "8.0.8"}]}})";
const std::string kDeps = R"({"runtimeTarget": {"name": ".NETCoreApp,Version=v8.0/win-x64"},
  "targets": {".NETCoreApp,Version=v8.0/win-x64": {"App/1.0.0": {"runtime": {"App.dll": {}}}}},
  "libraries": {"App/1.0.0": {"type": "project", "serviceable": false}}})";

std::vector<pew::BundleFile> files() {
    return {{"App.dll", 1, bytes("MZ app"), 0},
            {"App.deps.json", 3, bytes(kDeps), 0},
            {"App.runtimeconfig.json", 4, bytes(kConfig), 0},
            {"runtimes/win-x64/native/e_sqlite3.dll", 2, bytes("MZ native"), 0},
            {std::string(200, 'd') + ".pdb", 5, bytes("pdb"), 0}};  // a two-byte name length
}

std::string contents(const platform::ByteSource& file, const BundleEntry& e) {
    std::string reason;
    const std::unique_ptr<platform::ByteSource> s = openBundleEntry(file, e, reason);
    if (!s) return "(" + reason + ")";
    std::string out(static_cast<std::size_t>(s->size()), '\0');
    return s->read(0, out.data(), out.size()) ? out : "(unreadable)";
}

TEST(Bundle, EachHeaderVersionReadsBack) {
    for (std::uint32_t version : {1u, 2u, 6u}) {
        SCOPED_TRACE(version);
        const std::vector<std::uint8_t> image = pew::bundle(apphost(), version, files(), "id-42", version >= 2 ? 1 : 0);
        const platform::MemoryByteSource file(image.data(), image.size());
        const Bundle b = readBundle(file);
        ASSERT_EQ(b.outcome, Bundle::Outcome::Read) << b.reason;
        EXPECT_EQ(b.majorVersion, version);
        EXPECT_EQ(b.bundleId, "id-42");
        ASSERT_EQ(b.entries.size(), 5u);
        EXPECT_EQ(b.entries[3].type, BundleEntry::Type::NativeBinary);
        EXPECT_EQ(b.entries[4].path.size(), 204u);
        EXPECT_EQ(contents(file, b.entries[3]), "MZ native");
        ASSERT_NE(b.find("RUNTIMES\\win-x64\\native\\E_SQLITE3.dll"), nullptr);
        // The configs are read from inside the bundle.
        const BundleEntry* config = b.firstOfType(BundleEntry::Type::RuntimeConfigJson);
        ASSERT_NE(config, nullptr);
        std::string reason;
        const auto configBytes = openBundleEntry(file, *config, reason);
        ASSERT_TRUE(configBytes) << reason;
        EXPECT_TRUE(parseRuntimeConfig(*configBytes).selfContained());
        const auto depsBytes = openBundleEntry(file, *b.firstOfType(BundleEntry::Type::DepsJson), reason);
        EXPECT_EQ(selectAssets(parseDepsJson(*depsBytes), platform::kMachineAmd64, true).size(), 1u);
        if (version >= 2) {
            EXPECT_EQ(b.depsJsonOffset, b.entries[1].offset);
            EXPECT_EQ(b.runtimeConfigSize, kConfig.size());
            EXPECT_EQ(b.flags, 1u);
        } else {
            EXPECT_EQ(b.depsJsonOffset, 0u);
        }
    }
}

TEST(Bundle, ApphostsAndOtherImages) {
    const std::vector<std::uint8_t> host = apphost();
    const Bundle plain = readBundle(platform::MemoryByteSource(host.data(), host.size()));
    EXPECT_EQ(plain.outcome, Bundle::Outcome::Apphost);
    EXPECT_GT(plain.markerOffset, 0u);
    // The signature past the image's sections (in appended data) is no marker.
    pew::Image other;
    std::vector<std::uint8_t> image = pew::build(other);
    const std::vector<std::uint8_t> marker = pew::bundleMarker();
    image.insert(image.end(), marker.begin(), marker.end());
    EXPECT_EQ(readBundle(platform::MemoryByteSource(image.data(), image.size())).outcome, Bundle::Outcome::NotApphost);
    EXPECT_EQ(readBundle(platform::MemoryByteSource(marker.data(), marker.size())).outcome, Bundle::Outcome::NotApphost);
}

TEST(Bundle, DamagedBundles) {
    const std::vector<std::uint8_t> good = pew::bundle(apphost(), 6, files());
    const Bundle b = readBundle(platform::MemoryByteSource(good.data(), good.size()));
    ASSERT_EQ(b.outcome, Bundle::Outcome::Read);
    const std::size_t header = static_cast<std::size_t>(b.headerOffset);
    const std::size_t firstEntry = header + 12 + 1 + 9 + 40;  // fixed part, "bundle-id", version 2 part
    auto put64 = [](std::vector<std::uint8_t>& v, std::size_t at, std::uint64_t x) {
        for (int i = 0; i < 8; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
    };
    const std::vector<std::function<void(std::vector<std::uint8_t>&)>> damage = {
        [&](auto& v) { put64(v, static_cast<std::size_t>(b.markerOffset), v.size() + 10); },  // header past the end
        [&](auto& v) { pew::put32(v, header, 3); },                                              // unknown version
        [&](auto& v) { pew::put32(v, header + 8, 0); },                                          // no files
        [&](auto& v) { pew::put32(v, header + 8, 0x7FFFFFFF); },                                 // more than fit
        [&](auto& v) { v[header + 12] = 0; },                                                    // empty bundle ID
        [&](auto& v) { v[header + 12] = 0x81, v[header + 13] = 0x80; },                         // three-byte length
        [&](auto& v) { put64(v, firstEntry, 0); },                                               // entry at offset 0
        [&](auto& v) { put64(v, firstEntry + 8, v.size()); },                                    // entry past the end
        [&](auto& v) { v[firstEntry + 24] = 6; },                                                // unknown type
        [&](auto& v) { v.resize(v.size() - 3); },                                                // manifest cut short
    };
    for (std::size_t i = 0; i < damage.size(); ++i) {
        std::vector<std::uint8_t> v = good;
        damage[i](v);
        const Bundle d = readBundle(platform::MemoryByteSource(v.data(), v.size()));
        EXPECT_EQ(d.outcome, Bundle::Outcome::Damaged) << "damage " << i;
        EXPECT_FALSE(d.reason.empty()) << "damage " << i;
    }
}

TEST(Bundle, CompressedEntries) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "compressible assembly bytes ";
    std::vector<std::uint8_t> stored = bytes("not deflate at all");
#ifdef TAVELIN_HAVE_ZLIB
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    stored.assign(deflateBound(&z, text.size()), 0);
    z.next_in = reinterpret_cast<Bytef*>(text.data());
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = stored.data();
    z.avail_out = static_cast<uInt>(stored.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    stored.resize(z.total_out);
    deflateEnd(&z);
#endif
    std::vector<pew::BundleFile> list = files();
    list.push_back({"Big.dll", 1, stored, text.size()});
    list.push_back({"Liar.dll", 1, {1, 2, 3}, std::uint64_t(1) << 40});
    const std::vector<std::uint8_t> image = pew::bundle(apphost(), 6, list);
    const platform::MemoryByteSource file(image.data(), image.size());
    const Bundle b = readBundle(file);
    ASSERT_EQ(b.outcome, Bundle::Outcome::Read) << b.reason;
    ASSERT_TRUE(b.entries[5].compressed());
    EXPECT_EQ(b.entries[5].size, text.size());
    if (canInflate()) EXPECT_TRUE(contents(file, b.entries[5]) == text);
    else EXPECT_NE(contents(file, b.entries[5]).find("compressed"), std::string::npos);
    EXPECT_EQ(contents(file, b.entries[6]).front(), '(');  // refused, never allocated
}

TEST(ManagedMachine, WhatCliFlagsMake) {
    struct Case {
        bool plus;
        std::uint16_t machine;
        std::uint32_t flags;
        ManagedMachine::Kind kind;
        std::uint16_t onX64, onArm64;
    };
    using K = ManagedMachine::Kind;
    const std::uint16_t x86 = platform::kMachineI386, x64 = platform::kMachineAmd64, arm64 = platform::kMachineArm64;
    const Case cases[] = {
        {false, x86, 0x1, K::AnyCpu, x64, arm64},
        {false, x86, 0x1 | 0x2, K::Requires32Bit, x86, x86},
        {false, x86, 0x1 | 0x2 | 0x20000, K::Prefer32Bit, x86, x86},
        {true, x64, 0x1, K::Native, x64, x64},
        {true, arm64, 0x1, K::Native, arm64, arm64},
        {false, x86, 0x10, K::Native, x86, x86},  // mixed mode: not IL only
    };
    for (const Case& c : cases) {
        pew::Image image;
        image.pe32plus = c.plus;
        image.machine = c.machine;
        image.managed = pew::Managed();
        image.managed->cliFlags = c.flags;
        const std::vector<std::uint8_t> b = pew::build(image);
        const pe::ManagedImage m = pe::readManagedImage(platform::MemoryByteSource(b.data(), b.size()));
        ASSERT_NE(m.state, pe::ManagedImage::State::NotManaged);
        const ManagedMachine on64 = managedMachine(c.machine, c.plus, true, m.cliFlags, x64);
        EXPECT_EQ(on64.kind, c.kind) << std::hex << c.flags;
        EXPECT_EQ(on64.machine, c.onX64) << std::hex << c.flags;
        EXPECT_EQ(managedMachine(c.machine, c.plus, true, m.cliFlags, arm64).machine, c.onArm64) << std::hex << c.flags;
        EXPECT_EQ(managedMachine(c.machine, c.plus, true, m.cliFlags, x86).machine, c.machine);
    }
    EXPECT_TRUE(loadableInto(x64, x86, false, true, 0x1));
    EXPECT_FALSE(loadableInto(x64, x86, false, true, 0x3));
    EXPECT_TRUE(loadableInto(x86, x86, false, true, 0x3));
    EXPECT_FALSE(loadableInto(x86, x64, true, true, 0x1));
    EXPECT_FALSE(loadableInto(x64, x86, false, false, 0));
}

TEST(NetFxList, FrameworkAssembliesAndNuGetOnes) {
    std::size_t count = 0;
    const NetFxAssembly* all = netFxAssemblies(count);
    EXPECT_GT(count, 150u);
    for (std::size_t i = 1; i < count; ++i) EXPECT_LT(platform::toLower(all[i - 1].name), platform::toLower(all[i].name));
    EXPECT_TRUE(isNetFxAssembly("System.Xml", "b77a5c561934e089"));
    EXPECT_TRUE(isNetFxAssembly("presentationframework", "31BF3856AD364E35"));
    EXPECT_TRUE(isNetFxAssembly("netstandard", "cc7b13ffcd2ddd51"));
    EXPECT_FALSE(isNetFxAssembly("System.Xml", "b03f5f7f11d50a3a"));
    for (const char* nuget : {"System.Memory", "System.Buffers", "Microsoft.CodeAnalysis", "System.Threading.Tasks.Dataflow",
                              "System.Web.Mvc", "Mono.Posix"})
        EXPECT_EQ(findNetFxAssembly(nuget), nullptr) << nuget;
}

}  // namespace
