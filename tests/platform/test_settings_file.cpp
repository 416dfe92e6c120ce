// The Linux settings store: its .reg file, hand edits, and atomic rewrites.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/settings.h"
#include "tests/platform/settings_scratch.h"
#include "tests/support/testutil.h"

using platform::Settings;
using platform::SettingsError;
using platform::SettingsUnreadable;
using testing::ElementsAre;
using testing::HasSubstr;

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void put(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> folderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SettingsFileTest : public testing::Test {
protected:
    testutil::ScratchStore store;
};

TEST_F(SettingsFileTest, WritesRegedit4TextAtTheXdgPlace) {
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        s.WriteString("0", "c:\\dlls\\\"a\".dll");
        s.WriteString("1", "/home/zoé/b.exe");
        ASSERT_TRUE(s.OpenKey(store.key() + "\\Params", true));
        s.WriteInteger("State", 42);
        s.WriteInteger("Left", -1);
        s.WriteString("Adresse", "");
    }
    EXPECT_EQ(slurp(store.file()),
              "REGEDIT4\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n"
              "\"0\"=\"c:\\\\dlls\\\\\\\"a\\\".dll\"\n"
              "\"1\"=\"/home/zoé/b.exe\"\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin\\Params]\n"
              "\"State\"=dword:0000002a\n"
              "\"Left\"=dword:ffffffff\n"
              "\"Adresse\"=\"\"\n");
}

TEST_F(SettingsFileTest, DefaultFolderIsDotConfigUnderHome) {
    testutil::TempDir home;
    const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey("\\Software\\T", true));
        s.WriteInteger("x", 1);
    }
    setenv("HOME", oldHome.c_str(), 1);
    EXPECT_TRUE(fs::exists(home.path() + "/.config/tavelin/user.reg"));
}

TEST_F(SettingsFileTest, ValuesKeepTheirOrder) {
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), true));
    for (int i = 0; i < 12; ++i) s.WriteString(std::to_string(i), "f.exe");
    s.WriteString("3", "replaced in place");
    EXPECT_THAT(s.GetValueNames(), ElementsAre("0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"));
    EXPECT_TRUE(s.DeleteValue("1"));
    s.WriteString("1", "back at the end");
    s.CloseKey();

    Settings again;
    ASSERT_TRUE(again.OpenKey(store.key(), false));
    EXPECT_THAT(again.GetValueNames(), ElementsAre("0", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "1"));
    EXPECT_EQ(again.ReadString("3"), "replaced in place");
}

const char kHandEdited[] =
    "\xEF\xBB\xBFREGEDIT4\r\n"
    "; réglages de Tavelin\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Autre]\r\n"
    "\"Gardé\"=\"oui\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\r\n"
    "  \"z\" = \"C:\\\\Ajouté\\\\À LA MAIN.EXE\"\r\n"
    "; une note\r\n"
    "\"0\"=\"a.exe\"\r\n"
    "@=\"défaut\"\r\n"
    "\"bin\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\r\n"
    "[hkey_current_user\\software\\morvane soft\\tavelin\\params]\r\n"
    "\"State\"=dword:2\r\n"
    "\"Top\"=DWORD:0000006B\r\n"
    "\"Width\"=hex(4):58,02,00,00\r\n"
    "\"Adresse\"=hex(1):61,0a,62,00\r\n"
    "\"Liste\"=hex(7):61,00,00\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Autre programme]\r\n"
    "\"x\"=dword:00000001\r\n";

TEST_F(SettingsFileTest, HandEditedFileIsReadAndItsForeignPartsKept) {
    put(store.file(), kHandEdited);
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), false));
        EXPECT_THAT(s.GetValueNames(), ElementsAre("z", "0", "", "bin"));
        EXPECT_EQ(s.ReadString("z"), "C:\\Ajouté\\À LA MAIN.EXE");
        EXPECT_EQ(s.ReadString(""), "défaut");
        EXPECT_THROW(s.ReadString("bin"), SettingsError);
        EXPECT_THROW(s.ReadInteger("bin"), SettingsError);

        ASSERT_TRUE(s.OpenKey(store.key() + "\\Params", false));
        EXPECT_EQ(s.ReadInteger("State"), 2);
        EXPECT_EQ(s.ReadInteger("Top"), 107);
        EXPECT_EQ(s.ReadInteger("Width"), 600);
        EXPECT_EQ(s.ReadString("Adresse"), "a\nb");
        EXPECT_THROW(s.ReadString("Liste"), SettingsError);

        // What closing the window does to the main key.
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        for (const std::string& n : s.GetValueNames()) s.DeleteValue(n);
        s.WriteString("0", "b.exe");
        ASSERT_TRUE(s.OpenKey(store.key() + "\\Params", true));
        s.WriteInteger("State", 0);
    }
    const std::string after = slurp(store.file());
    EXPECT_THAT(after, HasSubstr("; réglages de Tavelin\n"));
    EXPECT_THAT(after, HasSubstr("[HKEY_LOCAL_MACHINE\\Software\\Autre]\n\"Gardé\"=\"oui\"\n"));
    EXPECT_THAT(after, HasSubstr("[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n; une note\n\"0\"=\"b.exe\"\n\n"));
    EXPECT_THAT(after, HasSubstr("\"State\"=dword:00000000\n\"Top\"=DWORD:0000006B\n"));
    EXPECT_THAT(after, HasSubstr("\"Liste\"=hex(7):61,00,00\n"));
    EXPECT_THAT(after, HasSubstr("[HKEY_CURRENT_USER\\Software\\Autre programme]\n\"x\"=dword:00000001\n"));
    EXPECT_THAT(after, Not(HasSubstr("bin")));

    // And the rewritten file reads back the same.
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key() + "\\Params", false));
    EXPECT_EQ(s.ReadInteger("Width"), 600);
    EXPECT_EQ(s.ReadString("Adresse"), "a\nb");
}

TEST_F(SettingsFileTest, UnparsableFilesAreReportedAndLeftUntouched) {
    const char* broken[] = {
        "[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"0\"=\"a.exe\"\n",  // no header
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"0\"=\"a.exe\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"0\"=\"c:\\windows\\a.exe\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"0\"=\"a\" garbage\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"Top\"=dword:100000000\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"Top\"=dword:12g4\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"0\"=-\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"b\"=hex:0g\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"b\"=hex:01,\\\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin\n",
        "REGEDIT4\n[-HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n",
        "REGEDIT4\n\"0\"=\"outside any key\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\nwhat is this\n",
        "\x01\x02 binary junk",
    };
    for (const char* text : broken) {
        SCOPED_TRACE(text);
        put(store.file(), text);
        for (bool create : {false, true}) {
            Settings s;
            try {
                s.OpenKey(store.key(), create);
                ADD_FAILURE() << "no error";
            } catch (const SettingsUnreadable& e) {
                EXPECT_THAT(e.what(), HasSubstr(store.file()));
                EXPECT_THAT(e.what(), HasSubstr("illisible (ligne "));
            }
            EXPECT_THROW(s.WriteString("0", "x"), SettingsError);
        }
        EXPECT_EQ(slurp(store.file()), text);
        EXPECT_THAT(folderEntries(store.folder()), ElementsAre("user.reg"));
    }
}

TEST_F(SettingsFileTest, EmptyFileIsAnEmptyStoreAndAFolderIsAnError) {
    put(store.file(), "");
    Settings s;
    EXPECT_FALSE(s.OpenKey(store.key(), false));
    ASSERT_TRUE(s.OpenKey(store.key(), true));
    s.WriteString("0", "a.exe");
    s.CloseKey();
    EXPECT_THAT(slurp(store.file()), HasSubstr("\"0\"=\"a.exe\""));

    fs::remove(store.file());
    fs::create_directories(store.file());
    Settings t;
    EXPECT_THROW(t.OpenKey(store.key(), false), SettingsUnreadable);
    EXPECT_THROW(t.OpenKey(store.key(), true), SettingsUnreadable);
    EXPECT_TRUE(fs::is_directory(store.file()));
}

TEST_F(SettingsFileTest, RewritesLeaveNoTemporaryFilesAndKeepTheMode) {
    put(store.file(), "REGEDIT4\n");
    chmod(store.file().c_str(), 0644);
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        for (int i = 0; i < 20; ++i) s.WriteString(std::to_string(i), "f.exe");
    }
    EXPECT_THAT(folderEntries(store.folder()), ElementsAre("user.reg"));
    struct stat st;
    ASSERT_EQ(stat(store.file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(SettingsFileTest, ASymbolicLinkStaysALink) {
    testutil::TempDir dotfiles;
    const std::string real = dotfiles.file("tavelin.reg");
    put(real, "REGEDIT4\n");
    fs::create_directories(store.folder());
    fs::create_symlink(real, store.file());
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        s.WriteString("0", "a.exe");
    }
    EXPECT_TRUE(fs::is_symlink(store.file()));
    EXPECT_THAT(slurp(real), HasSubstr("\"0\"=\"a.exe\""));
    EXPECT_THAT(folderEntries(dotfiles.path()), ElementsAre("tavelin.reg"));
}

// A rewrite that cannot complete (here: the file size limit, which binds root
// as well) reports the store's message for the first value written and
// leaves the old file whole.
TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFile) {
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        s.WriteString("0", "old.exe");
    }
    const std::string before = slurp(store.file());

    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = old;
    tight.rlim_cur = before.size() + 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    std::string error;
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), true));
    EXPECT_TRUE(s.DeleteValue("0"));
    s.WriteString("1", std::string(200, 'x'));
    s.WriteString("2", "y");
    try {
        s.CloseKey();
    } catch (const SettingsError& e) {
        error = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);

    EXPECT_EQ(error, "Erreur à la définition des données pour '1'");
    EXPECT_EQ(slurp(store.file()), before);
    EXPECT_THAT(folderEntries(store.folder()), ElementsAre("user.reg"));
    // Refused, the changes are gone with the key: none is pretended stored.
    ASSERT_TRUE(s.OpenKey(store.key(), false));
    EXPECT_THAT(s.GetValueNames(), ElementsAre("0"));
    EXPECT_FALSE(s.ValueExists("1"));
}

// Thousands of values written and deleted in one open key: the file stays
// as it was until the key closes, then is replaced once; an error on its way
// out of the key's user leaves it as it was.
TEST_F(SettingsFileTest, OneOpenKeyIsOneRewrite) {
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        for (int i = 0; i < 3000; ++i) s.WriteString(std::to_string(i), "old" + std::to_string(i));
    }
    const std::string before = slurp(store.file());
    struct stat st;
    ASSERT_EQ(stat(store.file().c_str(), &st), 0);
    const ino_t inode = st.st_ino;
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        for (const std::string& n : s.GetValueNames()) ASSERT_TRUE(s.DeleteValue(n));
        for (int i = 0; i < 2000; ++i) s.WriteString(std::to_string(i), "new" + std::to_string(i));
        EXPECT_EQ(s.ReadString("1999"), "new1999");
        ASSERT_EQ(stat(store.file().c_str(), &st), 0);
        EXPECT_EQ(st.st_ino, inode);  // a process killed here leaves the old file
        EXPECT_EQ(slurp(store.file()), before);
        EXPECT_THAT(folderEntries(store.folder()), ElementsAre("user.reg"));
        s.CloseKey();
    }
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), false));
        EXPECT_EQ(s.GetValueNames().size(), 2000u);
        EXPECT_EQ(s.ReadString("0"), "new0");
        EXPECT_FALSE(s.ValueExists("2500"));
    }
    const std::string after = slurp(store.file());
    try {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        for (const std::string& n : s.GetValueNames()) s.DeleteValue(n);
        s.WriteString("0", "half");
        throw std::runtime_error("interrupted");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(slurp(store.file()), after);
}

TEST_F(SettingsFileTest, ReadOnlyFolderRefusesWrites) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        s.WriteString("0", "old.exe");
    }
    const std::string before = slurp(store.file());
    chmod(store.folder().c_str(), 0555);
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), true));
    s.WriteString("0", "new.exe");
    EXPECT_THROW(s.CloseKey(), SettingsError);
    chmod(store.folder().c_str(), 0755);
    EXPECT_EQ(slurp(store.file()), before);
    EXPECT_THAT(folderEntries(store.folder()), ElementsAre("user.reg"));
}

TEST_F(SettingsFileTest, UncreatableFolderRefusesWrites) {
    // The "tavelin" folder is a file: the store cannot be made there.
    put(store.folder(), "not a folder");
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), true));
    s.WriteInteger("Top", 1);
    EXPECT_THROW(s.CloseKey(), SettingsError);
    EXPECT_EQ(slurp(store.folder()), "not a folder");
}

}  // namespace
