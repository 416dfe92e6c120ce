// Resolving DLLs as the loader does: API sets through the schema, the
// importer's machine, names too long for any file, and the run cache, which
// must give the rows of the uncached walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "inspect/analysis.h"
#include "inspect/fileversion.h"
#include "inspect/uimports.h"
#include "platform/apiset.h"
#include "platform/versioninfo.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/memoryreads.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

class Resolving : public ::testing::Test {
protected:
    std::string write(const std::string& folder, const std::string& name, const pew::Image& img) {
        const std::string path = platform::joinPath(folder, name);
        pew::writeFile(path, pew::build(img));
        return path;
    }
    static pew::Image image(std::uint16_t machine, std::vector<std::string> imports = {}) {
        pew::Image img;
        img.pe32plus = machine != platform::kMachineI386;
        img.machine = machine;
        img.imports = std::move(imports);
        return img;
    }
    testutil::TempDir dir;
};

std::string listed(const std::string& p) { return platform::listPath(p); }

// Reads everything anew at each request: the walk as it was before the
// memo, to check that both give the same rows.
class PlainReads final : public Reads {
public:
    PlainReads(const pe::ReadConfig& config, platform::SearchPlaces&) : config_(config) {}
    std::shared_ptr<const pe::ImageRead> image(const std::string& path) override {
        return std::make_shared<const pe::ImageRead>(pe::readImage(path, config_));
    }
    std::shared_ptr<const pe::ImageRead> imageWithFunctions(const std::string& path) override {
        pe::ReadConfig c = config_;
        c.functions = true;
        return std::make_shared<const pe::ImageRead>(pe::readImage(path, c));
    }
    const std::string& version(const std::string& path) override { return version_ = FileVersionString(path); }
    bool hasVersion(const std::string& path) override {
        std::string text;
        return platform::versionString(FileVersionBlock(path), "FileVersion", text);
    }
    const std::string& fixedVersion(const std::string& path) override {
        return version_ = FixedFileVersion(FileVersionBlock(path));
    }
    std::shared_ptr<const pe::ExportTable> exports(const std::string& path) override {
        return std::make_shared<const pe::ExportTable>(pe::readExports(path));
    }
    bool findFile(const std::string& dir, const std::string& name, std::string& path) override {
        platform::FolderIndex fresh;  // no listing kept between two lookups
        return platform::detail::searchableName(name) && fresh.find(dir, name, path);
    }

private:
    pe::ReadConfig config_;
    std::string version_;
};

std::vector<analysis::Row> plainRows(const std::vector<std::string>& files, const RunOptions& options) {
    AnalysisRun run(options, [](const pe::ReadConfig& c, platform::SearchPlaces& s) { return std::make_unique<PlainReads>(c, s); });
    return analysis::analyse(files, run);
}

RunOptions walk(bool recursive, bool checks = false) {
    RunOptions o;
    o.recursive = recursive;
    o.functions = o.delayLoad = checks;
    return o;
}

bool sameRows(const std::vector<analysis::Row>& a, const std::vector<analysis::Row>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].cells != b[i].cells || a[i].problem != b[i].problem ||
            a[i].machine != b[i].machine || a[i].delayLoad != b[i].delayLoad)
            return false;
    return true;
}

}  // namespace

#ifndef _WIN32
// Linux takes the schema of the first apisetschema.dll in the search folders
// (Windows always the system's).
TEST_F(Resolving, ApiSetNamesResolveToTheirHostBeforeAnySearch) {
    const std::string sys = dir.mkdir("sys"), app = dir.mkdir("app");
    pew::Image schema = image(platform::kMachineAmd64);
    schema.dataSections.emplace_back(".apiset", pew::apiSetSchema(6, {
        {"api-ms-win-crt-heap-l1-1-0", {{"", "ucrtbase.dll"}}},
        {"api-ms-win-crt-runtime-l1-1-0", {{"", "ucrtbase.dll"}}},
        {"api-ms-win-core-com-l1-1-0", {{"", "combase.dll"}, {"special.exe", "ole32.dll"}}},
        {"api-ms-win-core-gone-l1-1-0", {}},
    }));
    write(sys, "apisetschema.dll", schema);
    write(sys, "ucrtbase.dll", image(platform::kMachineAmd64));
    write(sys, "combase.dll", image(platform::kMachineAmd64));
    write(sys, "ole32.dll", image(platform::kMachineAmd64));
    write(app, "api-ms-win-other-l1-1-0.dll", image(platform::kMachineAmd64));  // unknown: a plain file
    const std::vector<std::string> imports = {"api-ms-win-crt-heap-l1-1-0.dll", "API-MS-WIN-CRT-RUNTIME-L1-1-0.dll",
                                              "api-ms-win-core-com-l1-1-0.dll", "api-ms-win-core-gone-l1-1-0.dll",
                                              "api-ms-win-other-l1-1-0.dll"};
    const std::string exe = write(app, "prog.exe", image(platform::kMachineAmd64, imports));
    const std::string special = write(app, "special.exe", image(platform::kMachineAmd64, imports));
    const RunOptions options = testutil::only({sys});

    const testutil::Flat r = testutil::inspect(exe, options);
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.found, (std::vector<std::string>{listed(platform::joinPath(sys, "ucrtbase.dll")),
                                                 listed(platform::joinPath(sys, "combase.dll")),
                                                 listed(platform::joinPath(app, "api-ms-win-other-l1-1-0.dll"))}));
    EXPECT_EQ(r.errors, std::vector<std::string>{"api-ms-win-core-gone-l1-1-0.dll invisible pour " + exe});
    EXPECT_EQ(r.problems, std::vector<Problem>{Problem::MissingDll});
    // The schema's exception for one importer.
    EXPECT_EQ(testutil::inspect(special, options).found[1], listed(platform::joinPath(sys, "ole32.dll")));
}
#endif

TEST_F(Resolving, EachMachineGetsItsOwnDllsWhateverTheFolderOrder) {
    using platform::kMachineAmd64;
    using platform::kMachineI386;
    const std::string d32 = dir.mkdir("x86"), d64 = dir.mkdir("x64"), app = dir.mkdir("app");
    for (const auto& [folder, machine] : {std::pair{d32, kMachineI386}, std::pair{d64, kMachineAmd64}}) {
        write(folder, "tvlrt.dll", image(machine, {"tvlbase.dll"}));
        write(folder, "tvlbase.dll", image(machine));
    }
    write(d64, "tvlnew.dll", image(kMachineAmd64));
    const std::string exe32 = write(app, "prog32.exe", image(kMachineI386, {"tvlrt.dll", "tvlnew.dll"}));
    const std::string exe64 = write(app, "prog64.exe", image(kMachineAmd64, {"tvlrt.dll", "tvlnew.dll"}));
    for (const auto& order : {std::vector<std::string>{d32, d64}, std::vector<std::string>{d64, d32}}) {
        const std::vector<analysis::Row> rows = analysis::analyse({exe32, exe64}, testutil::only(order, true));
        ASSERT_EQ(rows.size(), 2u + 3 + 3);
        EXPECT_EQ(rows[0].machine, kMachineI386);
        EXPECT_EQ(rows[1].machine, kMachineAmd64);
        EXPECT_EQ(rows[2].cells[analysis::kPath], listed(d32));
        EXPECT_EQ(rows[3].cells[analysis::kPath], listed(d32));  // the closure stays 32-bit
        EXPECT_EQ(rows[3].cells[analysis::kFile], "tvlbase.dll");
        EXPECT_EQ(rows[4].kind, analysis::RowKind::Error);
        EXPECT_EQ(rows[4].problem, Problem::WrongMachine);
        EXPECT_EQ(rows[4].cells[analysis::kPath], "tvlnew.dll invisible pour " + exe32 + " (seule existe " +
                                                      listed(platform::joinPath(d64, "tvlnew.dll")) + ", 64 bits)");
        for (int i : {5, 6, 7}) EXPECT_EQ(rows[i].cells[analysis::kPath], listed(d64)) << i;
        EXPECT_EQ(rows[5].machine, kMachineAmd64);
    }
}

TEST_F(Resolving, LongNamesAreCutAndANameBombStaysSmall) {
    const std::string longName(300, 'n');
    const std::string exe = write(dir.path(), "long.exe", image(platform::kMachineI386, {longName, "tvlgone.dll"}));
    const testutil::Flat r = testutil::inspect(exe, testutil::only({}));
    ASSERT_EQ(r.errors.size(), 2u);
    EXPECT_EQ(r.errors[0], std::string(259, 'n') + "… invisible pour " + exe);
    EXPECT_EQ(r.errors[1], "tvlgone.dll invisible pour " + exe);

    // 20,000 descriptors whose names all start at the descriptor array, which
    // holds no zero byte until its last, empty descriptor.
    constexpr std::uint32_t kCount = 20000, kRva = 0x01010101;
    pew::Image bomb = image(platform::kMachineI386, {"x.dll"});
    const std::size_t at = pew::build(bomb).size();
    bomb.extraSectionsFirst.push_back({kRva, 0x00800000, static_cast<std::uint32_t>(at), 20 * (kCount + 1)});
    pew::Layout layout;
    std::vector<std::uint8_t> bytes = pew::build(bomb, &layout);
    ASSERT_EQ(bytes.size(), at);
    bytes.resize(at + 20 * (kCount + 1), 0x41);
    for (std::uint32_t i = 0; i < kCount; ++i) pew::put32(bytes, at + 20 * i + 12, kRva);
    std::fill(bytes.end() - 20, bytes.end(), 0);
    pew::put32(bytes, layout.importDataDirectory, kRva);
    pew::writeFile(dir.file("bomb.exe"), bytes);
    const testutil::Flat b = testutil::inspect(dir.file("bomb.exe"), testutil::only({}, true));
    EXPECT_TRUE(b.done);
    ASSERT_EQ(b.errors.size(), kCount);
    EXPECT_LT(b.errors.front().size(), 300u + dir.file("bomb.exe").size());
    EXPECT_TRUE(PEFile::Errors.empty());  // the lists are reset for the next run
}

// The cached run and the walk that reads everything anew give the same rows,
// on binaries no one here wrote and on hostile images.
TEST_F(Resolving, CachedAndUncachedRunsGiveTheSameRows) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const char* folder : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows",
                               "/usr/x86_64-w64-mingw32/lib", "/usr/i686-w64-mingw32/lib", "/usr/lib/gcc/x86_64-w64-mingw32",
                               "/usr/lib/gcc/i686-w64-mingw32"})
        for (const auto& e : std::filesystem::recursive_directory_iterator(folder, ec))
            if (e.is_regular_file() && e.path().extension() == ".dll") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
#ifdef _WIN32
    if (files.size() > 80) files.resize(80);  // under Wine every read is slow
#endif
    // Hostile and broken ones, some listed twice.
    pew::writeFile(dir.file("text.exe"), std::string("MZ only text"));
    pew::writeFile(dir.file("empty.dll"), std::string());
    pew::Layout layout;
    std::vector<std::uint8_t> bad = pew::build(image(platform::kMachineI386, {"kernel32.dll", "tvlgone.dll"}), &layout);
    bad.resize(layout.dllNameOffsets[1] + 3);
    pew::writeFile(dir.file("cut.exe"), bad);
    write(dir.path(), "cycle-a.dll", image(platform::kMachineAmd64, {"cycle-b.dll", "kernel32.dll"}));
    write(dir.path(), "cycle-b.dll", image(platform::kMachineAmd64, {"cycle-a.dll", "msvcrt.dll"}));
    write(dir.path(), "wrong.exe", image(platform::kMachineI386, {"cycle-a.dll", std::string(280, 'q')}));
    for (const char* f : {"text.exe", "empty.dll", "cut.exe", "cycle-a.dll", "wrong.exe", "absent.dll", "cycle-a.dll"})
        files.push_back(dir.file(f));
    for (bool recursive : {false, true}) {
        AnalysisRun cached(walk(recursive));
        const auto a = analysis::analyse(files, cached);
        const auto b = plainRows(files, walk(recursive));
        EXPECT_TRUE(sameRows(a, b)) << recursive;
        EXPECT_TRUE(sameRows(a, analysis::analyse(files, walk(recursive)))) << recursive;
        EXPECT_GT(a.size(), files.size());
        // The function and delay-load checks read far more per image: the
        // uncached walk gets the hostile images and a slice of the rest.
        std::vector<std::string> some(files.end() - 7, files.end());
        for (std::size_t i = 0; i + 7 < files.size(); i += 25) some.push_back(files[i]);
        const auto c = analysis::analyse(some, walk(recursive, true));
        EXPECT_TRUE(sameRows(c, plainRows(some, walk(recursive, true)))) << recursive;
    }
}

// The readers take bytes as well as files: a folder held in memory gives
// the rows the same folder gives on disk, checks and closure on.
TEST_F(Resolving, AFolderInMemoryGivesTheRowsOfTheFolderOnDisk) {
    pew::Image lib = image(platform::kMachineAmd64, {"tvlgone.dll"});
    lib.exporting({"Open"}).version(pew::VersionInfo::simple("3.1"));
    lib.exports.push_back({"Moved", "tvlbase.Missing", false});
    write(dir.path(), "tvllib.dll", lib);
    write(dir.path(), "tvlbase.dll", image(platform::kMachineAmd64, {"tvllib.dll"}));
    write(dir.path(), "tvl32.dll", image(platform::kMachineI386));
    pew::Image prog = image(platform::kMachineAmd64);
    prog.import("TVLLIB.DLL", {{"Open"}, {"Close"}, {"Moved"}, pew::ordinal(9)}).import("tvl32.dll");
    prog.delayImport("tvlbase.dll", {{"X"}}).version(pew::VersionInfo::simple("1.0"));
    write(dir.path(), "prog.exe", prog);
    pew::writeFile(dir.file("text.dll"), std::string("MZ but no more"));
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& e : std::filesystem::directory_iterator(testutil::u8(dir.path()))) {
        std::ifstream in(e.path(), std::ios::binary);
        files[testutil::str(e.path().filename())].assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::vector<std::string> listed = {dir.file("prog.exe"), dir.file("text.dll"), dir.file("tvlbase.dll")};
    for (bool recursive : {false, true}) {
        const RunOptions options = testutil::only({}, recursive, true, true);
        AnalysisRun inMemory(options, [&](const pe::ReadConfig& o, platform::SearchPlaces&) {
            return std::make_unique<MemoryReads>(o, dir.path(), files);
        });
        const auto rows = analysis::analyse(listed, inMemory);
        EXPECT_TRUE(sameRows(rows, analysis::analyse(listed, options))) << recursive;
        EXPECT_GT(rows.size(), 8u);
    }
}

#ifdef _WIN32
// The running system's schema: an import of the C runtime's API set lands
// on ucrtbase.dll in the system folder.
TEST_F(Resolving, TheSystemsSchemaResolvesTheCRuntime) {
    platform::SearchPlaces search;
    const platform::ApiSetSchema& schema = search.apiSetSchema();
    ASSERT_FALSE(schema.empty());
    std::string host;
    ASSERT_EQ(schema.resolve("api-ms-win-crt-heap-l1-1-0.dll", "prog.exe", host), platform::ApiSetSchema::Lookup::Host);
    EXPECT_EQ(host, "ucrtbase.dll");
    const std::string exe = write(dir.path(), "prog.exe", image(platform::kMachineAmd64, {"api-ms-win-crt-heap-l1-1-0.dll"}));
    const testutil::Flat r = testutil::inspect(exe, RunOptions{});
    ASSERT_EQ(r.found.size(), 1u);
    EXPECT_EQ(platform::fileNamePart(r.found[0]), "ucrtbase.dll");
    EXPECT_TRUE(r.errors.empty());
}
#endif

#ifndef _WIN32
// What an MSVC build imports, against Wine's own schema and DLLs: the C
// runtime's API sets land on Wine's ucrtbase.dll of the importer's machine.
TEST_F(Resolving, WinesSchemaResolvesWhatMsvcBuildsImport) {
    if (testutil::wineX64Folder().empty()) GTEST_SKIP() << "no Wine";
    const std::vector<std::string> imports = {"KERNEL32.dll", "VCRUNTIME140.dll", "api-ms-win-crt-runtime-l1-1-0.dll",
                                              "api-ms-win-crt-heap-l1-1-0.dll", "api-ms-win-crt-stdio-l1-1-0.dll",
                                              "api-ms-win-core-synch-l1-2-0.dll"};
    for (std::uint16_t machine : {platform::kMachineAmd64, platform::kMachineI386}) {
        const std::string exe = write(dir.path(), "msvc" + std::to_string(machine) + ".exe", image(machine, imports));
        const testutil::Flat r = testutil::inspect(exe, RunOptions{});
        const std::string wine = machine == platform::kMachineAmd64 ? "x86_64-windows" : "i386-windows";
        std::vector<std::string> names;
        for (const std::string& p : r.found) {
            names.push_back(platform::fileNamePart(p));
            EXPECT_NE(p.find(wine), std::string::npos) << p;
        }
        if (machine == platform::kMachineI386 && r.found.empty()) continue;  // no 32-bit Wine here
        EXPECT_EQ(names, (std::vector<std::string>{"kernel32.dll", "vcruntime140.dll", "ucrtbase.dll", "kernelbase.dll"}));
        EXPECT_TRUE(r.errors.empty()) << r.errors.front();
    }
}
#endif
