// .NET references resolved as the runtime probes for them: the program's
// folder (satellites by culture), the global assembly cache, versions too
// old, the framework's own assemblies where no cache exists, and P/Invoke
// DLLs as delay-loaded ones.
#include <gtest/gtest.h>

#include "inspect/analysis.h"
#include "inspect/chains.h"
#include "inspect/closure.h"
#include "inspect/rowformats.h"
#include "inspect/run.h"
#include "inspect/ship.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

const std::vector<std::uint8_t> kToken = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const std::vector<std::uint8_t> kFramework = {0xB7, 0x7A, 0x5C, 0x56, 0x19, 0x34, 0xE0, 0x89};

pew::Image assembly(const std::string& name, std::uint16_t major, std::uint16_t minor, std::vector<pew::ManagedName> refs = {},
                   std::vector<std::string> modules = {}) {
    pew::Managed m;
    m.cliFlags = 0x3;  // IL only, 32 bits required: an x86 process, as the 32-bit DLLs beside it
    m.assembly = pew::ManagedName{name, major, minor, 0, 0, "", kToken, false};
    m.references = std::move(refs);
    m.moduleRefs = std::move(modules);
    pew::Image img;
    img.import("mscoree.dll", {{"_CorExeMain"}});
    img.managed = m;
    return img;
}

// A file name as the rows show it (Windows lists paths lower-cased).
std::string shown(const std::string& name) { return platform::listPath(name); }

std::vector<std::string> lines(const std::vector<analysis::Row>& rows) {
    std::vector<std::string> out;
    for (const analysis::Row& r : rows)
        out.push_back(r.kind == analysis::RowKind::Error ? r.cells[analysis::kPath] : r.cells[analysis::kFile]);
    return out;
}

}  // namespace

TEST(Assemblies, ReferencesAreProbedAsTheRuntimeDoes) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app"), fr = dir.mkdir("app/fr-FR");
    pew::writeFile(platform::joinPath(app, "mscoree.dll"), pew::build(pew::Image{}));
    pew::writeFile(platform::joinPath(app, "Lib.dll"), pew::build(assembly("Lib", 1, 0)));
    pew::writeFile(platform::joinPath(app, "Old.dll"), pew::build(assembly("Old", 1, 5)));
    pew::writeFile(platform::joinPath(fr, "Prog.resources.dll"), pew::build(assembly("Prog.resources", 1, 0)));
    pew::writeFile(platform::joinPath(app, "tvlnative.dll"), pew::build(pew::Image{}));
    const std::string exe = platform::joinPath(app, "Prog.exe");
    pew::writeFile(exe, pew::build(assembly("Prog", 1, 0,
                                          {{"Lib", 1, 0, 0, 0, "", kToken, false},
                                           {"Old", 2, 0, 0, 0, "", kToken, false},
                                           {"Gone", 1, 0, 0, 0, "", kToken, false},
                                           {"System.Xml", 4, 0, 0, 0, "", kFramework, false},
                                           {"Prog.resources", 1, 0, 0, 0, "fr-FR", kToken, false}},
                                          {"tvlnative", "tvlabsent.dll"})));
    const std::string listed = platform::listPath(exe);
    RunOptions o = testutil::only({});
    // Without the option, the rows of any native program.
    EXPECT_EQ(lines(analysis::analyse({listed}, o)), (std::vector<std::string>{shown("Prog.exe"), "mscoree.dll"}));

    o.assemblies = true;
    const auto rows = analysis::analyse({listed}, o);
    EXPECT_EQ(lines(rows), (std::vector<std::string>{
                               shown("Prog.exe"), "mscoree.dll", shown("Lib.dll"), shown("Old.dll"),
                               shown("Prog.resources.dll"),
                               "Old 2.0.0.0 trop ancienne (1.5.0.0) pour " + listed,
                               "Gone 1.0.0.0 invisible pour " + listed}));  // no cache: the framework's unchecked
    EXPECT_EQ(rows[4].cells[analysis::kPath], platform::listPath(fr));
    EXPECT_EQ(rows[2].origin(), loader::Origin::App);
    EXPECT_EQ(rows[2].reference(), "Lib, Version=1.0.0.0, Culture=neutral, PublicKeyToken=0123456789abcdef");
    EXPECT_EQ(rows[5].problem, Problem::OldAssembly);
    EXPECT_EQ(rows[6].problem, Problem::MissingAssembly);
    EXPECT_EQ(rows[6].dll, "Gone");

    // P/Invoke DLLs with the delay-load tables, ".dll" added where missing.
    o.delayLoad = true;
    const auto late = analysis::analyse({listed}, o);
    EXPECT_EQ(lines(late).back(), "tvlabsent.dll invisible pour " + listed + " (chargement différé)");
    EXPECT_EQ(late[5].cells[analysis::kFile], "tvlnative.dll");
    EXPECT_TRUE(late[5].delayLoad);

    // A Windows folder with a global assembly cache: the framework's are
    // looked for there, and found in the 4.0 layout.
    const std::string gac = dir.mkdir("Windows/Microsoft.NET/assembly/GAC_MSIL/System.Xml/v4.0_4.0.0.0__b77a5c561934e089");
    dir.mkdir("Windows/System32");
    pew::writeFile(platform::joinPath(gac, "System.Xml.dll"), pew::build(assembly("System.Xml", 4, 0)));
    o.delayLoad = false;
    o.search.windowsFolder = platform::joinPath(dir.path(), "Windows");
    const auto withGac = analysis::analyse({listed}, o);
    ASSERT_EQ(withGac.size(), rows.size() + 1);
    EXPECT_EQ(withGac[4].cells[analysis::kFile], shown("System.Xml.dll"));
    EXPECT_EQ(withGac[4].origin(), loader::Origin::Gac);
}

// The process a managed program runs as, and P/Invoke names that are no
// Windows DLL: an empty module (C++/CLI), Linux and macOS libraries.
TEST(Assemblies, AnyCpuRunsAs64BitsAndUnixNamesAreNoDlls) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app");
    pew::Image x64;
    x64.pe32plus = true;
    pew::writeFile(platform::joinPath(app, "mscoree.dll"), pew::build(x64));
    for (const auto& [flags, runs] : std::vector<std::pair<std::uint32_t, std::string>>{
             {0x1, "x64"}, {0x3, "x86"}, {0x20003, "x86"}}) {
        pew::Image img = assembly("Prog", 1, 0, {}, {"", "libc.so.6", "/usr/lib/libSystem.B.dylib", "libdl.so.2", "tvlgone"});
        img.managed->cliFlags = flags;
        const std::string exe = platform::listPath(platform::joinPath(app, "Prog.exe"));
        pew::writeFile(exe, pew::build(img));
        RunOptions o = testutil::only({});
        o.assemblies = o.delayLoad = true;
        const auto rows = analysis::analyse({exe}, o);
        SCOPED_TRACE(flags);
        EXPECT_EQ(rows[0].dotnetKind, "net-framework");
        EXPECT_EQ(analysis::machineKey(rows[0].runsAs), runs);
        const std::vector<std::string> got = lines(rows);
        // One P/Invoke line only, and mscoree.dll found for an x64 process.
        EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const std::string& l) { return l.find("invisible") != std::string::npos; }),
                  runs == "x64" ? 1 : 2);
        EXPECT_EQ(got.back(), "tvlgone.dll invisible pour " + exe + " (chargement différé)");
    }
}

// Which references the framework answers: .NET Framework's own by name and
// key (not every Microsoft-signed NuGet library), a .NET 5+ program's those
// of the shared framework its host would choose, which may be missing.
TEST(Assemblies, FrameworksAnswerOnlyTheirOwnAssemblies) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app");
    const std::vector<std::uint8_t> kMicrosoft = {0xCC, 0x7B, 0x13, 0xFF, 0xCD, 0x2D, 0xDD, 0x51};
    pew::Image x64;
    x64.pe32plus = true;
    pew::writeFile(platform::joinPath(app, "mscoree.dll"), pew::build(x64));
    const auto anyCpu = [](pew::Image img) {
        img.managed->cliFlags = 0x1;
        return pew::build(img);
    };
    const pew::ManagedName xml{"System.Xml", 4, 0, 0, 0, "", kFramework, false},
        memory{"System.Memory", 4, 0, 1, 2, "", kMicrosoft, false}, runtime{"System.Runtime", 8, 0, 0, 0, "", kMicrosoft, false},
        console{"System.Console", 8, 0, 0, 0, "", kMicrosoft, false};
    const std::string netfx = platform::listPath(platform::joinPath(app, "Tool.exe"));
    pew::writeFile(netfx, anyCpu(assembly("Tool", 1, 0, {{"mscorlib", 4, 0, 0, 0, "", kFramework, false}, xml, memory})));
    RunOptions o = testutil::only({});
    o.assemblies = true;
    std::vector<std::string> got = lines(analysis::analyse({netfx}, o));
    EXPECT_EQ(got.back(), "System.Memory 4.0.1.2 invisible pour " + netfx);
    EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const std::string& l) { return l.find("invisible") != std::string::npos; }), 1);

    const std::string lib = platform::listPath(platform::joinPath(app, "App.dll"));
    pew::writeFile(lib, anyCpu(assembly("App", 1, 0, {runtime, console})));
    pew::writeFile(platform::joinPath(app, "App.runtimeconfig.json"),
                   std::string(R"({"runtimeOptions": {"tfm": "net8.0", "framework": {"name": "Microsoft.NETCore.App", "version": "8.0.0"}}})"));
    // No dotnet folder: named, never called missing.
    AnalysisRun none(o);
    const analysis::Analysis unknown = analysis::analyseFiles({lib}, none);
    EXPECT_EQ(unknown.rows[0].dotnetKind, "net-framework-dependent");
    EXPECT_EQ(unknown.closures[0].frameworks, (std::vector<std::string>{"Microsoft.NETCore.App 8.0 (x64)"}));
    EXPECT_FALSE(unknown.closures[0].frameworksChecked);
    EXPECT_FALSE(analysis::hasErrors(unknown.rows));
    // The tree draws them as the framework's, not as missing.
    const std::string drawn = chains::tree(unknown.closures[0], none.reads());
    EXPECT_NE(drawn.find("System.Runtime  (framework)"), std::string::npos) << drawn;
    EXPECT_EQ(drawn.find("(invisible)"), std::string::npos) << drawn;

    const std::string dotnet = dir.mkdir("dotnet");
    const std::string old = dir.mkdir("dotnet/shared/Microsoft.NETCore.App/6.0.36");
    o.dotnetFolder = dotnet;
    got = lines(analysis::analyse({lib}, o));
    ASSERT_EQ(got.size(), 3u);  // the references wait for the framework
    EXPECT_EQ(got[2], "Microsoft.NETCore.App 8.0.0 invisible pour " + lib + " (versions présentes : 6.0.36)");
    const std::string fx = dir.mkdir("dotnet/shared/Microsoft.NETCore.App/8.0.11");
    pew::writeFile(platform::joinPath(fx, "System.Runtime.dll"), pew::build(assembly("System.Runtime", 8, 0)));
    const auto rows = analysis::analyse({lib}, o);
    got = lines(rows);
    EXPECT_EQ(got.back(), "System.Console 8.0.0.0 invisible pour " + lib);
    EXPECT_EQ(rows.back().problem, Problem::MissingAssembly);
    EXPECT_EQ(std::count(got.begin(), got.end(), "System.Runtime 8.0.0.0 invisible pour " + lib), 0);
    // The host's rule, not the newest: Disable takes 8.0.0 and nothing else.
    pew::writeFile(platform::joinPath(app, "App.runtimeconfig.json"),
                   std::string(R"({"runtimeOptions": {"rollForward": "Disable", "framework": {"name": "Microsoft.NETCore.App", "version": "8.0.0"}}})"));
    const auto strict = analysis::analyse({lib}, o);
    EXPECT_EQ(strict.back().problem, Problem::MissingFramework);
    EXPECT_EQ(strict.back().dll, "Microsoft.NETCore.App");
}

// A .NET 5+ app's deps file: the runtimes/win copy is the one loaded and
// shipped, an asset not on disk is a line, and --ship -a takes what no
// reference reaches.
TEST(Assemblies, DepsFileSelectsWhatTheHostLoads) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app"), win = dir.mkdir("app/runtimes/win/lib/net8.0");
    pew::Image x64;
    x64.pe32plus = true;
    pew::writeFile(platform::joinPath(app, "mscoree.dll"), pew::build(x64));
    pew::Image prog = assembly("App", 1, 0, {{"Foo", 1, 0, 0, 0, "", kToken, false}});
    prog.managed->cliFlags = 0x1;
    const std::string lib = platform::listPath(platform::joinPath(app, "App.dll"));
    pew::writeFile(lib, pew::build(prog));
    pew::writeFile(platform::joinPath(app, "Foo.dll"), pew::build(assembly("Foo", 1, 0)));
    pew::writeFile(platform::joinPath(win, "Foo.dll"), pew::build(assembly("Foo", 1, 0)));
    pew::writeFile(platform::joinPath(app, "Extra.dll"), pew::build(assembly("Extra", 1, 0)));
    pew::writeFile(platform::joinPath(app, "App.runtimeconfig.json"),
                   std::string(R"({"runtimeOptions": {"framework": {"name": "Microsoft.NETCore.App", "version": "8.0.0"}}})"));
    pew::writeFile(platform::joinPath(app, "App.deps.json"), std::string(R"({
  "runtimeTarget": {"name": ".NETCoreApp,Version=v8.0"},
  "targets": {".NETCoreApp,Version=v8.0": {
    "App/1.0.0": {"runtime": {"App.dll": {}}},
    "Foo/1.0.0": {"runtime": {"lib/net8.0/Foo.dll": {}},
                  "runtimeTargets": {"runtimes/win/lib/net8.0/Foo.dll": {"rid": "win", "assetType": "runtime"},
                                     "runtimes/win-x64/native/foo_native.dll": {"rid": "win-x64", "assetType": "native"}}},
    "Extra/1.0.0": {"runtime": {"lib/net8.0/Extra.dll": {}}}}},
  "libraries": {"App/1.0.0": {"type": "project"}, "Foo/1.0.0": {"type": "package"}, "Extra/1.0.0": {"type": "package"}}
})"));
    RunOptions o = testutil::only({});
    o.assemblies = true;
    AnalysisRun run(o);
    const analysis::Analysis a = analysis::analyseFiles({lib}, run);
    const std::string winFoo = platform::listPath(platform::joinPath(win, "Foo.dll"));
    const auto foo = std::find_if(a.rows.begin(), a.rows.end(),
                                  [](const analysis::Row& r) { return r.cells[analysis::kFile] == shown("Foo.dll"); });
    ASSERT_NE(foo, a.rows.end());
    EXPECT_EQ(foo->cells[analysis::kPath], platform::listPath(win));
    EXPECT_EQ(a.rows.back().cells[analysis::kPath],
              "runtimes/win-x64/native/foo_native.dll invisible pour " + lib + " (listé dans " + shown("App.deps.json") + ")");
    EXPECT_EQ(a.rows.back().problem, Problem::MissingDll);
    const shipping::ShipSet set = shipping::shipSet(a.closures, run.reads(), {});
    std::vector<std::string> shipped;
    for (const shipping::ShipDll& d : set.dlls) shipped.push_back(d.path());
    // (mscoree.dll stands beside it for the test's sake.)
    EXPECT_EQ(shipped, (std::vector<std::string>{platform::listPath(platform::joinPath(app, "mscoree.dll")), winFoo,
                                                 platform::listPath(platform::joinPath(app, "Extra.dll"))}));
    EXPECT_EQ(set.notices, (std::vector<std::string>{"Microsoft.NETCore.App 8.0 (x64): runtime .NET partagé — installez-le sur la cible"}));
}

// A single-file app: its config and deps file come from the bundle, its
// assemblies' references resolve against the bundle first, and a native
// DLL the bundle leaves out must stand beside it.
TEST(Assemblies, SingleFileAppCarriesItsOwn) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app");
    pew::Image host;
    host.pe32plus = true;
    host.import("kernel32.dll");
    host.dataSections.emplace_back(".data", pew::bundleMarker());
    const auto text = [](const std::string& t) { return std::vector<std::uint8_t>(t.begin(), t.end()); };
    pew::Image main = assembly("App", 1, 0, {{"Lib", 1, 0, 0, 0, "", kToken, false}, {"Gone", 1, 0, 0, 0, "", kToken, false},
                                            {"System.Runtime", 8, 0, 0, 0, "", kFramework, false}});
    const std::vector<pew::BundleFile> files = {
        {"App.dll", 1, pew::build(main), 0},
        {"Lib.dll", 1, pew::build(assembly("Lib", 1, 0)), 0},
        {"App.runtimeconfig.json", 4,
         text(R"({"runtimeOptions": {"framework": {"name": "Microsoft.NETCore.App", "version": "8.0.0"}}})"), 0},
        {"App.deps.json", 3, text(R"({"runtimeTarget": {"name": ".NETCoreApp,Version=v8.0"},
  "targets": {".NETCoreApp,Version=v8.0": {"App/1.0.0": {"runtime": {"App.dll": {}}},
    "Nat/1.0.0": {"runtimeTargets": {"runtimes/win-x64/native/nat.dll": {"rid": "win-x64", "assetType": "native"}}}}},
  "libraries": {"App/1.0.0": {"type": "project"}, "Nat/1.0.0": {"type": "package"}}})"), 0}};
    const std::string exe = platform::listPath(platform::joinPath(app, "App.exe"));
    std::vector<std::uint8_t> apphost = pew::build(host);
    const std::size_t fileHeader = apphost[0x3C] | apphost[0x3D] << 8;
    pew::put16(apphost, fileHeader + 4 + 18, 0x0022);  // a program, not a DLL
    pew::writeFile(exe, pew::bundle(apphost, 6, files));
    pew::writeFile(platform::joinPath(dir.mkdir("sys"), "kernel32.dll"), pew::build(pew::Image{}.import("ntdll.dll")));
    RunOptions o = testutil::only({});
    o.assemblies = true;
    AnalysisRun run(o);
    const analysis::Analysis a = analysis::analyseFiles({exe}, run);
    EXPECT_EQ(a.rows[0].dotnetKind, "net-framework-dependent");
    std::vector<std::string> problems;
    for (const analysis::Row& r : a.rows)
        if (r.kind == analysis::RowKind::Error && r.dll != "kernel32.dll") problems.push_back(r.cells[analysis::kPath]);
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "runtimes/win-x64/native/nat.dll invisible pour " + exe + " (listé dans " + shown("App.deps.json") + ")",
                            "Gone 1.0.0.0 invisible pour " + exe}));
}
