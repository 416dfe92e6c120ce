// The Linux mail stand-in against a recording xdg-email put first on PATH.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/mail.h"
#include "tests/support/testutil.h"

using testing::ElementsAre;

namespace {

class FakeXdgEmail : public testing::Test {
protected:
    testutil::TempDir bin;
    std::string log = bin.file("args");
    std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const platform::MailSystem& mail = platform::realMailSystem();

    void SetUp() override {
        // Each call leaves its arguments, NUL-terminated, in the log.
        install("xdg-email",
                "#!/bin/sh\n"
                ": > '" + log + "'\n"
                "for a in \"$@\"; do printf '%s\\0' \"$a\" >> '" + log + "'; done\n"
                "exit ${FAKE_XDG_EXIT:-0}\n");
        setenv("PATH", (bin.path() + ":" + oldPath).c_str(), 1);
        unsetenv("FAKE_XDG_EXIT");
    }
    void TearDown() override { setenv("PATH", oldPath.c_str(), 1); }

    void install(const std::string& name, const std::string& script) {
        std::ofstream(bin.file(name)) << script;
        chmod(bin.file(name).c_str(), 0755);
    }

    std::vector<std::string> arguments() {
        std::ifstream in(log, std::ios::binary);
        if (!in) return {"(not run)"};
        std::vector<std::string> args;
        std::string a;
        while (std::getline(in, a, '\0')) args.push_back(a);
        return args;
    }

    std::uint32_t send(MapiMessage& m) {
        platform::MailLibrary lib = mail.load();
        EXPECT_NE(lib, nullptr);
        LPMAPISENDMAIL entry = mail.sendEntry(lib);
        EXPECT_NE(entry, nullptr);
        const std::uint32_t code = entry ? entry(0, 0, &m, MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG, 0) : 99;
        EXPECT_TRUE(mail.unload(lib));
        return code;
    }
};

TEST_F(FakeXdgEmail, ClientIsDeclaredWhenXdgEmailIsOnPath) {
    EXPECT_TRUE(mail.clientDeclared());
    testutil::TempDir empty;
    setenv("PATH", empty.path().c_str(), 1);
    EXPECT_FALSE(mail.clientDeclared());
    EXPECT_EQ(mail.load(), nullptr);
    // A file that cannot run does not count.
    std::ofstream(empty.file("xdg-email")) << "#!/bin/sh\n";
    chmod(empty.file("xdg-email").c_str(), 0644);
    EXPECT_FALSE(mail.clientDeclared());
}

TEST_F(FakeXdgEmail, LibraryReferencesAreCounted) {
    platform::MailLibrary a = mail.load();
    platform::MailLibrary b = mail.load();
    ASSERT_NE(a, nullptr);
    EXPECT_NE(mail.sendEntry(a), nullptr);
    EXPECT_EQ(mail.sendEntry(nullptr), nullptr);
    EXPECT_TRUE(mail.unload(a));
    EXPECT_TRUE(mail.unload(b));
    EXPECT_FALSE(mail.unload(a));  // no reference left
    EXPECT_FALSE(mail.unload(nullptr));
}

TEST_F(FakeXdgEmail, RecordsBecomeTheCommandLine) {
    char subject[] = "info de version";
    char body[] = "-ligne 1 \"é\"\nligne 2 $HOME `x`";
    char address[] = "SMTP:zoé@example.org";
    char f1[] = "/tmp/a b.txt";
    char f2[] = "/tmp/c.txt";
    MapiRecipDesc recip{};
    recip.ulRecipClass = MAPI_TO;
    recip.lpszAddress = address;
    MapiFileDesc files[2]{};
    files[0].lpszPathName = f1;
    files[0].nPosition = static_cast<std::uint32_t>(-1);
    files[1].lpszPathName = f2;
    files[1].nPosition = static_cast<std::uint32_t>(-1);
    MapiMessage m{};
    m.lpszSubject = subject;
    m.lpszNoteText = body;
    m.nRecipCount = 1;
    m.lpRecips = &recip;
    m.nFileCount = 2;
    m.lpFiles = files;

    EXPECT_EQ(send(m), static_cast<std::uint32_t>(SUCCESS_SUCCESS));
    EXPECT_THAT(arguments(), ElementsAre("--utf8", "--subject", subject, "--body", body, "--attach", f1, "--attach",
                                         f2, "zoé@example.org"));
    EXPECT_EQ(m.flFlags & MAPI_SENT, static_cast<FLAGS>(MAPI_SENT));
}

TEST_F(FakeXdgEmail, EmptyMessageOpensABlankComposer) {
    char smtpOnly[] = "SMTP:";
    MapiRecipDesc recip{};
    recip.ulRecipClass = MAPI_TO;
    recip.lpszAddress = smtpOnly;
    MapiMessage m{};
    m.nRecipCount = 1;
    m.lpRecips = &recip;
    EXPECT_EQ(send(m), static_cast<std::uint32_t>(SUCCESS_SUCCESS));
    EXPECT_THAT(arguments(), ElementsAre("--utf8"));
}

// 3: no mail client to open (none configured, none installed).
TEST_F(FakeXdgEmail, ExitStatusesBecomeMapiCodes) {
    char subject[] = "s";
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"1", MAPI_E_FAILURE}, {"2", MAPI_E_ATTACHMENT_NOT_FOUND}, {"3", MAPI_E_NOT_SUPPORTED},
        {"4", MAPI_E_FAILURE}, {"5", MAPI_E_ATTACHMENT_OPEN_FAILURE}, {"77", MAPI_E_FAILURE},
    };
    for (const auto& [status, code] : cases) {
        SCOPED_TRACE(status);
        setenv("FAKE_XDG_EXIT", status, 1);
        MapiMessage m{};
        m.lpszSubject = subject;
        EXPECT_EQ(send(m), code);
        EXPECT_EQ(m.flFlags & MAPI_SENT, 0u);  // nothing claims the mail went
    }
    install("xdg-email", "#!/bin/sh\nkill -9 $$\n");
    MapiMessage m{};
    EXPECT_EQ(send(m), static_cast<std::uint32_t>(MAPI_E_FAILURE));
}

TEST_F(FakeXdgEmail, InconsistentRecordsAreRefusedWithoutRunningAnything) {
    MapiMessage files{};
    files.nFileCount = 3;  // and no array
    EXPECT_EQ(send(files), static_cast<std::uint32_t>(MAPI_E_INVALID_MESSAGE));
    MapiMessage recips{};
    recips.nRecipCount = 1;
    EXPECT_EQ(send(recips), static_cast<std::uint32_t>(MAPI_E_INVALID_MESSAGE));
    EXPECT_THAT(arguments(), ElementsAre("(not run)"));

    platform::MailLibrary lib = mail.load();
    EXPECT_EQ(mail.sendEntry(lib)(0, 0, nullptr, 0, 0), static_cast<std::uint32_t>(MAPI_E_FAILURE));
    mail.unload(lib);
}

TEST_F(FakeXdgEmail, ABodyTooLongForACommandLineIsReportedAsSuch) {
    std::string body(200 * 1024, 'x');  // beyond the kernel's limit for one argument
    MapiMessage m{};
    m.lpszNoteText = body.data();
    EXPECT_EQ(send(m), static_cast<std::uint32_t>(MAPI_E_TEXT_TOO_LARGE));
}

TEST_F(FakeXdgEmail, ToolGoneAfterLoadingIsAFailure) {
    platform::MailLibrary lib = mail.load();
    ASSERT_NE(lib, nullptr);
    LPMAPISENDMAIL entry = mail.sendEntry(lib);
    std::filesystem::remove(bin.file("xdg-email"));
    setenv("PATH", bin.path().c_str(), 1);
    MapiMessage m{};
    EXPECT_EQ(entry(0, 0, &m, 0, 0), static_cast<std::uint32_t>(MAPI_E_FAILURE));
    mail.unload(lib);
}

}  // namespace
