// The Windows backend's KnownDLLs: the registry key; under Wine, whose
// prefixes may lack it, the test writes one and removes it again.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/knowndlls.h"

using namespace platform;

TEST(KnownDlls, SystemRegistry) {
    const wchar_t* path = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs";
    std::vector<std::string> names;
    if (platform::systemKnownDlls(names)) {
        EXPECT_NE(std::find(names.begin(), names.end(), "kernel32.dll"), names.end());
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        GTEST_SKIP() << "no KnownDLLs key and no right to write one";
    const wchar_t value[] = L"Kernel32.dll";
    const wchar_t folder[] = L"%SystemRoot%\\system32";
    RegSetValueExW(key, L"kernel32", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
    RegSetValueExW(key, L"DllDirectory", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder), sizeof folder);
    RegCloseKey(key);
    const bool read = platform::systemKnownDlls(names);
    const KnownDlls k = knownDllsFor("", true);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(read);
    EXPECT_EQ(names, std::vector<std::string>{"Kernel32.dll"});
    EXPECT_EQ(k.source, KnownDlls::Source::System);
    EXPECT_EQ(k.names, (std::vector<std::string>{"kernel32.dll", "ntdll.dll"}));
}
