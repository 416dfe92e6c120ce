// Which file the Windows loader maps for a DLL name, for an importer, in a
// program, and why: the loader's whole order in one numbered function
// (Loader::find), with .NET's probing beside it (Loader::findAssembly).
// Every answer is one record, shared from the loader to the grid's row.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inspect/loader/origin.h"
#include "inspect/loader/sxs.h"
#include "inspect/pe/clr.h"
#include "inspect/pe/read.h"
#include "platform/searchplaces.h"

class Reads;

namespace loader {

// Where the loader maps one name from, and why.
struct Location {
    bool found = false;
    std::string path;  // as the found list holds it (platform::listPath)
    std::string key;   // path lower-cased, as the found list compares it
    Origin origin = Origin::None;
    std::string detail;                  // a side-by-side assembly: its name and version
    int variant = platform::kAnyVariant;  // the toolchain variant whose folder holds it
    // Not found: the first file of another machine that was skipped.
    std::string otherPath;
    std::uint16_t otherMachine = 0;
    // A .NET reference: its display name.
    std::string assembly;
    // Found, but not an image the loader can map: the search for the name
    // stops there all the same, and the file is the problem.
    bool mappable = true;
    // The importer's DependentLoadFlags limited the search to their places
    // (0: the default order). Not found so: the folder where the default
    // order finds the name, which the flags left out.
    std::uint16_t dependentLoadFlags = 0;
    std::string skippedFolder;
};
using LocationPtr = std::shared_ptr<const Location>;

// The answer for a name that is never searched.
const LocationPtr& nowhere();

// The program whose closure is walked: the listed file, whose folder the
// loader searches for every DLL of the closure, and the toolchain variant
// its DLLs are held to.
struct Program {
    std::string path;
    std::string folder;
    int variant = platform::kAnyVariant;
    // The process's machine: the program's (an ARM64EC program's process
    // is an x64 one); what every DLL of the closure must be mapped for.
    std::uint16_t machine = 0;
    // What tells its resolutions apart from another program's (folder,
    // variant, and its path when it has a context of its own).
    std::string key;
    // What its own manifest gives the imports of its closure's DLLs that
    // have none of their own; null without one (or without a store).
    std::shared_ptr<const sxs::ActivationContext> context;
    // A .NET 5+ app's deps file: the managed assemblies it selects for
    // Windows (a runtimes/<rid>/ copy over the root folder's), by name
    // lower-cased, as full paths; null without one.
    std::shared_ptr<const std::unordered_map<std::string, std::string>> depsAssets;
};

// The module whose table names a DLL.
struct Importer {
    const std::string& path;
    // The machine of the process it is mapped into.
    std::uint16_t machine = 0;
    // The activation context its imports are bound with (its own
    // manifest's, else the program's); null without a store.
    const sxs::ActivationContext* context = nullptr;
    // Its load configuration's DependentLoadFlags (0: none).
    std::uint16_t dependentLoadFlags = 0;
};

// Whether a DLL of `dll` machine (holding ARM64EC code or not, `kind`) can
// be mapped into a process of `process` machine: the same machine, or, for
// an x64 process, an ARM64EC or ARM64X DLL, and for an ARM64 process an
// ARM64X one. 0 on either side: no check.
bool loadableInto(std::uint16_t process, std::uint16_t dll, pe::CodeView::Kind kind);

class Loader {
public:
    Loader(platform::SearchPlaces& places, sxs::SxsStore& store, Reads& reads) : places_(places), store_(store), reads_(reads) {}

    // The file the loader maps for `name` imported by `importer` in the
    // closure of `program`.
    // `staticImport`: a name of its import table (not a delay-load one, not a
    // P/Invoke), which the importer's DependentLoadFlags govern.
    LocationPtr find(std::string_view name, const Importer& importer, const Program& program, bool staticImport = true);

    // Where the .NET runtime finds the reference `ref` of an assembly in
    // the closure of `program` (of `machine`): the program's folder
    // (<name>.dll, <name>.exe, <culture>/<name>.dll), then the Windows
    // folder's global assembly cache (.NET 4, then 2 to 3.5).
    LocationPtr findAssembly(const pe::AssemblyName& ref, const Program& program, std::uint16_t machine);
    // The Windows folder has a global assembly cache: without one, the
    // framework's own assemblies are not looked for.
    bool hasGlobalAssemblyCache();

    // The activation context of a module's own manifest; null when it has
    // none, or without a store (where assemblies are not checked).
    std::shared_ptr<const sxs::ActivationContext> ownContext(const std::string& module, const pe::ImageRead& image,
                                                             const std::string& programFolder);
    // The context the loader gives the imports of `module` in the closure of
    // `program`: its own manifest's, else, for a DLL without one, the
    // program's.
    std::shared_ptr<const sxs::ActivationContext> context(const std::string& module, const pe::ImageRead& image,
                                                          const Program& program);

    platform::SearchPlaces& places() { return places_; }

private:
    // The file search after the API sets and the activation context, for
    // importers of `machine` in `program`; each (name, folder, machine,
    // variant) searched once per run.
    LocationPtr search(const std::string& name, const Program& program, std::uint16_t machine);
    // The same where an importer's DependentLoadFlags `flags` limit it
    // (`importerFolder` for LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR).
    LocationPtr searchLimited(const std::string& name, const Program& program, std::uint16_t machine,
                              std::uint16_t flags, const std::string& importerFolder);
    // Steps 3 (KnownDLLs) of the search; true when it answered.
    bool knownDll(const std::string& name, std::uint16_t machine, Location& out);
    // `name` in `dir` for the search's answer `out`, taken for `origin`.
    bool takeFrom(const std::string& dir, const std::string& name, std::uint16_t machine, Origin origin, int variant,
                  Location& out);
    // `path` when it is a candidate for an importer of `machine`; else the
    // first such file is remembered in `out`, and the search goes on.
    bool accept(const std::string& path, std::uint16_t machine, Location& out);
    // A found location with what the loader makes of its file.
    LocationPtr mapped(std::shared_ptr<Location> found);

    platform::SearchPlaces& places_;
    sxs::SxsStore& store_;
    Reads& reads_;
    std::unordered_map<std::string, LocationPtr> searches_;  // key: machine, variant, program folder, name
    std::string key_;
    std::optional<std::vector<std::string>> gacRoots_;  // GAC_MSIL, GAC_32, GAC_64 of .NET 4, then 2
};

}  // namespace loader
