// The release checks' engine parts that need no program run: signature
// summaries and their lines, the runtimes out of support, Debian package
// URLs, the SBOM's time, and reports read and compared.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inspect/debian.h"
#include "inspect/diff.h"
#include "inspect/lines.h"
#include "inspect/mitigations.h"
#include "inspect/sbom.h"
#include "inspect/signatures.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using signing::Status;

signing::FileSignature signatureOf(const Bytes& b, const std::string& name) {
    platform::MemoryByteSource src(b.data(), b.size());
    const platform::PeImage image(src);
    return signing::readSignature(image, name);
}

// `image` with one PKCS#7 entry of garbage as its certificate table.
Bytes withGarbageSignature(Bytes image) {
    while (image.size() % 8) image.push_back(0);
    platform::MemoryByteSource src(image.data(), image.size());
    const platform::PeImage pe(src);
    const std::uint64_t entry = pe.directoryOffset(4);
    const Bytes blob{0x30, 0x82, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8};
    pew::put32(image, entry, static_cast<std::uint32_t>(image.size()));
    pew::put32(image, entry + 4, static_cast<std::uint32_t>(8 + 16));
    Bytes e(8);
    pew::put32(e, 0, static_cast<std::uint32_t>(8 + blob.size()));
    pew::put16(e, 4, 0x0200);
    pew::put16(e, 6, 2);
    e.insert(e.end(), blob.begin(), blob.end());
    e.resize(24, 0);
    image.insert(image.end(), e.begin(), e.end());
    return image;
}

// A report of `rows`, each "kind|file|importer-path|path|file-version|origin|problem|dll".
std::string report(const std::vector<std::vector<std::string>>& rows) {
    std::string out = "[";
    for (const auto& r : rows) {
        const char* keys[] = {"kind", "file", "importer-path", "path", "file-version", "origin", "problem", "dll"};
        out += out.size() > 1 ? ",{" : "{";
        for (std::size_t i = 0; i < r.size(); ++i)
            out += std::string(i ? "," : "") + "\"" + keys[i] + "\":" + (r[i].empty() ? "null" : "\"" + r[i] + "\"");
        // What a row written with --signatures adds: nested, skipped.
        out += ",\"signature\":{\"status\":\"signed\",\"signers\":[{\"nested\":false}]}}";
    }
    return out + "]";
}

std::vector<diff::ReportRow> rowsOf(const std::string& text) {
    std::vector<diff::ReportRow> rows;
    std::string reason;
    EXPECT_TRUE(diff::parseReport(text, rows, reason)) << reason;
    return rows;
}

}  // namespace

TEST(ReleaseSignatures, SummariesAndTheirLines) {
    pew::Image img;
    img.pe32plus = true;
    const Bytes image = pew::build(img);
    const signing::FileSignature plain = signatureOf(image, "tvl.dll");
    EXPECT_EQ(plain.status, Status::Unsigned);
    EXPECT_FALSE(plain.valid());
    EXPECT_EQ(lines::signature("/a/tvl.dll", plain), "/a/tvl.dll : non signé");
    EXPECT_EQ(lines::notSigned("/a/tvl.dll", plain.status), "/a/tvl.dll non signé");

    // An unsigned runtime of Microsoft's, beside the program: flagged.
    const signing::FileSignature vc = signatureOf(image, "VCRUNTIME140.dll");
    EXPECT_TRUE(vc.notMicrosoft());
    EXPECT_STREQ(vc.redistributable, "Visual C++ 2015-2022");
    EXPECT_EQ(lines::signature("vcruntime140.dll", vc),
              "vcruntime140.dll : non signé — redistribuable de Microsoft non signé par Microsoft");

    const signing::FileSignature damaged = signatureOf(withGarbageSignature(image), "tvl.dll");
    EXPECT_EQ(damaged.status, Status::Damaged);
    ASSERT_FALSE(damaged.damages.empty());
    EXPECT_EQ(lines::signature("tvl.dll", damaged), "tvl.dll : signature endommagée (" + damaged.damages[0] + ")");
    EXPECT_EQ(lines::notSigned("tvl.dll", damaged.status), "tvl.dll : signature endommagée");

    const Bytes text(300, 'x');
    EXPECT_EQ(signatureOf(text, "notes.dll").status, Status::NotPe);
    EXPECT_TRUE(lines::notSigned("notes.dll", Status::NotPe).empty());

    EXPECT_EQ(lines::signatureCount({Status::Signed, Status::Unsigned, Status::Unsigned}),
              "Signatures : 3 fichiers, 1 signé, 2 non signés (confiance non jugée : aucun certificat racine consulté)");
}

TEST(ReleaseHardening, RuntimesOutOfSupport) {
    const std::pair<const char*, const char*> named[] = {
        {"msvcr100.dll", "Visual C++ 2010"}, {"MSVCP120.DLL", "Visual C++ 2013"}, {"mfc90u.dll", "Visual C++ 2008"},
        {"msvcr80.dll", "Visual C++ 2005"},  {"msvcr71.dll", "Visual C++ .NET 2003"},
    };
    for (const auto& [dll, package] : named) EXPECT_STREQ(mitigations::unsupportedRuntime(dll), package) << dll;
    for (const char* dll : {"vcruntime140.dll", "msvcp140_1.dll", "msvcrt.dll", "d3dx9_43.dll", "msvcr120d.dll"})
        EXPECT_EQ(mitigations::unsupportedRuntime(dll), nullptr) << dll;
    EXPECT_EQ(lines::unsupportedRuntime("msvcr100.dll", "Visual C++ 2010", "/a/app.exe"),
              "msvcr100.dll : Visual C++ 2010, hors du support de Microsoft (pour /a/app.exe)");
}

TEST(ReleaseSbom, PackageUrlsOwnersAndTimes) {
    EXPECT_EQ(debian::packageUrl("debian", "gcc-mingw-w64-x86-64-win32-runtime", "1:12.2.0-14+deb12u1", "amd64", "debian-12"),
              "pkg:deb/debian/gcc-mingw-w64-x86-64-win32-runtime@1%3A12.2.0-14%2Bdeb12u1?arch=amd64&distro=debian-12");
    const auto owners = debian::parseOwners(
        "libwine:amd64: /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll\n"
        "diversion by dash from: /bin/sh\n"
        "mingw-w64-x86-64-dev, other: /usr/x86_64-w64-mingw32/lib/zlib1.dll\n");
    ASSERT_EQ(owners.size(), 2u);
    EXPECT_EQ(owners.at("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll"), "libwine:amd64");
    EXPECT_EQ(owners.at("/usr/x86_64-w64-mingw32/lib/zlib1.dll"), "mingw-w64-x86-64-dev");
    EXPECT_EQ(sbom::utcText(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(sbom::utcText(1700000000), "2023-11-14T22:13:20Z");
    EXPECT_EQ(sbom::utcText(951825599), "2000-02-29T11:59:59Z");
}

TEST(ReleaseDiff, ReportsReadWithinBounds) {
    std::vector<diff::ReportRow> rows;
    std::string reason;
    const std::pair<std::string, const char*> refused[] = {
        {"{\"kind\": \"listed\"}", "not a report"},
        {"[[1]]", "not a report"},
        {"[1]", "not a report"},
        {"[{\"kind\": ", "not valid JSON"},
        {"[{\"a\": " + std::string(200, '[') + std::string(200, ']') + "}]", "nested more than"},
    };
    for (const auto& [text, why] : refused) {
        EXPECT_FALSE(diff::parseReport(text, rows, reason)) << text;
        EXPECT_NE(reason.find(why), std::string::npos) << text << ": " << reason;
        EXPECT_TRUE(rows.empty());
    }
    EXPECT_TRUE(diff::parseReport("[]", rows, reason));
    EXPECT_EQ(diff::versionChange("9.12", "10.2"), lines::VersionChange::Up);
    EXPECT_EQ(diff::versionChange("2.1.0", "2.0.9.9"), lines::VersionChange::Down);
    EXPECT_EQ(diff::versionChange("2.1", "2.1.0.0"), lines::VersionChange::Other);
    EXPECT_EQ(diff::versionChange("1.0 beta", "V: ???"), lines::VersionChange::Other);
}

TEST(ReleaseDiff, ProgramsPairedAndChangesFound) {
    const std::string o = "/r1/bin", n = "/r2/bin";
    const auto before = rowsOf(report({
        {"listed", "app.exe", o + "/x64/app.exe", o + "/x64", "1.0.0.0"},
        {"listed", "app.exe", o + "/x86/app.exe", o + "/x86", "1.0.0.0"},
        {"listed", "gone.exe", o + "/gone.exe", o, ""},
        {"import", "core.dll", o + "/x64/app.exe", o + "/x64", "2.0.0.0", "app"},
        {"import", "old.dll", o + "/x64/app.exe", o + "/x64", "", "app"},
        {"import", "zlib.dll", o + "/x64/app.exe", "/usr/lib", "1.3.0.0", "user"},
        {"error", "erreur", o + "/x64/app.exe", "a.dll invisible pour " + o + "/x64/app.exe", "", "", "missing-dll", "a.dll"},
    }));
    const auto after = rowsOf(report({
        {"listed", "app.exe", n + "/x86/app.exe", n + "/x86", "1.0.0.0"},
        {"listed", "app.exe", n + "/x64/app.exe", n + "/x64", "1.1.0.0"},
        {"import", "core.dll", n + "/x64/app.exe", n + "/x64/lib", "1.9.0.0", "app"},
        {"import", "new.dll", n + "/x64/app.exe", n + "/x64", "", "app"},
        {"import", "zlib.dll", n + "/x64/app.exe", "/usr/lib", "1.3.0.0", "system"},
        {"error", "erreur", n + "/x64/app.exe", "a.dll invisible pour " + n + "/x64/app.exe", "", "", "missing-dll", "a.dll"},
        {"error", "erreur", n + "/x64/app.exe", "b.dll invisible pour " + n + "/x64/app.exe", "", "", "missing-dll", "b.dll"},
    }));
    const diff::Difference d = diff::compare(before, after, analysis::IgnoreList());
    ASSERT_EQ(d.programs.size(), 3u);
    EXPECT_TRUE(d.programs[0].empty()) << "x86 with x86, whatever the order";
    const diff::ProgramDiff& x64 = d.programs[1];
    EXPECT_EQ(x64.before, o + "/x64/app.exe");
    ASSERT_EQ(x64.versions.size(), 2u);
    EXPECT_EQ(x64.versions[0].change, lines::VersionChange::Up);  // the program itself
    EXPECT_EQ(x64.versions[1].change, lines::VersionChange::Down);
    ASSERT_EQ(x64.folders.size(), 1u);
    EXPECT_EQ(x64.folders[0].before, ".");
    EXPECT_EQ(x64.folders[0].after, "lib");
    ASSERT_EQ(x64.origins.size(), 1u);  // the same folder named alike in both
    EXPECT_EQ(x64.added.size(), 1u);
    EXPECT_EQ(x64.removed.size(), 1u);
    ASSERT_EQ(x64.problemsNew.size(), 1u);  // a.dll's line names another folder: the same problem
    EXPECT_EQ(x64.problemsNew[0].dll, "b.dll");
    EXPECT_EQ(d.programs[2].state, diff::ProgramDiff::State::Removed);
    EXPECT_TRUE(d.worse());

    const std::vector<std::string> text = diff::textLines(d);
    const std::vector<std::string> expected = {
        "app.exe (" + o + "/x64/app.exe -> " + n + "/x64/app.exe)",
        "  + new.dll, dossier du programme",
        "  - old.dll, dossier du programme",
        "  app.exe : version 1.0.0.0 -> 1.1.0.0 (hausse)",
        "  core.dll : version 2.0.0.0 -> 1.9.0.0 (baisse)",
        "  zlib.dll : origine dossier utilisateur -> dossier système",
        "  core.dll : dossier . -> lib",
        "  problème nouveau : b.dll invisible pour " + n + "/x64/app.exe",
        "programme retiré : " + o + "/gone.exe",
    };
    EXPECT_EQ(text, expected);

    analysis::IgnoreList ignore;
    std::string why;
    ASSERT_TRUE(ignore.add("b.dll", why));
    EXPECT_TRUE(diff::compare(before, after, ignore).programs[1].problemsNew.empty());
    EXPECT_EQ(diff::textLines(diff::compare(after, after, ignore)), std::vector<std::string>{"aucun changement"});
}
