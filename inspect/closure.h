// The import closure of one listed file, walked in the loader's order: the
// DLLs it loads (each once, depth first, pre-order), every problem met, and
// the graph of which image's table led where. The walk returns its result;
// the toolchain variant a program's DLLs are held to is chosen inside it,
// with the run's one set of reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "inspect/findings.h"
#include "inspect/links.h"

class AnalysisRun;

// The images of a closure: node 0 is the listed file, node k + 1 the DLL
// found[k].
constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);

struct FoundDll {
    // Where the loader maps it from, and why (the loader's own record).
    loader::LocationPtr location;
    // Reached only through delay-load tables: the program does not load it
    // when it starts.
    bool delayLoaded = false;
    // The image whose table named it first (its node).
    std::size_t via = 0;

    const std::string& path() const { return location->path; }
};

// One name of an image's tables and the image it leads to: the node of the
// DLL found for it, kNoNode when none was (or when it was found by an
// analysis this one is nested in).
struct ImportEdge {
    const Link* link = nullptr;
    std::size_t to = kNoNode;
    const std::string& name() const { return link->entry.name; }
    bool delayed() const { return link->entry.delayed(); }
};

struct Closure {
    std::string listed;         // the listed file's path, as the list holds it
    bool done = false;          // its import table was walked to its end
    std::uint16_t machine = 0;  // of the listed file, 0 when not read
    // The machine of its process, what the closure is searched for: an Any
    // CPU .NET program's is not its header's.
    std::uint16_t runsAs = 0;
    // With the assemblies: the kind of .NET program (dotnetKindKey, empty
    // for none), and the shared frameworks its runtime config names, as the
    // redistributables name them ("Microsoft.NETCore.App 8.0 (x64)"), with
    // whether a .NET folder was there to check them against.
    std::string dotnetKind;
    std::vector<std::string> frameworks;
    bool frameworksChecked = false;
    // With the assemblies: the files its deps file selects for Windows that
    // are there, as full paths, in the host's order (what ships beside it).
    std::vector<std::string> depsFiles;
    // The references found nowhere that the framework answers (no line):
    // the tree draws them as the framework's, not as missing.
    std::vector<const Link*> frameworkReferences;
    std::vector<FoundDll> found;    // discovery order: depth first, pre-order
    std::vector<Finding> findings;  // in the order they were met
    // Per node, the entries of its tables in order; only the images walked
    // have them (the listed file alone without the closure).
    std::vector<std::vector<ImportEdge>> imports;
    // What the edges' links live in.
    std::vector<ModuleTablesPtr> tables;

    // The node's image: the listed file for node 0, else found[node - 1];
    // empty for a node the closure does not hold.
    const std::string& nodePath(std::size_t node) const;
};

// The closure of `path` within `run` (its direct imports when the run is
// not recursive). `alreadyFound`: DLLs an analysis this one is nested in
// found before it, neither listed nor walked again.
Closure walkClosure(const std::string& path, AnalysisRun& run, const std::vector<std::string>* alreadyFound = nullptr);
