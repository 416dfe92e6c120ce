// What an analysis run reads from files: each image's import tables, its
// machine, its version, its exports, and each search of a DLL name. The
// memo reads each once per run and hands it out again; nothing outlives the
// run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "inspect/options.h"
#include "inspect/peimports.h"
#include "inspect/sxs.h"
#include "platform/dllsearch.h"

// The program whose closure is walked: the listed file, whose folder the
// loader searches for every DLL of the closure, and the toolchain variant
// its DLLs are held to.
struct Program {
    std::string path;
    std::string folder;
    int variant = platform::kAnyVariant;
    // What tells its resolutions apart from another program's (folder,
    // variant, and its path when it has a context of its own).
    std::string key;
    // What its own manifest gives the imports of its closure's DLLs that
    // have none of their own; null without one (or without a store).
    std::shared_ptr<const sxs::ActivationContext> context;
};

// Where a search found a DLL name.
struct Located {
    bool found = false;
    std::string path;        // as the found list holds it (platform::listPath)
    std::string key;         // path lower-cased, as the found list compares it
    std::string otherPath;   // not found: the file of another machine that was skipped
    std::uint16_t otherMachine = 0;
    platform::Origin origin = platform::Origin::None;  // why it was taken
    int variant = platform::kAnyVariant;               // the toolchain variant whose folder holds it
    std::string originDetail;                          // a side-by-side assembly: its name and version
    std::string assembly;                              // a .NET reference's display name
};

// Shared: a search's answer is handed out again for every importer of the folder.
using LocatedPtr = std::shared_ptr<const Located>;
// The answer for a name that is never searched.
const LocatedPtr& notLocated();

class Reads {
public:
    virtual ~Reads() = default;
    virtual std::shared_ptr<const ImageImports> imports(const std::string& path) = 0;
    virtual std::uint16_t machine(const std::string& path) = 0;
    virtual const std::string& version(const std::string& path) = 0;
    // The binary file version ("a.b.c.d"), empty without a version resource.
    virtual const std::string& fixedVersion(const std::string& path) = 0;
    virtual std::shared_ptr<const ExportTable> exports(const std::string& path) = 0;
    // `name` looked up for an importer of `machine` in the closure of
    // `program`, as the search orders the folders.
    virtual LocatedPtr search(const std::string& name, const Program& program, std::uint16_t machine) = 0;
};

// The reads of one run, each done once.
class Memo final : public Reads {
public:
    // With a Windows folder to check against, each image's manifest resource
    // is read through the same open as its tables.
    Memo(const RunOptions& options, platform::DllSearch& search)
        : options_(options), search_(search), manifests_(!search.windowsFolder().empty()) {}

    std::shared_ptr<const ImageImports> imports(const std::string& path) override;
    std::uint16_t machine(const std::string& path) override;
    const std::string& version(const std::string& path) override;
    const std::string& fixedVersion(const std::string& path) override;
    // Read on first need: most images are never imported from.
    std::shared_ptr<const ExportTable> exports(const std::string& path) override;
    LocatedPtr search(const std::string& name, const Program& program, std::uint16_t machine) override;

private:
    // What was read of one file.
    struct File {
        std::shared_ptr<const ImageImports> image;
        std::shared_ptr<const ExportTable> exports;
        bool versionKnown = false;
        std::string version, fixedVersion;
    };
    File& file(const std::string& path);

    const RunOptions& options_;
    platform::DllSearch& search_;
    bool manifests_;
    std::unordered_map<std::string, File> files_;
    std::string lastPath_;
    File* last_ = nullptr;  // files_ keeps its entries where they are
    std::unordered_map<std::string, LocatedPtr> searches_;  // key: machine, variant, program folder, name
    std::string key_;
};

// A search's result as the found list holds it.
Located locate(const platform::DllSearchResult& result);
// The file at `path`, found, taken for `origin`.
std::shared_ptr<Located> locatedAt(const std::string& path, platform::Origin origin);
