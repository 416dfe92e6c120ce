// The .NET host's inputs and choices: runtime configs (settings in layers,
// the files the host refuses), the shared framework picked from installed
// version folders under every policy, where Windows keeps those folders,
// and the assets a deps file makes the host load on Windows.
#include <gtest/gtest.h>

#include "inspect/dotnet/depsjson.h"
#include "inspect/dotnet/frameworks.h"
#include "inspect/dotnet/runtimeconfig.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

using namespace dotnet;

std::string refs(const std::vector<FrameworkReference>& list) {
    std::string out;
    for (const FrameworkReference& r : list)
        out += r.name + " " + r.version + " " + rollForwardName(r.rollForward) + (r.applyPatches ? "" : " nopatch") + ";";
    return out;
}

TEST(RuntimeConfig, SettingsInTheHostsLayers) {
    // A BOM, comments and text after the object, as the host accepts them;
    // file-wide settings apply to each reference unless it has its own.
    const RuntimeConfig c = parseRuntimeConfig(
        "\xEF\xBB\xBF// written by the SDK\n{ \"runtimeOptions\": { \"tfm\": \"net8.0\", /* policy */ "
        "\"rollForward\": \"latestMINOR\", \"framework\": {\"name\": \"Microsoft.NETCore.App\", \"version\": \"8.0.0\"},"
        "\"frameworks\": [{\"name\": \"Microsoft.WindowsDesktop.App\", \"version\": \"8.0.1\", \"rollForward\": "
        "\"disable\"}], \"configProperties\": {\"System.GC.Server\": true, \"Name\": \"x\", \"rollForward\": \"Major\"},"
        "\"additionalProbingPaths\": \"C:/probe\"}} trailing");
    ASSERT_EQ(c.outcome, RuntimeConfig::Outcome::Read) << c.reason;
    EXPECT_EQ(c.tfm, "net8.0");
    EXPECT_TRUE(c.frameworkDependent);
    EXPECT_EQ(refs(c.frameworks), "Microsoft.NETCore.App 8.0.0 LatestMinor;Microsoft.WindowsDesktop.App 8.0.1 Disable;");
    ASSERT_EQ(c.properties.size(), 3u);
    EXPECT_EQ(c.properties[0].second, "true");
    EXPECT_EQ(c.properties[2].first, "rollForward");  // kept, and read for nothing
    EXPECT_EQ(c.additionalProbingPaths, std::vector<std::string>{"C:/probe"});

    // The legacy settings: 0, 1, 2 and anything else; applyPatches.
    const RuntimeConfig legacy = parseRuntimeConfig(
        "{\"runtimeOptions\": {\"rollForwardOnNoCandidateFx\": 2, \"applyPatches\": false, \"frameworks\": ["
        "{\"name\": \"A\", \"version\": \"3.1.0\"}, {\"name\": \"B\", \"version\": \"3.1.0\", "
        "\"rollForwardOnNoCandidateFx\": 0}, {\"name\": \"C\", \"version\": \"1.0.0\", \"rollForwardOnNoCandidateFx\": 7,"
        "\"applyPatches\": true}]}}");
    ASSERT_EQ(legacy.outcome, RuntimeConfig::Outcome::Read) << legacy.reason;
    EXPECT_EQ(refs(legacy.frameworks), "A 3.1.0 Major nopatch;B 3.1.0 LatestPatch nopatch;C 1.0.0 Disable;");

    const RuntimeConfig standalone = parseRuntimeConfig(
        "{\"runtimeOptions\": {\"tfm\": \"net6.0\", \"includedFrameworks\": [{\"name\": \"Microsoft.NETCore.App\","
        "\"version\": \"6.0.36\"}]}}");
    EXPECT_TRUE(standalone.selfContained());
    EXPECT_EQ(refs(standalone.includedFrameworks), "Microsoft.NETCore.App 6.0.36 Minor;");

    testutil::TempDir dir;
    EXPECT_EQ(readRuntimeConfig(dir.file("none.runtimeconfig.json")).outcome, RuntimeConfig::Outcome::Missing);
}

TEST(RuntimeConfig, FilesTheHostRefuses) {
    const std::string fx = "\"framework\": {\"name\": \"N\", \"version\": \"6.0.0\"}";
    const std::vector<std::string> damaged = {
        "{\"runtimeOptions\": {" + fx + ", \"rollForward\": \"Major\", \"applyPatches\": true}}",
        "{\"runtimeOptions\": {\"rollForward\": \"Major\", \"frameworks\": [{\"name\": \"N\", \"version\": \"6.0.0\", "
        "\"rollForwardOnNoCandidateFx\": 1}]}}",
        "{\"runtimeOptions\": {" + fx + ", \"rollForward\": \"Sideways\"}}",
        "{\"runtimeOptions\": {" + fx + ", \"frameworks\": [{\"name\": \"N\", \"version\": \"7.0.0\"}]}}",
        "{\"runtimeOptions\": {\"frameworks\": [{\"version\": \"7.0.0\"}]}}",
        "{\"runtimeOptions\": {" + fx + ", \"includedFrameworks\": []}}",
        "{\"runtimeOptions\": {" + fx + ", \"applyPatches\": \"yes\"}}",
        "{\"runtimeOptions\": {\"configProperties\": []}}",
        "{\"other\": {}}",
        "{\"runtimeOptions\": ",
        "[1, 2]",
        "{\"runtimeOptions\": {\"configProperties\": {\"x\": " + std::string(200, '[') + std::string(200, ']') + "}}}",
    };
    for (const std::string& text : damaged) {
        const RuntimeConfig c = parseRuntimeConfig(text);
        EXPECT_EQ(c.outcome, RuntimeConfig::Outcome::Damaged) << text;
        EXPECT_FALSE(c.reason.empty()) << text;
    }
    EXPECT_EQ(parseRuntimeConfig("{\"a\": \"" + std::string(5u << 20, 'x') + "\"}").outcome,
              RuntimeConfig::Outcome::Damaged);
}

TEST(Frameworks, VersionsOrderAsTheHostOrdersThem) {
    const std::vector<std::string> ascending = {"1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta.2",
                                                "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0", "1.0.1", "1.2.0", "10.0.0"};
    for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
        FxVersion a, b;
        ASSERT_TRUE(parseFxVersion(ascending[i], a) && parseFxVersion(ascending[i + 1], b)) << ascending[i];
        EXPECT_LT(compareFxVersions(a, b), 0) << ascending[i] << " < " << ascending[i + 1];
    }
    FxVersion v;
    for (const char* bad : {"8.0", "08.0.0", "8.0.0-", "8.0.0-a..b", "8.0.0-01", "8.0.0_x", "8.0.0+", "", "a.b.c"})
        EXPECT_FALSE(parseFxVersion(bad, v)) << bad;
    ASSERT_TRUE(parseFxVersion("8.0.0-rc.1+build.5", v));
    EXPECT_EQ(v.text(), "8.0.0-rc.1+build.5");
}

TEST(Frameworks, EachPolicyPicksAsTheHostDoes) {
    const std::vector<std::string> installed = {"6.0.0", "6.0.5",  "6.1.0",         "6.1.2",          "7.0.0-preview.1",
                                                "7.0.1", "8.0.0", "8.0.10",         "8.1.0-rc.1",     "8.2.0",
                                                "9.0.0-preview.2", "junk", "10.0.0-rc.2.25502.107"};
    struct Case {
        const char* version;
        RollForward policy;
        bool applyPatches;
        const char* expected;  // "" for none
    };
    const Case cases[] = {
        {"6.0.0", RollForward::Minor, true, "6.0.5"},          // same minor, then its latest patch
        {"6.0.1", RollForward::Minor, true, "6.0.5"},
        {"6.0.6", RollForward::Minor, true, "6.1.2"},          // the lowest higher minor, latest patch
        {"6.0.6", RollForward::LatestPatch, true, ""},
        {"6.0.1", RollForward::LatestPatch, true, "6.0.5"},
        {"6.0.0", RollForward::LatestMinor, true, "6.1.2"},
        {"6.2.0", RollForward::Minor, true, ""},               // no higher minor; never another major
        {"6.2.0", RollForward::Major, true, "7.0.1"},          // lowest higher major, releases first
        {"6.0.0", RollForward::Major, true, "6.0.5"},          // the major asked is there
        {"6.0.0", RollForward::LatestMajor, true, "8.2.0"},    // highest release
        {"6.0.0", RollForward::Disable, true, "6.0.0"},
        {"6.0.1", RollForward::Disable, true, ""},
        {"6.0.0", RollForward::Minor, false, "6.0.0"},         // no patch roll
        {"6.0.1", RollForward::LatestPatch, false, ""},        // exactly the version asked
        {"8.1.0", RollForward::Minor, true, "8.2.0"},          // a release passes over the prerelease
        {"8.3.0", RollForward::Major, true, "9.0.0-preview.2"},  // ... unless nothing else fits
        {"7.0.0-preview.1", RollForward::Minor, true, "7.0.0-preview.1"},  // prereleases take the closest
        {"9.0.0-preview.1", RollForward::Minor, true, "9.0.0-preview.2"},
        {"9.0.0", RollForward::Minor, true, ""},               // 9.0.0-preview.2 is below 9.0.0
        {"10.0.0-rc.1", RollForward::LatestPatch, true, "10.0.0-rc.2.25502.107"},
        {"11.0.0", RollForward::LatestMajor, true, ""},
    };
    for (const Case& c : cases) {
        FrameworkRequest r;
        r.name = "Microsoft.NETCore.App";
        r.version = c.version;
        r.rollForward = c.policy;
        r.applyPatches = c.applyPatches;
        const FrameworkChoice choice = chooseFramework(r, installed);
        const std::string what = std::string(c.version) + " " + rollForwardName(c.policy) + (c.applyPatches ? "" : " nopatch");
        if (*c.expected) {
            EXPECT_EQ(choice.outcome, FrameworkChoice::Outcome::Found) << what << ": " << choice.reason;
            EXPECT_EQ(choice.version, c.expected) << what;
        } else {
            EXPECT_EQ(choice.outcome, FrameworkChoice::Outcome::NotFound) << what << " gave " << choice.version;
            EXPECT_NE(choice.reason.find("installed: 6.0.0, 6.0.5"), std::string::npos) << choice.reason;
        }
    }
    // Without the preference for releases (DOTNET_ROLL_FORWARD_TO_PRERELEASE).
    FrameworkRequest toPrerelease{"N", "8.0.11", RollForward::Minor, true, false};
    EXPECT_EQ(chooseFramework(toPrerelease, installed).version, "8.1.0-rc.1");
    FrameworkRequest bad{"N", "8", RollForward::Minor, true, {}};
    EXPECT_EQ(chooseFramework(bad, installed).outcome, FrameworkChoice::Outcome::BadVersion);

    // An app's and a framework's reference to one framework made one.
    FrameworkRequest app{"N", "6.0.0", RollForward::LatestMinor, true, {}}, other{"N", "6.1.0", RollForward::LatestPatch, true, {}};
    FrameworkRequest merged;
    std::string reason;
    ASSERT_TRUE(reconcileRequests(app, other, merged, reason)) << reason;
    EXPECT_EQ(merged.version, "6.1.0");
    EXPECT_EQ(merged.rollForward, RollForward::LatestPatch);
    other.version = "7.0.0";
    EXPECT_FALSE(reconcileRequests(app, other, merged, reason));
}

TEST(Frameworks, DotnetRootsOfAWindowsFolder) {
    EXPECT_EQ(defaultDotnetFolders(platform::kMachineI386, platform::kMachineAmd64)[0], "Program Files (x86)/dotnet");
    EXPECT_EQ(defaultDotnetFolders(platform::kMachineI386, platform::kMachineI386)[0], "Program Files/dotnet");
    EXPECT_EQ(defaultDotnetFolders(platform::kMachineAmd64, platform::kMachineArm64)[0], "Program Files/dotnet/x64");
    EXPECT_EQ(defaultDotnetFolders(platform::kMachineArm64, platform::kMachineArm64)[0], "Program Files/dotnet");

    // Names as a Windows tree may spell them; Windows itself told by its ntdll.dll.
    testutil::TempDir d;
    d.mkdir("WINDOWS/system32");
    d.mkdir("PROGRAM FILES/DotNet/Shared/microsoft.netcore.app/8.0.1");
    d.mkdir("PROGRAM FILES/DotNet/Shared/microsoft.netcore.app/6.0.5");
    d.mkdir("PROGRAM FILES/DotNet/x64/shared");
    d.mkdir("program files (x86)/dotnet");
    pew::writeFile(d.file("PROGRAM FILES/DotNet/Shared/microsoft.netcore.app/notes.txt"), std::string("x"));
    pew::Image ntdll;
    ntdll.pe32plus = true;
    pew::writeFile(d.file("WINDOWS/system32/NTDLL.DLL"), pew::build(ntdll));
    const std::string windows = d.file("WINDOWS");
    // Windows answers for the names as asked, Linux with the names as stored.
    auto roots = [&](std::uint16_t machine) {
        std::string out;
        for (const std::string& r : dotnetRoots(windows, machine)) out += platform::listPath(r) + ";";
        return out;
    };
    EXPECT_EQ(roots(platform::kMachineAmd64), platform::listPath(d.file("PROGRAM FILES/DotNet")) + ";");
    EXPECT_EQ(roots(platform::kMachineI386), platform::listPath(d.file("program files (x86)/dotnet")) + ";");
    ntdll.machine = platform::kMachineArm64;
    pew::writeFile(d.file("WINDOWS/system32/NTDLL.DLL"), pew::build(ntdll));
    EXPECT_EQ(roots(platform::kMachineAmd64), platform::listPath(d.file("PROGRAM FILES/DotNet/x64")) + ";");

    const std::vector<std::string> x64 = dotnetRoots(windows, platform::kMachineArm64);
    ASSERT_EQ(x64.size(), 1u);
    std::vector<std::string> versions = installedVersions(x64[0], "Microsoft.NETCore.App");
    std::sort(versions.begin(), versions.end());
    EXPECT_EQ(versions, (std::vector<std::string>{"6.0.5", "8.0.1"}));
    FrameworkRequest app{"Microsoft.NETCore.App", "6.0.0", RollForward::Major, true, {}};
    EXPECT_EQ(chooseFramework(app, installedVersions(x64[0], "Microsoft.NETCore.App")).version, "6.0.5");
    EXPECT_TRUE(installedVersions(x64[0], "Microsoft.AspNetCore.App").empty());
}

// A published framework-dependent app: its project, a package with
// RID-specific native and managed assets, satellite resources, a target
// entry "libraries" does not list, and a self-contained app's target.
const char* const kDeps = R"({
  "runtimeTarget": {"name": ".NETCoreApp,Version=v8.0", "signature": ""},
  "targets": {
    ".NETCoreApp,Version=v8.0": {
      "App/1.0.0": {"dependencies": {"SQLite": "2.1.0"}, "runtime": {"App.dll": {}},
                    "resources": {"fr/App.resources.dll": {"locale": "fr"}}},
      "SQLite/2.1.0": {
        "runtime": {"lib/net8.0/SQLite.dll": {"assemblyVersion": "2.1.0.0", "fileVersion": "2.1.0.5"}},
        "runtimeTargets": {
          "runtimes/win-x64/native/e_sqlite3.dll": {"rid": "win-x64", "assetType": "native"},
          "runtimes/win-arm64/native/e_sqlite3.dll": {"rid": "win-arm64", "assetType": "NATIVE"},
          "runtimes/win/native/e_sqlite3.dll": {"rid": "win", "assetType": "native"},
          "runtimes/linux-x64/native/libe_sqlite3.so": {"rid": "linux-x64", "assetType": "native"},
          "runtimes/win/lib/net8.0/SQLite.dll": {"rid": "win", "assetType": "runtime"}
        },
        "resources": {"lib/net8.0/de-DE/SQLite.resources.dll": {"locale": "de-DE"}}
      },
      "Unlisted/1.0.0": {"runtime": {"lib/Unlisted.dll": {}}},
      "Pack/8.0.0": {"native": {"runtimes/win-x64/native/coreclr.dll": {"localPath": "coreclr.dll"}}}
    },
    ".NETCoreApp,Version=v8.0/win-x64": {}
  },
  "libraries": {
    "App/1.0.0": {"type": "project", "serviceable": false, "sha512": ""},
    "SQLite/2.1.0": {"type": "Package", "serviceable": true, "path": "sqlite/2.1.0"},
    "Pack/8.0.0": {"type": "runtimepack", "serviceable": false}
  }
})";

std::string selected(const DepsJson& deps, std::uint16_t machine, bool selfContained) {
    std::string out;
    for (const SelectedAsset& a : selectAssets(deps, machine, selfContained)) out += a.appPath + (a.rid.empty() ? "" : "@" + a.rid) + " ";
    return out;
}

TEST(DepsJson, TheAssetsTheHostLoadsOnWindows) {
    const DepsJson deps = parseDepsJson(std::string(kDeps));
    ASSERT_EQ(deps.outcome, DepsJson::Outcome::Read) << deps.reason;
    EXPECT_EQ(deps.runtimeTarget, ".NETCoreApp,Version=v8.0");
    EXPECT_EQ(deps.targets.size(), 2u);
    ASSERT_EQ(deps.libraries.size(), 4u);
    EXPECT_EQ(deps.libraries[1].type, "package");
    EXPECT_TRUE(deps.libraries[1].serviceable);
    EXPECT_EQ(deps.libraries[1].path, "sqlite/2.1.0");
    EXPECT_EQ(deps.libraries[1].runtimeTargets.size(), 5u);  // the NATIVE one too
    EXPECT_FALSE(deps.libraries[3].listed);
    EXPECT_EQ(deps.libraries[0].dependencies.size(), 1u);

    // Managed first, then resources, then native; the RID-specific ones
    // where the deps file puts them, the others by name.
    EXPECT_EQ(selected(deps, platform::kMachineAmd64, false),
              "App.dll runtimes/win/lib/net8.0/SQLite.dll@win fr/App.resources.dll de-DE/SQLite.resources.dll "
              "runtimes/win-x64/native/e_sqlite3.dll@win-x64 coreclr.dll ");
    EXPECT_NE(selected(deps, platform::kMachineArm64, false).find("runtimes/win-arm64/native/e_sqlite3.dll@win-arm64"),
              std::string::npos);
    EXPECT_NE(selected(deps, platform::kMachineI386, false).find("runtimes/win/native/e_sqlite3.dll@win"), std::string::npos);
    // A self-contained app's file: no RID-specific choice left to make.
    EXPECT_EQ(selected(deps, platform::kMachineAmd64, true),
              "App.dll SQLite.dll fr/App.resources.dll de-DE/SQLite.resources.dll coreclr.dll ");
    // A framework's own deps file: every asset by name in its folder.
    EXPECT_EQ(selectAssets(deps, platform::kMachineAmd64, false, true)[1].appPath, "SQLite.dll");

    for (const std::string& text : {std::string("{\"targets\": {}}"), std::string("{\"runtimeTarget\": \"x\", \"targets\": {}}"),
                                    std::string("{\"runtimeTarget\": \"x\", \"targets\": {\"x\": {}}}"),
                                    std::string("{\"runtimeTarget\": \"x\", \"targets\": {\"x\": {\"a/1\": 3}}, \"libraries\": {}}"),
                                    std::string("not json")}) {
        const DepsJson d = parseDepsJson(text);
        EXPECT_EQ(d.outcome, DepsJson::Outcome::Damaged) << text;
        EXPECT_FALSE(d.reason.empty()) << text;
    }
}

}  // namespace
