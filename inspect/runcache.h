// What one analysis run reads, kept for the run: each image's import names,
// each search of a DLL name (folder, name, machine), each image's machine and
// each file's version, read once and handed out again. One object per run
// (one show of "Imports", one CLI call), owned by the run and passed down;
// nothing outlives it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/apiset.h"
#include "platform/platform.h"

// One DLL name of an import descriptor, as the report shows it.
struct DllName {
    std::string text;
    bool searchable = true;  // false for a name too long for any file: cut, never searched
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
    // The file's version text, read through the same open file where the
    // platform allows it (see platform::versionBlockOf).
    bool versionRead = false;
    std::string version;
};

// Reads the import names of the image at `path`, with bounded reads, and,
// when `withVersion`, its version text; never throws.
ImageImports readImageImports(const std::string& path, bool withVersion = false);

class RunCache {
public:
    // `remember` false reads everything anew at each request: the walk as it
    // was before the cache, kept to check that both give the same rows.
    explicit RunCache(bool remember = true);
    ~RunCache();
    RunCache(const RunCache&) = delete;
    RunCache& operator=(const RunCache&) = delete;

    // False for a run that reads everything anew.
    bool remembers() const { return remember_; }

    std::shared_ptr<const ImageImports> imports(const std::string& path);
    std::uint16_t machine(const std::string& path);
    const std::string& version(const std::string& path);

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
    // descriptor order; a name too long to search is not found.
    std::shared_ptr<const std::vector<Resolution>> resolveAll(const std::string& importer, std::uint16_t machine,
                                                              const ImageImports& image);

private:
    bool remember_;
    std::shared_ptr<const platform::ApiSetSchema> schema_;
    std::unordered_map<std::string, std::shared_ptr<const ImageImports>> images_;
    std::unordered_map<std::string, std::uint16_t> machines_;
    std::unordered_map<std::string, std::string> versions_;
    std::unordered_map<std::string, Resolution> searches_;  // key: machine, folder, name
    std::unordered_map<std::string, std::shared_ptr<const std::vector<Resolution>>> resolved_;  // key: importer
    std::string scratchVersion_;
    Resolution scratchResolution_;
    std::string key_;
};
