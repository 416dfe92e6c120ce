// A .NET program's "<app>.deps.json": the runtime target, each library's
// assets for it (managed assemblies, native DLLs, satellite resources, and
// the RID-specific ones of "runtimeTargets"), the libraries' kinds; then
// the choice the host makes of them on Windows, and where under the app's
// folder it looks for each. Never throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/bytes.h"

namespace dotnet {

enum class AssetKind { Runtime, Native, Resources };

struct DepsAsset {
    std::string path;  // as written, with '/': "lib/net8.0/Foo.dll", "runtimes/win-x64/native/e_sqlite3.dll"
    AssetKind kind = AssetKind::Runtime;
    std::string rid;        // runtimeTargets only: "win-x64"
    std::string culture;    // resources: "fr"
    std::string localPath;  // where the host finds it instead, when written (.NET 9 and later)
    std::string assemblyVersion, fileVersion;
};

struct DepsLibrary {
    std::string name, version;  // of "Name/1.2.3"
    // From "libraries": "project", "package", "reference", "runtimepack"
    // (lower-cased, as the host compares it), its path, whether serviceable.
    std::string type;
    std::string path;
    bool serviceable = false;
    bool listed = false;  // in "libraries": the host ignores a target's entry that is not
    std::vector<DepsAsset> assets;          // runtime, native and resources of the target
    std::vector<DepsAsset> runtimeTargets;  // RID-specific assets of the target
    std::vector<std::pair<std::string, std::string>> dependencies;  // name, version
};

struct DepsJson {
    enum class Outcome { Read, Missing, Damaged };
    Outcome outcome = Outcome::Missing;
    std::string reason;

    std::string runtimeTarget;  // ".NETCoreApp,Version=v8.0" or ".NETCoreApp,Version=v8.0/win-x64"
    std::string signature;
    std::vector<std::string> targets;  // every target's name, in file order
    // The runtime target's libraries, in the order of "libraries".
    std::vector<DepsLibrary> libraries;
    // The "runtimes" RID fallback graph, when the file has one.
    std::vector<std::pair<std::string, std::vector<std::string>>> runtimes;
};

DepsJson parseDepsJson(std::string_view text);
DepsJson parseDepsJson(const platform::ByteSource& bytes);
DepsJson readDepsJson(const std::string& path);

// The RIDs the host (.NET 8 and later) tries on Windows for a process of
// `machine`, best first: "win-x64", "win", "any" (win-x86, win-arm64).
std::vector<std::string> windowsRids(std::uint16_t machine);

struct SelectedAsset {
    std::string library, libraryVersion;
    AssetKind kind = AssetKind::Runtime;
    std::string depsPath;  // as the deps file writes it
    std::string rid;       // the RID it was picked for, or empty
    // Where the host looks for it, relative to the app's folder, with '/':
    // a RID-specific asset where the deps file puts it
    // ("runtimes/win-x64/native/x.dll"), others by file name
    // ("Foo.dll", "fr/Foo.resources.dll").
    std::string appPath;
};

// The assets the host loads from this deps file, library by library, for
// a process of `machine` on Windows. `selfContained`: a self-contained
// app's file, whose RID-specific target the SDK has already chosen from (the
// host reads no runtimeTargets there). `frameworkFolder`: a shared
// framework's own deps file, whose assets all sit in its folder by name.
std::vector<SelectedAsset> selectAssets(const DepsJson& deps, std::uint16_t machine, bool selfContained,
                                        bool frameworkFolder = false);

}  // namespace dotnet
