// What one analysis run shows, checks and where it searches: the window's
// boxes and folders, or the command line's options.
#pragma once

#include "inspect/pe/read.h"
#include "platform/searchplaces.h"

struct RunOptions {
    bool recursive = false;  // the whole import closure of every listed file
    bool functions = false;  // the imported functions, checked against the found DLLs' exports
    bool delayLoad = false;  // the delay-load tables' DLLs, resolved as imports
    // .NET assemblies: their references (and, with delayLoad, their
    // P/Invoke DLLs) resolved as the runtime probes for them.
    bool assemblies = false;
    // A dotnet folder (holding shared/<framework>/<version>) to check .NET
    // 5+ programs' frameworks against (--dotnet); empty: the one of the
    // Windows folder checked against.
    std::string dotnetFolder;
    platform::SearchOptions search = platform::SearchOptions::fromEnvironment();

    // What the run reads of each image.
    pe::ReadConfig readConfig() const {
        pe::ReadConfig c;
        c.functions = functions;
        c.delayLoad = delayLoad;
        c.assemblies = assemblies;
        return c;
    }
};
