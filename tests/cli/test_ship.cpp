// --ship and --copy-to: which DLLs go beside the programs, what stops them,
// and a bundle folder that is whole or untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "inspect/redist.h"
#include "platform/filecopy.h"
#include "platform/platform.h"
#include "tests/cli/clirun.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using clirun::Outcome;
using clirun::quote;
namespace fs = std::filesystem;

// As a JSON string holds the text.
std::string js(std::string text) {
    for (std::size_t at = 0; (at = text.find('\\', at)) != std::string::npos; at += 2) text.insert(at, 1, '\\');
    return text;
}

std::string listed(const std::string& path) { return platform::listPath(path); }

const std::string kVcNotice =
    "vcruntime140.dll: Visual C++ 2015-2022 redistribuable — installez-le sur la cible ou livrez la copie de "
    "Microsoft à côté du programme\n";

// Programs of 64 bits in `app`, a fake Windows folder whose System32 holds
// kernel32.dll and vcruntime140.dll, and no default folder.
class Ship : public ::testing::Test {
protected:
    void SetUp() override {
        app = dir.mkdir("app");
        libs = dir.mkdir("libs");
        win = dir.mkdir("win");
        system32 = dir.mkdir(platform::joinPath("win", "System32"));
        write(platform::joinPath(system32, "kernel32.dll"), {});
        write(platform::joinPath(system32, "vcruntime140.dll"), {"KERNEL32.dll"});
        pew::Image core;
        core.pe32plus = true;
        core.import("KERNEL32.dll").version(pew::VersionInfo::simple("2.1"));
        pew::writeFile(platform::joinPath(app, "tvlcore.dll"), pew::build(core));
        write(platform::joinPath(libs, "tvlextra.dll"), {"tvlcore.dll"});
        search = "--dll-path " + quote(dir.mkdir("empty")) + " --windows " + quote(win) + " --add-dll-path " +
                 quote(libs);
    }
    // A 64-bit image importing `names`.
    static void write(const std::string& path, const std::vector<std::string>& names, bool wine = false) {
        pew::Image image;
        image.pe32plus = true;
        for (const std::string& n : names) image.import(n);
        std::vector<std::uint8_t> bytes = pew::build(image);
        // Where winebuild puts its mark, between the DOS and NT headers.
        if (wine) std::memcpy(bytes.data() + 0x40, "Wine builtin DLL", 16);
        pew::writeFile(path, bytes);
    }
    Outcome cli(const std::string& args) { return clirun::runSplit(search + " " + args, dir.file("stderr.txt")); }

    testutil::TempDir dir;
    std::string app, libs, win, system32, search;
};

}  // namespace

TEST(Redistributables, NamedByPackageExceptWhatWindowsShips) {
    const std::pair<const char*, const char*> named[] = {
        {"vcruntime140.dll", "Visual C++ 2015-2022"}, {"VCRUNTIME140_1.DLL", "Visual C++ 2015-2022"},
        {"msvcp140_atomic_wait.dll", "Visual C++ 2015-2022"}, {"mfc140u.dll", "Visual C++ 2015-2022"},
        {"msvcr120.dll", "Visual C++ 2013"}, {"msvcp110.dll", "Visual C++ 2012"}, {"atl110.dll", "Visual C++ 2012"},
        {"msvcr100.dll", "Visual C++ 2010"}, {"vcomp90.dll", "Visual C++ 2008"}, {"msvcp80.dll", "Visual C++ 2005"},
        {"msvcr71.dll", "Visual C++ .NET 2003"}, {"d3dx9_43.dll", "DirectX End-User Runtime"},
        {"d3dcompiler_46.dll", "DirectX End-User Runtime"}, {"xinput1_3.dll", "DirectX End-User Runtime"},
        {"xaudio2_7.dll", "DirectX End-User Runtime"}, {"X3DAudio1_7.dll", "DirectX End-User Runtime"},
    };
    for (const auto& [name, package] : named) {
        ASSERT_NE(shipping::redistributableOf(name), nullptr) << name;
        EXPECT_STREQ(shipping::redistributableOf(name), package) << name;
    }
    for (const char* windows : {"msvcrt.dll", "msvcp60.dll", "msvcirt.dll", "mfc42u.dll", "atl.dll",
                                "d3dcompiler_47.dll", "xinput1_4.dll", "xinput9_1_0.dll", "xaudio2_9.dll", "ucrtbase.dll"})
        EXPECT_EQ(shipping::redistributableOf(windows), nullptr) << windows;
    for (const char* debug : {"msvcp140d.dll", "MSVCR120D.DLL", "vcruntime140_1d.dll", "ucrtbased.dll", "concrt140d.dll",
                              "vccorlib140d.dll", "mfc140ud.dll", "msvcp140d_atomic_wait.dll"}) {
        EXPECT_TRUE(shipping::isDebugRuntime(debug)) << debug;
        EXPECT_EQ(shipping::redistributableOf(debug), nullptr) << debug;  // refused, not installed
    }
    for (const char* release : {"msvcp140.dll", "vcruntime140.dll", "mfc140u.dll", "msvcrt.dll", "ucrtbase.dll"})
        EXPECT_FALSE(shipping::isDebugRuntime(release)) << release;
}

TEST_F(Ship, WineStandInsAreRecognisedByTheirMark) {
    write(dir.file("wine.dll"), {}, true);
    write(dir.file("plain.dll"), {});
    pew::writeFile(dir.file("tiny.dll"), std::string("MZ"));
    EXPECT_TRUE(shipping::isWineStandIn(dir.file("wine.dll")));
    EXPECT_FALSE(shipping::isWineStandIn(dir.file("plain.dll")));
    EXPECT_FALSE(shipping::isWineStandIn(dir.file("tiny.dll")));
    EXPECT_FALSE(shipping::isWineStandIn(dir.file("absent.dll")));
    if (const std::string wine = testutil::wineX64Folder(); !wine.empty()) {
        EXPECT_TRUE(shipping::isWineStandIn(platform::joinPath(wine, "vcruntime140.dll")));
    }
}

// The set holds what comes from the program's, the user's and the
// toolchain's folders, each once in closure order, never the system's, an
// API set's or Wine's; a redistributable of the system folders is named.
TEST_F(Ship, SetHoldsOnlyWhatWindowsLacks) {
    write(platform::joinPath(app, "prog.exe"), {"tvlcore.dll", "KERNEL32.dll", "vcruntime140.dll", "tvlextra.dll",
                                                "api-ms-win-tvl-l1-1-0.dll"});
    write(platform::joinPath(app, "api-ms-win-tvl-l1-1-0.dll"), {});
    write(platform::joinPath(app, "second.exe"), {"tvlextra.dll"});
    const std::string prog = listed(platform::joinPath(app, "prog.exe")), second = listed(platform::joinPath(app, "second.exe"));
    const std::string core = listed(platform::joinPath(app, "tvlcore.dll")), extra = listed(platform::joinPath(libs, "tvlextra.dll"));

    const Outcome r = cli("--ship " + quote(prog) + " " + quote(second));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, core + "\n" + extra + "\n");
    EXPECT_EQ(r.err, kVcNotice);

    const Outcome json = cli("--ship --format json " + quote(prog) + " " + quote(second));
    EXPECT_EQ(json.out, "[\n {\"file\": \"tvlcore.dll\", \"path\": \"" + js(listed(app)) +
                            "\", \"version\": \"2.1\", \"file-version\": \"1.0.0.0\", \"machine\": \"x64\", "
                            "\"origin\": \"app\", \"needed-by\": [\"" + js(prog) + "\", \"" + js(second) + "\"]},\n"
                            " {\"file\": \"tvlextra.dll\", \"path\": \"" + js(listed(libs)) +
                            "\", \"version\": null, \"file-version\": null, \"machine\": \"x64\", "
                            "\"origin\": \"user\", \"needed-by\": [\"" + js(prog) + "\", \"" + js(second) + "\"]}\n]\n");

    // Microsoft's own copy beside a program goes with it; Wine's never does.
    const std::string vendor = dir.mkdir("vendor"), wined = dir.mkdir("winecopy");
    write(platform::joinPath(vendor, "vcruntime140.dll"), {});
    write(platform::joinPath(wined, "vcruntime140.dll"), {}, true);
    for (const std::string& d : {vendor, wined}) write(platform::joinPath(d, "prog.exe"), {"vcruntime140.dll"});
    const Outcome own = cli("--ship " + quote(platform::joinPath(vendor, "prog.exe")));
    EXPECT_EQ(own.out, listed(platform::joinPath(vendor, "vcruntime140.dll")) + "\n");
    EXPECT_EQ(own.err, "");
    const Outcome wines = cli("--ship " + quote(platform::joinPath(wined, "prog.exe")));
    EXPECT_EQ(wines.out, "");
    EXPECT_EQ(wines.err, kVcNotice);
    EXPECT_EQ(wines.status, 0);
}

// Wine's real folder as the user's: its DLLs stand for Windows' and none is
// shipped, its Visual C++ runtime included.
TEST_F(Ship, WinesFolderIsNeverShippedFrom) {
    const std::string wine = testutil::wineX64Folder();
    if (wine.empty()) GTEST_SKIP() << "no Wine";
    write(platform::joinPath(app, "vc.exe"), {"vcruntime140.dll", "KERNEL32.dll", "tvlcore.dll"});
    const Outcome r = clirun::runSplit("--dll-path " + quote(wine) + " --ship " + quote(platform::joinPath(app, "vc.exe")),
                                       dir.file("stderr.txt"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, listed(platform::joinPath(app, "tvlcore.dll")) + "\n");
    EXPECT_EQ(r.err, kVcNotice);
}

// A DLL found nowhere, or a debug runtime under a program or a DLL of the
// set, found or not, gives status 1; nothing is copied then. A system DLL's
// own debug import is not the program's to ship.
TEST_F(Ship, MissingAndDebugRuntimesRefuseTheSet) {
    write(platform::joinPath(app, "broken.exe"), {"tvlcore.dll", "tvlnowhere.dll"});
    write(platform::joinPath(app, "tvldbg.dll"), {"MSVCP140D.dll"});
    write(platform::joinPath(system32, "msvcp140d.dll"), {});
    write(platform::joinPath(app, "debug.exe"), {"ucrtbased.dll", "tvldbg.dll"});
    write(platform::joinPath(system32, "tvlsys.dll"), {"msvcr90d.dll"});
    write(platform::joinPath(system32, "msvcr90d.dll"), {});
    write(platform::joinPath(app, "sys.exe"), {"tvlsys.dll"});
    const std::string broken = listed(platform::joinPath(app, "broken.exe")), debug = listed(platform::joinPath(app, "debug.exe"));
    const std::string out = dir.file("out");

    const Outcome missing = cli("--ship " + quote(broken));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, listed(platform::joinPath(app, "tvlcore.dll")) + "\n");
    EXPECT_EQ(missing.err, "tvlnowhere.dll invisible pour " + broken + "\n");
    EXPECT_EQ(cli("--ignore tvlnowhere.dll --ship " + quote(broken)).status, 0);

    const Outcome refused = cli("--ship " + quote(debug));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "ucrtbased.dll invisible pour " + debug + "\n" +
                               "ucrtbased.dll: bibliothèque de débogage, non redistribuable (pour " + debug + ")\n" +
                               "MSVCP140D.dll: bibliothèque de débogage, non redistribuable (pour " +
                               listed(platform::joinPath(app, "tvldbg.dll")) + ")\n");
    EXPECT_EQ(cli("--ship " + quote(platform::joinPath(app, "sys.exe"))).status, 0);

    for (const std::string& file : {broken, debug}) {
        const Outcome copy = cli("--copy-to " + quote(out) + " " + quote(file));
        EXPECT_EQ(copy.status, 1);
        EXPECT_EQ(copy.out, "");
        EXPECT_NE(copy.err.find("tavelin-report: --copy-to: nothing copied to "), std::string::npos) << copy.err;
        EXPECT_FALSE(platform::pathExists(out));
    }
}

// The bundle holds the sources' bytes; a second run writes nothing and keeps
// the times; a different file of the same name, whatever its case, is
// replaced under its own spelling and named; the program's own folder
// already holds its app-local DLLs.
TEST_F(Ship, BundleIsWholeAndASecondRunCopiesNothing) {
    write(platform::joinPath(app, "prog.exe"), {"tvlcore.dll", "tvlextra.dll", "KERNEL32.dll"});
    const std::string prog = quote(platform::joinPath(app, "prog.exe"));
    const std::string out = platform::joinPath(dir.file("dist"), "bin");
    const std::string core = platform::joinPath(app, "tvlcore.dll"), extra = platform::joinPath(libs, "tvlextra.dll");
    const auto entries = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(testutil::u8(out))) names.push_back(testutil::str(e.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    };

    const Outcome first = cli("--copy-to " + quote(out) + " " + prog);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, listed(core) + " -> " + platform::joinPath(out, "tvlcore.dll") + "\n" + listed(extra) + " -> " +
                             platform::joinPath(out, "tvlextra.dll") + "\n");
    EXPECT_EQ(entries(), (std::vector<std::string>{"tvlcore.dll", "tvlextra.dll"}));
    EXPECT_EQ(testutil::fileBytes(platform::joinPath(out, "tvlcore.dll")), testutil::fileBytes(core));
    EXPECT_EQ(testutil::fileBytes(platform::joinPath(out, "tvlextra.dll")), testutil::fileBytes(extra));

    // Old times, as the file system stores them (Windows keeps 100 ns steps).
    std::vector<fs::file_time_type> old;
    for (const char* n : {"tvlcore.dll", "tvlextra.dll"}) {
        const fs::path file = testutil::u8(platform::joinPath(out, n));
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
        old.push_back(fs::last_write_time(file));
    }
    const Outcome second = cli("--copy-to " + quote(out) + " " + prog);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "");
    EXPECT_NE(second.err.find("0 copied to " + out + ", 2 already there"), std::string::npos) << second.err;
    EXPECT_EQ(fs::last_write_time(testutil::u8(platform::joinPath(out, "tvlcore.dll"))), old[0]);
    EXPECT_EQ(fs::last_write_time(testutil::u8(platform::joinPath(out, "tvlextra.dll"))), old[1]);

    fs::remove(testutil::u8(platform::joinPath(out, "tvlcore.dll")));
    pew::writeFile(platform::joinPath(out, "TVLCORE.DLL"), std::string("an older build"));
    const Outcome replaced = cli("--copy-to " + quote(out) + " " + prog);
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_NE(replaced.err.find("tavelin-report: replaced " + platform::joinPath(out, "TVLCORE.DLL")), std::string::npos)
        << replaced.err;
    EXPECT_EQ(entries(), (std::vector<std::string>{"TVLCORE.DLL", "tvlextra.dll"}));  // no staged copy left either
    EXPECT_EQ(testutil::fileBytes(platform::joinPath(out, "TVLCORE.DLL")), testutil::fileBytes(core));

    write(platform::joinPath(app, "local.exe"), {"tvlcore.dll"});
    const auto before = fs::last_write_time(testutil::u8(core));
    const Outcome own = cli("--copy-to " + quote(app) + " " + quote(platform::joinPath(app, "local.exe")));
    EXPECT_EQ(own.status, 0);
    EXPECT_EQ(own.out, "");
    EXPECT_EQ(fs::last_write_time(testutil::u8(core)), before);
}

// What would make a wrong bundle stops it before anything is written: two
// different DLLs of one name, a listed file in the way, a file for a
// folder; a cycle of imports ships each DLL once.
TEST_F(Ship, BundleRefusesCollisionsAndCyclesShipOnce) {
    const std::string a = dir.mkdir("a"), b = dir.mkdir("b"), out = dir.file("out");
    for (const std::string& d : {a, b}) write(platform::joinPath(d, "prog.exe"), {"tvldup.dll"});
    write(platform::joinPath(a, "tvldup.dll"), {});
    write(platform::joinPath(b, "tvldup.dll"), {"KERNEL32.dll"});
    const std::string both = quote(platform::joinPath(a, "prog.exe")) + " " + quote(platform::joinPath(b, "prog.exe"));
    const Outcome clash = cli("--copy-to " + quote(out) + " " + both);
    EXPECT_EQ(clash.status, 1);
    EXPECT_NE(clash.err.find("2 different files named tvldup.dll cannot all go beside the programs"), std::string::npos)
        << clash.err;
    // The one that has nothing to import serves both programs.
    EXPECT_NE(clash.err.find(listed(platform::joinPath(a, "tvldup.dll")) + " would serve them all"), std::string::npos)
        << clash.err;
    EXPECT_FALSE(platform::pathExists(out));
    write(platform::joinPath(b, "tvldup.dll"), {});  // now the same bytes: one copy
    const Outcome same = cli("--copy-to " + quote(out) + " " + both);
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, listed(platform::joinPath(a, "tvldup.dll")) + " -> " + platform::joinPath(out, "tvldup.dll") + "\n");

    write(platform::joinPath(out, "tvlextra.dll"), {"KERNEL32.dll"});
    write(platform::joinPath(app, "extra.exe"), {"tvlextra.dll"});
    const Outcome mine = cli("--copy-to " + quote(out) + " " + quote(platform::joinPath(app, "extra.exe")) + " " +
                             quote(platform::joinPath(out, "tvlextra.dll")));
    EXPECT_EQ(mine.status, 1);
    EXPECT_NE(mine.err.find(" is a listed file; "), std::string::npos) << mine.err;

    const Outcome onFile = cli("--copy-to " + quote(platform::joinPath(a, "prog.exe")) + " " + both);
    EXPECT_EQ(onFile.status, 2);
    EXPECT_EQ(onFile.err.rfind("tavelin-report: --copy-to: '", 0), 0u) << onFile.err;

    write(platform::joinPath(app, "tvlping.dll"), {"tvlpong.dll", "tvlping.dll"});
    write(platform::joinPath(app, "tvlpong.dll"), {"tvlping.dll"});
    write(platform::joinPath(app, "loop.exe"), {"tvlping.dll", "tvlpong.dll"});
    const Outcome loop = cli("--ship " + quote(platform::joinPath(app, "loop.exe")));
    EXPECT_EQ(loop.status, 0);
    EXPECT_EQ(loop.out, listed(platform::joinPath(app, "tvlping.dll")) + "\n" + listed(platform::joinPath(app, "tvlpong.dll")) + "\n");
}

// Thousands of programs: one run, each DLL copied once, every program
// named as needing it.
TEST_F(Ship, ThousandsOfProgramsShareOneBundle) {
    const std::string many = dir.mkdir("many");
    pew::Image prog;
    prog.pe32plus = true;
    prog.import("tvlalone.dll").import("KERNEL32.dll");
    write(platform::joinPath(libs, "tvlalone.dll"), {});
    const std::vector<std::uint8_t> bytes = pew::build(prog);
    constexpr int kPrograms = 1500;
    for (int i = 0; i < kPrograms; ++i) pew::writeFile(platform::joinPath(many, "p" + std::to_string(i) + ".exe"), bytes);
    const Outcome json = cli("--ship --format json " + quote(many));
    EXPECT_EQ(json.status, 0) << json.err;
    std::size_t named = 0;
    for (std::size_t at = json.out.find(".exe\""); at != std::string::npos; at = json.out.find(".exe\"", at + 1)) ++named;
    EXPECT_EQ(named, static_cast<std::size_t>(kPrograms));
    const Outcome copy = cli("--copy-to " + quote(dir.file("out")) + " " + quote(many));
    EXPECT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(copy.out, listed(platform::joinPath(libs, "tvlalone.dll")) + " -> " +
                            platform::joinPath(dir.file("out"), "tvlalone.dll") + "\n");
}

// Answers that cannot go together, or with what shapes the report, are
// usage errors: one line saying why, then the usage.
TEST(ShipUsage, ConflictsAreUsageErrors) {
    for (const char* options : {"--ship -u", "--copy-to d -u", "--ship --missing", "--tree --format csv",
                                "--why x.dll --format json", "--ship --format csv", "--copy-to d --format json",
                                "--ship --tree", "--tree --why x.dll", "--copy-to d --why x.dll", "--why=",
                                "--copy-to a --copy-to b", "--why a.dll --why=b.dll", "--copy-to="}) {
        const Outcome r = clirun::run(std::string(options) + " x.exe");
        EXPECT_EQ(r.status, 2) << options;
        EXPECT_EQ(r.out.rfind("tavelin-report: ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find("\nUsage: tavelin-report"), r.out.find('\n')) << r.out;
    }
    for (const char* fine : {"--ship --copy-to d -r", "--ship --format json -d", "--tree --format text -f", "--why x.dll -rd"})
        EXPECT_EQ(clirun::run(std::string(fine) + " --dll-path . nothing-here.exe").status, 1) << fine;
}

#ifndef _WIN32
// A folder the user may not write in: a clear message, status 1, nothing
// left in it. Run as "nobody" when the suite runs as root, who may write
// anyway.
TEST_F(Ship, ReadOnlyFolderGetsNothing) {
    write(platform::joinPath(app, "prog.exe"), {"tvlcore.dll", "tvlextra.dll"});
    const std::string locked = dir.mkdir("locked");
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && !nobody) GTEST_SKIP() << "no unprivileged user";
    for (const std::string& d : {dir.path(), app, libs, win, system32, dir.file("empty")}) chmod(d.c_str(), 0755);
    chmod(locked.c_str(), 0555);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        if (geteuid() == 0 && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) _exit(99);
        const std::string exe = TAVELIN_REPORT_EXE, dllPath = dir.file("empty");
        execl(exe.c_str(), exe.c_str(), "--dll-path", dllPath.c_str(), "--windows", win.c_str(), "--add-dll-path",
              libs.c_str(), "--copy-to", locked.c_str(), platform::joinPath(app, "prog.exe").c_str(), nullptr);
        _exit(98);
    }
    close(pipeFds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    chmod(locked.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << text;
    EXPECT_NE(text.find("tavelin-report: --copy-to: cannot write: " + locked + ": Permission denied"), std::string::npos)
        << text;
    EXPECT_TRUE(fs::is_empty(testutil::u8(locked)));
}
#endif

#ifndef _WIN32
namespace {

// Real MinGW-w64 programs of both machines and both thread models.
struct Toolchain {
    const char* compiler;
    const char* triplet;
    const char* machine;
    const char* libgcc;
    const char* threads;
};
constexpr Toolchain kToolchains[] = {
    {"x86_64-w64-mingw32-g++-posix", "x86_64-w64-mingw32", "x64", "libgcc_s_seh-1.dll", "posix"},
    {"x86_64-w64-mingw32-g++-win32", "x86_64-w64-mingw32", "x64", "libgcc_s_seh-1.dll", "win32"},
    {"i686-w64-mingw32-g++-posix", "i686-w64-mingw32", "x86", "libgcc_s_dw2-1.dll", "posix"},
    {"i686-w64-mingw32-g++-win32", "i686-w64-mingw32", "x86", "libgcc_s_dw2-1.dll", "win32"},
};

// std::thread where the thread model has it, so a posix build needs
// libwinpthread-1.dll through its libstdc++.
const char kProgram[] =
    "#include <iostream>\n#include <string>\n"
    "#ifdef _GLIBCXX_HAS_GTHREADS\n#include <thread>\n#endif\n"
    "int main(int argc, char**) {\n  std::string s(argc, 'x');\n"
    "#ifdef _GLIBCXX_HAS_GTHREADS\n  std::thread t([&] { s += 'y'; });\n  t.join();\n#endif\n"
    "  std::cout << s << '\\n';\n}\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(MingwPrograms, ShipTheToolchainRuntimeAndBundleIt) {
    std::size_t built = 0;
    for (const Toolchain& t : kToolchains) {
        SCOPED_TRACE(t.compiler);
        if (std::system((std::string("command -v ") + t.compiler + " >/dev/null").c_str()) != 0) continue;
        testutil::TempDir dir;
        pew::writeFile(dir.file("p.cpp"), std::string(kProgram));
        const std::string dist = dir.mkdir("dist"), prog = platform::joinPath(dist, "p.exe");
        ASSERT_EQ(std::system((std::string(t.compiler) + " -O1 -o " + quote(prog) + " " + quote(dir.file("p.cpp"))).c_str()), 0);
        ++built;
        const std::string err = dir.file("stderr.txt");

        const Outcome ship = clirun::runSplit("--ship " + quote(prog), err);
        ASSERT_EQ(ship.status, 0) << ship.err;
        const std::vector<std::string> set = lines(ship.out);
        std::vector<std::string> names, variants;
        for (const std::string& p : set) {
            names.push_back(platform::fileNamePart(p));
            EXPECT_TRUE(p.rfind(std::string("/usr/lib/gcc/") + t.triplet + "/", 0) == 0 ||
                        p.rfind(std::string("/usr/") + t.triplet + "/", 0) == 0)
                << p;
            if (p.rfind("/usr/lib/gcc/", 0) == 0) variants.push_back(platform::directoryPart(p));
        }
        // One runtime variant, never a mix; a posix program with threads
        // needs the posix one, whose libstdc++ brings libwinpthread-1.dll.
        EXPECT_EQ(std::count(variants.begin(), variants.end(), variants.at(0)), static_cast<long>(variants.size()))
            << ship.out;
        EXPECT_NE(std::find(names.begin(), names.end(), "libstdc++-6.dll"), names.end()) << ship.out;
        EXPECT_NE(std::find(names.begin(), names.end(), t.libgcc), names.end()) << ship.out;
        if (std::string(t.threads) == "posix") {
            EXPECT_NE(variants.at(0).find("-posix"), std::string::npos) << ship.out;
            EXPECT_NE(std::find(names.begin(), names.end(), "libwinpthread-1.dll"), names.end()) << ship.out;
        }
        const Outcome json = clirun::runSplit("--ship --format json " + quote(prog), err);
        for (const std::string& object : lines(json.out))
            if (object.find("\"file\"") != std::string::npos) {
                EXPECT_NE(object.find(std::string("\"machine\": \"") + t.machine + "\", \"origin\": \"toolchain\""),
                          std::string::npos) << object;
            }
        EXPECT_EQ(lines(clirun::runSplit("--why " + std::string(t.libgcc) + " " + quote(prog), err).out).at(0),
                  "p.exe -> " + std::string(t.libgcc));

        // The bundle beside the program: the sources' bytes; then the program
        // finds them there, and a second run copies nothing.
        const Outcome copy = clirun::runSplit("--copy-to " + quote(dist) + " " + quote(prog), err);
        ASSERT_EQ(copy.status, 0) << copy.err;
        EXPECT_EQ(lines(copy.out).size(), set.size());
        for (const std::string& p : set)
            EXPECT_EQ(testutil::fileBytes(platform::joinPath(dist, platform::fileNamePart(p))), testutil::fileBytes(p)) << p;
        const Outcome local = clirun::runSplit("--ship " + quote(prog), err);
        for (const std::string& p : lines(local.out)) EXPECT_EQ(platform::directoryPart(p), dist);
        EXPECT_EQ(lines(local.out).size(), set.size());
        const Outcome again = clirun::runSplit("--copy-to " + quote(dist) + " " + quote(prog), err);
        EXPECT_EQ(again.status, 0);
        EXPECT_EQ(again.out, "");
    }
    if (built == 0) GTEST_SKIP() << "no MinGW-w64 compiler";
}
#endif
