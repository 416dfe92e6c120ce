// What one analysis run reads, kept for the run: each image's import names,
// each search of a DLL name (folder, name, machine), each image's machine and
// each file's version, read once and handed out again. One object per run
// (one show of "Imports", one CLI call), owned by the run and passed down;
// nothing outlives it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/apiset.h"
#include "platform/platform.h"

// What a run reads beyond the DLL names, when asked.
struct Checks {
    bool functions = false;  // the imported functions, checked against the DLLs' exports
    bool delayLoad = false;  // the delay-load table's DLLs, resolved as imports
};

// What kind of problem an error line tells.
enum class Problem {
    None,
    MissingDll,       // "... invisible pour ..."
    MissingFunction,  // "... absente de ... pour ..."
    WrongMachine,     // the same line, only files of another machine exist
    NotReadable,      // "non ouvrable", "non mappable", "non visionnable"
    NotPe,            // " n'est pas un exécutable Win32"
};

// One function imported through a descriptor: by name (its bytes in the
// image's `functionNames`) or by ordinal.
struct ImportedFunction {
    std::uint32_t at = 0, length = 0;  // the name within ImageImports::functionNames
    std::uint16_t ordinal = 0;
    bool byOrdinal = false;
    bool cut = false;  // a name longer than any toolchain writes: its first bytes only
};

// One DLL name of an import descriptor, as the report shows it.
struct DllName {
    std::string text;
    bool searchable = true;  // false for a name too long for any file: cut, never searched
    std::vector<ImportedFunction> functions;  // in thunk order, when the run reads them
};

// What reading one image's import table gave.
struct ImageImports {
    enum class Outcome {
        Read,         // walked to the end of the descriptors
        NoImport,     // no import table: nothing to walk
        WrongFormat,  // not a PE image, or a read outside the file (after `names`)
        NotOpenable,
        NotMappable,
        NotViewable,  // the file could not be read (or memory ran out)
    };
    Outcome outcome = Outcome::NotOpenable;
    std::uint16_t machine = 0;   // IMAGE_FILE_HEADER.Machine, 0 when not read
    std::vector<DllName> names;  // descriptor order; those read before a stop
    // With Checks::delayLoad: the delay-load table's DLLs, in its order.
    std::vector<DllName> delayNames;
    // The names of the imported functions, one after the other.
    std::string functionNames;
    // A table read for the checks (thunks, hint/names, delay-load
    // descriptors) runs off the file or past its size budget: the image is
    // damaged, as the loader would find it.
    bool tablesDamaged = false;
    // The file's version text, read through the same open file where the
    // platform allows it (see platform::versionBlockOf).
    bool versionRead = false;
    std::string version;
};

// Reads the import names of the image at `path`, with bounded reads, the
// tables `checks` asks for and, when `withVersion`, its version text; never
// throws.
ImageImports readImageImports(const std::string& path, bool withVersion = false, const Checks& checks = {});

// What a DLL exports: names and ordinals, each either code or a forwarder
// ("OTHER.Function", "OTHER.#12").
class ExportTable {
public:
    enum class State {
        Unreadable,  // not a PE image, or a file that cannot be read
        Damaged,     // a read of the table fell outside the file or past its budget
        Read,        // read whole (an image without an export table exports nothing)
    };
    State state = State::Unreadable;

    struct Entry {
        bool exported = false;
        const std::string* forward = nullptr;  // the forwarder, when the export is one
    };
    Entry byName(std::string_view name) const;
    Entry byOrdinal(std::uint32_t ordinal) const;

    std::size_t nameCount() const { return names_.size(); }

private:
    friend class ExportReader;
    Entry entry(std::uint32_t index) const;

    std::uint32_t base_ = 0;
    std::vector<std::uint32_t> addresses_;  // AddressOfFunctions, up to the 65,536 a name ordinal reaches
    struct Name {
        std::uint32_t at, length, index;
    };
    std::string nameBytes_;
    std::vector<Name> names_;  // sorted by name
    std::unordered_map<std::uint32_t, std::string> forwards_;  // by function index
};

// Reads the export table of the image at `path`; never throws.
ExportTable readExportTable(const std::string& path);

// A name read from an image (code page 1252 bytes) as the report shows it,
// control characters as '?'.
std::string imageText(std::string_view bytes);

class RunCache {
public:
    // `remember` false reads everything anew at each request: the walk as it
    // was before the cache, kept to check that both give the same rows.
    // `checks`: what the run reads and checks beyond the DLL names.
    explicit RunCache(bool remember = true, Checks checks = {});
    ~RunCache();
    RunCache(const RunCache&) = delete;
    RunCache& operator=(const RunCache&) = delete;

    // False for a run that reads everything anew.
    bool remembers() const { return remember_; }
    const Checks& checks() const { return checks_; }

    std::shared_ptr<const ImageImports> imports(const std::string& path);
    std::uint16_t machine(const std::string& path);
    const std::string& version(const std::string& path);
    // Read on first need: most images are never imported from.
    std::shared_ptr<const ExportTable> exports(const std::string& path);

    struct Resolution {
        bool found = false;
        std::string path;        // as the found list holds it (platform::listPath)
        std::string key;         // path lower-cased, as the found list compares it
        std::string otherPath;   // not found: the file of another machine that was skipped
        std::uint16_t otherMachine = 0;
    };
    // The DLL `name` imported by the image at `importer`, of `machine`: an
    // API set name goes to its host first, then the search from the
    // importer's folder. The reference lasts until the next call.
    const Resolution& resolve(const std::string& name, const std::string& importer, std::uint16_t machine);
    // Every name of the image `importer` (of `machine`) resolved, in
    // descriptor order, then, with Checks::delayLoad, its delay-load names;
    // a name too long to search is not found.
    std::shared_ptr<const std::vector<Resolution>> resolveAll(const std::string& importer, std::uint16_t machine,
                                                              const ImageImports& image);

    // What the function check found for one descriptor of an importer.
    struct FunctionCheck {
        // "<function> absente de <dll> pour <importer>", in thunk order.
        std::vector<std::string> lines;
        // Not empty when the DLL's exports could not be read: the DLL's own
        // line ("... n'est pas un exécutable Win32", "... non ouvrable"),
        // which stands for its functions, and its kind.
        std::string dllLine;
        Problem dllProblem = Problem::None;
    };
    // The check of every descriptor of `importer`, aligned with `resolved`
    // (its resolveAll). Forwarded exports are followed to their target.
    std::shared_ptr<const std::vector<FunctionCheck>> checkFunctions(const std::string& importer,
                                                                     const ImageImports& image,
                                                                     const std::vector<Resolution>& resolved);

private:
    // Where the export `name` (or `ordinal`) of the DLL at `dll`, whose
    // exports are `table`, leads.
    struct Lookup {
        enum { Present, Missing, BrokenForward } outcome;
        std::string forward;  // BrokenForward: the forwarder that leads nowhere
    };
    Lookup findExport(std::shared_ptr<const ExportTable> table, std::string dll, std::string_view name,
                      std::uint32_t ordinal, bool byOrdinal);

    bool remember_;
    Checks checks_;
    std::shared_ptr<const platform::ApiSetSchema> schema_;
    std::unordered_map<std::string, std::shared_ptr<const ImageImports>> images_;
    std::unordered_map<std::string, std::uint16_t> machines_;
    std::unordered_map<std::string, std::string> versions_;
    std::unordered_map<std::string, std::shared_ptr<const ExportTable>> exports_;
    std::unordered_map<std::string, Resolution> searches_;  // key: machine, folder, name
    std::unordered_map<std::string, std::shared_ptr<const std::vector<Resolution>>> resolved_;  // key: importer
    std::unordered_map<std::string, std::shared_ptr<const std::vector<FunctionCheck>>> checked_;  // key: importer
    std::string scratchVersion_;
    Resolution scratchResolution_;
    std::string key_;
};

// The line that stands for an image whose tables cannot be read: `name`
// then " non ouvrable", " non mappable", " non visionnable" as its reading
// failed, else " n'est pas un exécutable Win32"; and its kind.
std::string imageProblemLine(const std::string& name, const ImageImports& image, Problem& kind);
