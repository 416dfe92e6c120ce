#include "inspect/dotnetapp.h"

#include "inspect/dotnet/bundle.h"
#include "inspect/dotnet/frameworks.h"
#include "inspect/dotnet/jsonfile.h"
#include "inspect/dotnet/machine.h"
#include "platform/platform.h"

namespace analysis {

const char* dotnetKindKey(DotnetKind kind) {
    switch (kind) {
        case DotnetKind::Framework: return "net-framework";
        case DotnetKind::Modern: return "net";
        case DotnetKind::FrameworkDependent: return "net-framework-dependent";
        case DotnetKind::SelfContained: return "net-self-contained";
        case DotnetKind::None: break;
    }
    return nullptr;
}

std::uint16_t runsAs(const pe::ImageRead& image) {
    return dotnet::managedMachine(image.machine, image.pe32plus, image.cliHeader, image.cliFlags).machine;
}

std::string siblingOf(const std::string& path, const std::string& suffix) {
    std::string stem = platform::fileNamePart(path);
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    return platform::joinPath(platform::directoryPart(path), stem + suffix);
}

bool DotnetApp::carries(const std::string& name) const {
    const std::string file = platform::toLower(name) + ".dll";
    for (const std::string& b : bundled)
        if (b == file || (b.size() > file.size() && b.compare(b.size() - file.size(), file.size(), file) == 0 &&
                          b[b.size() - file.size() - 1] == '/'))
            return true;
    return false;
}

namespace {

// What a single-file app carries: its runtime config and deps file, and the
// references of its assemblies, each entry read within bounds.
void readBundled(const std::string& path, DotnetApp& app) {
    platform::FileReader file;
    if (file.open(path) != platform::MapStatus::Ok) return;
    const dotnet::Bundle bundle = dotnet::readBundle(file);
    if (bundle.outcome != dotnet::Bundle::Outcome::Read) return;
    app.bundle = true;
    app.kind = DotnetKind::SelfContained;
    constexpr std::size_t kMaxAssemblies = 4096;
    constexpr std::uint64_t kMaxAssemblyBytes = 64u << 20;
    std::size_t assemblies = 0;
    for (const dotnet::BundleEntry& e : bundle.entries) {
        app.bundled.push_back(platform::toLower(e.path));
        std::string reason;
        using Type = dotnet::BundleEntry::Type;
        if (e.type == Type::RuntimeConfigJson || e.type == Type::DepsJson) {
            if (e.size > dotnet::detail::kMaxJsonBytes) continue;
            const auto bytes = dotnet::openBundleEntry(file, e, reason);
            if (!bytes) continue;
            if (e.type == Type::DepsJson) {
                app.bundledDeps = dotnet::parseDepsJson(*bytes);
            } else {
                app.config = dotnet::parseRuntimeConfig(*bytes);
                app.kind = app.config.frameworkDependent ? DotnetKind::FrameworkDependent : DotnetKind::SelfContained;
            }
        } else if (e.type == Type::Assembly && e.size <= kMaxAssemblyBytes && ++assemblies <= kMaxAssemblies) {
            const auto bytes = dotnet::openBundleEntry(file, e, reason);
            if (!bytes) continue;
            for (const pe::AssemblyName& ref : pe::readManagedImage(*bytes).references) {
                bool seen = false;
                for (const pe::AssemblyName& r : app.bundledReferences) seen = seen || platform::toLower(r.name) == platform::toLower(ref.name);
                if (!seen) app.bundledReferences.push_back(ref);
            }
        }
    }
}

}  // namespace

DotnetApp dotnetApp(const std::string& path, const pe::ImageRead& image) {
    DotnetApp app;
    // A single-file app carries its config: an apphost has no CLI header.
    if (!image.cliHeader && !image.isDll) {
        readBundled(path, app);
        if (app.bundle) return app;
    }
    const std::string config = siblingOf(path, ".runtimeconfig.json");
    app.config = dotnet::readRuntimeConfig(config);
    if (app.config.outcome != dotnet::RuntimeConfig::Outcome::Missing) {
        app.configPath = config;
        // A config the host refuses still tells a .NET 5+ app, one it cannot start.
        app.kind = app.config.frameworkDependent || app.config.outcome == dotnet::RuntimeConfig::Outcome::Damaged
                       ? DotnetKind::FrameworkDependent
                       : DotnetKind::SelfContained;
        return app;
    }
    if (!image.cliHeader) return app;
    app.kind = DotnetKind::Framework;
    if (image.managed)
        for (const pe::AssemblyName& ref : image.managed->references) {
            const std::string name = platform::toLower(ref.name);
            if (name == "system.runtime" || name == "system.private.corelib" || name == "netstandard")
                app.kind = DotnetKind::Modern;
        }
    return app;
}

std::vector<FrameworkAnswer> chooseFrameworks(const DotnetApp& app, const std::vector<std::string>& roots) {
    std::vector<FrameworkAnswer> out;
    if (app.kind != DotnetKind::FrameworkDependent) return out;
    // The app's references, then those of each framework chosen (the
    // desktop framework runs on Microsoft.NETCore.App), each name once.
    std::vector<dotnet::FrameworkReference> pending(app.config.frameworks.begin(), app.config.frameworks.end());
    constexpr std::size_t kMaxFrameworks = 16;
    for (std::size_t next = 0; next < pending.size() && out.size() < kMaxFrameworks; ++next) {
        const dotnet::FrameworkReference ref = pending[next];
        bool seen = false;
        for (const FrameworkAnswer& a : out) seen = seen || platform::toLower(a.name) == platform::toLower(ref.name);
        if (seen) continue;
        FrameworkAnswer a;
        a.name = ref.name;
        a.version = ref.version;
        a.checked = !roots.empty();
        const dotnet::FrameworkRequest request = dotnet::FrameworkRequest::from(ref);
        for (const std::string& root : roots) {
            const std::vector<std::string> installed = dotnet::installedVersions(root, ref.name);
            for (const std::string& v : installed) a.versions.push_back(v);
            const dotnet::FrameworkChoice choice = dotnet::chooseFramework(request, installed);
            if (choice.outcome == dotnet::FrameworkChoice::Outcome::Found) {
                a.found = true;
                a.folder = platform::joinPath(platform::joinPath(platform::joinPath(root, "shared"), ref.name),
                                              choice.version);
                const dotnet::RuntimeConfig own =
                    dotnet::readRuntimeConfig(platform::joinPath(a.folder, ref.name + ".runtimeconfig.json"));
                pending.insert(pending.end(), own.frameworks.begin(), own.frameworks.end());
                break;
            }
            if (a.reason.empty()) a.reason = choice.reason;
        }
        out.push_back(std::move(a));
    }
    return out;
}

std::string frameworkRedistName(const std::string& name, const std::string& version, std::uint16_t machine) {
    std::string majorMinor = version;
    if (const std::size_t first = version.find('.'); first != std::string::npos) {
        const std::size_t second = version.find('.', first + 1);
        if (second != std::string::npos) majorMinor.resize(second);
    }
    const char* arch = machine == platform::kMachineI386    ? "x86"
                       : machine == platform::kMachineArm64 ? "arm64"
                                                            : "x64";
    return name + " " + majorMinor + " (" + arch + ")";
}

bool notAWindowsDll(const std::string& module) {
    if (module.empty() || module.find('/') != std::string::npos) return true;
    const std::string name = platform::toLower(module);
    const auto endsWith = [&](const char* tail) {
        const std::string t(tail);
        return name.size() >= t.size() && name.compare(name.size() - t.size(), t.size(), t) == 0;
    };
    if (endsWith(".so") || endsWith(".dylib")) return true;
    // "libc.so.6", "libdl.so.2"
    const std::size_t so = name.find(".so.");
    if (so != std::string::npos && so > 0) {
        const std::string rest = name.substr(so + 4);
        return !rest.empty() && rest.find_first_not_of("0123456789.") == std::string::npos;
    }
    return false;
}

}  // namespace analysis
