// What the inspection of one listed file finds: the DLLs of its imports (or
// of its closure) and one record per problem met.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dllsearch.h"

// What kind of problem a line tells.
enum class Problem {
    None,
    MissingDll,       // "... invisible pour ..."
    MissingFunction,  // "... absente de ... pour ..."
    WrongMachine,     // the same line, only files of another machine exist
    NotReadable,      // "non ouvrable", "non mappable", "non visionnable"
    NotPe,            // " n'est pas un exécutable Win32"
    MissingAssembly,  // "<assembly> <version> invisible pour ..."
    OldAssembly,      // "<assembly> <version> trop ancienne (<found>) pour ..."
};

struct Finding {
    std::string line;  // as the grid and the report show it
    Problem problem = Problem::NotReadable;
    // From a delay-load descriptor, or about a DLL the program loads only
    // through one.
    bool delayLoaded = false;
    std::string dll;       // the DLL (or file) the line is about, as imported or as named
    std::string function;  // a missing function: its name, or "#<ordinal>"
    std::string assembly;  // a .NET reference: "Name, Version=..., Culture=..., PublicKeyToken=..."
};

// The images of a closure: node 0 is the listed file, node k + 1 the DLL
// found[k].
constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);

struct FoundDll {
    std::string path;  // as the found list holds it (platform::listPath)
    platform::Origin origin = platform::Origin::None;  // why the loader takes it from there
    std::string originDetail;                          // a side-by-side assembly: its name and version
    // Reached only through delay-load tables: the program does not load it
    // when it starts.
    bool delayLoaded = false;
    // The image whose import table named it first (its node).
    std::size_t via = 0;
    // Found in that toolchain variant's folder (12-win32, 12-posix, ...).
    int variant = platform::kAnyVariant;
    // A .NET reference that led to it (its display name).
    std::string assembly;
};

// One name of an image's import (or delay-load) table and the image it
// leads to: the node of the DLL found for it, kNoNode when none was.
struct ImportEdge {
    std::string name;
    std::size_t to = kNoNode;
    bool delayed = false;
};

struct Inspection {
    bool done = false;          // the listed file's import table was walked to its end
    std::uint16_t machine = 0;  // of the listed file, 0 when not read
    std::vector<FoundDll> found;     // discovery order: depth first, pre-order
    std::vector<Finding> findings;   // in the order they were met
    // With RunOptions::importGraph, per node, the names of its tables in
    // order; only the images walked have them (the listed file alone
    // without the closure).
    std::vector<std::vector<ImportEdge>> imports;
};
