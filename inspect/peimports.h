// The tables of a PE image that an analysis reads: the import descriptors
// (with their functions when asked), the delay-load descriptors and the
// export table. Every read is bounded by the image, and hostile sizes by
// what the image could hold; the readers never throw.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inspect/dotnet.h"
#include "inspect/manifest.h"
#include "inspect/options.h"
#include "platform/bytes.h"

// The image is not a PE image, or a read fell outside the file (or past
// what the file could hold). Thrown and caught inside the readers only.
class EWrongFormat {
public:
    explicit EWrongFormat(std::string message) : Message(std::move(message)) {}
    std::string Message;
};

// The image has no import table.
class ENoImport {};

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
    // The headers and the section table read whole: a file the loader could
    // map. A found DLL that is not stops its name's search there.
    bool loadable = false;
    bool isDll = false;  // IMAGE_FILE_DLL: its own manifest is resource ID 2, not 1
    std::vector<DllName> names;  // descriptor order; those read before a stop
    // With RunOptions::delayLoad: the delay-load table's DLLs, in its order.
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
    std::string fixedVersion;  // its binary file version, "a.b.c.d", empty without one
    // With RunOptions::assemblies: its .NET metadata (null when it has none).
    std::shared_ptr<const ManagedImage> managed;
    // When asked: the manifest resource the loader reads for its imports
    // (null when not read).
    std::shared_ptr<const sxs::ModuleResource> manifest;
};

// The import names of the image at `path` and the tables `options` asks
// for (functions, delay-load); when `withVersion`, its version text; when
// `withManifest`, its manifest resource.
ImageImports readImageImports(const std::string& path, bool withVersion, const RunOptions& options,
                              bool withManifest = false);
// The same from bytes (in memory, or a file already open).
ImageImports readImageImports(const platform::ByteSource& image, const RunOptions& options);

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

ExportTable readExportTable(const std::string& path);
ExportTable readExportTable(const platform::ByteSource& image);

// A name read from an image (code page 1252 bytes) as the report shows it,
// control characters as '?'.
std::string imageText(std::string_view bytes);
