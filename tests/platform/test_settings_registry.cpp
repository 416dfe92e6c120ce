// The Windows settings store against the registry itself: the types it
// writes, values written by others, and the enumeration order.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platform/settings.h"
#include "tests/platform/settings_scratch.h"

using platform::Settings;
using platform::SettingsError;
using platform::SettingsUnreadable;

namespace {

class SettingsRegistryTest : public testing::Test {
protected:
    testutil::ScratchStore store;
    HKEY key = nullptr;

    void SetUp() override {
        const std::string k = store.key().substr(1);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, std::wstring(k.begin(), k.end()).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key); }

    void raw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    DWORD typeOf(const wchar_t* name, std::vector<BYTE>* data = nullptr) {
        DWORD type = 0, size = 0;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        if (data) {
            data->resize(size);
            RegQueryValueExW(key, name, nullptr, &type, data->data(), &size);
        }
        return type;
    }
};

TEST_F(SettingsRegistryTest, WritesStringsAsRegSzAndNumbersAsRegDword) {
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), false));
    s.WriteString("Récursif", "é€");
    s.WriteInteger("Top", -2);
    s.WriteBool("Unique", true);

    std::vector<BYTE> data;
    EXPECT_EQ(typeOf(L"R\u00e9cursif", &data), static_cast<DWORD>(REG_SZ));
    const wchar_t expected[] = L"\u00e9\u20ac";  // with its terminating zero
    ASSERT_EQ(data.size(), sizeof expected);
    EXPECT_EQ(memcmp(data.data(), expected, sizeof expected), 0);
    EXPECT_EQ(typeOf(L"Top", &data), static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<DWORD*>(data.data()), 0xFFFFFFFEu);
    EXPECT_EQ(typeOf(L"Unique", &data), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(*reinterpret_cast<DWORD*>(data.data()), 1u);
}

TEST_F(SettingsRegistryTest, ReadsValuesWrittenByOthers) {
    const wchar_t noZero[] = {L'a', L'.', L'e', L'x', L'e'};
    raw(L"sans zéro", REG_SZ, noZero, sizeof noZero);
    const wchar_t expand[] = L"%SystemRoot%\\x.dll";
    raw(L"expand", REG_EXPAND_SZ, expand, sizeof expand);
    const BYTE bin[] = {1, 2, 3, 4};
    raw(L"bin", REG_BINARY, bin, sizeof bin);
    const ULONGLONG q = 5;
    raw(L"qword", REG_QWORD, &q, sizeof q);
    raw(L"court", REG_DWORD, bin, 2);  // a DWORD of the wrong size

    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), false));
    EXPECT_EQ(s.ReadString("sans zéro"), "a.exe");
    EXPECT_EQ(s.ReadString("expand"), "%SystemRoot%\\x.dll");
    EXPECT_THROW(s.ReadString("bin"), SettingsError);
    EXPECT_THROW(s.ReadInteger("bin"), SettingsError);
    EXPECT_THROW(s.ReadInteger("qword"), SettingsError);
    try {
        s.ReadInteger("court");
        ADD_FAILURE();
    } catch (const SettingsError& e) {
        EXPECT_STREQ(e.what(), "Type de données incorrect pour 'court'");
    }
}

TEST_F(SettingsRegistryTest, NamesComeInTheRegistrysOwnOrder) {
    for (const wchar_t* n : {L"2", L"10", L"b", L"A", L"\u00e9"}) raw(n, REG_SZ, L"", sizeof(wchar_t));
    std::vector<std::string> expected;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumValueW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::string utf8;
        for (DWORD j = 0; j < len; ++j) utf8 += name[j] == L'\u00e9' ? "é" : std::string(1, static_cast<char>(name[j]));
        expected.push_back(utf8);
    }
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), false));
    EXPECT_EQ(s.GetValueNames(), expected);
    EXPECT_EQ(expected.size(), 5u);
}

TEST_F(SettingsRegistryTest, RefusedWriteGivesTheStoreMessage) {
    // A key opened read-only by someone else is not ours: open ours, then
    // make it unwritable by deleting it from under the handle.
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key() + "\\Params", true));
    const std::string k = store.key().substr(1) + "\\Params";
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, std::wstring(k.begin(), k.end()).c_str()), ERROR_SUCCESS);
    try {
        s.WriteInteger("State", 1);
        ADD_FAILURE();
    } catch (const SettingsError& e) {
        EXPECT_STREQ(e.what(), "Erreur à la définition des données pour 'State'");
    }
}

// A key that is there but lets no one in is an unreadable store, as an
// unreadable file is on Linux: reported at start, skipped by a later writer.
TEST_F(SettingsRegistryTest, AKeyNoOneMayOpenIsUnreadable) {
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key, L"Params", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    alignas(DWORD) BYTE aclBuf[sizeof(ACL)];
    ACL* acl = reinterpret_cast<ACL*>(aclBuf);
    ASSERT_TRUE(InitializeAcl(acl, sizeof aclBuf, ACL_REVISION));  // empty: nothing granted
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    ASSERT_EQ(RegSetKeySecurity(sub, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    RegCloseKey(sub);
    HKEY probe = nullptr;
    const LONG denied = RegOpenKeyExW(key, L"Params", 0, KEY_ALL_ACCESS, &probe);
    if (probe) RegCloseKey(probe);
    if (denied == ERROR_SUCCESS) GTEST_SKIP() << "this registry does not enforce key security";

    Settings s;
    EXPECT_THROW(s.OpenKey(store.key() + "\\Params", false), SettingsUnreadable);
    EXPECT_FALSE(s.OpenKey(store.key() + "\\Params", true));
    EXPECT_TRUE(s.OpenKey(store.key(), false));  // the rest of the store is not affected

    // The owner may always give the key its rights back, for the clean-up.
    ASSERT_EQ(RegOpenKeyExW(key, L"Params", 0, WRITE_DAC, &sub), ERROR_SUCCESS);
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
    EXPECT_EQ(RegSetKeySecurity(sub, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    RegCloseKey(sub);
}

}  // namespace
