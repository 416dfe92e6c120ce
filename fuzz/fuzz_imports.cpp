// The import walk on arbitrary bytes, read from memory. The input stands
// both for the listed file and for "a.dll" beside it, so an input importing
// a.dll also exercises the recursive walk and its cycle handling, and the
// function check runs against the input's own export table.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "inspect/analysis.h"
#include "inspect/run.h"
#include "tests/support/memoryreads.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::string folder = "/fuzz";
    // Twice: the plain walk (recursive or not, by the first byte), then with
    // the closure, the function check, the delay-load table and the .NET
    // references all on.
    for (int pass = 0; pass < 2; ++pass) {
        RunOptions options;
        options.recursive = pass == 1 || (size > 0 && (data[0] & 1));
        options.functions = options.delayLoad = options.assemblies = pass == 1;
        options.search.folders = std::vector<std::string>{};
        AnalysisRun run(options, [&](const pe::ReadConfig& o, platform::SearchPlaces&) {
            return std::make_unique<MemoryReads>(o, folder,
                                                 std::map<std::string, std::vector<std::uint8_t>>{{"fuzz.exe", bytes},
                                                                                                  {"a.dll", bytes}});
        });
        const std::vector<analysis::Row> rows = analysis::analyse({folder + "/fuzz.exe"}, run);
        std::size_t imports = 0;
        for (const analysis::Row& r : rows) {
            // Every line names the file or a DLL; none may hold a line break.
            for (const std::string& cell : r.cells)
                if (cell.find('\n') != std::string::npos) std::abort();
            // Only the folder's two files can ever be found, each once.
            if (r.kind == analysis::RowKind::Import && (++imports > 2 || r.cells[analysis::kPath] != folder))
                std::abort();
        }
    }
    return 0;
}
