#include "platform/dllsearch.h"

#include <algorithm>

#include "platform/apiset.h"
#include "platform/platform.h"

namespace platform {

namespace {

std::vector<std::string> absoluteFolders(const std::vector<std::string>& folders) {
    std::vector<std::string> out;
    for (const std::string& f : folders)
        if (!f.empty()) out.push_back(absolutePath(f));
    return out;
}

// The skip rule for one candidate: true when `path` is taken for `machine`;
// else the first such file is remembered in `result`.
bool acceptCandidate(DllSearchResult& result, const std::string& path, std::uint16_t machine,
                     const MachineProbe& machineOf) {
    const std::uint16_t m = machine && machineOf ? machineOf(path) : 0;
    if (m == 0 || m == machine) {
        result.found = true;
        result.path = path;
        return true;
    }
    if (result.otherPath.empty()) {
        result.otherPath = path;
        result.otherMachine = m;
    }
    return false;
}

}  // namespace

const char* originName(Origin origin) {
    switch (origin) {
        case Origin::Sxs: return "sxs";
        case Origin::Known: return "known";
        case Origin::App: return "app";
        case Origin::User: return "user";
        case Origin::System: return "system";
        case Origin::Toolchain: return "toolchain";
        case Origin::Gac: return "gac";
        case Origin::None: break;
    }
    return "";
}

bool isWindowsFolder(const std::string& folder) {
    return !folder.empty() && !subfolderIgnoringCase(folder, "System32").empty();
}

DllSearch::DllSearch(SearchOptions options) : options_(std::move(options)), index_(detail::makeFolderIndex()) {
    if (options_.folders) options_.folders = absoluteFolders(*options_.folders);
    options_.userFolders = absoluteFolders(options_.userFolders);
    options_.addedFolders = absoluteFolders(options_.addedFolders);
    if (!options_.windowsFolder.empty()) options_.windowsFolder = absolutePath(options_.windowsFolder);
    windows_ = options_.windowsFolder.empty() ? detail::defaultWindowsFolder(options_) : options_.windowsFolder;
    if (!isWindowsFolder(windows_)) windows_.clear();
}

DllSearch::~DllSearch() = default;

const DllSearch::Folders& DllSearch::folders(std::uint16_t machine) {
    auto it = folders_.find(machine);
    if (it != folders_.end()) return it->second;
    Folders f;
    f.order.push_back({std::string(), Origin::App});
    for (const std::string& dir : options_.folders ? *options_.folders : options_.userFolders)
        f.order.push_back({dir, Origin::User});
    for (const std::string& dir : options_.addedFolders) f.order.push_back({dir, Origin::User});
    // The system folders: the Windows folder's, as WOW64 shows them to a
    // program of `machine`; Wine's builtin ones without it, or for a machine
    // the Windows folder has no system DLLs of (an empty SysWOW64).
    const std::vector<std::string> builtin =
        options_.folders ? std::vector<std::string>{} : detail::builtinSystemFolders(machine);
    if (!windows_.empty()) {
        const std::string wow = subfolderIgnoringCase(windows_, "SysWOW64");
        std::string sys = machine == kMachineI386 && !wow.empty() ? wow : subfolderIgnoringCase(windows_, "System32");
        std::string kernel32;
        if (!builtin.empty() && !index_->find(sys, "kernel32.dll", kernel32)) sys.clear();
        if (!sys.empty()) {
            f.system = sys;
            f.order.push_back({sys, Origin::System});
            if (const std::string old = subfolderIgnoringCase(windows_, "System"); !old.empty())
                f.order.push_back({old, Origin::System});
            f.order.push_back({windows_, Origin::System});
        }
    }
    if (f.system.empty()) {
        for (const std::string& dir : builtin) f.order.push_back({dir, Origin::System});
        if (!builtin.empty()) f.system = builtin.front();
    }
    if (!options_.folders)
        for (detail::ToolchainFolder& t : detail::toolchainFolders(machine))
            f.order.push_back({std::move(t.path), Origin::Toolchain, t.variant ? f.variants++ : kAnyVariant});
    for (std::string& dir : detail::environmentFolders()) f.order.push_back({std::move(dir), Origin::User});
    return folders_.emplace(machine, std::move(f)).first->second;
}

const std::vector<DllSearch::Step>& DllSearch::order(std::uint16_t machine) { return folders(machine).order; }

int DllSearch::variantCount(std::uint16_t machine) { return folders(machine).variants; }

std::string DllSearch::systemFolder(std::uint16_t machine) { return folders(machine).system; }

const KnownDlls& DllSearch::knownDlls() {
    if (!known_) known_ = knownDllsFor(windows_, detail::isRunningSystem(windows_));
    return *known_;
}

bool DllSearch::findIn(const std::string& dir, const std::string& name, std::uint16_t machine,
                       const MachineProbe& machineOf, DllSearchResult& result) {
    std::string path;
    return index_->find(dir, name, path) && acceptCandidate(result, path, machine, machineOf);
}

DllSearchResult DllSearch::find(const std::string& name, const std::string& programFolder, std::uint16_t machine,
                                const MachineProbe& machineOf, int variant) {
    DllSearchResult result;
    if (!detail::searchableName(name)) return result;
    const Folders& f = folders(machine);
    // KnownDLLs come from the system folder whatever copy the program has.
    if (!f.system.empty() && knownDlls().contains(name) && findIn(f.system, name, machine, machineOf, result)) {
        result.origin = Origin::Known;
        return result;
    }
    const std::string first = programFolder.empty() ? currentDirectory() : programFolder;
    // A folder met again in the order would answer as it did the first time.
    std::vector<const std::string*> tried;
    for (const Step& step : f.order) {
        if (variant != kAnyVariant && step.variant != kAnyVariant && step.variant != variant) continue;
        const std::string& dir = step.folder.empty() ? first : step.folder;
        if (dir.empty() || std::any_of(tried.begin(), tried.end(), [&](const std::string* t) { return *t == dir; }))
            continue;
        tried.push_back(&dir);
        if (findIn(dir, name, machine, machineOf, result)) {
            result.origin = step.origin;
            result.variant = step.variant;
            return result;
        }
    }
    return result;
}

bool DllSearch::findFile(const std::string& dir, const std::string& name, std::string& path) {
    return detail::searchableName(name) && index_->find(dir, name, path);
}

const ApiSetSchema& DllSearch::apiSetSchema() {
    if (!schema_) schema_ = detail::readApiSetSchema(*this, *index_);
    return *schema_;
}

bool searchDll(const std::string& name, std::string& fullPath) {
    DllSearch search;
    const DllSearchResult r = search.find(name, std::string(), 0);
    if (r.found) fullPath = r.path;
    return r.found;
}

}  // namespace platform
