// Throughput of the readers over a real folder of PE files (Wine's
// x86_64-windows folder unless TAVELIN_BENCH_DIR names another): direct
// imports and FileVersion of every file, then each file's whole closure.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "inspect/analysis.h"
#include "inspect/fileversion.h"
#include "inspect/closure.h"
#include "platform/platform.h"

namespace {

// Only the importer's folder is searched, as the Python comparison does.
RunOptions options(bool recursive) {
    RunOptions o;
    o.recursive = recursive;
    o.search.folders = std::vector<std::string>{};
    return o;
}

const std::vector<std::string>& peFiles() {
    static const std::vector<std::string> files = [] {
        const char* env = std::getenv("TAVELIN_BENCH_DIR");
        const std::string dir = env && *env ? env : "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
            const std::string ext = platform::toLower(e.path().extension().string());
            if (e.is_regular_file() && (ext == ".dll" || ext == ".exe" || ext == ".drv" || ext == ".sys" ||
                                        ext == ".ocx" || ext == ".cpl" || ext == ".acm" || ext == ".ax"))
                out.push_back(e.path().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }();
    return files;
}

void BM_DirectImportsAndVersion(benchmark::State& state) {
    const auto& files = peFiles();
    std::size_t found = 0;
    for (auto _ : state) {
        for (const std::string& f : files) {
            AnalysisRun run(options(false));
            found += walkClosure(f, run).found.size();
            benchmark::DoNotOptimize(FileVersionString(f));
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * files.size()));
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["found_per_pass"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DirectImportsAndVersion)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_WholeClosure(benchmark::State& state) {
    const auto& files = peFiles();
    std::size_t found = 0;
    for (auto _ : state) {
        for (const std::string& f : files) {
            AnalysisRun run(options(true));
            found += walkClosure(f, run).found.size();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * files.size()));
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["found_per_pass"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_WholeClosure)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The "Imports" tab's work for the whole folder, recursive: every row with
// its version, then the report in both formats.
void BM_AnalyseFolderRecursiveAndReport(benchmark::State& state) {
    const auto& files = peFiles();
    for (auto _ : state) {
        const std::vector<analysis::Row> rows = analysis::analyse(files, options(true));
        benchmark::DoNotOptimize(analysis::reportLines(rows, false));
        benchmark::DoNotOptimize(analysis::reportLines(rows, true));
        state.counters["rows"] = static_cast<double>(rows.size());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * files.size()));
}
BENCHMARK(BM_AnalyseFolderRecursiveAndReport)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
