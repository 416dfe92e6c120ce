// The ship set: the DLLs of the listed files' closures that the target
// Windows does not provide and that must therefore go beside the programs,
// with what stands in the way of shipping them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/closures.h"
#include "cli/ignore.h"
#include "inspect/reads.h"

namespace cli {

struct ShipDll {
    std::string path;  // as the found list holds it
    platform::Origin origin = platform::Origin::None;
    std::string version;      // the FileVersion text, empty without one
    std::string fileVersion;  // "a.b.c.d", empty without a version resource
    std::uint16_t machine = 0;
    std::vector<std::string> neededBy;  // the listed files whose closures hold it, in list order
};

struct ShipSet {
    std::vector<ShipDll> dlls;  // closure order, each file once
    // Problem lines: DLLs found nowhere, files unreadable, functions
    // missing (with -f); each once.
    std::vector<std::string> problems;
    // Debug runtimes imported by a program or a DLL of the set.
    std::vector<std::string> refusals;
    // Redistributables the target must install (or whose copy from
    // Microsoft must be shipped): told, never copied from the system folders
    // or from Wine.
    std::vector<std::string> notices;

    bool refused() const { return !problems.empty() || !refusals.empty(); }
};

// What the closures need beside the programs: every DLL taken from the
// program's folder, the user's folders or the toolchain's, unless it is an
// API set or Wine's stand-in for a Windows DLL. Problems and debug runtimes
// the ignore list matches are left out.
ShipSet shipSet(const std::vector<Closure>& closures, Reads& reads, const IgnoreList& ignore);

// One full path a line.
std::string shipPaths(const ShipSet& set);
// One object per DLL: file, path (its folder, as in the rows), version,
// file-version, machine, origin, needed-by.
std::string shipJson(const ShipSet& set);

// --ship (and --copy-to when `copyTo` is not empty): the set on standard
// output, its problems, refusals and redistributables on standard error;
// status 1 when the set is refused or the copy fails.
Answer shipAnswer(const std::vector<std::string>& files, AnalysisRun& run, const IgnoreList& ignore, bool json,
                  const std::string& copyTo);

}  // namespace cli
