// The version-resource reader: lookups, language choice, hostile blocks, and,
// on Windows, agreement with the system's own GetFileVersionInfo.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "inspect/fileversion.h"
#include "platform/peimage.h"
#include "platform/peversion.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using namespace platform;

namespace {

std::uint32_t u32at(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// FileVersionString computed with our own reader only, whatever the backend.
std::string ourFileVersion(const std::string& path) {
    FileReader file;
    std::vector<std::uint8_t> block;
    if (file.open(path) != MapStatus::Ok || !readVersionBlock(PeImage(file), localeLanguageId(), block))
        return "V: ???";
    const std::uint8_t* value = nullptr;
    std::uint32_t len = 0;
    bool text = false;
    if (!queryVersionBlock(block.data(), "\\VarFileInfo\\Translation", value, len, text) || len < 4) return "V: ???";
    const std::uint32_t t = u32at(value);
    char key[40];
    std::snprintf(key, sizeof key, "\\StringFileInfo\\%.8x\\FileVersion", ((t & 0xFFFF) << 16) + (t >> 16));
    std::string out;
    return queryVersionString(block.data(), key, out) ? out : "V: ???";
}

}  // namespace

TEST(VersionBlock, LookupsAreCaseInsensitiveAndSkipEmptyComponents) {
    pew::VersionInfo info = pew::VersionInfo::simple("2, 5, 0, 1", 0x0409, 0x04B0);
    info.major = 2, info.minor = 5, info.release = 0, info.build = 1;
    std::vector<std::uint8_t> block = pew::versionBlock(info);

    const std::uint8_t* value = nullptr;
    std::uint32_t len = 0;
    bool text = true;
    ASSERT_TRUE(queryVersionBlock(block.data(), "\\", value, len, text));
    EXPECT_FALSE(text);
    ASSERT_EQ(len, 52u);
    EXPECT_EQ(u32at(value), 0xFEEF04BDu);
    EXPECT_EQ(u32at(value + 8), 0x00020005u);

    ASSERT_TRUE(queryVersionBlock(block.data(), "\\\\varfileinfo\\\\TRANSLATION\\", value, len, text));
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(u32at(value), 0x04B00409u);

    std::string s;
    ASSERT_TRUE(queryVersionString(block.data(), "\\StringFileInfo\\040904B0\\fileversion", s));
    EXPECT_EQ(s, "2, 5, 0, 1");  // stored text, spaces and commas kept
    EXPECT_FALSE(queryVersionString(block.data(), "\\StringFileInfo\\040c04e4\\FileVersion", s));
    EXPECT_FALSE(queryVersionString(block.data(), "\\StringFileInfo\\040904b0\\FileVersio", s));
}

TEST(VersionBlock, TruncatedOrDamagedBlocksNeverReadOutside) {
    pew::VersionInfo info = pew::VersionInfo::simple("1.2.3.4");
    const std::vector<std::uint8_t> good = pew::versionBlock(info);
    std::mt19937 rng(1234);
    for (std::size_t cut = 6; cut <= good.size(); ++cut) {
        // An exact-size heap copy, so a read past it is caught by the sanitizers.
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[cut]);
        std::memcpy(block.get(), good.data(), cut);
        clampVersionBlock(block.get(), cut);
        std::string s;
        if (queryVersionString(block.get(), "\\StringFileInfo\\040c04e4\\FileVersion", s)) {
            EXPECT_LE(s.size(), 7u);
            EXPECT_EQ(s, std::string("1.2.3.4").substr(0, s.size()));
        }
        for (int flip = 0; flip < 20; ++flip) {
            std::unique_ptr<std::uint8_t[]> damaged(new std::uint8_t[cut]);
            std::memcpy(damaged.get(), block.get(), cut);
            damaged[rng() % cut] = static_cast<std::uint8_t>(rng());
            clampVersionBlock(damaged.get(), cut);
            const std::uint8_t* value = nullptr;
            std::uint32_t len = 0;
            bool text = false;
            if (queryVersionBlock(damaged.get(), "\\VarFileInfo\\Translation", value, len, text)) {
                EXPECT_GE(value, damaged.get());
                EXPECT_LE(value + len, damaged.get() + cut);
            }
            queryVersionString(damaged.get(), "\\StringFileInfo\\040c04e4\\FileVersion", s);
        }
    }
}

TEST(VersionBlock, ZeroLengthChildEndsTheSearch) {
    std::vector<std::uint8_t> block = pew::versionBlock(pew::VersionInfo::simple("9.9"));
    // The first child of the root (StringFileInfo) starts after the fixed info.
    const std::size_t firstChild = 40 + 52;  // header and "VS_VERSION_INFO" padded to 40, fixed info
    pew::put16(block, firstChild, 0);
    std::string s;
    EXPECT_FALSE(queryVersionString(block.data(), "\\StringFileInfo\\040c04e4\\FileVersion", s));
}

TEST(VersionResource, LanguageChoiceFollowsTheLoader) {
    testutil::TempDir dir;
    const auto versionOf = [&](const pew::Image& img, std::uint16_t user) {
        const std::vector<std::uint8_t> bytes = pew::build(img);
        std::size_t offset = 0, length = 0;
        if (!findVersionResource(bytes.data(), bytes.size(), user, offset, length)) return std::string("none");
        std::vector<std::uint8_t> block(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                        bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
        std::string s;
        const std::uint8_t* v = nullptr;
        std::uint32_t len = 0;
        bool text = false;
        queryVersionBlock(block.data(), "\\VarFileInfo\\Translation", v, len, text);
        char key[40];
        const std::uint32_t t = u32at(v);
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%.8x\\FileVersion", ((t & 0xFFFF) << 16) + (t >> 16));
        queryVersionString(block.data(), key, s);
        return s;
    };
    pew::Image three;
    three.version(pew::VersionInfo::simple("german", 0x0407), 0x0407)
        .version(pew::VersionInfo::simple("french", 0x040C), 0x040C)
        .version(pew::VersionInfo::simple("english", 0x0409), 0x0409);
    EXPECT_EQ(versionOf(three, 0x040C), "french");
    EXPECT_EQ(versionOf(three, 0x0C0C), "french");  // same primary language
    EXPECT_EQ(versionOf(three, 0x0411), "english");
    pew::Image neutral = three;
    neutral.version(pew::VersionInfo::simple("neutral", 0x0000), 0x0000);
    EXPECT_EQ(versionOf(neutral, 0x040C), "neutral");
    pew::Image noEnglish;
    noEnglish.version(pew::VersionInfo::simple("german", 0x0407), 0x0407)
        .version(pew::VersionInfo::simple("italian", 0x0410), 0x0410);
    EXPECT_EQ(versionOf(noEnglish, 0x0411), "german");
}

TEST(VersionResource, BackendsAgreeOnGeneratedAndRealFiles) {
    testutil::TempDir dir;
    std::vector<std::string> files;
    pew::Image a;
    a.version(pew::VersionInfo::simple("1.3.0.81"));
    pew::Image b;
    b.pe32plus = true;
    b.import("tvlx.dll").version(pew::VersionInfo::simple("6.1.7601.17514 (win7sp1_rtm.101119-1850)", 0x0409, 0x04B0),
                                 0x0409);
    pew::Image c;  // a resource whose only table is not under the first translation
    pew::VersionInfo odd = pew::VersionInfo::simple("4.0", 0x0409, 0x04E4);
    odd.translations.insert(odd.translations.begin(), 0x04B00407u);
    c.version(odd, 0x0409);
    int i = 0;
    for (const pew::Image* img : {&a, &b, &c}) {
        files.push_back(dir.file("gen" + std::to_string(i++) + ".dll"));
        pew::writeFile(files.back(), pew::build(*img));
    }
    EXPECT_EQ(FileVersionString(files[0]), "1.3.0.81");
    EXPECT_EQ(FileVersionString(files[1]), "6.1.7601.17514 (win7sp1_rtm.101119-1850)");
    EXPECT_EQ(FileVersionString(files[2]), "V: ???");

    std::size_t real = 0;
    const std::string wine = testutil::wineX64Folder();
    if (!wine.empty()) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(testutil::u8(wine), ec)) {
            files.push_back(testutil::str(e.path()));
            ++real;
        }
    }
    std::size_t withVersion = 0;
    for (const std::string& f : files) {
        const std::string v = FileVersionString(f);
        EXPECT_EQ(v, ourFileVersion(f)) << f;
        withVersion += v != "V: ???";
    }
    if (real > 0) {
        EXPECT_GT(withVersion, real / 4);
    }
}
