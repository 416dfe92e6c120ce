// The whole import closure of each listed file, walked in one run, for the
// answers that follow the graph (--ship, --copy-to, --tree, --why) rather
// than the rows.
#pragma once

#include <string>
#include <vector>

#include "cli/ignore.h"
#include "inspect/analysis.h"

namespace cli {

struct Closure {
    std::string listed;  // the listed file's path, as the list holds it
    Inspection inspection;
};

// What one of these answers prints and how it ends.
struct Answer {
    std::string out;  // standard output
    std::string err;  // standard error, whole lines
    int status = 0;
};

// The closure of every file of `files` in list order (a file listed twice
// once), within `run`, whose options must be recursive.
std::vector<Closure> closures(const std::vector<std::string>& files, AnalysisRun& run);

// The problem lines of the closures, each once (ignoring case) in list
// order, without those the ignore list leaves out.
std::vector<std::string> problemLines(const std::vector<Closure>& closures, const IgnoreList& ignore);

// The node's image: the listed file for node 0, else found[node - 1]; empty
// for a node the closure does not hold.
const std::string& nodePath(const Closure& closure, std::size_t node);

}  // namespace cli
