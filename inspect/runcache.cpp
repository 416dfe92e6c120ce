#include "inspect/runcache.h"

#include "inspect/fileversion.h"

RunCache::RunCache(bool remember) : remember_(remember), schema_(platform::apiSetSchema()) {
    platform::beginSearchScope();
}

RunCache::~RunCache() { platform::endSearchScope(); }

std::shared_ptr<const ImageImports> RunCache::imports(const std::string& path) {
    if (!remember_) return std::make_shared<const ImageImports>(readImageImports(path));
    auto it = images_.find(path);
    if (it == images_.end()) {
        it = images_.emplace(path, std::make_shared<const ImageImports>(readImageImports(path))).first;
        machines_[path] = it->second->machine;
    }
    return it->second;
}

std::uint16_t RunCache::machine(const std::string& path) {
    if (!remember_) return platform::imageMachine(path);
    auto it = machines_.find(path);
    if (it == machines_.end()) it = machines_.emplace(path, platform::imageMachine(path)).first;
    return it->second;
}

const std::string& RunCache::version(const std::string& path) {
    if (!remember_) return scratchVersion_ = FileVersionString(path);
    auto it = versions_.find(path);
    if (it == versions_.end()) it = versions_.emplace(path, FileVersionString(path)).first;
    return it->second;
}

RunCache::Resolution RunCache::resolve(const std::string& name, const std::string& importer, std::uint16_t machine) {
    // The loader maps a known API set name to its host before any search.
    std::string host;
    const bool apiSet = schema_->resolve(name, platform::fileNamePart(importer), host) ==
                        platform::ApiSetSchema::Lookup::Host;
    const std::string& wanted = apiSet ? host : name;
    const std::string folder = platform::directoryPart(importer);
    std::string key;
    if (remember_) {
        key.reserve(folder.size() + wanted.size() + 8);
        key.append(std::to_string(machine)).append(1, '\0').append(folder).append(1, '\0').append(wanted);
        if (const auto it = searches_.find(key); it != searches_.end()) return it->second;
    }
    const platform::DllSearchResult s =
        platform::searchDll(wanted, folder, machine, [this](const std::string& p) { return this->machine(p); });
    Resolution r;
    r.found = s.found;
    if (s.found) r.path = platform::listPath(s.path);
    if (!s.otherPath.empty()) {
        r.otherPath = platform::listPath(s.otherPath);
        r.otherMachine = s.otherMachine;
    }
    if (remember_) searches_.emplace(std::move(key), r);
    return r;
}
