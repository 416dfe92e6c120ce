// The manifest reader: the encodings and spellings real manifests come in,
// what the loader reads of them, and hostile files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inspect/loader/manifest.h"
#include "platform/bytes.h"
#include "platform/text.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"
#include "tests/support/windowstree.h"

using namespace sxs;

namespace {

// An application manifest as Visual Studio writes one: namespaces of three
// schema versions, comments, trust and compatibility sections.
const std::string kAppManifest = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<!-- written by the linker -->
<asmv1:assembly manifestVersion="1.0" xmlns:asmv1="urn:schemas-microsoft-com:asm.v1"
    xmlns:asmv3="urn:schemas-microsoft-com:asm.v3">
  <asmv1:assemblyIdentity version="1.2.3.4" processorArchitecture="amd64" name="Tavelin.Sample" type="win32"/>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v2"><security><requestedPrivileges>
    <requestedExecutionLevel level="asInvoker" uiAccess="false"/></requestedPrivileges></security></trustInfo>
  <dependency>
    <!-- the themed controls -->
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                        processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
  <dependency optional="yes"><dependentAssembly>
    <assemblyIdentity type="win32" name="Optional.Thing" version="1.0.0.0" processorArchitecture="amd64"/>
  </dependentAssembly></dependency>
  <dependency><dependentAssembly allowDelayedBinding="true">
    <assemblyIdentity type="win32" name="Delayed.Thing" version="2.0" processorArchitecture="amd64"/>
  </dependentAssembly></dependency>
  <dependency><dependentAssembly><bindingRedirect oldVersion="1.0.0.0" newVersion="2.0.0.0"/></dependentAssembly></dependency>
  <file name="own.dll"/>
  <file name="..\escape.dll"/>
  <file name="sub/inner.dll"/>
  <asmv3:application><asmv3:windowsSettings><dpiAware>true</dpiAware></asmv3:windowsSettings></asmv3:application>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>
    <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/></application></compatibility>
</asmv1:assembly>
)";

Manifest parse(const std::string& text) { return parseManifest(text.data(), text.size()); }

std::vector<std::uint8_t> utf16(const std::string& text, bool bigEndian) {
    std::vector<std::uint8_t> out = bigEndian ? std::vector<std::uint8_t>{0xFE, 0xFF} : std::vector<std::uint8_t>{0xFF, 0xFE};
    for (char16_t c : platform::utf8ToUtf16(text)) {
        const auto hi = static_cast<std::uint8_t>(c >> 8), lo = static_cast<std::uint8_t>(c & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

}  // namespace

TEST(Manifest, ReadsWhatTheLoaderReadsInEveryEncoding) {
    std::string declared16 = kAppManifest;
    declared16.replace(declared16.find("UTF-8"), 5, "UTF-16");
    const std::string bom = "\xEF\xBB\xBF" + kAppManifest;
    std::vector<std::vector<std::uint8_t>> inputs = {
        std::vector<std::uint8_t>(kAppManifest.begin(), kAppManifest.end()),
        std::vector<std::uint8_t>(bom.begin(), bom.end()),
        utf16(declared16, false),
        utf16(declared16, true),
    };
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const Manifest m = parseManifest(inputs[i].data(), inputs[i].size());
        ASSERT_EQ(m.status, ManifestStatus::Ok) << i;
        EXPECT_EQ(m.identity.name, "Tavelin.Sample");
        EXPECT_EQ(m.identity.processorArchitecture, "amd64");
        ASSERT_EQ(m.dependencies.size(), 3u) << i;
        const AssemblyIdentity& cc = m.dependencies[0].identity;
        EXPECT_EQ(cc.name, "Microsoft.Windows.Common-Controls");
        EXPECT_EQ(cc.version, (std::array<std::uint16_t, 4>{6, 0, 0, 0}));
        EXPECT_EQ(cc.processorArchitecture, "*");
        EXPECT_EQ(cc.publicKeyToken, "6595b64144ccf1df");
        EXPECT_EQ(cc.language, "*");
        EXPECT_EQ(cc.type, "win32");
        EXPECT_TRUE(m.dependencies[0].required());
        EXPECT_TRUE(m.dependencies[1].optional);
        EXPECT_FALSE(m.dependencies[1].required());
        EXPECT_TRUE(m.dependencies[2].delayed);
        EXPECT_EQ(m.dependencies[2].identity.version, (std::array<std::uint16_t, 4>{2, 0, 0, 0}));
        // Only bare file names: a path could name a file outside the assembly's folder.
        EXPECT_EQ(m.files, std::vector<std::string>{"own.dll"});
    }
}

TEST(Manifest, VersionsAndNamesAsTheLoaderTakesThem) {
    std::array<std::uint16_t, 4> v{};
    EXPECT_TRUE(parseAssemblyVersion("6.0.22621.2506", v));
    EXPECT_EQ(v, (std::array<std::uint16_t, 4>{6, 0, 22621, 2506}));
    EXPECT_TRUE(parseAssemblyVersion("65535.65535.65535.65535", v));
    EXPECT_TRUE(parseAssemblyVersion("1..2", v));
    EXPECT_EQ(v, (std::array<std::uint16_t, 4>{1, 0, 2, 0}));
    for (const char* bad : {"", "65536.0.0.0", "1.2.3.4.5", "1.2.3.x", "-1.0.0.0", " 1.0.0.0", "99999999999999999999"})
        EXPECT_FALSE(parseAssemblyVersion(bad, v)) << bad;

    AssemblyIdentity id;
    id.versionValid = true;
    for (const char* good : {"Microsoft.VC90.CRT", "a", "Name With Spaces"}) {
        id.name = good;
        EXPECT_TRUE(id.valid()) << good;
    }
    for (const std::string& bad : {std::string(), std::string(".."), std::string("a/b"), std::string("a\\b"),
                                   std::string("c:x"), std::string("a*"), std::string(256, 'n'), std::string("a\nb")}) {
        id.name = bad;
        EXPECT_FALSE(id.valid()) << bad;
    }
    // An absurd version still gives a dependency, which no store answers.
    const Manifest m = parse(R"(<assembly><dependency><dependentAssembly>
        <assemblyIdentity name="X" version="70000.1.1.1"/></dependentAssembly></dependency></assembly>)");
    ASSERT_EQ(m.dependencies.size(), 1u);
    EXPECT_FALSE(m.dependencies[0].identity.valid());
    EXPECT_EQ(m.dependencies[0].identity.label(), "X 70000.1.1.1");
}

TEST(Manifest, HostileInputGivesAStatusNeverACrash) {
    EXPECT_EQ(parse("").status, ManifestStatus::NotXml);
    EXPECT_EQ(parse("MZ\x90\x00 not xml at all").status, ManifestStatus::NotXml);
    EXPECT_EQ(parse("<assembly><dependency>").status, ManifestStatus::NotXml);
    EXPECT_EQ(parse("<?xml version=\"1.0\"?><root/>").status, ManifestStatus::NotAssembly);
    // Entities are never expanded beyond the predefined ones.
    const Manifest bomb = parse(R"(<!DOCTYPE a [<!ENTITY x "xxxxxxxxxx"><!ENTITY y "&x;&x;&x;&x;&x;&x;">]>
        <assembly><assemblyIdentity name="&y;" version="1.0.0.0"/></assembly>)");
    EXPECT_LE(bomb.identity.name.size(), 16u);

    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    EXPECT_EQ(parse("<assembly>" + deep + "</assembly>").status, ManifestStatus::NotXml);
    std::string closed = "<assembly>";
    for (unsigned i = 0; i < kMaxManifestDepth + 10; ++i) closed += "<a>";
    for (unsigned i = 0; i < kMaxManifestDepth + 10; ++i) closed += "</a>";
    EXPECT_EQ(parse(closed + "</assembly>").status, ManifestStatus::TooDeep);

    const std::string huge = "<assembly>" + std::string(kMaxManifestSize, ' ') + "</assembly>";
    EXPECT_EQ(parse(huge).status, ManifestStatus::TooLarge);

    // Many entries: what one manifest may list, no more.
    std::string many = "<assembly>";
    for (std::size_t i = 0; i < kMaxManifestEntries + 100; ++i)
        many += "<file name=\"f" + std::to_string(i) + ".dll\"/>" + testutil::dependencyXml("A" + std::to_string(i), "1.0.0.0");
    const Manifest big = parse(many + "</assembly>");
    ASSERT_EQ(big.status, ManifestStatus::Ok);
    EXPECT_EQ(big.files.size(), kMaxManifestEntries);
    EXPECT_EQ(big.dependencies.size(), kMaxManifestEntries);

    // Every prefix of a real manifest, and every byte in turn damaged.
    for (std::size_t cut = 0; cut <= kAppManifest.size(); cut += 7) parse(kAppManifest.substr(0, cut));
    for (std::size_t at = 0; at < kAppManifest.size(); at += 5) {
        std::string damaged = kAppManifest;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        parse(damaged);
    }
}

TEST(Manifest, EmbeddedResourceOfTheModuleRoleElseTheFileBeside) {
    testutil::TempDir dir;
    const std::string program = testutil::assemblyManifest("P", "1.0.0.0", "amd64", "", {},
                                                           testutil::dependencyXml("Prog.Dep", "1.0.0.0"));
    const std::string dll = testutil::assemblyManifest("D", "1.0.0.0", "amd64", "", {},
                                                       testutil::dependencyXml("Dll.Dep", "1.0.0.0"));
    pew::Image both;
    both.pe32plus = true;
    both.import("kernel32.dll").manifest(program, 1).manifest(dll, 2).version(pew::VersionInfo::simple("1.0"));
    pew::writeFile(dir.file("both.exe"), pew::build(both));

    ModuleManifest m = manifestOf(dir.file("both.exe"), false);
    EXPECT_EQ(m.source, ModuleManifest::Source::Embedded);
    ASSERT_EQ(m.manifest.dependencies.size(), 1u);
    EXPECT_EQ(m.manifest.dependencies[0].identity.name, "Prog.Dep");
    m = manifestOf(dir.file("both.exe"), true);
    ASSERT_EQ(m.manifest.dependencies.size(), 1u);
    EXPECT_EQ(m.manifest.dependencies[0].identity.name, "Dll.Dep");

    // A DLL's ID 1 is not what the loader reads for its imports: the file beside is.
    pew::Image onlyOne = both;
    onlyOne.resources.pop_back();
    pew::writeFile(dir.file("one.dll"), pew::build(onlyOne));
    EXPECT_EQ(manifestOf(dir.file("one.dll"), true).source, ModuleManifest::Source::None);
    pew::writeFile(dir.file("one.dll.manifest"), "\xEF\xBB\xBF" + dll);
    m = manifestOf(dir.file("one.dll"), true);
    EXPECT_EQ(m.source, ModuleManifest::Source::File);
    EXPECT_EQ(m.path, dir.file("one.dll.manifest"));
    EXPECT_TRUE(m.manifest.ok());

    // Beside a file that is no image at all, and a .manifest that is garbage or huge.
    pew::writeFile(dir.file("text.exe"), std::string("not an image"));
    pew::writeFile(dir.file("text.exe.manifest"), std::string("<assembly"));
    m = manifestOf(dir.file("text.exe"), false);
    EXPECT_EQ(m.source, ModuleManifest::Source::File);
    EXPECT_EQ(m.manifest.status, ManifestStatus::NotXml);
    pew::writeFile(dir.file("text.exe.manifest"), std::string(kMaxManifestSize + 1, '<'));
    EXPECT_EQ(manifestOf(dir.file("text.exe"), false).manifest.status, ManifestStatus::TooLarge);

    // An embedded manifest larger than the cap is not read.
    pew::Image large;
    large.manifest(std::string(kMaxManifestSize + 1, ' '), 1);
    const std::vector<std::uint8_t> bytes = pew::build(large);
    std::vector<std::uint8_t> out;
    const platform::MemoryByteSource source(bytes.data(), bytes.size());
    EXPECT_EQ(pe::embeddedManifest(platform::PeImage(source), 1, out), pe::EmbeddedManifest::TooLarge);
    EXPECT_TRUE(out.empty());
    // Cut short: the resource's bytes are bounded by the image.
    const std::vector<std::uint8_t> image = pew::build(both);
    for (std::size_t cut = 0; cut < image.size(); cut += 61) {
        const platform::MemoryByteSource part(image.data(), cut);
        if (pe::embeddedManifest(platform::PeImage(part), 1, out) == pe::EmbeddedManifest::Found)
            parseManifest(out.data(), out.size());
    }
}
