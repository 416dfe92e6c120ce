// KnownDLLs: Wine's hive text, the prefix a Windows folder belongs to, and
// the list an importer sees.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/knowndlls.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using namespace platform;

namespace {

const std::string kHead = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";

std::vector<std::string> read(const testutil::TempDir& dir, const std::string& text, bool* ok = nullptr) {
    pew::writeFile(dir.file("system.reg"), text);
    std::vector<std::string> names;
    const bool found = readWineKnownDlls(dir.file("system.reg"), names);
    if (ok) *ok = found;
    return found ? names : std::vector<std::string>{"(none)"};
}

}  // namespace

TEST(KnownDlls, WineHiveText) {
    testutil::TempDir dir;
    const std::string key = "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\KnownDLLs] 1700000000\n";
    EXPECT_EQ(read(dir, kHead + key +
                            "#time=1da0000000000\n"
                            "\"kernel32\"=\"KERNEL32.DLL\"\n"
                            "\"DllDirectory\"=str(2):\"%SystemRoot%\\\\system32\"\n"
                            "\"DllDirectory32\"=\"%SystemRoot%\\\\syswow64\"\n"
                            "\"quoted\"=\"we\\\"ird\\x00e9.dll\"\r\n"
                            "\"bin\"=hex:6b,00,\\\n  65,00\n"
                            "\"num\"=dword:00000001\n"
                            "\n[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\KnownDLLs\\\\Sub] 1\n"
                            "\"inner\"=\"inner.dll\"\n"),
              (std::vector<std::string>{"kernel32.dll", "we\"irdé.dll"}));
    // ControlSet001 stands in when [System\Select] names it, wherever Select is.
    const std::string set2 = "[System\\\\ControlSet002\\\\Control\\\\Session Manager\\\\KnownDLLs] 1\n\"a\"=\"two.dll\"\n";
    const std::string set1 = "[System\\\\ControlSet001\\\\Control\\\\Session Manager\\\\KnownDLLs] 1\n\"a\"=\"one.dll\"\n";
    EXPECT_EQ(read(dir, kHead + set1 + set2), std::vector<std::string>{"one.dll"});
    EXPECT_EQ(read(dir, kHead + set1 + set2 + "[System\\\\Select] 1\n\"Current\"=dword:00000002\n"),
              std::vector<std::string>{"two.dll"});
    EXPECT_EQ(read(dir, kHead + "[system\\\\currentcontrolset\\\\control\\\\session manager\\\\knowndlls] 1\n"
                                "\"x\"=\"X.dll\"\n" + set1),
              std::vector<std::string>{"x.dll"});

    // No key, an empty one, not a hive, lines longer than any real one.
    bool ok = true;
    read(dir, kHead + "[Software\\\\Wine] 1\n\"kernel32\"=\"kernel32.dll\"\n", &ok);
    EXPECT_FALSE(ok);
    read(dir, kHead + key, &ok);
    EXPECT_TRUE(ok);
    read(dir, "REGEDIT4\n" + key + "\"k\"=\"k.dll\"\n", &ok);
    EXPECT_FALSE(ok);
    read(dir, std::string(1 << 20, 'W'), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(read(dir, kHead + key + "\"long\"=\"" + std::string(200000, 'a') + ".dll\"\n\"k\"=\"k.dll\"\n"),
              std::vector<std::string>{"k.dll"});
    std::vector<std::string> names;
    EXPECT_FALSE(readWineKnownDlls(dir.file("absent.reg"), names));
}

TEST(KnownDlls, FromTheWindowsFoldersPrefixElseWindowsOwnList) {
    testutil::TempDir dir;
    const std::string windows = dir.mkdir("prefix/drive_c/windows");
    EXPECT_EQ(wineRegistryOf(windows), dir.file("prefix/system.reg"));
    EXPECT_EQ(wineRegistryOf(windows + "/"), dir.file("prefix/system.reg"));
    EXPECT_EQ(wineRegistryOf(dir.mkdir("other/C/Windows")), "");
    EXPECT_EQ(wineRegistryOf(""), "");
    const std::string upper = dir.mkdir("p2/DRIVE_C/Windows");
    EXPECT_EQ(wineRegistryOf(upper), dir.file("p2/system.reg"));

    const std::vector<std::string>& list = windowsKnownDlls();
    EXPECT_EQ(list.size(), 28u);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));

    std::vector<std::string> system;
    if (platform::systemKnownDlls(system)) {
        // Windows (or Wine running the Windows build): the system's own list.
        const KnownDlls k = knownDllsFor(windows, false);
        EXPECT_EQ(k.source, KnownDlls::Source::System);
        EXPECT_TRUE(k.contains("NTDLL.DLL"));
        return;
    }
    KnownDlls k = knownDllsFor(windows, false);
    EXPECT_EQ(k.source, KnownDlls::Source::WindowsList);
    EXPECT_TRUE(k.contains("Kernel32.dll"));
    EXPECT_TRUE(k.contains("ntdll.dll"));
    EXPECT_FALSE(k.contains("comctl32.dll"));
    pew::writeFile(dir.file("prefix/system.reg"),
                  kHead + "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\KnownDLLs] 1\n"
                          "\"comctl32\"=\"COMCTL32.dll\"\n\"kernel32\"=\"kernel32.dll\"\n");
    k = knownDllsFor(windows, false);
    EXPECT_EQ(k.source, KnownDlls::Source::WineRegistry);
    EXPECT_EQ(k.registry, dir.file("prefix/system.reg"));
    EXPECT_EQ(k.names, (std::vector<std::string>{"comctl32.dll", "kernel32.dll", "ntdll.dll"}));
}
