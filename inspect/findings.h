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
};

struct Finding {
    std::string line;  // as the grid and the report show it
    Problem problem = Problem::NotReadable;
    // From a delay-load descriptor, or about a DLL the program loads only
    // through one.
    bool delayLoaded = false;
    std::string dll;       // the DLL (or file) the line is about, as imported or as named
    std::string function;  // a missing function: its name, or "#<ordinal>"
};

struct FoundDll {
    std::string path;  // as the found list holds it (platform::listPath)
    platform::Origin origin = platform::Origin::None;  // why the loader takes it from there
    // Reached only through delay-load tables: the program does not load it
    // when it starts.
    bool delayLoaded = false;
};

struct Inspection {
    bool done = false;          // the listed file's import table was walked to its end
    std::uint16_t machine = 0;  // of the listed file, 0 when not read
    std::vector<FoundDll> found;     // discovery order: depth first, pre-order
    std::vector<Finding> findings;   // in the order they were met
};
