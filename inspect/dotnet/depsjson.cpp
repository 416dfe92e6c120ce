// Deps files read as the host's deps_format reads them: the runtime target
// names the target whose libraries count, "libraries" decides which of them
// the host takes (and their kind), and the choice among RID-specific assets
// is made per library and per kind of asset: the first RID of the host's
// list that the library has for that kind, else its RID-less assets.
#include "inspect/dotnet/depsjson.h"

#include <map>
#include <new>

#include "inspect/dotnet/jsonfile.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace dotnet {

namespace {

using json = nlohmann::ordered_json;

const char* const kKinds[] = {"runtime", "native", "resources"};

std::string optionalString(const json& object, const char* key) {
    const json* v = detail::member(object, key);
    return v && v->is_string() ? v->get<std::string>() : std::string();
}

void splitNameVersion(const std::string& key, std::string& name, std::string& version) {
    const std::size_t slash = key.find('/');
    name = key.substr(0, slash);
    version = slash == std::string::npos ? std::string() : key.substr(slash + 1);
}

DepsAsset asset(const std::string& path, const json& props, AssetKind kind) {
    DepsAsset a;
    a.path = path;
    a.kind = kind;
    a.assemblyVersion = optionalString(props, "assemblyVersion");
    a.fileVersion = optionalString(props, "fileVersion");
    a.localPath = optionalString(props, "localPath");
    a.culture = optionalString(props, "locale");
    return a;
}

bool readTargetEntry(const json& entry, DepsLibrary& lib) {
    if (!entry.is_object()) return false;
    for (int k = 0; k < 3; ++k) {
        const json* files = detail::member(entry, kKinds[k]);
        if (!files || !files->is_object()) continue;
        for (const auto& [path, props] : files->items()) lib.assets.push_back(asset(path, props, AssetKind(k)));
    }
    if (const json* targets = detail::member(entry, "runtimeTargets"); targets && targets->is_object()) {
        for (const auto& [path, props] : targets->items()) {
            const std::string type = optionalString(props, "assetType");
            for (int k = 0; k < 3; ++k) {
                if (!platform::equalsIgnoringCase(type, kKinds[k])) continue;
                DepsAsset a = asset(path, props, AssetKind(k));
                a.rid = optionalString(props, "rid");
                lib.runtimeTargets.push_back(std::move(a));
            }
        }
    }
    if (const json* deps = detail::member(entry, "dependencies"); deps && deps->is_object())
        for (const auto& [name, version] : deps->items())
            lib.dependencies.emplace_back(name, version.is_string() ? version.get<std::string>() : std::string());
    return true;
}

DepsJson fromJson(detail::JsonRead read, const json& root, std::string reason) {
    DepsJson out;
    out.reason = std::move(reason);
    if (read == detail::JsonRead::Missing) return out;
    out.outcome = DepsJson::Outcome::Damaged;
    if (read == detail::JsonRead::Damaged) return out;
    try {
        const json* target = detail::member(root, "runtimeTarget");
        if (target && target->is_string()) {
            out.runtimeTarget = target->get<std::string>();
        } else if (target && target->is_object()) {
            out.runtimeTarget = optionalString(*target, "name");
            out.signature = optionalString(*target, "signature");
        }
        if (out.runtimeTarget.empty()) {
            out.reason = "no runtime target";
            return out;
        }
        const json* targets = detail::member(root, "targets");
        if (!targets || !targets->is_object()) {
            out.reason = "no \"targets\"";
            return out;
        }
        for (const auto& [name, value] : targets->items()) out.targets.push_back(name);
        const json* own = detail::member(*targets, out.runtimeTarget.c_str());
        if (!own || !own->is_object()) {
            out.reason = "no target \"" + out.runtimeTarget + "\"";
            return out;
        }
        const json* libraries = detail::member(root, "libraries");
        if (!libraries || !libraries->is_object()) {
            out.reason = "no \"libraries\"";
            return out;
        }
        std::map<std::string, std::size_t> index;
        for (const auto& [key, value] : libraries->items()) {
            DepsLibrary lib;
            splitNameVersion(key, lib.name, lib.version);
            lib.listed = true;
            lib.type = platform::asciiLower(optionalString(value, "type"));
            lib.path = optionalString(value, "path");
            const json* serviceable = detail::member(value, "serviceable");
            lib.serviceable = serviceable && serviceable->is_boolean() && serviceable->get<bool>();
            index.emplace(key, out.libraries.size());
            out.libraries.push_back(std::move(lib));
        }
        for (const auto& [key, entry] : own->items()) {
            auto it = index.find(key);
            if (it == index.end()) {
                DepsLibrary lib;
                splitNameVersion(key, lib.name, lib.version);
                it = index.emplace(key, out.libraries.size()).first;
                out.libraries.push_back(std::move(lib));
            }
            if (!readTargetEntry(entry, out.libraries[it->second])) {
                out.reason = "the target's entry for " + key + " is not an object";
                return out;
            }
        }
        if (const json* runtimes = detail::member(root, "runtimes"); runtimes && runtimes->is_object()) {
            for (const auto& [rid, fallbacks] : runtimes->items()) {
                std::vector<std::string> list;
                if (fallbacks.is_array())
                    for (const json& f : fallbacks)
                        if (f.is_string()) list.push_back(f.get<std::string>());
                out.runtimes.emplace_back(rid, std::move(list));
            }
        }
        out.outcome = DepsJson::Outcome::Read;
        out.reason.clear();
    } catch (const std::bad_alloc&) {
        out.reason = "out of memory";
    } catch (const std::exception& e) {
        out.reason = e.what();
    }
    return out;
}

std::string fileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the host looks under a folder for an asset it takes by name: the
// file name, under its culture's folder for a resource (the folder the
// deps file puts it in: "lib/net8.0/fr/X.resources.dll" gives "fr").
std::string byName(const DepsLibrary& lib, const DepsAsset& a) {
    if (!a.localPath.empty()) return a.localPath;
    if (lib.type == "runtimepack") return a.path;
    if (a.kind != AssetKind::Resources) return fileName(a.path);
    const std::size_t slash = a.path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : a.path.substr(0, slash);
    const std::string culture = fileName(dir);
    return culture.empty() ? fileName(a.path) : culture + "/" + fileName(a.path);
}

}  // namespace

DepsJson parseDepsJson(std::string_view text) {
    nlohmann::ordered_json root;
    std::string reason;
    const detail::JsonRead read = detail::parseJson(text, root, reason);
    return fromJson(read, root, std::move(reason));
}

DepsJson parseDepsJson(const platform::ByteSource& bytes) {
    nlohmann::ordered_json root;
    std::string reason;
    const detail::JsonRead read = detail::parseJson(bytes, root, reason);
    return fromJson(read, root, std::move(reason));
}

DepsJson readDepsJson(const std::string& path) {
    nlohmann::ordered_json root;
    std::string reason;
    const detail::JsonRead read = detail::readJsonFile(path, root, reason);
    return fromJson(read, root, std::move(reason));
}

std::vector<std::string> windowsRids(std::uint16_t machine) {
    const char* arch = machine == platform::kMachineI386    ? "x86"
                       : machine == platform::kMachineArm64 ? "arm64"
                                                            : "x64";
    return {std::string("win-") + arch, "win", "any"};
}

std::vector<SelectedAsset> selectAssets(const DepsJson& deps, std::uint16_t machine, bool selfContained,
                                        bool frameworkFolder) {
    std::vector<SelectedAsset> out;
    try {
        const std::vector<std::string> rids = windowsRids(machine);
        // The host's order: every library's managed assemblies, then the
        // resources, then the native files.
        for (const AssetKind kind : {AssetKind::Runtime, AssetKind::Resources, AssetKind::Native}) {
            for (const DepsLibrary& lib : deps.libraries) {
                if (!lib.listed) continue;
                std::string matched;
                if (!selfContained) {
                    for (const std::string& rid : rids) {
                        for (const DepsAsset& a : lib.runtimeTargets)
                            if (a.kind == kind && a.rid == rid) matched = rid;
                        if (!matched.empty()) break;
                    }
                }
                const std::vector<DepsAsset>& from = matched.empty() ? lib.assets : lib.runtimeTargets;
                for (const DepsAsset& a : from) {
                    if (a.kind != kind || (!matched.empty() && a.rid != matched)) continue;
                    SelectedAsset s;
                    s.library = lib.name;
                    s.libraryVersion = lib.version;
                    s.kind = kind;
                    s.depsPath = a.path;
                    s.rid = matched;
                    s.appPath = (!matched.empty() && !frameworkFolder)
                                    ? (a.localPath.empty() ? a.path : a.localPath)
                                    : byName(lib, a);
                    out.push_back(std::move(s));
                }
            }
        }
    } catch (const std::bad_alloc&) {
        out.clear();
    }
    return out;
}

}  // namespace dotnet
