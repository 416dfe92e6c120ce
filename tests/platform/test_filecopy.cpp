// The file operations of a bundle folder, on the backend of this build.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/filecopy.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using namespace platform;

TEST(FileCopy, FoldersAreCreatedWithTheirParentsButNotThroughAFile) {
    testutil::TempDir dir;
    std::string why;
    const std::string deep = joinPath(joinPath(dir.file("a"), "b"), "c");
    EXPECT_TRUE(createFolders(deep, why)) << why;
    EXPECT_TRUE(folderExists(deep));
    EXPECT_TRUE(createFolders(deep, why));  // already there
    pew::writeFile(dir.file("file"), std::string("x"));
    EXPECT_FALSE(createFolders(joinPath(dir.file("file"), "sub"), why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(createFolders(dir.file("file"), why));
}

TEST(FileCopy, ComparisonReadsTheBytes) {
    testutil::TempDir dir;
    std::string why;
    pew::writeFile(dir.file("a"), std::string(200000, 'a'));
    pew::writeFile(dir.file("same"), std::string(200000, 'a'));
    std::string late(200000, 'a');
    late[199999] = 'b';  // past the first blocks
    pew::writeFile(dir.file("late"), late);
    pew::writeFile(dir.file("short"), std::string(10, 'a'));
    pew::writeFile(dir.file("empty"), std::string());
    pew::writeFile(dir.file("empty2"), std::string());
    EXPECT_EQ(compareFiles(dir.file("a"), dir.file("same"), why), Comparison::Same);
    EXPECT_EQ(compareFiles(dir.file("a"), dir.file("a"), why), Comparison::Same);
    EXPECT_EQ(compareFiles(dir.file("a"), dir.file("late"), why), Comparison::Different);
    EXPECT_EQ(compareFiles(dir.file("a"), dir.file("short"), why), Comparison::Different);
    EXPECT_EQ(compareFiles(dir.file("empty"), dir.file("empty2"), why), Comparison::Same);
    EXPECT_EQ(compareFiles(dir.file("a"), dir.file("absent"), why), Comparison::Failed);
    EXPECT_NE(why.find("absent"), std::string::npos) << why;
    EXPECT_EQ(compareFiles(dir.file("a"), dir.mkdir("folder"), why), Comparison::Failed);
}

TEST(FileCopy, StagedCopiesReplaceInOneStepOrLeaveNothing) {
    testutil::TempDir dir;
    std::string why;
    pew::writeFile(dir.file("new.dll"), std::string(100000, 'n'));
    const std::string out = dir.mkdir("out"), target = joinPath(out, "lib.dll");
    pew::writeFile(target, std::string("old"));
    const std::string staged = stageCopy(dir.file("new.dll"), target, why);
    ASSERT_FALSE(staged.empty()) << why;
    EXPECT_EQ(directoryPart(staged), out);  // beside its name: the rename stays on one volume
    EXPECT_EQ(compareFiles(target, dir.file("new.dll"), why), Comparison::Different);  // not yet in place
    ASSERT_TRUE(commitStaged(staged, target, why)) << why;
    EXPECT_EQ(compareFiles(target, dir.file("new.dll"), why), Comparison::Same);
    EXPECT_FALSE(pathExists(staged));

    const std::string discarded = stageCopy(dir.file("new.dll"), joinPath(out, "other.dll"), why);
    ASSERT_FALSE(discarded.empty());
    discardStaged(discarded);
    EXPECT_EQ(stageCopy(dir.file("absent.dll"), joinPath(out, "x.dll"), why), "");
    const auto entries = std::distance(std::filesystem::directory_iterator(testutil::u8(out)),
                                       std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);  // lib.dll alone: no staged copy left behind

#ifndef _WIN32
    // A name near the limit still leaves room for the staged copy's.
    const std::string longName = joinPath(out, std::string(240, 'l') + ".dll");
    const std::string staged2 = stageCopy(dir.file("new.dll"), longName, why);
    ASSERT_FALSE(staged2.empty()) << why;
    EXPECT_TRUE(commitStaged(staged2, longName, why)) << why;
#endif
}

TEST(FileCopy, NamesAreFoundIgnoringCaseExactSpellingFirst) {
    testutil::TempDir dir;
    pew::writeFile(dir.file("LibFoo.DLL"), std::string("x"));
    EXPECT_EQ(fileIgnoringCase(dir.path(), "libfoo.dll"), dir.file("LibFoo.DLL"));
    EXPECT_EQ(fileIgnoringCase(dir.path(), "LibFoo.DLL"), dir.file("LibFoo.DLL"));
    EXPECT_EQ(fileIgnoringCase(dir.path(), "libbar.dll"), "");
    EXPECT_EQ(fileIgnoringCase(dir.file("absent"), "libfoo.dll"), "");
}
