#include "cli/closures.h"

#include <unordered_set>

namespace cli {

std::vector<Closure> closures(const std::vector<std::string>& files, AnalysisRun& run) {
    std::vector<Closure> out;
    std::unordered_set<std::string> seen;
    for (const std::string& path : files) {
        if (!seen.insert(path).second) continue;
        out.push_back({path, analysis::inspect(path, run)});
    }
    return out;
}

std::vector<std::string> problemLines(const std::vector<Closure>& closures, const IgnoreList& ignore) {
    std::vector<std::string> out;
    analysis::UniqueLines seen;
    for (const Closure& c : closures)
        for (const Finding& f : c.inspection.findings) {
            if (ignore.ignores(analysis::errorRow(c.listed, f))) continue;
            if (seen.add(f.line)) out.push_back(f.line);
        }
    return out;
}

const std::string& nodePath(const Closure& closure, std::size_t node) {
    static const std::string none;
    if (node == 0) return closure.listed;
    return node <= closure.inspection.found.size() ? closure.inspection.found[node - 1].path : none;
}

}  // namespace cli
