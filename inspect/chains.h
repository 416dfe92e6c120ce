// Why each DLL is there: the closure of a listed file drawn as a tree of
// its import tables, and the chains of imports that lead to one DLL.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "inspect/closure.h"
#include "inspect/reads.h"

namespace chains {

// The closure of `closure` as an indented tree, two spaces a level, the
// listed file first: each DLL with its version and folder, in import-table
// order. A DLL already drawn reads "(voir plus haut)" and is not expanded
// again (so cycles end there); a DLL found nowhere reads "(invisible)"; a
// name of a delay-load table (with -d) ends in "(chargement différé)"; an
// API set name shows the DLL it maps to ("api-ms-...dll -> ucrtbase.dll").
std::string tree(const Closure& closure, Reads& reads);

struct Chains {
    // "prog.exe -> libstdc++-6.dll -> libwinpthread-1.dll", shortest first,
    // at most the limit asked.
    std::vector<std::string> lines;
    // More chains exist than were given, or the search stopped at its budget.
    bool more = false;
};

// The chains of imports from the listed file to a DLL whose name (found, or
// as imported) matches `pattern` (a name, or a shell pattern as --ignore
// takes), ignoring case; each chain passes through an image at most once
// and stops at the first match. At most `limit` chains, and at most
// `budget` steps of search (a step: one partial chain made, or one image of
// a chain visited), so that wide or deep graphs stay cheap.
Chains why(const Closure& closure, const std::string& pattern, std::size_t limit = 20,
           std::size_t budget = 2000000);

}  // namespace chains
