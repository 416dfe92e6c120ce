// The Windows mail functions: win.ini's declaration and the real MAPI32.DLL.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/mail.h"

namespace {

class WinIniMail : public testing::Test {
protected:
    void TearDown() override { WriteProfileStringW(L"Mail", L"MAPI", nullptr); }
};

TEST_F(WinIniMail, DeclaredOnlyByMapiEqualToOne) {
    const platform::MailSystem& mail = platform::realMailSystem();
    WriteProfileStringW(L"Mail", L"MAPI", nullptr);
    EXPECT_FALSE(mail.clientDeclared());
    for (const wchar_t* v : {L"0", L"2", L"oui", L"-1"}) {
        WriteProfileStringW(L"Mail", L"MAPI", v);
        EXPECT_FALSE(mail.clientDeclared());
    }
    WriteProfileStringW(L"Mail", L"MAPI", L"1");
    EXPECT_TRUE(mail.clientDeclared());
}

TEST(Mapi32, LoadsFindsTheEntryAndUnloads) {
    const platform::MailSystem& mail = platform::realMailSystem();
    platform::MailLibrary lib = mail.load();
    ASSERT_NE(lib, nullptr) << "MAPI32.DLL did not load";
    LPMAPISENDMAIL entry = mail.sendEntry(lib);
    EXPECT_NE(entry, nullptr);
    EXPECT_EQ(mail.sendEntry(nullptr), nullptr);
    EXPECT_TRUE(mail.unload(lib));
    EXPECT_FALSE(mail.unload(nullptr));
}

TEST(MailText, UsesTheAnsiCodePage) {
    EXPECT_EQ(platform::toMailText("info de version"), "info de version");
    EXPECT_EQ(platform::toMailText(""), "");
    const std::string ansi = platform::toMailText("é");
    wchar_t back[4] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), back, 4), 1);
    EXPECT_EQ(back[0], L'\u00e9');
}

}  // namespace
