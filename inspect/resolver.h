// Resolving what an import table names, as the loader does: an API set
// name goes to its host, then the search; each imported function is looked
// up in the found DLL's exports, forwarders followed to their target. Pure
// work over the run's reads; the lines of what is missing come from
// inspect/lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inspect/findings.h"
#include "inspect/options.h"
#include "inspect/reads.h"

class Resolver {
public:
    Resolver(Reads& reads, platform::DllSearch& search, const RunOptions& options)
        : reads_(reads), search_(search), options_(options) {}

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
                         std::uint16_t machine);
    // Where the export `name` (or `ordinal`) of the DLL at `dll`, whose
    // exports are `table`, leads.
    struct Lookup {
        enum { Present, Missing, BrokenForward } outcome;
        std::string forward;  // BrokenForward: the forwarder that leads nowhere
    };
    Lookup findExport(std::shared_ptr<const ExportTable> table, std::string dll, const Program& program,
                      std::string_view name, std::uint32_t ordinal, bool byOrdinal);
    static std::string key(const std::string& importer, const Program& program);

    Reads& reads_;
    platform::DllSearch& search_;
    const RunOptions& options_;
    // By importer, program folder and variant.
    std::unordered_map<std::string, std::shared_ptr<const std::vector<LocatedPtr>>> resolved_;
    std::unordered_map<std::string, std::shared_ptr<const std::vector<FunctionCheck>>> checked_;
};

// The line that stands for an image whose tables cannot be read: its name
// then " non ouvrable", " non mappable", " non visionnable" as its reading
// failed, else " n'est pas un exécutable Win32".
Finding imageFinding(const std::string& name, const ImageImports& image);
