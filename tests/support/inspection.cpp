#include "tests/support/inspection.h"

namespace testutil {

Flat flatten(const Closure& in) {
    Flat out;
    out.done = in.done;
    out.machine = in.machine;
    for (const FoundDll& f : in.found) {
        out.found.push_back(f.path());
        out.foundDelayLoaded.push_back(f.delayLoaded);
    }
    for (const Finding& f : in.findings) {
        out.errors.push_back(f.line);
        out.problems.push_back(f.problem);
        out.errorsDelayLoaded.push_back(f.delayLoaded);
    }
    return out;
}

RunOptions only(std::vector<std::string> folders, bool recursive, bool functions, bool delayLoad) {
    RunOptions o;
    o.recursive = recursive;
    o.functions = functions;
    o.delayLoad = delayLoad;
    o.search.folders = std::move(folders);
    return o;
}

Flat inspect(const std::string& path, const RunOptions& options) {
    AnalysisRun run(options);
    return flatten(analysis::inspect(path, run));
}

}  // namespace testutil
