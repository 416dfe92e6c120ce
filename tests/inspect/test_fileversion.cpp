#include <gtest/gtest.h>

#include "inspect/fileversion.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

std::string writeImage(const testutil::TempDir& dir, const std::string& name, const pe::Image& image) {
    const std::string path = dir.file(name);
    pe::writeFile(path, pe::build(image));
    return path;
}

TEST(FileVersion, ReadsTheStringOfTheFirstTranslation) {
    testutil::TempDir dir;
    pe::Image img;
    img.version(pe::VersionInfo::simple("1.3.0.81"));
    EXPECT_EQ(FileVersionString(writeImage(dir, "a.dll", img)), "1.3.0.81");

    pe::Image plus;
    plus.pe32plus = true;
    plus.version(pe::VersionInfo::simple("10.0.19041.1 (WinBuild.160101.0800)", 0x0409, 0x04B0), 0x0409);
    EXPECT_EQ(FileVersionString(writeImage(dir, "b.dll", plus)), "10.0.19041.1 (WinBuild.160101.0800)");
}

TEST(FileVersion, NoResourceMissingFileOrEmptyName) {
    testutil::TempDir dir;
    EXPECT_EQ(FileVersionString(writeImage(dir, "none.dll", pe::Image{})), "V: ???");
    EXPECT_EQ(FileVersionString(dir.file("absent.dll")), "V: ???");
    EXPECT_EQ(FileVersionString(""), "V: ???");
    pe::writeFile(dir.file("text.exe"), std::string("hello, not an image\n"));
    EXPECT_EQ(FileVersionString(dir.file("text.exe")), "V: ???");
}

}  // namespace
