// Paths, the current directory, the mapped file and the DLL search.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace platform;

namespace {

class SearchFolders : public ::testing::Test {
protected:
    void SetUp() override { setDllSearchFolders({}); }
    void TearDown() override { resetDllSearchFolders(); }
};

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

TEST(Paths, CurrentDirectoryRoundTrip) {
    testutil::TempDir dir;
    const std::string before = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(dir.path()));
    EXPECT_EQ(toLower(currentDirectory()), toLower(dir.path()));
    EXPECT_FALSE(setCurrentDirectory(dir.file("missing")));
    ASSERT_TRUE(setCurrentDirectory(before));
}

TEST(MappedFileTest, FailurePointsAndContent) {
    testutil::TempDir dir;
    MappedFile f;
    EXPECT_EQ(f.open(dir.file("missing.dll")), MapStatus::NotOpenable);
    EXPECT_EQ(f.open(""), MapStatus::NotOpenable);
    EXPECT_EQ(f.open(dir.path()), MapStatus::NotOpenable);  // a folder
    pe::writeFile(dir.file("empty.dll"), std::string());
    EXPECT_EQ(f.open(dir.file("empty.dll")), MapStatus::NotMappable);
    pe::writeFile(dir.file("three.bin"), std::string("MZ!"));
    ASSERT_EQ(f.open(dir.file("three.bin")), MapStatus::Ok);
    EXPECT_EQ(f.size(), 3u);
    EXPECT_EQ(f.data()[2], '!');
    f.close();
    EXPECT_EQ(f.data(), nullptr);
}

#ifndef _WIN32
TEST(MappedFileTest, FifoAndDeviceAreNotOpenableAndNeverBlock) {
    testutil::TempDir dir;
    const std::string fifo = dir.file("pipe.dll");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    MappedFile f;
    EXPECT_EQ(f.open(fifo), MapStatus::NotOpenable);
    EXPECT_EQ(f.open("/dev/zero"), MapStatus::NotOpenable);
}
#endif

TEST_F(SearchFolders, CurrentDirectoryFirstThenFoldersIgnoringCase) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app");
    const std::string lib = dir.mkdir("lib");
    pe::writeFile(joinPath(app, "tvlshared.dll"), std::string("x"));
    pe::writeFile(joinPath(lib, "tvlshared.dll"), std::string("x"));
    pe::writeFile(joinPath(lib, "TvlMixed.Dll"), std::string("x"));
    setDllSearchFolders({lib});
    const std::string before = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(app));

    std::string found;
    ASSERT_TRUE(searchDll("tvlshared.dll", found));
    EXPECT_EQ(toLower(found), toLower(joinPath(app, "tvlshared.dll")));
    ASSERT_TRUE(searchDll("TVLMIXED.DLL", found));
    EXPECT_EQ(toLower(found), toLower(joinPath(lib, "TvlMixed.Dll")));
#ifndef _WIN32
    EXPECT_EQ(found, joinPath(lib, "TvlMixed.Dll"));  // the path keeps the case on disk
#endif
    EXPECT_FALSE(searchDll("tvlabsent.dll", found));
    EXPECT_FALSE(searchDll("", found));
    ASSERT_TRUE(setCurrentDirectory(before));
}

#ifndef _WIN32
TEST_F(SearchFolders, ExactCaseWinsAndListingsLiveOneScope) {
    testutil::TempDir dir;
    pe::writeFile(dir.file("Dup.dll"), std::string("x"));
    pe::writeFile(dir.file("dup.dll"), std::string("x"));
    setDllSearchFolders({dir.path()});
    std::string found;
    for (int scoped = 0; scoped < 2; ++scoped) {
        if (scoped) beginSearchScope();
        ASSERT_TRUE(searchDll("dup.dll", found));
        EXPECT_EQ(found, dir.file("dup.dll"));
        ASSERT_TRUE(searchDll("Dup.dll", found));
        EXPECT_EQ(found, dir.file("Dup.dll"));
        ASSERT_TRUE(searchDll("DUP.DLL", found));
        EXPECT_EQ(found, dir.file("Dup.dll"));  // no exact match: the first spelling in order
        if (scoped) endSearchScope();
    }
    // A name with a separator never escapes the search folders.
    EXPECT_FALSE(searchDll("../etc/passwd", found));
    EXPECT_FALSE(searchDll("..", found));

    // Inside a scope a folder is listed once; a file added meanwhile shows up
    // after the scope, never later than that.
    beginSearchScope();
    EXPECT_FALSE(searchDll("late.dll", found));
    pe::writeFile(dir.file("late.dll"), std::string("x"));
    EXPECT_FALSE(searchDll("late.dll", found));
    endSearchScope();
    EXPECT_TRUE(searchDll("late.dll", found));
}

TEST(SearchPathVariable, TavelinDllPathIsReadWhenNoOverride) {
    testutil::TempDir dir;
    pe::writeFile(dir.file("fromenv.dll"), std::string("x"));
    setenv("TAVELIN_DLL_PATH", ("/nonexistent:" + dir.path()).c_str(), 1);
    std::string found;
    EXPECT_TRUE(searchDll("FROMENV.DLL", found));
    EXPECT_EQ(found, dir.file("fromenv.dll"));
    unsetenv("TAVELIN_DLL_PATH");
}
#endif

// The user's folders come after the importer's folder and before the system's;
// an override replaces them both.
TEST(UserFolders, SearchedBeforeTheSystemUnlessOverridden) {
    testutil::TempDir importer, mine;
    pe::writeFile(importer.file("both.dll"), std::string("x"));
    pe::writeFile(mine.file("both.dll"), std::string("x"));
    pe::writeFile(mine.file("mine.dll"), std::string("x"));
    const std::string before = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(importer.path()));
    setUserDllFolders({mine.file("not-mounted-yet"), mine.path()});
    EXPECT_EQ(userDllFolders().size(), 2u);
    EXPECT_FALSE(dllSearchFoldersOverridden());
    std::string found;
    ASSERT_TRUE(searchDll("both.dll", found));
    EXPECT_EQ(toLower(found), toLower(importer.file("both.dll")));
    ASSERT_TRUE(searchDll("mine.dll", found));
    EXPECT_EQ(toLower(found), toLower(mine.file("mine.dll")));

    setDllSearchFolders({});
    EXPECT_TRUE(dllSearchFoldersOverridden());
    EXPECT_FALSE(searchDll("mine.dll", found));
    resetDllSearchFolders();
    setUserDllFolders({});
    ASSERT_TRUE(setCurrentDirectory(before));
}
