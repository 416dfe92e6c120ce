// What an image's tables name, resolved as the loader resolves it: each
// entry (an import, a delay-load DLL, a .NET reference, a P/Invoke DLL) with
// the file the loader maps for it, and, on demand, which of its imported
// functions that file does not export (forwarders followed to their
// target). One record per entry; every answer is kept for the run.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inspect/findings.h"
#include "inspect/loader/loader.h"
#include "inspect/options.h"
#include "inspect/reads.h"

// One entry of an image's tables, in the order the walk meets them:
// imports, delay-load DLLs, .NET references, P/Invoke DLLs (as the run's
// options ask).
struct TableEntry {
    enum class Kind { Import, DelayImport, Reference, PInvoke };
    Kind kind = Kind::Import;
    std::string name;                            // as a line or an edge shows it
    std::size_t index = 0;                       // its place in its own table
    const pe::AssemblyName* reference = nullptr;  // Reference
    // Loaded at the first call rather than at start.
    bool delayed() const { return kind == Kind::DelayImport || kind == Kind::PInvoke; }
};

// What the function check found for one entry.
struct FunctionCheck {
    // The missing functions, in thunk order.
    std::vector<Finding> missing;
    // Set when the DLL's exports could not be read: the DLL's own line
    // ("... n'est pas un exécutable Win32", "... non ouvrable"), which
    // stands for its functions.
    bool dllUnreadable = false;
    Finding dllLine;
};

struct Link {
    TableEntry entry;
    loader::LocationPtr location;
    // Filled by Linker::check, once.
    mutable std::shared_ptr<const FunctionCheck> check;
};

// The entries of one image, resolved for one program.
struct ModuleTables {
    std::shared_ptr<const pe::ImageRead> image;  // keeps the entries' names alive
    std::vector<Link> links;
};
using ModuleTablesPtr = std::shared_ptr<const ModuleTables>;

class Linker {
public:
    Linker(loader::Loader& loader, Reads& reads, const RunOptions& options)
        : loader_(loader), reads_(reads), options_(options) {}

    // The entries of the image `importer` (read as `image`) resolved for
    // `program`; a name too long to search is not found.
    ModuleTablesPtr resolve(const std::string& importer, const std::shared_ptr<const pe::ImageRead>& image,
                            const loader::Program& program);
    // The function check of `link`, an entry of `importer`'s tables in
    // `program`, whose functions come from `functions` (the importer's
    // image read with its imported functions).
    const FunctionCheck& check(const Link& link, const std::string& importer, const pe::ImageRead& functions,
                               const loader::Program& program);

    loader::Loader& loader() { return loader_; }

private:
    // Where the export `name` (or `ordinal`) of the DLL at `dll`, whose
    // exports are `table`, leads.
    struct Lookup {
        enum { Present, Missing, BrokenForward } outcome;
        std::string forward;  // BrokenForward: the forwarder that leads nowhere
    };
    Lookup findExport(std::shared_ptr<const pe::ExportTable> table, std::string dll, const loader::Program& program,
                      std::string_view name, std::uint32_t ordinal, bool byOrdinal);
    // The DLL `name` imported by the image at `importer` (a forwarder's module).
    loader::LocationPtr resolveOne(const std::string& name, const std::string& importer, const loader::Program& program);

    loader::Loader& loader_;
    Reads& reads_;
    const RunOptions& options_;
    // By program, then by importer.
    std::unordered_map<std::string, std::unordered_map<std::string, ModuleTablesPtr>> resolved_;
};

// The line that stands for an image whose tables cannot be read: its name
// then " non ouvrable", " non mappable", " non visionnable" as its reading
// failed, else " n'est pas un exécutable Win32".
Finding imageFinding(const std::string& name, const pe::ImageRead& image);
