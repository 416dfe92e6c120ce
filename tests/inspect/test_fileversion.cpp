#include <gtest/gtest.h>

#include "inspect/fileversion.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

std::string writeImage(const testutil::TempDir& dir, const std::string& name, const pew::Image& image) {
    const std::string path = dir.file(name);
    pew::writeFile(path, pew::build(image));
    return path;
}

TEST(FileVersion, ReadsTheStringOfTheFirstTranslation) {
    testutil::TempDir dir;
    pew::Image img;
    img.version(pew::VersionInfo::simple("1.3.0.81"));
    EXPECT_EQ(FileVersionString(writeImage(dir, "a.dll", img)), "1.3.0.81");

    pew::Image plus;
    plus.pe32plus = true;
    plus.version(pew::VersionInfo::simple("10.0.19041.1 (WinBuild.160101.0800)", 0x0409, 0x04B0), 0x0409);
    EXPECT_EQ(FileVersionString(writeImage(dir, "b.dll", plus)), "10.0.19041.1 (WinBuild.160101.0800)");
}

TEST(FileVersion, NoResourceMissingFileOrEmptyName) {
    testutil::TempDir dir;
    EXPECT_EQ(FileVersionString(writeImage(dir, "none.dll", pew::Image{})), "V: ???");
    EXPECT_EQ(FileVersionString(dir.file("absent.dll")), "V: ???");
    EXPECT_EQ(FileVersionString(""), "V: ???");
    pew::writeFile(dir.file("text.exe"), std::string("hello, not an image\n"));
    EXPECT_EQ(FileVersionString(dir.file("text.exe")), "V: ???");
}

}  // namespace
