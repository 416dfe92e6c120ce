// What kind of .NET program a listed file is, and what its host needs
// before it runs it: the shared frameworks of its runtime config, looked up
// where the Windows checked against keeps them. The loader's probing for
// references stands beside it (Loader::findAssembly).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inspect/dotnet/depsjson.h"
#include "inspect/dotnet/runtimeconfig.h"
#include "inspect/pe/read.h"

namespace analysis {

enum class DotnetKind {
    None,                // no .NET program: no CLI header and no runtime config beside it
    Framework,           // .NET Framework: references mscorlib, no runtime config
    Modern,              // .NET 5+ (or .NET Core, .NET Standard) without a runtime config: a library
    FrameworkDependent,  // a runtime config naming shared frameworks
    SelfContained,       // a runtime config without them
};
// "net-framework", "net", "net-framework-dependent", "net-self-contained"; null for None.
const char* dotnetKindKey(DotnetKind kind);

// The machine a process running `image` is: an IL-only PE32 image that
// does not require 32 bits runs as 64-bit Windows' own machine (x64).
std::uint16_t runsAs(const pe::ImageRead& image);

struct DotnetApp {
    DotnetKind kind = DotnetKind::None;
    std::string configPath;  // "<folder>/<name>.runtimeconfig.json", when there is one
    dotnet::RuntimeConfig config;
    // A single-file app: its bundle read whole, the files it carries (their
    // paths as written, lower-cased), the references of the assemblies it
    // carries (each name once), and its own deps file.
    bool bundle = false;
    std::vector<std::string> bundled;
    std::vector<pe::AssemblyName> bundledReferences;
    std::optional<dotnet::DepsJson> bundledDeps;
    bool carries(const std::string& name) const;  // a bundled assembly of that name (".dll" added)
};

// "<folder>/<name><suffix>" for "<folder>/<name>.exe" (or .dll): the
// runtime config and deps file the host reads beside an app.
std::string siblingOf(const std::string& path, const std::string& suffix);

// `path`'s kind: its runtime config ("app.exe" and "app.dll" alike read
// "app.runtimeconfig.json"), else its references (`image.managed`, read with
// the assemblies).
DotnetApp dotnetApp(const std::string& path, const pe::ImageRead& image);

// How a framework reference was answered.
struct FrameworkAnswer {
    std::string name, version;  // as the reference asks
    bool checked = false;       // a .NET folder was known to look in
    bool found = false;
    std::string folder;                 // found: "<root>/shared/<name>/<version>"
    std::vector<std::string> versions;  // checked: every version seen, for the line
    std::string reason;                 // not found: why, from the host's rules
};

// Each framework `app` names, chosen among the versions under `roots`
// (dotnet folders) as the host chooses, the first root that fits.
std::vector<FrameworkAnswer> chooseFrameworks(const DotnetApp& app, const std::vector<std::string>& roots);

// "Microsoft.NETCore.App 8.0 (x64)": a framework as the redistributables name it.
std::string frameworkRedistName(const std::string& name, const std::string& version, std::uint16_t machine);

// A name a P/Invoke can never give a Windows DLL: empty (a C++/CLI image's
// calls into itself), a path with '/', a ".so", ".so.N" or ".dylib" file.
bool notAWindowsDll(const std::string& module);

}  // namespace analysis
