// What the inspection of one listed file finds: one record per problem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

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
    MissingFramework, // "<framework> <version> invisible pour ... (versions présentes : ...)"
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
    // Where the walk met it: the image (node) whose table or file the line
    // is about, and whether through a delay-load entry; what decides, once
    // the closure is known, whether the program meets it only late.
    std::size_t node = 0;
    bool fromDelayEntry = false;
    // A DLL missing where the importer's DependentLoadFlags limited the
    // search: those flags.
    std::uint16_t dependentLoadFlags = 0;
    // A file that cannot be opened: why.
    platform::OpenFailure reason = platform::OpenFailure::None;
};
