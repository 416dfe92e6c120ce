#include "platform/searchplaces.h"

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

}  // namespace

bool isArm32(std::uint16_t machine) { return machine == 0x01C0 || machine == 0x01C2 || machine == 0x01C4; }

bool isWindowsFolder(const std::string& folder) {
    return !folder.empty() && !subfolderIgnoringCase(folder, "System32").empty();
}

SearchPlaces::SearchPlaces(SearchOptions options) : options_(std::move(options)) {
    if (options_.folders) options_.folders = absoluteFolders(*options_.folders);
    options_.userFolders = absoluteFolders(options_.userFolders);
    options_.addedFolders = absoluteFolders(options_.addedFolders);
    if (!options_.windowsFolder.empty()) options_.windowsFolder = absolutePath(options_.windowsFolder);
    windows_ = options_.windowsFolder.empty() ? detail::defaultWindowsFolder(options_) : options_.windowsFolder;
    if (!isWindowsFolder(windows_)) windows_.clear();
    user_ = options_.folders ? *options_.folders : options_.userFolders;
    user_.insert(user_.end(), options_.addedFolders.begin(), options_.addedFolders.end());
}

SearchPlaces::~SearchPlaces() = default;

const SearchPlaces::Machine& SearchPlaces::forMachine(std::uint16_t machine) {
    auto it = machines_.find(machine);
    if (it != machines_.end()) return it->second;
    Machine m;
    // The system folders: the Windows folder's, as WOW64 shows them to a
    // program of `machine`; Wine's builtin ones without it, or for a machine
    // the Windows folder has no system DLLs of (an empty SysWOW64).
    const std::vector<std::string> builtin =
        options_.folders ? std::vector<std::string>{} : detail::builtinSystemFolders(machine);
    if (!windows_.empty()) {
        // 32-bit programs see SysWOW64 as their System32, 32-bit ARM ones
        // (on Windows on ARM) SysArm32.
        const std::string wow = subfolderIgnoringCase(windows_, "SysWOW64");
        const std::string arm32 = isArm32(machine) ? subfolderIgnoringCase(windows_, "SysArm32") : std::string();
        std::string sys = machine == kMachineI386 && !wow.empty() ? wow
                          : !arm32.empty()                        ? arm32
                                                                  : subfolderIgnoringCase(windows_, "System32");
        std::string kernel32;
        if (!builtin.empty() && !index_.find(sys, "kernel32.dll", kernel32)) sys.clear();
        if (!sys.empty()) {
            m.systemFolder = sys;
            m.system.push_back(sys);
            if (const std::string old = subfolderIgnoringCase(windows_, "System"); !old.empty()) m.system.push_back(old);
            m.system.push_back(windows_);
        }
    }
    if (m.systemFolder.empty()) {
        m.system = builtin;
        m.builtin = true;
        if (!builtin.empty()) m.systemFolder = builtin.front();
    }
    if (!options_.folders)
        for (detail::BackendToolchainFolder& t : detail::toolchainFolders(machine))
            m.toolchain.push_back({std::move(t.path), t.variant ? m.variants++ : kAnyVariant});
    return machines_.emplace(machine, std::move(m)).first->second;
}

const std::vector<std::string>& SearchPlaces::environmentFolders() {
    if (!environment_) environment_ = detail::environmentFolders();
    return *environment_;
}

const KnownDlls& SearchPlaces::knownDlls() {
    if (!known_) known_ = knownDllsFor(windows_, detail::isRunningSystem(windows_));
    return *known_;
}

bool SearchPlaces::findFile(const std::string& dir, const std::string& name, std::string& path) {
    return detail::searchableName(name) && index_.find(dir, name, path);
}

const ApiSetSchema& SearchPlaces::apiSetSchema() {
    if (!schema_) schema_ = detail::readApiSetSchema(*this);
    return *schema_;
}

}  // namespace platform
