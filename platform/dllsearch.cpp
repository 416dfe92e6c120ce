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

DllSearch::DllSearch(SearchOptions options) : options_(std::move(options)), index_(detail::makeFolderIndex()) {
    if (options_.folders) options_.folders = absoluteFolders(*options_.folders);
    options_.userFolders = absoluteFolders(options_.userFolders);
}

DllSearch::~DllSearch() = default;

const std::vector<std::string>& DllSearch::order(std::uint16_t machine) {
    auto it = orders_.find(machine);
    if (it == orders_.end()) it = orders_.emplace(machine, detail::searchOrder(options_, machine)).first;
    return it->second;
}

DllSearchResult DllSearch::find(const std::string& name, const std::string& importerFolder, std::uint16_t machine,
                                const MachineProbe& machineOf) {
    DllSearchResult result;
    if (!detail::searchableName(name)) return result;
    const std::string first = importerFolder.empty() ? currentDirectory() : importerFolder;
    // A folder met again in the order would answer as it did the first time.
    std::vector<const std::string*> tried;
    std::string path;
    for (const std::string& entry : order(machine)) {
        const std::string& dir = entry.empty() ? first : entry;
        if (dir.empty() || std::any_of(tried.begin(), tried.end(), [&](const std::string* t) { return *t == dir; }))
            continue;
        tried.push_back(&dir);
        if (index_->find(dir, name, path) && acceptCandidate(result, path, machine, machineOf)) return result;
    }
    return result;
}

const ApiSetSchema& DllSearch::apiSetSchema() {
    if (!schema_) schema_ = detail::readApiSetSchema(options_, *index_);
    return *schema_;
}

bool searchDll(const std::string& name, std::string& fullPath) {
    DllSearch search;
    const DllSearchResult r = search.find(name, std::string(), 0);
    if (r.found) fullPath = r.path;
    return r.found;
}

}  // namespace platform
