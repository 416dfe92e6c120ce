// The manifest reader, the store and KnownDLLs on files no one here wrote:
// a prefix made by wineboot for this build folder (its winsxs and its
// system.reg) and Wine's own PE DLLs and programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/knowndlls.h"
#include "inspect/loader/sxs.h"
#include "platform/platform.h"
#include "tests/support/testutil.h"

using namespace platform;

using namespace sxs;

namespace {

namespace fs = std::filesystem;

std::string windowsFolder() {
    const std::string windows = std::string(TAVELIN_SXS_WINEPREFIX) + "/drive_c/windows";
    std::error_code ec;
    if (fs::is_directory(windows + "/winsxs/manifests", ec)) return windows;
    // With Wine here the fixture makes the prefix before these run: a
    // missing one is a fault of the set-up, not a reason to skip.
    if (testutil::haveCommand("wineboot")) ADD_FAILURE() << "wineboot is installed but no prefix was made";
    return {};
}

AssemblyIdentity identity(const std::string& name, const std::string& version, const std::string& token) {
    AssemblyIdentity id;
    id.name = name;
    id.versionText = version;
    id.versionValid = parseAssemblyVersion(version, id.version);
    id.processorArchitecture = "*";
    id.publicKeyToken = token;
    id.language = "*";
    return id;
}

// The machines the prefix has assemblies for.
std::vector<std::uint16_t> storeMachines(const std::string& windows) {
    std::vector<std::uint16_t> out;
    for (const auto& [prefix, machine] : {std::pair{"amd64_", platform::kMachineAmd64}, std::pair{"x86_", platform::kMachineI386}})
        for (const auto& e : fs::directory_iterator(windows + "/winsxs/manifests"))
            if (e.path().filename().string().rfind(prefix, 0) == 0) {
                out.push_back(machine);
                break;
            }
    return out;
}

}  // namespace

TEST(WinePrefix, KnownDllsFromItsRegistryOrWindowsList) {
    const std::string windows = windowsFolder();
    if (windows.empty()) GTEST_SKIP() << "no Wine prefix (wineboot missing)";
    std::ifstream in(std::string(TAVELIN_SXS_WINEPREFIX) + "/system.reg");
    std::stringstream text;
    text << in.rdbuf();
    // Wine 8's prefixes have no KnownDLLs key; later ones may.
    const bool hasKey = text.str().find("\\\\Session Manager\\\\KnownDLLs]") != std::string::npos;
    const KnownDlls k = knownDllsFor(windows, false);
    EXPECT_EQ(k.source, hasKey ? KnownDlls::Source::WineRegistry : KnownDlls::Source::WindowsList);
    EXPECT_TRUE(k.contains("kernel32.dll"));
    EXPECT_TRUE(k.contains("ntdll.dll"));
    std::vector<std::string> names;
    EXPECT_EQ(readWineKnownDlls(wineRegistryOf(windows), names), hasKey);
}

TEST(WinePrefix, EveryStoreManifestReadsAndMatchesItsName) {
    const std::string windows = windowsFolder();
    if (windows.empty()) GTEST_SKIP() << "no Wine prefix (wineboot missing)";
    SxsStore store(windows);
    ASSERT_TRUE(store.present());
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(windows + "/winsxs/manifests")) {
        const std::string name = e.path().filename().string();
        StoreName s;
        ASSERT_TRUE(parseStoreName(name, s)) << name;
        EXPECT_TRUE(s.wine()) << name;
        Manifest m;
        ASSERT_TRUE(readManifestFile(e.path().string(), m)) << name;
        ASSERT_TRUE(m.ok()) << name;
        EXPECT_EQ(storeSpelling(m.identity.name), s.name);
        EXPECT_EQ(asciiLower(m.identity.processorArchitecture), s.architecture);
        EXPECT_FALSE(m.files.empty()) << name;
        ++files;
    }
    EXPECT_EQ(store.size(), files);
}

TEST(WinePrefix, CommonControlsAndTheCrtsPerMachine) {
    const std::string windows = windowsFolder();
    if (windows.empty()) GTEST_SKIP() << "no Wine prefix (wineboot missing)";
    SxsStore store(windows);
    const std::vector<std::uint16_t> machines = storeMachines(windows);
    ASSERT_FALSE(machines.empty());
    for (const std::uint16_t machine : machines) {
        SCOPED_TRACE(platform::machineName(machine));
        const struct {
            AssemblyIdentity id;
            std::string dll;
        } asked[] = {
            {identity("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df"), "comctl32.dll"},
            {identity("Microsoft.VC80.CRT", "8.0.50727.762", "1fc8b3b9a1e18e3b"), "msvcr80.dll"},
            {identity("Microsoft.VC90.CRT", "9.0.21022.8", "1fc8b3b9a1e18e3b"), "msvcr90.dll"},
        };
        for (const auto& [id, dll] : asked) {
            const AssemblyPtr a = store.findInStore(id, machine);
            ASSERT_TRUE(a) << id.label();
            EXPECT_TRUE(equalsIgnoringCase(a->name, id.name));
            std::array<std::uint16_t, 4> found{};
            ASSERT_TRUE(parseAssemblyVersion(a->version, found));
            EXPECT_GE(found, id.version) << a->label();
            EXPECT_EQ(found[0], id.version[0]);
            EXPECT_EQ(found[1], id.version[1]);
            const auto file = std::find_if(a->files.begin(), a->files.end(),
                                           [&](const AssemblyFile& f) { return equalsIgnoringCase(f.name, dll); });
            ASSERT_NE(file, a->files.end()) << a->label();
            ASSERT_TRUE(file->present) << file->path;
            // Wine's store holds real PE DLLs of the asked machine.
            EXPECT_EQ(platform::imageMachine(file->path), machine) << file->path;
        }
    }
    if (machines.size() < 2) std::printf("note: the prefix holds assemblies of one machine only (no 32-bit Wine)\n");
}

TEST(WinePrefix, WinesOwnModulesManifestsResolveInTheirPrefix) {
    const std::string windows = windowsFolder();
    const std::string wine = testutil::wineX64Folder();
    if (windows.empty() || wine.empty()) GTEST_SKIP() << "no Wine prefix or no Wine PE folder";
    SxsStore store(windows);
    std::size_t embedded = 0, withDependencies = 0;
    for (const auto& e : fs::directory_iterator(wine)) {
        const std::string path = e.path().string();
        const std::string ext = asciiLower(e.path().extension().string());
        if (ext != ".dll" && ext != ".exe") continue;
        for (const bool isDll : {false, true}) {
            const auto ctx = store.moduleContext(path, isDll, platform::kMachineAmd64, wine);
            if (!ctx || ctx->source != ModuleManifest::Source::Embedded) continue;
            ++embedded;
            EXPECT_EQ(ctx->status, ManifestStatus::Ok) << path;
            // What Wine's own modules ask for, wineboot installed.
            for (const DependentAssembly& d : ctx->missing) ADD_FAILURE() << path << ": " << d.identity.label();
            if (!ctx->assemblies.empty()) ++withDependencies;
        }
    }
    std::printf("Wine's modules: %zu embedded manifests, %zu with assemblies found in the prefix\n", embedded,
                withDependencies);
    EXPECT_GT(embedded, 0u);
}
