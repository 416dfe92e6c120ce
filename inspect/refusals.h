// What stands in the way of shipping a set, each refusal with the listed
// programs it concerns: what the window's "Livrer…" shows before it copies.
#pragma once

#include <string>
#include <vector>

#include "inspect/closure.h"
#include "inspect/ignore.h"
#include "inspect/ship.h"

namespace shipping {

struct Refusal {
    enum class Kind {
        Problem,       // a line of the set's problems: a DLL found nowhere, a file unreadable...
        DebugRuntime,  // a line of the set's refusals
        TwoFiles,      // two different files of the set under one name
    };
    Kind kind = Kind::Problem;
    std::string line;
    // The listed files whose closures meet it, in list order.
    std::vector<std::string> neededBy;
    // TwoFiles: each different file of that name (their paths are not in
    // the line), in set order, with the listed files that need it.
    std::vector<ShipDll> files;
};

// The refusals of `set`, made by shipSet from `closures` and `ignore`:
// its problems, then its debug runtimes, in the set's order, then the names
// under which the set holds different bytes (which --copy-to refuses too).
std::vector<Refusal> refusals(const ShipSet& set, const std::vector<Closure>& closures,
                              const analysis::IgnoreList& ignore);

}  // namespace shipping
