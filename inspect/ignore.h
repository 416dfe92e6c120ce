// What a CI job chooses not to hear about: the problem lines about DLLs whose
// names match shell-style wildcards ("node.exe", "api-ms-win-*",
// "bcryptprimitives.dll"), ignoring case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inspect/analysis.h"
#include "inspect/wildcard.h"

namespace analysis {

class IgnoreList {
public:
    // False, with the reason, for a pattern that names nothing (empty).
    bool add(const std::string& pattern, std::string& why);
    // One pattern a line, "#" starting a comment line; false, with the
    // reason, for a file that cannot be read, is not text or is too large.
    bool addFile(const std::string& path, std::string& why);

    bool empty() const { return patterns_.empty(); }
    // A problem row about a DLL (missing, a function of it missing, of
    // another machine, an assembly) whose name matches.
    bool ignores(const analysis::Row& row) const;
    // A DLL name (or path: its file name counts) that some pattern matches.
    bool matches(const std::string& dll) const;

private:
    std::vector<std::string> patterns_;
};

// The problem lines of the closures, each once (ignoring case) in list
// order, without those the ignore list leaves out.
std::vector<std::string> problemLines(const std::vector<Closure>& closures, const IgnoreList& ignore);

}  // namespace analysis
