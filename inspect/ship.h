// The ship set: the DLLs of the listed files' closures that the target
// Windows does not provide and that must therefore go beside the programs,
// with what stands in the way of shipping them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/closure.h"
#include "inspect/ignore.h"
#include "inspect/reads.h"

namespace shipping {

struct ShipDll {
    loader::LocationPtr location;  // where the loader maps it from, and why
    std::string version;           // the FileVersion text, empty without one
    std::string fileVersion;       // "a.b.c.d", empty without a version resource
    std::uint16_t machine = 0;
    pe::CodeView::Kind codeKind = pe::CodeView::Kind::Plain;
    std::vector<std::string> neededBy;  // the listed files whose closures hold it, in list order

    const std::string& path() const { return location->path; }
};

// Two or more different files of the set under one name: Windows keeps one
// file per name in a folder, so they cannot all go beside the programs.
struct Clash {
    std::string name;                // the file name, as the first one spells it
    std::vector<std::size_t> dlls;   // their places in ShipSet::dlls, in set order
    // For each of them, the listed files that need it or a copy of the
    // same bytes under that name, in list order.
    std::vector<std::vector<std::string>> neededBy;
    // The one of them that would serve every program that needs any of
    // them (same machine, every function asked exported), if one does.
    std::size_t servesAll = static_cast<std::size_t>(-1);
    bool served() const { return servesAll != static_cast<std::size_t>(-1); }
};

struct ShipSet {
    std::vector<ShipDll> dlls;  // closure order, each file once
    std::vector<Clash> clashes;
    // Problem lines: DLLs found nowhere, files unreadable, functions
    // missing (with -f); each once.
    std::vector<std::string> problems;
    // Debug runtimes imported by a program or a DLL of the set.
    std::vector<std::string> refusals;
    // Redistributables the target must install (or whose copy from
    // Microsoft must be shipped): told, never copied from the system folders
    // or from Wine.
    std::vector<std::string> notices;

    bool refused() const { return !problems.empty() || !refusals.empty() || !clashes.empty(); }
};

// What the closures need beside the programs: every DLL taken from the
// program's folder, the user's folders or the toolchain's, unless it is an
// API set or Wine's stand-in for a Windows DLL. Problems and debug runtimes
// the ignore list matches are left out.
ShipSet shipSet(const std::vector<Closure>& closures, Reads& reads, const analysis::IgnoreList& ignore);

}  // namespace shipping
