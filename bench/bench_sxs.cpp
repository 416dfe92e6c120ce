// The side-by-side store at the size of a real Windows: a Manifests folder
// of 30,000 files against one of ten. Indexing and resolving a few
// identities alone, then the recursive pass over 60 of Wine's programs with
// every module's activation context taken from the store.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "inspect/analysis.h"
#include "inspect/loader/sxs.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"
#include "tests/support/windowstree.h"

namespace {

const std::string kWine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

// The ten manifests every store holds: what programs ask for, both machines.
void addAskedAssemblies(testutil::WindowsTree& tree) {
    for (const std::string arch : {"x86", "amd64"}) {
        const auto add = [&](const std::string& name, const std::string& token, const std::string& version,
                             std::vector<std::string> files) {
            tree.add({arch, name, token, version, "none", false, true, std::move(files), ""});
        };
        add("Microsoft.Windows.Common-Controls", "6595b64144ccf1df", "6.0.22621.2506", {"comctl32.dll"});
        add("Microsoft.Windows.Common-Controls", "6595b64144ccf1df", "5.82.22621.2506", {"comctl32.dll"});
        add("Microsoft.VC80.CRT", "1fc8b3b9a1e18e3b", "8.0.50727.6195", {"msvcr80.dll"});
        add("Microsoft.VC90.CRT", "1fc8b3b9a1e18e3b", "9.0.30729.9635", {"msvcr90.dll"});
        add("Microsoft.Windows.GdiPlus", "6595b64144ccf1df", "1.1.22621.2506", {"gdiplus.dll"});
    }
}

// A Windows folder whose Manifests folder holds `count` files, made once per size.
const std::string& windowsWith(std::size_t count) {
    static std::map<std::size_t, std::unique_ptr<testutil::TempDir>> dirs;
    static std::map<std::size_t, std::string> folders;
    if (const auto it = folders.find(count); it != folders.end()) return it->second;
    auto dir = std::make_unique<testutil::TempDir>();
    testutil::WindowsTree tree(dir->path());
    addAskedAssemblies(tree);
    // Components of the system, as servicing leaves them: several versions
    // of each, for every architecture, without their folders.
    static const char* const arches[] = {"amd64", "x86", "wow64", "msil"};
    for (std::size_t i = 10; i < count; ++i) {
        const std::string name = "Microsoft-Windows-Component-" + std::to_string(i / 12);
        const std::string version = "10.0.22621." + std::to_string(1000 + i % 3);
        const std::string stem = std::string(arches[(i / 3) % 4]) + "_" + sxs::storeSpelling(name) +
                                 "_31bf3856ad364e35_" + version + "_none_" + std::to_string(1000000000000000ull + i);
        pew::writeFile(platform::joinPath(tree.manifests(), stem + ".manifest"),
                      testutil::assemblyManifest(name, version, arches[(i / 3) % 4], "31bf3856ad364e35", {"c.dll"}));
    }
    folders[count] = tree.windows();
    dirs[count] = std::move(dir);
    return folders[count];
}

sxs::AssemblyIdentity identity(const std::string& name, const std::string& version, const std::string& token) {
    sxs::AssemblyIdentity id;
    id.name = name;
    id.versionText = version;
    id.versionValid = sxs::parseAssemblyVersion(version, id.version);
    id.processorArchitecture = "*";
    id.publicKeyToken = token;
    return id;
}

void BM_IndexAndResolve(benchmark::State& state) {
    const std::string& windows = windowsWith(static_cast<std::size_t>(state.range(0)));
    const sxs::AssemblyIdentity asked[] = {
        identity("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df"),
        identity("Microsoft.VC90.CRT", "9.0.21022.8", "1fc8b3b9a1e18e3b"),
        identity("Microsoft.Windows.GdiPlus", "1.1.0.0", "6595b64144ccf1df"),
    };
    std::size_t found = 0;
    for (auto _ : state) {
        platform::FolderIndex files;
        sxs::SxsStore store(windows, files);
        for (const std::uint16_t machine : {platform::kMachineAmd64, platform::kMachineI386})
            for (const sxs::AssemblyIdentity& id : asked) found += store.findInStore(id, machine) ? 1 : 0;
        state.counters["indexed"] = static_cast<double>(store.size());
    }
    state.counters["found_per_pass"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_IndexAndResolve)->Arg(10)->Arg(30000)->Unit(benchmark::kMillisecond);

// 60 of Wine's programs, their whole closures from Wine's folder, and the
// context of every listed program and every DLL met: one store per pass.
void BM_RecursivePass60Programs(benchmark::State& state) {
    const std::string& windows = windowsWith(static_cast<std::size_t>(state.range(0)));
    std::vector<std::string> programs;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(kWine, ec))
        if (e.path().extension() == ".exe") programs.push_back(e.path().string());
    std::sort(programs.begin(), programs.end());
    if (programs.size() > 60) programs.resize(60);
    std::size_t contexts = 0, assemblies = 0;
    for (auto _ : state) {
        RunOptions options;
        options.recursive = true;
        options.search.folders = std::vector<std::string>{kWine};
        AnalysisRun run(options);
        const std::vector<analysis::Row> rows = analysis::analyse(programs, run);
        platform::FolderIndex files;
        sxs::SxsStore store(windows, files);
        for (const analysis::Row& r : rows) {
            if (r.kind == analysis::RowKind::Error) continue;
            const std::string path = platform::joinPath(r.cells[analysis::kPath], r.cells[analysis::kFile]);
            if (const auto ctx = store.moduleContext(path, r.kind == analysis::RowKind::Import, r.machine, kWine)) {
                ++contexts;
                assemblies += ctx->assemblies.size();
            }
        }
    }
    state.counters["programs"] = static_cast<double>(programs.size());
    state.counters["contexts_per_pass"] = static_cast<double>(contexts) / static_cast<double>(state.iterations());
    state.counters["assemblies_per_pass"] = static_cast<double>(assemblies) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RecursivePass60Programs)->Arg(10)->Arg(30000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
