// The side-by-side store of a Windows folder (its WinSxS, any case) and the
// private assemblies of a program's folder: which assembly answers a
// dependentAssembly for an importer of a given machine, where its files are,
// and the activation context a module's manifest gives its imports. One
// store per analysis run: the Manifests folder is listed once, on first
// need, and every answer is kept for the run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inspect/loader/manifest.h"
#include "platform/folderindex.h"

namespace sxs {

// A file name of WinSxS/Manifests taken apart:
// <arch>_<name>_<token>_<version>_<language>_<hash>.manifest.
struct StoreName {
    std::string architecture, name, token, language, hash;  // lower-case; a long name abbreviated as on disk
    std::array<std::uint16_t, 4> version{};
    std::string stem;  // the file name without ".manifest", as spelt on disk
    bool wine() const { return hash == "deadbeef"; }  // Wine's own stand-ins
};
// False for a name of another form (ignored by the index).
bool parseStoreName(std::string_view fileName, StoreName& out);

// An assembly name as the store spells it in file names: lower-case, and a
// name longer than 40 characters as its first 19, "..", its last 19.
std::string storeSpelling(std::string_view assemblyName);

// The store architectures an importer of `machine` may take for a
// processorArchitecture of `asked`, best first: "*" stands for the
// importer's own (x86, amd64, arm64); x86 also takes wow64 (the 32-bit
// half of 64-bit Windows' components); msil (architecture-neutral) serves
// every importer after its own; an explicit architecture is taken as asked.
std::vector<std::string> architecturesFor(std::string_view asked, std::uint16_t machine);

struct AssemblyFile {
    std::string name;      // as the manifest lists it
    std::string path;      // in the assembly's folder (the spelling found there, else the listed one)
    bool present = false;  // the folder holds it
};

struct ResolvedAssembly {
    enum class Where { Store, Private } where = Where::Store;
    std::string name;          // as the assembly's own manifest spells it
    std::string version;       // the full version found: "6.0.22621.2506"
    std::string architecture;  // of the assembly found, as its manifest says
    std::string folder;        // where its files are
    std::string manifestPath;  // its manifest: a .manifest file, or the DLL holding it
    std::vector<AssemblyFile> files;
    std::vector<DependentAssembly> dependencies;  // its own

    // Wine's stand-in, whose files are Wine's builtin DLLs for the machine
    // (a prefix without a store for it).
    bool wineBuiltin = false;

    // "Microsoft.Windows.Common-Controls 6.0.22621.2506".
    std::string label() const { return name + " " + version; }
};
using AssemblyPtr = std::shared_ptr<const ResolvedAssembly>;

// Where the context sends a DLL name.
struct Redirection {
    std::string path;
    bool present = false;  // false: the assembly lists the file but its folder lacks it
    AssemblyPtr assembly;  // null for a file of the module's own manifest
};

// What a module's manifest gives its imports: the assemblies it depends on
// (and theirs), each once, and the files they list.
struct ActivationContext {
    ModuleManifest::Source source = ModuleManifest::Source::None;
    std::string manifestPath;
    ManifestStatus status = ManifestStatus::Ok;
    std::vector<AssemblyPtr> assemblies;     // in the order they were met
    std::vector<DependentAssembly> missing;  // required ones found nowhere; left empty without a store

    // The file `dllName` (ignoring case) of the context: its own manifest's
    // first, then the first assembly that lists it; null when none does.
    const Redirection* find(std::string_view dllName) const;

    std::unordered_map<std::string, Redirection> byName;  // lower-case file name
};

// How much a store reads, whatever the disk holds.
constexpr std::size_t kMaxStoreEntries = 200000;  // names read from one folder
constexpr std::size_t kMaxContextAssemblies = 256;

class SxsStore {
public:
    // `windowsFolder`: a folder holding WinSxS (any case); empty for none.
    // Its folders are looked up through the run's index.
    SxsStore(std::string windowsFolder, platform::FolderIndex& files);
    // Where Wine's builtin 32-bit DLLs stand in for a system without 32-bit
    // system DLLs of its own (an empty SysWOW64): then, when the store has
    // no x86 assemblies either, Wine's own assemblies come from there.
    void setStandIn32(std::string builtinFolder) { standIn32_ = std::move(builtinFolder); }
    // With an index of its own.
    explicit SxsStore(std::string windowsFolder);
    ~SxsStore();
    SxsStore(const SxsStore&) = delete;
    SxsStore& operator=(const SxsStore&) = delete;

    const std::string& windowsFolder() const { return windowsFolder_; }
    // The WinSxS folder holding a Manifests folder, found on first need;
    // empty when there is none.
    const std::string& folder();
    bool present() { return !folder().empty(); }
    // The manifests indexed (the Manifests folder is listed on first need).
    std::size_t size();

    // The assembly of the store that answers `id` for an importer of
    // `machine`: among the architectures architecturesFor gives (the first
    // that has a candidate), the asked name and token ignoring case, the
    // asked language (any for none, "*" or "neutral"; then "none" first),
    // the asked major.minor with the highest build.revision not below the
    // asked one; Wine's "deadbeef" manifests only when no other qualifies.
    // Null when none does, when its folder beside Manifests is missing, or
    // when its manifest cannot be read.
    AssemblyPtr findInStore(const AssemblyIdentity& id, std::uint16_t machine);
    // The private probes of `appFolder`, in the loader's order:
    // <name>.dll (its resource ID 1), <name>.manifest, <name>/<name>.dll,
    // <name>/<name>.manifest; the first whose manifest has the asked name
    // (and version, when given) answers.
    AssemblyPtr findPrivate(const AssemblyIdentity& id, const std::string& appFolder);
    // The store first, then the private probes.
    AssemblyPtr find(const AssemblyIdentity& id, std::uint16_t machine, const std::string& appFolder);

    // The context of `manifest`, the manifest of a module in `ownFolder`
    // whose program is in `appFolder`: its own files in `ownFolder`, and
    // the assemblies it depends on, theirs after them (at most
    // kMaxContextAssemblies).
    ActivationContext context(const Manifest& manifest, std::uint16_t machine, const std::string& ownFolder,
                              const std::string& appFolder);
    // The context the loader gives the imports of the module at `path` from
    // its own manifest (manifestOf, with its resource when already read);
    // null when it has none.
    std::shared_ptr<const ActivationContext> moduleContext(const std::string& path, bool isDll, std::uint16_t machine,
                                                           const std::string& appFolder,
                                                           const pe::ModuleResource* resource = nullptr);

private:
    struct Index;
    class Listings;
    AssemblyPtr fromManifest(const Manifest& manifest, ResolvedAssembly::Where where, const std::string& folder,
                             const std::string& manifestPath, const std::string& version);
    // A store assembly whose manifest is compressed: `id` as asked, the
    // version and architecture its store name gives, its folder's files.
    AssemblyPtr wineStandIn32(const AssemblyIdentity& id, const std::string& name, const std::string& token);
    AssemblyPtr fromFolder(const AssemblyIdentity& id, const StoreName& name, const std::string& folder,
                           const std::string& manifestPath, const std::string& version);

    std::unique_ptr<platform::FolderIndex> ownIndex_;
    std::string standIn32_;
    std::string windowsFolder_;
    bool looked_ = false;
    std::string folder_;
    std::unique_ptr<Index> index_;
    std::unique_ptr<Listings> listings_;
    std::unordered_map<std::string, AssemblyPtr> found_;
    std::unordered_map<std::string, std::shared_ptr<const ActivationContext>> contexts_;
};

}  // namespace sxs
