// Resolving what an import table names, as the loader does: an API set
// name goes to its host, then the search; each imported function is looked
// up in the found DLL's exports, forwarders followed to their target. Pure
// work over the run's reads; the lines of what is missing come from
// inspect/lines.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inspect/findings.h"
#include "inspect/options.h"
#include "inspect/reads.h"

class Resolver {
public:
    Resolver(Reads& reads, platform::DllSearch& search, sxs::SxsStore& store, const RunOptions& options)
        : reads_(reads), search_(search), store_(store), options_(options) {}

    // The activation context the loader gives the imports of `module` (of
    // `image`) in the closure of `program`: its own manifest's, else, for a
    // DLL without one, the program's; null without a side-by-side store
    // (the Windows folder's), where assemblies are not checked.
    std::shared_ptr<const sxs::ActivationContext> context(const std::string& module, const ImageImports& image,
                                                          const Program& program);
    // Where the runtime finds the .NET reference `ref` of an assembly in the
    // closure of `program` (of `machine`): the program's folder
    // (<name>.dll, <name>.exe, <culture>/<name>.dll), then the Windows
    // folder's global assembly cache (.NET 4, then 2 to 3.5).
    LocatedPtr locateAssembly(const AssemblyName& ref, const Program& program, std::uint16_t machine);
    // The Windows folder has a global assembly cache: without one, the
    // framework's own assemblies are not looked for.
    bool hasGlobalAssemblyCache();

    // The context of a module's own manifest; null when it has none.
    std::shared_ptr<const sxs::ActivationContext> ownContext(const std::string& module, const ImageImports& image,
                                                             const std::string& programFolder);

    // The DLL `name` imported by the image at `importer`, of `machine`, in
    // the closure of `program`.
    LocatedPtr resolve(const std::string& name, const std::string& importer, const Program& program,
                       std::uint16_t machine);
    // Every name of the image `importer` (of `machine`) resolved, in
    // descriptor order, then, with the delay-load option, its delay-load
    // names; a name too long to search is not found.
    std::shared_ptr<const std::vector<LocatedPtr>> resolveAll(const std::string& importer, const Program& program,
                                                              std::uint16_t machine, const ImageImports& image);

    // What the function check found for one descriptor of an importer.
    struct FunctionCheck {
        // The missing functions, in thunk order.
        std::vector<Finding> missing;
        // Set when the DLL's exports could not be read: the DLL's own line
        // ("... n'est pas un exécutable Win32", "... non ouvrable"), which
        // stands for its functions.
        bool dllUnreadable = false;
        Finding dllLine;
    };
    // The check of every descriptor of `importer`, aligned with `resolved`
    // (its resolveAll).
    std::shared_ptr<const std::vector<FunctionCheck>> checkFunctions(const std::string& importer,
                                                                     const Program& program,
                                                                     const ImageImports& image,
                                                                     const std::vector<LocatedPtr>& resolved);

private:
    // `name` for an importer whose file name is `importerName`.
    LocatedPtr resolveIn(const std::string& name, const std::string& importerName, const Program& program,
                         std::uint16_t machine, const sxs::ActivationContext* context);
    // Where the export `name` (or `ordinal`) of the DLL at `dll`, whose
    // exports are `table`, leads.
    struct Lookup {
        enum { Present, Missing, BrokenForward } outcome;
        std::string forward;  // BrokenForward: the forwarder that leads nowhere
    };
    Lookup findExport(std::shared_ptr<const ExportTable> table, std::string dll, const Program& program,
                      std::string_view name, std::uint32_t ordinal, bool byOrdinal);
    // The resolutions of one program's closure, by importer.
    template <class T>
    using ByProgram = std::unordered_map<std::string, std::unordered_map<std::string, T>>;

    Reads& reads_;
    platform::DllSearch& search_;
    sxs::SxsStore& store_;
    const RunOptions& options_;
    ByProgram<std::shared_ptr<const std::vector<LocatedPtr>>> resolved_;
    ByProgram<std::shared_ptr<const std::vector<FunctionCheck>>> checked_;
    std::optional<std::vector<std::string>> gacRoots_;  // GAC_MSIL, GAC_32, GAC_64 of .NET 4, then 2
};

// The line that stands for an image whose tables cannot be read: its name
// then " non ouvrable", " non mappable", " non visionnable" as its reading
// failed, else " n'est pas un exécutable Win32".
Finding imageFinding(const std::string& name, const ImageImports& image);
