// Programs built here with MinGW-w64 and windres, their manifests asking for
// side-by-side assemblies (Common-Controls 6, the VC90 CRT, a private one),
// checked against a Wine prefix made by wineboot; and Wine's own loader as
// an independent check: the closure we report is what it maps.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "inspect/analysis.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using testutil::capture;
using testutil::haveCommand;

namespace {

namespace fs = std::filesystem;

const char* const kTriplet = "x86_64-w64-mingw32";

std::string manifest(const std::string& extra) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
           "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"amd64\" name=\"Tavelin.Test\" type=\"win32\"/>\n"
           "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
           "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
           "</dependentAssembly></dependency>\n"
           "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.VC90.CRT\" "
           "version=\"9.0.21022.8\" processorArchitecture=\"amd64\" publicKeyToken=\"1fc8b3b9a1e18e3b\"/>"
           "</dependentAssembly></dependency>\n"
           "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Tavelin.Private\" "
           "version=\"1.0.0.0\" processorArchitecture=\"amd64\"/></dependentAssembly></dependency>\n" +
           extra + "</assembly>\n";
}

class LoaderOnWine : public ::testing::Test {
protected:
    void SetUp() override {
        windows_ = std::string(TAVELIN_SXS_WINEPREFIX) + "/drive_c/windows";
        std::error_code ec;
        if (!fs::is_directory(windows_ + "/winsxs/manifests", ec)) {
            if (testutil::haveCommand("wineboot")) FAIL() << "wineboot is installed but no prefix was made";
            GTEST_SKIP() << "no Wine prefix (wineboot missing)";
        }
        if (capture(std::string("command -v ") + kTriplet + "-windres").empty()) GTEST_SKIP() << "no MinGW-w64 windres";
        app_ = dir_.mkdir("app");
        // A private assembly in the program's folder: its manifest lists the DLL.
        const std::string priv = dir_.mkdir("app/Tavelin.Private");
        write(priv + "/lib.c", "__declspec(dllexport) int tvl_private(void) { return 7; }\n");
        run(std::string(kTriplet) + "-gcc -shared -o '" + priv + "/tvlpriv.dll' '" + priv + "/lib.c'");
        run(std::string(kTriplet) + "-dlltool -D tvlpriv.dll -l '" + dir_.path() + "/libtvlpriv.a' --export-all-symbols '" +
            priv + "/tvlpriv.dll' 2>/dev/null || " + kTriplet + "-gcc -shared -o '" + priv + "/tvlpriv.dll' '" + priv +
            "/lib.c' -Wl,--out-implib,'" + dir_.path() + "/libtvlpriv.a'");
        write(priv + "/Tavelin.Private.manifest",
              "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><assemblyIdentity "
              "type=\"win32\" name=\"Tavelin.Private\" version=\"1.0.0.0\" processorArchitecture=\"amd64\"/>"
              "<file name=\"tvlpriv.dll\"/></assembly>\n");
        // A console program that exits by itself: Common-Controls, the VC90
        // CRT and the private DLL, nothing of MinGW's own runtime.
        write(dir_.path() + "/main.c",
              "#include <windows.h>\n#include <commctrl.h>\n#include <process.h>\n"
              "__declspec(dllimport) int tvl_private(void);\n"
              "void __cdecl start(void) { InitCommonControls(); ExitProcess(_getpid() > 0 ? tvl_private() - 7 : 1); }\n");
    }

    std::string build(const std::string& name, const std::string& extraManifest) {
        write(dir_.path() + "/" + name + ".manifest", manifest(extraManifest));
        write(dir_.path() + "/" + name + ".rc", "1 24 \"" + dir_.path() + "/" + name + ".manifest\"\n");
        const std::string exe = app_ + "/" + name + ".exe";
        run(std::string(kTriplet) + "-windres '" + dir_.path() + "/" + name + ".rc' -O coff -o '" + dir_.path() + "/" +
            name + ".res'");
        run(std::string(kTriplet) + "-gcc -nostdlib -e start -o '" + exe + "' '" + dir_.path() + "/main.c' '" +
            dir_.path() + "/" + name + ".res' -L'" + dir_.path() + "' -ltvlpriv -lcomctl32 -lkernel32 -lmsvcr90");
        return exe;
    }

    static void write(const std::string& path, const std::string& text) { pew::writeFile(path, text); }
    static void run(const std::string& command) { capture(command + " 2>&1"); }

    RunOptions options() const {
        RunOptions o;
        o.recursive = true;
        o.search.windowsFolder = windows_;
        return o;
    }

    std::string windows_, app_;
    testutil::TempDir dir_;
};

// Where each DLL comes from, and why.
std::string where(const analysis::Row& r) {
    return r.cells[analysis::kFile] + " " + loader::originName(r.origin()) + " " +
           platform::fileNamePart(r.cells[analysis::kPath]);
}

}  // namespace

TEST_F(LoaderOnWine, AssembliesComeFromTheStoreAndThePrivateFolder) {
    const std::string exe = build("app", "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
                                         "name=\"Missing.Assembly\" version=\"1.0.0.0\" processorArchitecture=\"amd64\" "
                                         "publicKeyToken=\"0123456789abcdef\"/></dependentAssembly></dependency>\n");
    ASSERT_TRUE(fs::exists(exe));
    std::set<std::string> got;
    std::vector<std::string> errors;
    for (const analysis::Row& r : analysis::analyse({exe}, options())) {
        if (r.kind == analysis::RowKind::Import) got.insert(where(r));
        if (r.kind == analysis::RowKind::Error) errors.push_back(r.cells[analysis::kPath]);
        if (r.cells[analysis::kFile] == "comctl32.dll") {
            EXPECT_EQ(r.originDetail().rfind("Microsoft.Windows.Common-Controls 6.0.", 0), 0u);
        }
    }
    EXPECT_TRUE(got.count("comctl32.dll sxs amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.2600.2982_none_deadbeef"))
        << testing::PrintToString(got);
    EXPECT_TRUE(got.count("msvcr90.dll sxs amd64_microsoft.vc90.crt_1fc8b3b9a1e18e3b_9.0.30729.6161_none_deadbeef"))
        << testing::PrintToString(got);
    EXPECT_TRUE(got.count("tvlpriv.dll sxs Tavelin.Private")) << testing::PrintToString(got);
    EXPECT_TRUE(got.count("kernel32.dll known system32"));
    EXPECT_EQ(errors, std::vector<std::string>{"Missing.Assembly 1.0.0.0 invisible pour " + exe});

    // Without a Windows folder the assemblies are not checked: the names are searched.
    RunOptions plain = options();
    plain.search.windowsFolder.clear();
    plain.search.folders = std::vector<std::string>{};
    for (const analysis::Row& r : analysis::analyse({exe}, plain))
        EXPECT_NE(r.problem, Problem::MissingAssembly) << r.cells[analysis::kPath];
}

// Wine's loader maps exactly the closure we report (ntdll.dll is mapped
// before its trace begins; what a DLL loads by hand, no table names).
TEST_F(LoaderOnWine, WinesLoaderMapsTheReportedClosure) {
    const std::string exe = build("quiet", "");
    ASSERT_TRUE(fs::exists(exe));
    const std::string trace = capture("WINEPREFIX='" + std::string(TAVELIN_SXS_WINEPREFIX) +
                                      "' WINEDEBUG=+pid,+loaddll timeout 300 wine '" + exe + "' 2>&1");
    // The lines of the program's own process: "<pid>:trace:loaddll:... Loaded L"C:\\...\\x.dll" at ...".
    std::string pid;
    std::set<std::string> mapped;
    for (std::size_t at = 0, end; at < trace.size(); at = end + 1) {
        end = trace.find('\n', at);
        if (end == std::string::npos) end = trace.size();
        const std::string line = trace.substr(at, end - at);
        const std::size_t loaded = line.find("Loaded L\"");
        if (loaded == std::string::npos) continue;
        std::string path = line.substr(loaded + 9, line.find('"', loaded + 9) - loaded - 9);
        if (pid.empty() && platform::toLower(path).find("quiet.exe") != std::string::npos) pid = line.substr(0, line.find(':'));
        if (line.substr(0, line.find(':')) != pid) continue;
        for (std::size_t b; (b = path.find("\\\\")) != std::string::npos;) path.replace(b, 2, "/");
        std::replace(path.begin(), path.end(), '\\', '/');
        const std::string lower = platform::toLower(path);
        const std::size_t slash = lower.rfind('/'), folder = lower.rfind('/', slash - 1);
        if (!lower.ends_with(".exe")) mapped.insert(lower.substr(folder + 1));
    }
    ASSERT_FALSE(pid.empty()) << trace.substr(0, 2000);
    std::set<std::string> reported, named;
    const auto rows = analysis::analyse({exe}, options());
    for (const analysis::Row& r : rows) {
        EXPECT_NE(r.kind, analysis::RowKind::Error) << r.cells[analysis::kPath];
        if (r.kind != analysis::RowKind::Import || r.cells[analysis::kFile] == "ntdll.dll") continue;
        reported.insert(platform::toLower(platform::fileNamePart(r.cells[analysis::kPath]) + "/" + r.cells[analysis::kFile]));
    }
    AnalysisRun run(options());
    const Closure closure = analysis::inspect(exe, run);
    for (const auto& edges : closure.imports)
        for (const ImportEdge& e : edges) named.insert(platform::toLower(e.name()));
    for (const std::string& r : reported) EXPECT_TRUE(mapped.count(r)) << r << " reported, not mapped by Wine";
    for (const std::string& m : mapped)
        if (!reported.count(m)) {
            EXPECT_FALSE(named.count(m.substr(m.rfind('/') + 1))) << m << " mapped by Wine, named by a table, not reported";
        }
}

// Debian's 64-bit-only Wine makes prefixes without 32-bit system DLLs and
// without an x86 store: a 32-bit program's assemblies are the ones Wine
// provides, from its builtin 32-bit folder, as its system DLLs are.
TEST_F(LoaderOnWine, ThirtyTwoBitAssembliesFromWinesBuiltinFolder) {
    const std::string manifests = windows_ + "/winsxs/manifests";
    for (const auto& e : fs::directory_iterator(manifests))
        if (e.path().filename().string().rfind("x86_", 0) == 0) GTEST_SKIP() << "this prefix has an x86 store";
    pew::Image prog;
    prog.import("comctl32.dll").import("msvcr90.dll");
    // The writer's images are DLLs: their own manifest is resource ID 2.
    prog.manifest(manifest("").replace(manifest("").find("amd64"), 5, "x86"), 2);
    const std::string exe = app_ + "/prog32.exe";
    pew::writeFile(exe, pew::build(prog));
    bool comctl = false;
    for (const analysis::Row& r : analysis::analyse({exe}, options())) {
        if (r.kind == analysis::RowKind::Error && r.cells[analysis::kPath].find("Tavelin.Private") == std::string::npos)
            ADD_FAILURE() << r.cells[analysis::kPath];
        if (r.cells[analysis::kFile] != "comctl32.dll") continue;
        comctl = true;
        EXPECT_EQ(r.origin(), loader::Origin::Sxs);
        EXPECT_NE(r.originDetail().find("Microsoft.Windows.Common-Controls 6.0."), std::string::npos);
        EXPECT_NE(r.originDetail().find("(DLL intégrées de Wine)"), std::string::npos) << r.originDetail();
        EXPECT_NE(r.cells[analysis::kPath].find("i386-windows"), std::string::npos) << r.cells[analysis::kPath];
    }
    EXPECT_TRUE(comctl);
}
