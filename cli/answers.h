// The command line's answers that follow the closure rather than give the
// rows: --ship and --copy-to, --tree, --why. What they print and how they
// end; the answers themselves are the engine's.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "inspect/ignore.h"
#include "inspect/run.h"
#include "inspect/ship.h"

namespace cli {

// What one of these answers prints and how it ends.
struct Answer {
    std::string out;  // standard output
    std::string err;  // standard error, whole lines
    int status = 0;
};

// What the release checks add to --ship.
struct ShipExtras {
    // Called once the set is known, before anything is printed or copied:
    // problems it adds refuse the set; the lines it returns go to standard
    // error after the set's own.
    std::function<std::vector<std::string>(const std::vector<Closure>&, shipping::ShipSet&)> amend;
    // Members added to each DLL's JSON object (", \"key\": value").
    std::function<std::string(const shipping::ShipDll&)> jsonMembers;
};

// One full path a line.
std::string shipPaths(const shipping::ShipSet& set);
// One object per DLL: file, path (its folder, as in the rows), version,
// file-version, machine, origin, needed-by.
std::string shipJson(const shipping::ShipSet& set, const ShipExtras& extras = {});

// --ship (and --copy-to when `copyTo` is not empty): the set on standard
// output, its problems, refusals and redistributables on standard error;
// status 1 when the set is refused or the copy fails.
// `closures`: those of the listed `files`, walked in `run`.
Answer shipAnswer(const std::vector<Closure>& closures, const std::vector<std::string>& files, AnalysisRun& run,
                  const analysis::IgnoreList& ignore, bool json, const std::string& copyTo,
                  const ShipExtras& extras = {});
// --tree: the tree of each listed file, a blank line between two; the
// problems on standard error and status 1 when there are any, as the report.
Answer treeAnswer(const std::vector<Closure>& closures, AnalysisRun& run, const analysis::IgnoreList& ignore);
// --why: the chains of each listed file in turn; the problems, which may
// hide chains, on standard error; status 1 when no listed file needs it.
Answer whyAnswer(const std::vector<Closure>& closures, AnalysisRun& run, const analysis::IgnoreList& ignore,
                 const std::string& pattern);

// The same for files not walked yet (the suites' entry).
Answer shipAnswer(const std::vector<std::string>& files, AnalysisRun& run, const analysis::IgnoreList& ignore, bool json,
                  const std::string& copyTo, const ShipExtras& extras = {});
Answer treeAnswer(const std::vector<std::string>& files, AnalysisRun& run, const analysis::IgnoreList& ignore);
Answer whyAnswer(const std::vector<std::string>& files, AnalysisRun& run, const analysis::IgnoreList& ignore,
                 const std::string& pattern);

}  // namespace cli
