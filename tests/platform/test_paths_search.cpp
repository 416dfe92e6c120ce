// Paths, the current directory, the file reader and the DLL search.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "inspect/run.h"
#include "platform/searchplaces.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace platform;

namespace {

// The loader's file search for a name a program in `folder` imports.
class DllSearch {
public:
    explicit DllSearch(SearchOptions options = SearchOptions::fromEnvironment()) : run_(withSearch(std::move(options))) {}
    const SearchOptions& options() { return run_.places().options(); }
    loader::Location find(const std::string& name, const std::string& folder, std::uint16_t machine) {
        const std::string importer = joinPath(folder, "tvlimporter.exe");
        loader::Program program;
        program.path = importer;
        program.folder = program.key = folder;
        return *run_.loader().find(name, loader::Importer{importer, machine, nullptr}, program);
    }

private:
    static RunOptions withSearch(SearchOptions o) {
        RunOptions r;
        r.search = std::move(o);
        return r;
    }
    AnalysisRun run_;
};

[[maybe_unused]] bool searchDll(const std::string& name, std::string& fullPath) {
    const loader::Location r = DllSearch().find(name, std::string(), 0);
    if (r.found) fullPath = r.path;
    return r.found;
}

}  // namespace

namespace {

// A search of these folders only, after the importer's.
SearchOptions only(std::vector<std::string> folders) {
    SearchOptions o;
    o.folders = std::move(folders);
    return o;
}

}  // namespace

TEST(Paths, FileAndDirectoryParts) {
#ifdef _WIN32
    EXPECT_EQ(fileNamePart("C:\\a\\b.dll"), "b.dll");
    EXPECT_EQ(directoryPart("C:\\a\\b.dll"), "C:\\a");
    EXPECT_EQ(directoryPart("C:\\b.dll"), "C:\\");
    EXPECT_EQ(fileNamePart("C:b.dll"), "b.dll");
    EXPECT_EQ(joinPath("C:\\", "x.dll"), "C:\\x.dll");
    EXPECT_EQ(joinPath("C:\\a", "x.dll"), "C:\\a\\x.dll");
    EXPECT_EQ(listPath("C:\\WINNT\\System32\\OLE32.DLL"), "c:\\winnt\\system32\\ole32.dll");
#else
    EXPECT_EQ(fileNamePart("/a/b.dll"), "b.dll");
    EXPECT_EQ(directoryPart("/a/b.dll"), "/a");
    EXPECT_EQ(directoryPart("/b.dll"), "/");
    EXPECT_EQ(directoryPart("b.dll"), "");
    EXPECT_EQ(joinPath("/", "x.dll"), "/x.dll");
    EXPECT_EQ(joinPath("/a", "x.dll"), "/a/x.dll");
    EXPECT_EQ(absolutePath("/a/./b/../c.dll"), "/a/c.dll");
    // Linux names are case-sensitive: the list keeps them as they are.
    EXPECT_EQ(listPath("/Opt/App/OLE32.DLL"), "/Opt/App/OLE32.DLL");
#endif
    EXPECT_EQ(joinPath("", "x.dll"), "x.dll");
    EXPECT_FALSE(executablePath().empty());
}

TEST(Paths, CurrentDirectoryFollowsTheProcess) {
    testutil::TempDir dir;
    const std::string before = currentDirectory();
    ASSERT_TRUE(testutil::changeDirectory(dir.path()));
    EXPECT_EQ(toLower(currentDirectory()), toLower(dir.path()));
    EXPECT_EQ(absolutePath("x.dll"), joinPath(currentDirectory(), "x.dll"));
    ASSERT_TRUE(testutil::changeDirectory(before));
}

// Many paths under one folder are told apart by one listing; the answers
// must match asking each path alone, duplicates and odd spellings included.
TEST(Paths, FoldersAmongMatchesAskingEachAlone) {
    testutil::TempDir dir;
    dir.mkdir("a");
    dir.mkdir("b");
    std::ofstream(dir.file("f.dll")) << "x";
    const std::vector<std::string> paths{dir.file("a"),       dir.file("f.dll"), dir.file("missing"),
                                         dir.file("b"),       dir.file("a"),     dir.file("."),
                                         dir.file("f.dll"),   dir.path(),        dir.file("A")};
    const std::vector<bool> got = foldersAmong(paths);
    ASSERT_EQ(got.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(got[i], folderExists(paths[i])) << paths[i];
    EXPECT_TRUE(got[0]);
    EXPECT_FALSE(got[1]);
}

TEST(FileReaderTest, FailurePointsAndContent) {
    testutil::TempDir dir;
    FileReader f;
    EXPECT_EQ(f.open(dir.file("missing.dll")), MapStatus::NotOpenable);
    EXPECT_EQ(f.open(""), MapStatus::NotOpenable);
    EXPECT_EQ(f.open(dir.path()), MapStatus::NotOpenable);  // a folder
    pew::writeFile(dir.file("empty.dll"), std::string());
    EXPECT_EQ(f.open(dir.file("empty.dll")), MapStatus::NotMappable);
    pew::writeFile(dir.file("three.bin"), std::string("MZ!"));
    ASSERT_EQ(f.open(dir.file("three.bin")), MapStatus::Ok);
    EXPECT_EQ(f.size(), 3u);
    char c = 0;
    EXPECT_TRUE(f.read(2, &c, 1));
    EXPECT_EQ(c, '!');
    EXPECT_FALSE(f.read(2, &c, 2));
    f.close();
    EXPECT_EQ(f.size(), 0u);
}

#ifndef _WIN32
TEST(FileReaderTest, FifoAndDeviceAreNotOpenableAndNeverBlock) {
    testutil::TempDir dir;
    const std::string fifo = dir.file("pipe.dll");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    FileReader f;
    EXPECT_EQ(f.open(fifo), MapStatus::NotOpenable);
    EXPECT_EQ(f.open("/dev/zero"), MapStatus::NotOpenable);
}
#endif

TEST(SearchFolders, CurrentDirectoryFirstThenFoldersIgnoringCase) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app");
    const std::string lib = dir.mkdir("lib");
    pew::writeFile(joinPath(app, "tvlshared.dll"), std::string("x"));
    pew::writeFile(joinPath(lib, "tvlshared.dll"), std::string("x"));
    pew::writeFile(joinPath(lib, "TvlMixed.Dll"), std::string("x"));
    DllSearch search(only({lib}));
    const std::string before = currentDirectory();
    ASSERT_TRUE(testutil::changeDirectory(app));

    const auto find = [&](const std::string& name) { return search.find(name, std::string(), 0).path; };
    EXPECT_EQ(toLower(find("tvlshared.dll")), toLower(joinPath(app, "tvlshared.dll")));
    EXPECT_EQ(toLower(find("TVLMIXED.DLL")), toLower(joinPath(lib, "TvlMixed.Dll")));
#ifndef _WIN32
    EXPECT_EQ(find("TVLMIXED.DLL"), joinPath(lib, "TvlMixed.Dll"));  // the path keeps the case on disk
#endif
    EXPECT_FALSE(search.find("tvlabsent.dll", std::string(), 0).found);
    EXPECT_FALSE(search.find("", std::string(), 0).found);
    ASSERT_TRUE(testutil::changeDirectory(before));
}

#ifndef _WIN32
TEST(SearchFolders, ExactCaseWinsAndListingsLiveOneSearch) {
    testutil::TempDir dir, elsewhere;
    pew::writeFile(dir.file("Dup.dll"), std::string("x"));
    pew::writeFile(dir.file("dup.dll"), std::string("x"));
    for (int fresh = 0; fresh < 2; ++fresh) {
        DllSearch search(only({dir.path()}));
        if (!fresh) search.find("dup.dll", elsewhere.path(), 0);  // the folder's listing read first
        const auto find = [&](const std::string& name) { return search.find(name, elsewhere.path(), 0).path; };
        EXPECT_EQ(find("dup.dll"), dir.file("dup.dll"));
        EXPECT_EQ(find("Dup.dll"), dir.file("Dup.dll"));
        EXPECT_EQ(find("DUP.DLL"), dir.file("Dup.dll"));  // no exact match: the first spelling in order
        // A name with a separator never escapes the search folders.
        EXPECT_FALSE(search.find("../etc/passwd", elsewhere.path(), 0).found);
        EXPECT_FALSE(search.find("..", elsewhere.path(), 0).found);
    }

    // One search lists a folder once; a file added meanwhile shows up in the
    // next search, never later than that.
    {
        DllSearch search(only({dir.path()}));
        EXPECT_FALSE(search.find("late.dll", elsewhere.path(), 0).found);
        pew::writeFile(dir.file("late.dll"), std::string("x"));
        EXPECT_FALSE(search.find("late.dll", elsewhere.path(), 0).found);
    }
    EXPECT_TRUE(DllSearch(only({dir.path()})).find("late.dll", elsewhere.path(), 0).found);
}

TEST(SearchPathVariable, TavelinDllPathIsReadWhenNoOverride) {
    testutil::TempDir dir;
    pew::writeFile(dir.file("fromenv.dll"), std::string("x"));
    setenv("TAVELIN_DLL_PATH", ("/nonexistent:" + dir.path()).c_str(), 1);
    std::string found;
    EXPECT_TRUE(searchDll("FROMENV.DLL", found));
    EXPECT_EQ(found, dir.file("fromenv.dll"));
    EXPECT_TRUE(SearchOptions::fromEnvironment().folders.has_value());
    unsetenv("TAVELIN_DLL_PATH");
    EXPECT_FALSE(SearchOptions::fromEnvironment().folders.has_value());
}
#endif

// The user's folders come after the importer's folder and before the system's;
// an override replaces them both.
TEST(UserFolders, SearchedBeforeTheSystemUnlessOverridden) {
    testutil::TempDir importer, mine;
    pew::writeFile(importer.file("both.dll"), std::string("x"));
    pew::writeFile(mine.file("both.dll"), std::string("x"));
    pew::writeFile(mine.file("mine.dll"), std::string("x"));
    SearchOptions options;
    options.userFolders = {mine.file("not-mounted-yet"), mine.path()};
    DllSearch search(options);
    EXPECT_EQ(search.options().userFolders.size(), 2u);
    EXPECT_EQ(toLower(search.find("both.dll", importer.path(), 0).path), toLower(importer.file("both.dll")));
    EXPECT_EQ(toLower(search.find("mine.dll", importer.path(), 0).path), toLower(mine.file("mine.dll")));

    options.folders = std::vector<std::string>{};
    EXPECT_FALSE(DllSearch(options).find("mine.dll", importer.path(), 0).found);
}

// A file that shrinks while it is read reads as a shorter file.
TEST(FileReaderTest, ShrinkingFileReadsShortNeverASignal) {
    testutil::TempDir dir;
    const std::string path = dir.file("shrinks.dll");
    pew::writeFile(path, std::vector<std::uint8_t>(64 * 1024, 'x'));
    FileReader f;
    ASSERT_EQ(f.open(path), MapStatus::Ok);
    std::uint8_t buf[16];
    EXPECT_TRUE(f.read(0, buf, sizeof buf));
#ifndef _WIN32  // Windows refuses to shorten a file open with share-read only
    std::filesystem::resize_file(testutil::u8(path), 100);
    EXPECT_FALSE(f.read(40000, buf, sizeof buf));
    EXPECT_FALSE(f.failed());
#endif
    EXPECT_EQ(imageMachine(f), 0);
    pew::writeFile(dir.file("empty.dll"), std::string());
    EXPECT_EQ(f.open(dir.file("empty.dll")), MapStatus::NotMappable);
    EXPECT_EQ(f.open(dir.file("absent.dll")), MapStatus::NotOpenable);
}

TEST(Machines, NamesAndImageMachine) {
    EXPECT_EQ(machineName(kMachineI386), "32 bits");
    EXPECT_EQ(machineName(kMachineAmd64), "64 bits");
    EXPECT_EQ(machineName(kMachineArm64), "ARM64");
    EXPECT_EQ(machineName(0x01C4), "0x01c4");
    testutil::TempDir dir;
    pew::Image arm;
    arm.pe32plus = true;
    arm.machine = kMachineArm64;
    pew::writeFile(dir.file("arm.dll"), pew::build(arm));
    EXPECT_EQ(imageMachine(dir.file("arm.dll")), kMachineArm64);
    pew::writeFile(dir.file("x86.dll"), pew::build(pew::Image{}));
    EXPECT_EQ(imageMachine(dir.file("x86.dll")), kMachineI386);
    EXPECT_EQ(imageMachine(dir.file("none.dll")), 0);
}

// The skip rule: a candidate of another machine is passed over, whatever the
// order of the folders; when only such files exist, the first is reported.
TEST(SearchFolders, CandidatesOfAnotherMachineAreSkipped) {
    testutil::TempDir dir;
    const std::string d32 = dir.mkdir("x86"), d64 = dir.mkdir("x64"), app = dir.mkdir("app");
    pew::writeFile(joinPath(d32, "tvlboth.dll"), pew::build(pew::Image{}));
    pew::Image plus;
    plus.pe32plus = true;
    pew::writeFile(joinPath(d64, "tvlboth.dll"), pew::build(plus));
    pew::writeFile(joinPath(d64, "tvlonly64.dll"), pew::build(plus));
    for (const auto& order : {std::vector<std::string>{d32, d64}, std::vector<std::string>{d64, d32}}) {
        DllSearch search(only(order));
        EXPECT_EQ(toLower(search.find("tvlboth.dll", app, kMachineI386).path), toLower(joinPath(d32, "tvlboth.dll")));
        EXPECT_EQ(toLower(search.find("TVLBOTH.DLL", app, kMachineAmd64).path), toLower(joinPath(d64, "tvlboth.dll")));
        const loader::Location sixtyFour = search.find("tvlonly64.dll", app, kMachineI386);
        EXPECT_FALSE(sixtyFour.found);
        EXPECT_EQ(toLower(sixtyFour.otherPath), toLower(joinPath(d64, "tvlonly64.dll")));
        EXPECT_EQ(sixtyFour.otherMachine, kMachineAmd64);
        // An unknown machine on either side skips nothing.
        EXPECT_TRUE(search.find("tvlonly64.dll", app, 0).found);
    }
}

#ifndef _WIN32
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/folders.h"

TEST(LinuxFolders, MingwNewestFirstAsNumbersThenTheDefaultThreadModel) {
    EXPECT_EQ(orderCompilerFolders({"9-posix", "12-win32", "10.2-posix", "12-posix", "10-win32", "10.10-win32"}, "win32"),
              (std::vector<std::string>{"12-win32", "12-posix", "10.10-win32", "10.2-posix", "10-win32", "9-posix"}));
    EXPECT_EQ(orderCompilerFolders({"12-win32", "12-posix"}, "posix"), (std::vector<std::string>{"12-posix", "12-win32"}));
}

TEST(LinuxFolders, DefaultFoldersPerMachine) {
    for (const std::string& f : systemDllFolders(kMachineI386)) {
        EXPECT_EQ(f.find("x86_64-windows"), std::string::npos) << f;
        EXPECT_EQ(f.find("x86_64-w64"), std::string::npos) << f;
    }
    for (const std::string& f : systemDllFolders(kMachineAmd64)) {
        EXPECT_EQ(f.find("i386-windows"), std::string::npos) << f;
        EXPECT_EQ(f.find("i686"), std::string::npos) << f;
    }
    const auto both = systemDllFolders();
    EXPECT_EQ(both.size(), systemDllFolders(kMachineI386).size() + systemDllFolders(kMachineAmd64).size());
}

TEST(SearchFolders, DanglingLinksAndFoldersAreNoDlls) {
    testutil::TempDir dir;
    const std::string first = dir.mkdir("first"), second = dir.mkdir("second");
    ASSERT_EQ(symlink(joinPath(first, "gone-target.dll").c_str(), joinPath(first, "Dangle.dll").c_str()), 0);
    std::filesystem::create_directories(joinPath(first, "tvlfolder.dll"));
    pew::writeFile(joinPath(second, "dangle.dll"), std::string("x"));
    pew::writeFile(joinPath(second, "TvlFolder.dll"), std::string("x"));
    for (int listed = 0; listed < 2; ++listed) {
        DllSearch search(only({first, second}));
        if (listed) search.find("tvlnone.dll", dir.path(), 0);  // both listings read first
        for (const char* name : {"Dangle.dll", "dangle.dll", "DANGLE.DLL"})
            EXPECT_EQ(search.find(name, dir.path(), 0).path, joinPath(second, "dangle.dll")) << name;
        EXPECT_EQ(search.find("tvlfolder.dll", dir.path(), 0).path, joinPath(second, "TvlFolder.dll"));
    }
}

// A folder that can be entered but not listed: names found there by their
// exact spelling stay found for the whole run. Root lists anything, so the
// check runs as "nobody" in a child process.
TEST(SearchFolders, UnlistableFolderKeepsWhatWasFound) {
    testutil::TempDir dir;
    const std::string locked = dir.mkdir("locked");
    pew::writeFile(joinPath(locked, "tvlseen.dll"), std::string("x"));
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0311), 0);
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && !nobody) GTEST_SKIP() << "no unprivileged user";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) _exit(3);
        DllSearch search(only({locked}));
        const bool first = search.find("tvlseen.dll", dir.path(), 0).found;
        const bool other = search.find("tvlother.dll", dir.path(), 0).found;  // needs the listing, which fails
        const bool again = search.find("tvlseen.dll", dir.path(), 0).found;
        _exit(first && !other && again ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    chmod(locked.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

#ifdef _WIN32
#include <windows.h>

// A 32-bit importer, searched from this 64-bit build, sees SysWOW64 where the
// system's order has System32, as the 32-bit loader does. A Wine prefix made
// where 32-bit code cannot run has an empty SysWOW64: there the test puts a
// DLL of each machine in both system folders itself.
TEST(WindowsSearch, A32BitImporterSeesSysWow64) {
    wchar_t buf[MAX_PATH];
    UINT n = GetSystemWow64DirectoryW(buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) GTEST_SKIP() << "no SysWOW64";
    const std::string wow = testutil::str(std::filesystem::path(std::wstring(buf, n)));
    n = GetSystemDirectoryW(buf, MAX_PATH);
    const std::string sys = testutil::str(std::filesystem::path(std::wstring(buf, n)));
    const bool underWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    std::string name = "kernel32.dll";
    if (imageMachine(joinPath(wow, name)) != kMachineI386) {
        if (!underWine) GTEST_SKIP() << "no 32-bit kernel32.dll in SysWOW64";
        name = "tvlwowcheck.dll";
        pew::writeFile(joinPath(wow, name), pew::build(pew::Image{}));
        pew::Image plus;
        plus.pe32plus = true;
        pew::writeFile(joinPath(sys, name), pew::build(plus));
    }
    testutil::TempDir dir;
    DllSearch search;
    const loader::Location r32 = search.find(name, dir.path(), kMachineI386);
    const loader::Location r64 = search.find(name, dir.path(), kMachineAmd64);
    if (name != "kernel32.dll") {
        std::filesystem::remove(testutil::u8(joinPath(wow, name)));
        std::filesystem::remove(testutil::u8(joinPath(sys, name)));
    }
    ASSERT_TRUE(r32.found);
    ASSERT_TRUE(r64.found);
    EXPECT_EQ(toLower(directoryPart(r32.path)), toLower(wow));
    EXPECT_EQ(toLower(directoryPart(r64.path)), toLower(sys));
}
#endif
