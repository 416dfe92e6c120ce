// What the suites compare of an inspection: its findings as parallel lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/analysis.h"
#include "inspect/options.h"

namespace testutil {

struct Flat {
    bool done = false;
    std::vector<std::string> found, errors;
    std::vector<Problem> problems;  // one per error line
    std::uint16_t machine = 0;
    std::vector<bool> foundDelayLoaded, errorsDelayLoaded;
};

Flat flatten(const Closure& inspection);

// Options whose search looks in the importer's folder, then in `folders` only.
RunOptions only(std::vector<std::string> folders, bool recursive = false, bool functions = false,
                bool delayLoad = false);

// The inspection of `path` in a run of its own.
Flat inspect(const std::string& path, const RunOptions& options);

}  // namespace testutil
