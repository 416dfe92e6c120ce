// The API set schema reader: the three schema versions, the loader's way of
// matching names, exceptions by importer, damaged tables, Wine's own schema.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/apiset.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using platform::ApiSetSchema;

namespace {

const std::vector<pew::ApiSet> kSets = {
    {"api-ms-win-crt-heap-l1-1-0", {{"", "ucrtbase.dll"}}},
    {"api-ms-win-core-com-l1-1-0", {{"", "combase.dll"}, {"ole32.dll", "ole32impl.dll"}}},
    {"api-ms-win-core-gone-l1-1-0", {}},
    {"ext-ms-win-ntuser-window-l1-1-0", {{"", "user32.dll"}}},
};

std::string hostOf(const ApiSetSchema& s, const std::string& name, const std::string& importer = "app.exe") {
    std::string host;
    switch (s.resolve(name, importer, host)) {
        case ApiSetSchema::Lookup::Host: return host;
        case ApiSetSchema::Lookup::NoHost: return "(no host)";
        case ApiSetSchema::Lookup::NotApiSet: break;
    }
    return "(file)";
}

}  // namespace

TEST(ApiSet, EveryVersionResolvesLikeTheLoader) {
    for (std::uint32_t version : {2u, 4u, 6u}) {
        const std::vector<std::uint8_t> bytes = pew::apiSetSchema(version, kSets);
        ApiSetSchema s;
        ASSERT_TRUE(s.read(bytes.data(), bytes.size())) << version;
        EXPECT_EQ(s.version(), version);
        EXPECT_EQ(s.size(), kSets.size());
        EXPECT_EQ(hostOf(s, "api-ms-win-crt-heap-l1-1-0.dll"), "ucrtbase.dll") << version;
        // Up to the last hyphen, ignoring case: another minor version matches.
        EXPECT_EQ(hostOf(s, "API-MS-Win-CRT-Heap-L1-1-7.DLL"), "ucrtbase.dll");
        EXPECT_EQ(hostOf(s, "api-ms-win-crt-heap-l1-2-0.dll"), "(file)");
        EXPECT_EQ(hostOf(s, "api-ms-win-core-com-l1-1-0.dll"), "combase.dll");
        EXPECT_EQ(hostOf(s, "api-ms-win-core-com-l1-1-0.dll", "OLE32.DLL"), "ole32impl.dll");
        EXPECT_EQ(hostOf(s, "api-ms-win-core-gone-l1-1-0.dll"), "(no host)");
        EXPECT_EQ(hostOf(s, "ext-ms-win-ntuser-window-l1-1-0.dll"), "user32.dll");
        EXPECT_EQ(hostOf(s, "ms-win-crt-heap-l1-1-0.dll"), "(file)");  // no prefix: a file name
        EXPECT_EQ(hostOf(s, "kernel32.dll"), "(file)");
        EXPECT_EQ(hostOf(s, "api-"), "(file)");
    }
}

TEST(ApiSet, DamagedSchemasReadAsEmptyNeverCrash) {
    const std::vector<std::uint8_t> good = pew::apiSetSchema(6, kSets);
    ApiSetSchema s;
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        std::vector<std::uint8_t> bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        if (s.read(bytes.data(), bytes.size())) {
            EXPECT_GT(s.size(), 0u);
        }
    }
    for (std::uint32_t version : {2u, 4u, 6u}) {
        const std::vector<std::uint8_t> base = pew::apiSetSchema(version, kSets);
        // Every 32-bit field in turn set to absurd values.
        for (std::size_t at = 0; at + 4 <= base.size(); at += 4) {
            for (std::uint32_t v : {0xFFFFFFFFu, 0x7FFFFFFFu, 0xFFFFFFF0u}) {
                std::vector<std::uint8_t> bytes = base;
                pew::put32(bytes, at, v);
                s.read(bytes.data(), bytes.size());
                std::string host;
                s.resolve("api-ms-win-crt-heap-l1-1-0.dll", "app.exe", host);
            }
        }
    }
    std::vector<std::uint8_t> unknown = good;
    pew::put32(unknown, 0, 5);
    EXPECT_FALSE(s.read(unknown.data(), unknown.size()));
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(hostOf(s, "api-ms-win-crt-heap-l1-1-0.dll"), "(file)");

    // Many entries sharing one huge value array: refused, not multiplied.
    std::vector<std::uint8_t> shared(28 + 24 * 2000 + 20 * 2000 + 64, 0);
    pew::put32(shared, 0, 6);
    pew::put32(shared, 12, 2000);
    pew::put32(shared, 16, 28);
    for (std::uint32_t i = 0; i < 2000; ++i) {
        pew::put32(shared, 28 + 24 * i + 16, 28 + 24 * 2000);
        pew::put32(shared, 28 + 24 * i + 20, 2000);
    }
    EXPECT_FALSE(s.read(shared.data(), shared.size()));
}

TEST(ApiSet, FromTheApisetSectionOfAnImage) {
    pew::Image img;
    img.pe32plus = true;
    img.dataSections.emplace_back(".apiset", pew::apiSetSchema(6, kSets));
    const std::vector<std::uint8_t> bytes = pew::build(img);
    platform::MemoryByteSource source(bytes.data(), bytes.size());
    ApiSetSchema s;
    ASSERT_TRUE(s.readImage(source));
    EXPECT_EQ(hostOf(s, "api-ms-win-crt-heap-l1-1-0.dll"), "ucrtbase.dll");
    pew::Image none;
    const std::vector<std::uint8_t> plain = pew::build(none);
    platform::MemoryByteSource noSection(plain.data(), plain.size());
    EXPECT_FALSE(s.readImage(noSection));
}

TEST(ApiSet, WinesOwnSchema) {
    const std::string dir = testutil::wineX64Folder();
    if (dir.empty()) GTEST_SKIP() << "no Wine";
    platform::FileReader file;
    ASSERT_EQ(file.open(platform::joinPath(dir, "apisetschema.dll")), platform::MapStatus::Ok);
    ApiSetSchema s;
    ASSERT_TRUE(s.readImage(file));
    EXPECT_EQ(s.version(), 6u);
    EXPECT_GT(s.size(), 100u);
    EXPECT_EQ(hostOf(s, "api-ms-win-crt-heap-l1-1-0.dll"), "ucrtbase.dll");
    EXPECT_EQ(hostOf(s, "api-ms-win-core-synch-l1-2-0.dll"), "kernelbase.dll");
}
