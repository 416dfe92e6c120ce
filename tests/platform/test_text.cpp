#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/text.h"

using namespace platform;

TEST(Text, Cp1252ToUtf8CoversTheHighHalf) {
    EXPECT_EQ(cp1252ToUtf8("abc"), "abc");
    EXPECT_EQ(cp1252ToUtf8("caf\xE9"), "café");
    EXPECT_EQ(cp1252ToUtf8("\x80\x9C\xFF"), "€œÿ");
    // Bytes unassigned in 1252 stay the C1 control of the same value.
    EXPECT_EQ(cp1252ToUtf8("\x81"), "\xC2\x81");
}

TEST(Text, WidthsCountCharactersNotBytes) {
    EXPECT_EQ(utf8Length("toi-même"), 8u);
    EXPECT_EQ(padRight("toi-même", 20), "toi-même            ");
    EXPECT_EQ(padRight("exactly-twenty-chars", 20), "exactly-twenty-chars");
    EXPECT_EQ(padRight("a much longer text than twenty", 20), "a much longer text than twenty");
    // An invalid byte counts as one character and is kept.
    EXPECT_EQ(utf8Length("a\xFF" "b"), 3u);
}

TEST(Text, Utf16RoundTripAndBrokenSurrogates) {
    const std::string s = "Été 😀 ß";
    const std::u16string w = utf8ToUtf16(s);
    EXPECT_EQ(utf16ToUtf8(w.data(), w.size()), s);
    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(utf16ToUtf8(lone, 3), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(validUtf8("ok\xC3"), "ok\xEF\xBF\xBD");
}

TEST(Text, LowerCasingIsLocaleAwareAndKeepsInvalidBytes) {
    EXPECT_EQ(toLower("C:\\WINNT\\System32\\OLE32.DLL"), "c:\\winnt\\system32\\ole32.dll");
    EXPECT_EQ(toLower("ÉCOLE ÀÇÈ ŒUVRE"), "école àçè œuvre");
    EXPECT_EQ(toLower("ΑΒΓ ДЖ"), "αβγ дж");
    EXPECT_EQ(simpleLower(U'Ÿ'), U'ÿ');
}

TEST(Text, ListsDropEmptyItems) {
    EXPECT_EQ(splitList("/a::/b:", ':'), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(splitList("C:\\x;;D:\\y", ';'), (std::vector<std::string>{"C:\\x", "D:\\y"}));
    EXPECT_TRUE(splitList("", ':').empty());
}
