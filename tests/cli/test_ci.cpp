// What a CI job relies on: no green run on an empty folder, a full disk, a
// clash of names or a copy killed half-way; why a file cannot be opened;
// and the README's recipe against a prefix made by wineboot.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/filecopy.h"
#include "platform/platform.h"
#include "tests/cli/clirun.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using clirun::Outcome;
using clirun::quote;
namespace fs = std::filesystem;

// 64-bit images against a Windows folder of one kernel32.dll; no default folder.
class Ci : public ::testing::Test {
protected:
    void SetUp() override {
        win = dir.mkdir("win");
        write(platform::joinPath(dir.mkdir("win/System32"), "kernel32.dll"), {});
        search = "--dll-path " + quote(dir.mkdir("empty")) + " --windows " + quote(win) + " ";
    }
    static void write(const std::string& path, const std::vector<std::string>& names,
                      const std::vector<std::string>& exports = {}, std::size_t padTo = 0) {
        pew::Image image;
        image.pe32plus = true;
        for (const std::string& n : names) image.import(n);
        image.exporting(exports);
        std::vector<std::uint8_t> bytes = pew::build(image);
        if (bytes.size() < padTo) bytes.resize(padTo);
        pew::writeFile(path, bytes);
    }
    Outcome cli(const std::string& args) { return clirun::runSplit(search + args, dir.file("stderr.txt")); }

    testutil::TempDir dir;
    std::string win, search;
};

}  // namespace

// A folder that yields nothing fails the job; -R takes the subfolders, the
// folder's own files first, then each subfolder's in name order.
TEST_F(Ci, FolderWithoutPeFileFailsAndRecursionTakesSubfolders) {
    const std::string dist = dir.mkdir("dist");
    dir.mkdir("dist/bin");
    dir.mkdir("dist/bin/plugins");
    write(dir.file("dist/bin/b.exe"), {"KERNEL32.dll"});
    write(dir.file("dist/bin/plugins/a.dll"), {"KERNEL32.dll"});
    write(dir.file("dist/z.dll"), {"KERNEL32.dll"});
    pew::writeFile(dir.file("dist/readme.txt"), std::string("not a program"));
    const std::string empty = dir.mkdir("nothing");
    for (const char* options : {"-r --missing ", "--ship ", "--format json "}) {
        const Outcome r = cli(options + quote(empty));
        EXPECT_EQ(r.status, 1) << options;
        EXPECT_EQ(r.err, "tavelin-report: " + empty +
                             ": no PE file (.exe, .dll, .ocx, .sys, .cpl, .drv, .node, .pyd) in this folder; -R takes "
                             "its subfolders too\n")
            << options;
    }
    // One empty folder among good files still fails.
    EXPECT_EQ(cli("--missing " + quote(dist) + " " + quote(empty)).status, 1);

    const Outcome deep = cli("-R --format csv " + quote(dist));
    EXPECT_EQ(deep.status, 0) << deep.err;
    std::vector<std::string> listed;
    std::istringstream in(deep.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("listed,", 0) == 0) {
            const std::size_t file = line.find(',', 7) + 1;
            listed.push_back(line.substr(file, line.find(',', file) - file));
        }
    ASSERT_EQ(listed.size(), 3u) << deep.out;
    EXPECT_EQ(listed, (std::vector<std::string>{"z.dll", "b.exe", "a.dll"}));
    EXPECT_EQ(cli("--recurse --missing " + quote(empty)).status, 1);
#ifndef _WIN32
    // A link back up the tree is walked once.
    fs::create_directory_symlink(testutil::u8(dist), testutil::u8(dir.file("dist/bin/plugins/loop")));
    const Outcome looped = cli("-R --ship " + quote(dist));
    EXPECT_EQ(looped.status, 0) << looped.err;
    const Outcome csv = cli("-R --format csv " + quote(dist));
    std::size_t rows = 0;
    for (std::size_t at = csv.out.find("\nlisted,"); at != std::string::npos; at = csv.out.find("\nlisted,", at + 1)) ++rows;
    EXPECT_EQ(rows, 3u) << csv.out;
#endif
}

// --ship refuses, like --copy-to, two different files under one name, names
// who needs each, and the one that would serve all of them.
TEST_F(Ci, ShipRefusesTwoFilesUnderOneName) {
    const std::string a = dir.mkdir("a"), b = dir.mkdir("b");
    write(platform::joinPath(a, "tvlrt.dll"), {"KERNEL32.dll"}, {"tvl_one", "tvl_two"});
    write(platform::joinPath(b, "tvlrt.dll"), {"KERNEL32.dll"}, {"tvl_one"});
    pew::Image prog;
    prog.pe32plus = true;
    prog.import("tvlrt.dll", {pew::Function{"tvl_one"}});
    pew::writeFile(platform::joinPath(a, "one.exe"), pew::build(prog));
    pew::writeFile(platform::joinPath(b, "two.exe"), pew::build(prog));
    const std::string both = quote(platform::joinPath(a, "one.exe")) + " " + quote(platform::joinPath(b, "two.exe"));
    for (const char* options : {"--ship ", "--ship --format json "}) {
        const Outcome r = cli(options + both);
        EXPECT_EQ(r.status, 1) << options;
        EXPECT_NE(r.err.find("--ship: 2 different files named tvlrt.dll cannot all go beside the programs:\n  " +
                             platform::joinPath(a, "tvlrt.dll") + " for " + platform::joinPath(a, "one.exe") + "\n  " +
                             platform::joinPath(b, "tvlrt.dll") + " for " + platform::joinPath(b, "two.exe") + "\n  " +
                             platform::joinPath(a, "tvlrt.dll") + " would serve them all"),
                  std::string::npos)
            << r.err;
    }
    // a's lacks what two.exe now needs, b's what one.exe needs: none serves both.
    write(platform::joinPath(b, "tvlrt.dll"), {"KERNEL32.dll"}, {"tvl_one", "tvl_three"});
    pew::Image needsThree;
    needsThree.pe32plus = true;
    needsThree.import("tvlrt.dll", {pew::Function{"tvl_three"}});
    pew::writeFile(platform::joinPath(b, "two.exe"), pew::build(needsThree));
    pew::Image needsTwo;
    needsTwo.pe32plus = true;
    needsTwo.import("tvlrt.dll", {pew::Function{"tvl_two"}});
    pew::writeFile(platform::joinPath(a, "one.exe"), pew::build(needsTwo));
    EXPECT_NE(cli("--ship " + both).err.find("no one of them serves them all"), std::string::npos);
}

// Options where a value belongs, a Windows folder that is not there, a copy
// of nothing.
TEST_F(Ci, SmallPointsOfTheCommandLine) {
    write(dir.file("prog.exe"), {"KERNEL32.dll"});
    const Outcome why = clirun::run("--why -d ntdll.dll " + quote(dir.path()));
    EXPECT_EQ(why.status, 2);
    EXPECT_NE(why.out.find("tavelin-report: --why needs a DLL name, not the option '-d'"), std::string::npos) << why.out;
    const Outcome noWindows = clirun::run("--windows " + quote(dir.file("nowhere")) + " " + quote(dir.file("prog.exe")));
    EXPECT_EQ(noWindows.status, 2);
    EXPECT_NE(noWindows.out.find("--windows: '" + dir.file("nowhere") + "' does not exist"), std::string::npos)
        << noWindows.out;
    const std::string out = dir.file("bundle");
    const Outcome nothing = cli("--copy-to " + quote(out) + " " + quote(dir.file("prog.exe")));
    EXPECT_EQ(nothing.status, 0) << nothing.err;
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(nothing.err, "tavelin-report: --copy-to: the ship set is empty: nothing to copy, " + out + " not created\n");
    EXPECT_FALSE(platform::pathExists(out));
}

#ifndef _WIN32
// A full disk or a closed output is status 3 with its cause, never a pass.
TEST_F(Ci, FullOutputIsAnError) {
    write(dir.file("prog.exe"), {"KERNEL32.dll", "tvlmine.dll"});
    write(dir.file("tvlmine.dll"), {"KERNEL32.dll"});
    for (const char* options : {"-r ", "-r --format json ", "--ship ", "--ship --format json ", "--tree "}) {
        const Outcome r = cli(options + quote(dir.file("prog.exe")) + " >/dev/full");
        EXPECT_EQ(r.status, 3) << options;
        EXPECT_NE(r.err.find("tavelin-report: cannot write the output: No space left on device"), std::string::npos)
            << options << r.err;
    }
}

// Each reason a file cannot be opened, in JSON and once on standard error;
// the report's line stays "non ouvrable".
TEST_F(Ci, ReasonOfNonOuvrable) {
    chmod(dir.path().c_str(), 0755);
    pew::writeFile(dir.file("plain"), std::string("x"));
    fs::create_symlink("loop.exe", testutil::u8(dir.file("loop.exe")));
    ASSERT_EQ(mkfifo(dir.file("fifo.exe").c_str(), 0644), 0);
    write(dir.file("locked.exe"), {});
    chmod(dir.file("locked.exe").c_str(), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.file("none.exe"), "no-such-file"},     {dir.file("plain") + "/x.dll", "not-a-folder"},
        {dir.file("plain") + "/", "not-a-folder"},  {dir.file("loop.exe"), "too-many-links"},
        {dir.file("fifo.exe"), "not-a-file"},       {dir.file("locked.exe"), "permission-denied"},
    };
    std::string args;
    for (const auto& c : cases) args += " " + quote(c.first);
    // Root reads every file: the permission is tried as nobody.
    std::string as;
    if (geteuid() == 0) {
        if (!testutil::haveCommand("setpriv")) GTEST_SKIP() << "root, and no setpriv to drop it";
        as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const std::string errFile = dir.file("stderr.txt");
    Outcome r{0, {}, {}};
    r.out = testutil::capture(as + quote(TAVELIN_REPORT_EXE) + " --format json" + args + " 2>" + quote(errFile));
    r.err = testutil::fileBytes(errFile);
    for (const auto& [path, key] : cases) {
        SCOPED_TRACE(path);
        EXPECT_NE(r.out.find("\"path\": \"" + path + " non ouvrable\", \"version\": \"erreur\", \"problem\": "
                             "\"not-readable\""),
                  std::string::npos);
        const std::size_t row = r.out.find("\"importer-path\": \"" + path + "\", \"file-version\": null, \"via\": null, "
                                           "\"via-path\": null, \"reason\": \"" + key + "\"");
        EXPECT_NE(row, std::string::npos) << r.out;
    }
    for (const char* text : {": no such file\n", ": a part of the path is not a folder\n",
                             ": too many levels of symbolic links\n", ": not a regular file\n", ": permission denied\n"})
        EXPECT_NE(r.err.find(text), std::string::npos) << text << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6) << r.err;
    // Without such a file the column is not there.
    write(dir.file("fine.exe"), {});
    EXPECT_EQ(clirun::run("--format csv " + quote(dir.file("fine.exe"))).out.find("reason"), std::string::npos);
}

// A copy killed half-way leaves every real name whole or absent; the next
// run removes its hidden staged file (and only files of that exact pattern
// no running copy holds) before copying.
TEST_F(Ci, KilledCopyIsCleanedByTheNextRun) {
    const std::string app = dir.mkdir("app"), out = dir.mkdir("out");
    write(platform::joinPath(app, "prog.exe"), {"KERNEL32.dll", "tvlbig.dll"});
    // Large enough that the copy is still writing when it is killed.
    write(platform::joinPath(app, "tvlbig.dll"), {"KERNEL32.dll"}, {}, 256u << 20);
    const std::string exe = TAVELIN_REPORT_EXE, dllPath = dir.file("empty");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(exe.c_str(), exe.c_str(), "--dll-path", dllPath.c_str(), "--windows", win.c_str(), "--copy-to",
              out.c_str(), platform::joinPath(app, "prog.exe").c_str(), nullptr);
        _exit(98);
    }
    bool staged = false;
    for (int i = 0; i < 20000 && !staged; ++i) {
        for (const fs::directory_entry& e : fs::directory_iterator(testutil::u8(out)))
            staged = staged || platform::isStagedName(testutil::str(e.path().filename()));
        if (!staged) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string target = platform::joinPath(out, "tvlbig.dll");
    const bool killedInTime = WIFSIGNALED(status);
    if (killedInTime) {
        EXPECT_FALSE(platform::pathExists(target)) << "a real name before the copy was whole";
    }

    // Ours left by a kill (made here when the machine copied faster than the
    // kill), a look-alike of another pattern, and one a running copy holds.
    const std::string leftover = platform::joinPath(out, ".tvlbig.dll.tavelin-Ab12Cd");
    if (!killedInTime) pew::writeFile(leftover, std::string("partial"));
    const std::string other = platform::joinPath(out, ".tvlbig.dll.tavelin-notmine"),
                      held = platform::joinPath(out, ".tvlother.dll.tavelin-Zz99zz");
    pew::writeFile(other, std::string("keep"));
    pew::writeFile(held, std::string("busy"));
    const int holder = open(held.c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);

    std::vector<std::string> before;
    for (const fs::directory_entry& e : fs::directory_iterator(testutil::u8(out)))
        if (platform::isStagedName(testutil::str(e.path().filename())) && testutil::str(e.path()) != held)
            before.push_back(testutil::str(e.path()));
    ASSERT_FALSE(before.empty());
    const Outcome again = cli("--copy-to " + quote(out) + " " + quote(platform::joinPath(app, "prog.exe")));
    close(holder);
    EXPECT_EQ(again.status, 0) << again.err;
    for (const std::string& b : before)
        EXPECT_NE(again.err.find("tavelin-report: --copy-to: removed " + b + ", left by a copy that was stopped\n"),
                  std::string::npos)
            << again.err;
    EXPECT_TRUE(platform::pathExists(other));
    EXPECT_TRUE(platform::pathExists(held));
    EXPECT_EQ(fs::file_size(testutil::u8(target)), 256u << 20);
    std::size_t staging = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(testutil::u8(out)))
        staging += platform::isStagedName(testutil::str(e.path().filename()));
    EXPECT_EQ(staging, 1u);  // the held one
}

// The README's CI recipe, as written, on real MinGW-w64 programs against a
// prefix made by wineboot: a whole payload passes, one that forgot its
// libstdc++ fails; --add-dll-path would have let the toolchain's copy hide it.
TEST(CiRecipe, CatchesAForgottenRuntimeAgainstAWinePrefix) {
    const std::string windows = std::string(TAVELIN_SXS_WINEPREFIX) + "/drive_c/windows";
    std::error_code ec;
    if (!fs::is_directory(testutil::u8(windows + "/system32"), ec)) {
        if (testutil::haveCommand("wineboot")) FAIL() << "wineboot is installed but no prefix was made";
        GTEST_SKIP() << "no Wine prefix";
    }
    const char* compiler = "x86_64-w64-mingw32-g++-posix";
    if (!testutil::haveCommand(compiler)) GTEST_SKIP() << "no " << compiler;
    testutil::TempDir dir;
    pew::writeFile(dir.file("hello.cpp"),
                   std::string("#include <iostream>\n#include <thread>\nint main() { std::thread t([] { std::cout << "
                               "\"hi\\n\"; }); t.join(); }\n"));
    const std::string bin = dir.mkdir("payload/bin");
    ASSERT_EQ(std::system((std::string(compiler) + " -O1 -o " + quote(bin + "/hello.exe") + " " +
                           quote(dir.file("hello.cpp")))
                              .c_str()),
              0);
    ASSERT_TRUE(testutil::changeDirectory(dir.path()));
    const std::string err = dir.file("stderr.txt");
    ASSERT_EQ(clirun::runSplit("--copy-to payload/bin payload/bin", err).status, 0);

    const std::string recipe = "-r --missing --windows " + quote(windows) + " --dll-path payload/bin payload/bin";
    const Outcome whole = clirun::runSplit(recipe, err);
    EXPECT_EQ(whole.status, 0) << whole.out << whole.err;
    EXPECT_EQ(whole.out, "");
    fs::remove(testutil::u8(bin + "/libstdc++-6.dll"));
    const Outcome forgot = clirun::runSplit(recipe, err);
    EXPECT_EQ(forgot.status, 1);
    EXPECT_EQ(forgot.out, "libstdc++-6.dll invisible pour " + dir.file("payload/bin/hello.exe") + "\n");
    EXPECT_EQ(forgot.err, "");
    const Outcome hidden = clirun::runSplit(
        "-r --missing --windows " + quote(windows) + " --add-dll-path payload/bin payload/bin", err);
    EXPECT_EQ(hidden.status, 0) << "the toolchain's runtime no longer hides it: the README's warning is stale";
    // Without --windows nor defaults, one hint says why the system DLLs are missing.
    const Outcome bare = clirun::runSplit("-r --missing --dll-path payload/bin payload/bin", err);
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.err,
              "tavelin-report: no system folder for x64 programs (--dll-path replaces the default folders, and no "
              "--windows is given): their system DLLs read as missing; give --windows DIR (a Windows folder, or a Wine "
              "prefix's drive_c/windows, with x64 DLLs)\n");
}
#endif
