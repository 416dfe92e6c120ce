// tavelin-report as a user runs it: report text, options, exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "inspect/ignore.h"
#include "inspect/analysis.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "tests/cli/clirun.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

using clirun::Outcome;
using clirun::quote;
using clirun::run;

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        pew::Image lib;
        lib.version(pew::VersionInfo::simple("2.1"));
        pew::writeFile(dir.file("tvlcore.dll"), pew::build(lib));
        pew::Image exe;
        exe.import("tvlcore.dll").version(pew::VersionInfo::simple("1.0"));
        pew::writeFile(dir.file("app.exe"), pew::build(exe));
        pew::Image broken;
        broken.import("tvlcore.dll").import("tvlnowhere.dll");
        pew::writeFile(dir.file("broken.exe"), pew::build(broken));
        empty = dir.mkdir("empty");
        dllPath = "--dll-path " + quote(empty);
    }
    testutil::TempDir dir;
    std::string empty, dllPath;
};

}  // namespace

TEST_F(Cli, ReportMatchesTheEngineLineForLine) {
    const std::string app = dir.file("app.exe");
    const Outcome r = run(dllPath + " " + quote(app));
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<analysis::Cells> cells;
    for (const analysis::Row& row : analysis::analyse({platform::listPath(app)}, testutil::only({empty})))
        cells.push_back(row.cells);
    std::string expected;
    for (const std::string& l : analysis::reportLines(cells, false)) expected += l + "\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_NE(r.out.find("toi-même            : app.exe"), std::string::npos);
}

TEST_F(Cli, ErrorRowsGiveStatusOneAndUniqueDropsRepeats) {
    const Outcome r = run(dllPath + " -u " + quote(dir.file("broken.exe")) + " " + quote(dir.file("app.exe")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("tvlnowhere.dll invisible pour "), std::string::npos);
    // tvlcore.dll is imported by both but reported once in the short format.
    std::size_t count = 0;
    for (std::size_t at = r.out.find("tvlcore.dll"); at != std::string::npos; at = r.out.find("tvlcore.dll", at + 1))
        ++count;
    EXPECT_EQ(count, 1u);

    const Outcome missing = run(dllPath + " " + quote(dir.file("nothing-here.exe")));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find(" non ouvrable"), std::string::npos);
}

TEST_F(Cli, RelativeFilesAreMadeAbsolute) {
    const std::string before = platform::currentDirectory();
    ASSERT_TRUE(testutil::changeDirectory(dir.path()));
    const Outcome r = run(dllPath + " app.exe");
    testutil::changeDirectory(before);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(platform::listPath(dir.path())), std::string::npos) << r.out;
}

TEST_F(Cli, JsonRowsCarryTheirKind) {
    const Outcome r = run(dllPath + " --format json " + quote(dir.file("broken.exe")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("[", 0), 0u);
    EXPECT_NE(r.out.find("{\"kind\": \"listed\", \"importer\": \"toi-même\", \"file\": \"broken.exe\""), std::string::npos);
    EXPECT_NE(r.out.find("{\"kind\": \"import\", \"importer\": \"broken.exe\", \"file\": \"tvlcore.dll\""), std::string::npos);
    EXPECT_NE(r.out.find("{\"kind\": \"error\", \"importer\": \"broken.exe\", \"file\": \"erreur\""), std::string::npos);
}

TEST_F(Cli, MissingListsEachProblemOnceInReportOrder) {
    pew::Image needy;
    needy.import("tvlnowhere.dll");
    pew::writeFile(dir.file("needy.dll"), pew::build(needy));
    pew::Image user;
    user.import("needy.dll");
    pew::writeFile(dir.file("a.exe"), pew::build(user));
    pew::writeFile(dir.file("b.exe"), pew::build(user));
    const std::string files = quote(dir.file("a.exe")) + " " + quote(dir.file("b.exe"));

    // Both closures meet the same missing DLL; the two absent files differ in case only.
    const std::string all = files + " " + quote(dir.file("NOPE.exe")) + " " + quote(dir.file("nope.exe"));
    const std::string expected = "tvlnowhere.dll invisible pour " + platform::listPath(dir.file("needy.dll")) + "\n" +
                                 platform::listPath(dir.file("NOPE.exe")) + " non ouvrable\n";
    for (const char* options : {"-r --missing", "-r -u --missing", "--missing -ru"}) {
        const Outcome r = clirun::runSplit(dllPath + " " + options + " " + all, dir.file("stderr.txt"));
        EXPECT_EQ(r.status, 1) << options;
        EXPECT_EQ(r.out, expected) << options;
        // Standard error says why, once as the report does.
        EXPECT_EQ(r.err, "tavelin-report: " + platform::listPath(dir.file("NOPE.exe")) + ": no such file\n") << options;
    }
    // Without the closure nothing is missing: no line, status 0.
    const Outcome clean = run(dllPath + " --missing " + files);
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out, "");
}

TEST_F(Cli, CsvRowsCarryTheJsonKeysWithRfc4180Quoting) {
    pew::Image odd;
    odd.import("tvlcore.dll").import("tvl,\"odd\".dll");
    pew::writeFile(dir.file("odd.exe"), pew::build(odd));
    const std::string oddPath = platform::listPath(dir.file("odd.exe"));
    const std::string folder = platform::directoryPart(oddPath);
    const std::string header =
        "kind,importer,file,path,version,problem,origin,dll,function,machine,importer-path,file-version,via,via-path\n";
    const std::string errorRow = "error,odd.exe,erreur,\"tvl,\"\"odd\"\".dll invisible pour " + oddPath +
                                 "\",erreur,missing-dll,,\"tvl,\"\"odd\"\".dll\",,," + oddPath + ",,,\n";

    const Outcome r = run(dllPath + " --format csv " + quote(dir.file("odd.exe")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, header + "listed,toi-même,odd.exe," + folder + ",,,,,,x86," + oddPath + ",,,\n" +
                         "import,odd.exe,tvlcore.dll," + folder + ",2.1,,app,,,x86," + oddPath + ",1.0.0.0,odd.exe," +
                         oddPath + "\n" + errorRow);

    const Outcome missing = run(dllPath + " --format=csv --missing " + quote(dir.file("odd.exe")));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, header + errorRow);
    const Outcome json = run(dllPath + " --missing --format json " + quote(dir.file("odd.exe")));
    EXPECT_EQ(json.out.rfind("[\n {\"kind\": \"error\", \"importer\": \"odd.exe\"", 0), 0u) << json.out;
    EXPECT_EQ(json.out.find("listed"), std::string::npos);
}

TEST_F(Cli, UsageErrorsHelpAndVersion) {
    // Contradictions: one line saying why, then the usage.
    for (const char* options : {"-u --format csv", "--format json -u", "--format csv --format=json"}) {
        const Outcome r = run(std::string(options) + " x.exe");
        EXPECT_EQ(r.status, 2) << options;
        EXPECT_EQ(r.out.rfind("tavelin-report: ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find("\nUsage: tavelin-report"), r.out.find('\n')) << r.out;
    }
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--bogus x.exe").status, 2);
    EXPECT_EQ(run("--format xml x.exe").status, 2);
    EXPECT_EQ(run("--dll-path").status, 2);
    const Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tavelin-report"), std::string::npos);
    const Outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, 23), "tavelin-report 1.3.0.81");
}

// -f and -d: their lines in every format and in --missing, the problem kinds
// and the delay-load flag in JSON; without them the output is the plain one.
TEST_F(Cli, FunctionsAndDelayLoadOnDemand) {
    pew::Image old;
    old.exporting({"Open"});
    pew::writeFile(dir.file("tvlold.dll"), pew::build(old));
    pew::Image prog;
    prog.import("tvlold.dll", {{"Open"}, {"Save"}}).import("tvlcore.dll");
    prog.delayImport("tvlcore.dll").delayImport("tvlabsent.dll", {{"X"}});
    pew::writeFile(dir.file("prog.exe"), pew::build(prog));
    const std::string exe = quote(dir.file("prog.exe"));
    const std::string path = platform::listPath(dir.file("prog.exe"));
    const std::string oldPath = platform::listPath(dir.file("tvlold.dll"));

    const Outcome plain = run(dllPath + " " + exe);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out.find("absente"), std::string::npos);
    EXPECT_EQ(run(dllPath + " --format json " + exe).out.find("\"delay-load\""), std::string::npos);

    const std::string saveLine = "Save absente de " + oldPath + " pour " + path;
    const std::string lateLine = "tvlabsent.dll invisible pour " + path + " (chargement différé)";
    const Outcome missing = run(dllPath + " -fd --missing " + exe);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, saveLine + "\n" + lateLine + "\n");
    EXPECT_EQ(run(dllPath + " -f --missing " + exe).out, saveLine + "\n");

    const auto js = [](std::string text) {  // as a JSON string holds it
        for (std::size_t at = 0; (at = text.find('\\', at)) != std::string::npos; at += 2) text.insert(at, 1, '\\');
        return text;
    };
    const Outcome json = run(dllPath + " --functions --delay-load --format json " + exe);
    EXPECT_NE(json.out.find("\"path\": \"" + js(saveLine) + "\", \"version\": \"erreur\", \"problem\": \"missing-function\", "
                            "\"delay-load\": false, \"origin\": null, \"dll\": \"tvlold.dll\", \"function\": \"Save\", "
                            "\"machine\": null, \"importer-path\": \"" + js(path) + "\", \"file-version\": null, \"via\": null"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"problem\": \"missing-dll\", \"delay-load\": true, \"origin\": null, \"dll\": \"tvlabsent.dll\""),
              std::string::npos);
    EXPECT_NE(json.out.find("\"file\": \"tvlcore.dll\", \"path\": \"" + js(platform::directoryPart(path)) +
                            "\", \"version\": \"2.1\", \"problem\": null, \"delay-load\": false, \"origin\": \"app\""),
              std::string::npos);
    const Outcome csv = run(dllPath + " -f --format csv " + exe);
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')),
              "kind,importer,file,path,version,problem,origin,dll,function,machine,importer-path,file-version,via,via-path");
    EXPECT_NE(csv.out.find("," + saveLine + ",erreur,missing-function,,tvlold.dll,Save,," + path + ",,,\n"), std::string::npos)
        << csv.out;
}

// What a script needs without reading French: every problem row's kind, the
// DLL a line is about, the machine, the listed file's own path, the binary
// version beside the free-form text, null for no version.
TEST_F(Cli, RowsCarryWhatScriptsNeedWithoutReadingFrench) {
    pew::Image amd64;
    amd64.pe32plus = true;
    pew::VersionInfo commas = pew::VersionInfo::simple("6, 1, 0, 0");
    commas.major = 6;
    commas.minor = 1;
    commas.release = 7600;
    pew::Image plainDll;
    plainDll.pe32plus = true;
    const std::string one = dir.mkdir("one"), two = dir.mkdir("two");
    pew::writeFile(platform::joinPath(one, "tvlcore.dll"), pew::build(plainDll));
    amd64.import("tvlcore.dll").version(commas);
    for (const std::string& d : {one, two}) pew::writeFile(platform::joinPath(d, "7z.exe"), pew::build(amd64));
    const std::string gone = dir.file("gone.exe");
    const Outcome r = run(dllPath + " --format json " + quote(platform::joinPath(one, "7z.exe")) + " " +
                          quote(platform::joinPath(two, "7z.exe")) + " " + quote(gone));
    const auto has = [&](const std::string& s) { return r.out.find(s) != std::string::npos; };
    const auto js = [](std::string text) {
        for (std::size_t at = 0; (at = text.find('\\', at)) != std::string::npos; at += 2) text.insert(at, 1, '\\');
        return text;
    };
    EXPECT_TRUE(has("\"version\": \"6, 1, 0, 0\", \"problem\": null, \"origin\": null, \"dll\": null, \"function\": null, "
                    "\"machine\": \"x64\", \"importer-path\": \"" + js(platform::listPath(platform::joinPath(one, "7z.exe"))) +
                    "\", \"file-version\": \"6.1.7600.0\", \"via\": null")) << r.out;
    EXPECT_TRUE(has("\"importer-path\": \"" + js(platform::listPath(platform::joinPath(two, "7z.exe"))) + "\""));
    // A DLL without a version resource; the second program finds it nowhere.
    EXPECT_TRUE(has("\"file\": \"tvlcore.dll\", \"path\": \"" + js(platform::listPath(one)) +
                    "\", \"version\": null, \"problem\": null, \"origin\": \"app\"")) << r.out;
    EXPECT_TRUE(has("\"problem\": \"not-readable\", \"origin\": null, \"dll\": \"gone.exe\"")) << r.out;
    EXPECT_TRUE(has("\"problem\": \"missing-dll\", \"origin\": null, \"dll\": \"tvlcore.dll\"")) << r.out;
}

// --ignore and --ignore-file leave the matching problems out of the output
// and of the exit status; bad patterns and files are usage errors.
TEST_F(Cli, IgnoredProblemsLeaveTheOutputAndTheStatus) {
    const std::string broken = quote(dir.file("broken.exe"));
    for (const char* pattern : {"TVLNOW*.DLL", "tvl[a-n]owhere.?ll", "[!x]vlnowhere.dll", "*"}) {
        const Outcome r = run(dllPath + " --ignore " + quote(pattern) + " " + broken);
        EXPECT_EQ(r.status, 0) << pattern << r.out;
        EXPECT_EQ(r.out.find("invisible"), std::string::npos) << pattern;
    }
    EXPECT_EQ(run(dllPath + " --ignore \"tvl[nowhere.dll\" " + broken).status, 1);  // a lone [ stands for itself
    // Only problems about a DLL: an unreadable listed file still counts.
    EXPECT_EQ(run(dllPath + " --ignore \"*\" " + quote(dir.file("gone.exe"))).status, 1);

    pew::writeFile(dir.file("ignore.txt"), std::string("# the host process\n\n  tvlnowhere.dll  \n"));
    EXPECT_EQ(run(dllPath + " --ignore-file " + quote(dir.file("ignore.txt")) + " " + broken).status, 0);
    pew::writeFile(dir.file("binary.txt"), std::string("tvl\0x", 5));
    pew::writeFile(dir.file("huge.txt"), std::string(2 << 20, 'x'));
    for (const std::string& bad : {std::string("--ignore \"\""), "--ignore-file " + quote(dir.file("absent.txt")),
                                   "--ignore-file " + quote(dir.file("binary.txt")),
                                   "--ignore-file " + quote(dir.file("huge.txt"))}) {
        const Outcome r = run(dllPath + " " + bad + " " + broken);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.out.rfind("tavelin-report: --ignore", 0), 0u) << r.out;
    }
}

TEST(Wildcards, ShellPatternsIgnoringCase) {
    EXPECT_TRUE(analysis::wildcardMatch("API-MS-WIN-*", "api-ms-win-core-synch-l1-2-0.dll"));
    EXPECT_TRUE(analysis::wildcardMatch("*.DLL", "Été.dll"));
    EXPECT_TRUE(analysis::wildcardMatch("?t?.dll", "été.dll"));  // one character, not one byte
    EXPECT_TRUE(analysis::wildcardMatch("msvc[pr]1[0-4]0.dll", "MSVCP140.dll"));
    EXPECT_FALSE(analysis::wildcardMatch("msvc[!p]140.dll", "msvcp140.dll"));
    EXPECT_TRUE(analysis::wildcardMatch("[]]x", "]x"));
    EXPECT_FALSE(analysis::wildcardMatch("node.exe", "node.exe.dll"));
    // Many stars against a long name stay linear in practice.
    EXPECT_FALSE(analysis::wildcardMatch(std::string(50, '*') + "b", std::string(4000, 'a')));
}

// Folders: a folder argument stands for its PE files; --add-dll-path adds
// to the search; a folder of the search that does not exist is named.
TEST_F(Cli, FoldersAreExpandedAddedAndCheckedForExistence) {
    const Outcome listed = run(dllPath + " " + quote(dir.path()));
    EXPECT_NE(listed.out.find("toi-même            : app.exe"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("toi-même            : broken.exe"), std::string::npos);
    EXPECT_LT(listed.out.find(": app.exe"), listed.out.find(": broken.exe"));
    EXPECT_EQ(listed.out.find("non ouvrable"), std::string::npos);

    const std::string libs = dir.mkdir("libs");
    pew::writeFile(platform::joinPath(libs, "tvlnowhere.dll"), pew::build(pew::Image{}));
    const Outcome added = run(dllPath + " --add-dll-path " + quote(libs) + " --format csv " + quote(dir.file("broken.exe")));
    EXPECT_EQ(added.status, 0) << added.out;
    EXPECT_NE(added.out.find("tvlnowhere.dll," + platform::listPath(libs) + ",,,user"), std::string::npos) << added.out;

    const Outcome warned = run(dllPath + " --add-dll-path " + quote(dir.file("not-mounted")) + " " + quote(dir.file("app.exe")));
    EXPECT_EQ(warned.status, 0);
    EXPECT_NE(warned.out.find("warning: --add-dll-path: no folder " + dir.file("not-mounted")), std::string::npos)
        << warned.out;
}
