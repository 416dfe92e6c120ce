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
        it = images_.emplace(path, std::make_shared<const ImageImports>(readImageImports(path, true))).first;
        machines_[path] = it->second->machine;
    }
    return it->second;
}

std::uint16_t RunCache::machine(const std::string& path) {
    if (!remember_) return platform::imageMachine(path);
    // A candidate of the search is read whole at once: most are read later
    // anyway (listed, or walked), and one open serves both.
    auto it = machines_.find(path);
    if (it == machines_.end()) return imports(path)->machine;
    return it->second;
}

const std::string& RunCache::version(const std::string& path) {
    if (!remember_) return scratchVersion_ = FileVersionString(path);
    auto it = versions_.find(path);
    if (it == versions_.end()) {
        // One open of the file for its imports and its version.
        const auto image = imports(path);
        it = versions_.emplace(path, image->versionRead ? image->version : FileVersionString(path)).first;
    }
    return it->second;
}

namespace {
bool mayBeApiSet(const std::string& name) {
    if (name.size() < 4 || name[3] != '-') return false;
    const auto lower = [&](std::size_t i) { return static_cast<char>(name[i] | 0x20); };
    return (lower(0) == 'a' && lower(1) == 'p' && lower(2) == 'i') || (lower(0) == 'e' && lower(1) == 'x' && lower(2) == 't');
}
}  // namespace

const RunCache::Resolution& RunCache::resolve(const std::string& name, const std::string& importer,
                                              std::uint16_t machine) {
    // The loader maps a known API set name to its host before any search.
    std::string host;
    const bool apiSet = mayBeApiSet(name) && schema_->resolve(name, platform::fileNamePart(importer), host) ==
                                                 platform::ApiSetSchema::Lookup::Host;
    const std::string& wanted = apiSet ? host : name;
    const std::string folder = platform::directoryPart(importer);
    key_.assign(reinterpret_cast<const char*>(&machine), sizeof machine);
    key_.append(folder).append(1, '\0').append(wanted);
    if (remember_) {
        if (const auto it = searches_.find(key_); it != searches_.end()) return it->second;
    }
    const platform::DllSearchResult s = platform::searchDll(wanted, folder, machine,
                                                            [this](const std::string& p) { return this->machine(p); });
    Resolution r;
    r.found = s.found;
    if (s.found) {
        r.path = platform::listPath(s.path);
        r.key = platform::toLower(r.path);
    }
    if (!s.otherPath.empty()) {
        r.otherPath = platform::listPath(s.otherPath);
        r.otherMachine = s.otherMachine;
    }
    if (!remember_) return scratchResolution_ = std::move(r);
    return searches_.emplace(key_, std::move(r)).first->second;
}

std::shared_ptr<const std::vector<RunCache::Resolution>> RunCache::resolveAll(const std::string& importer,
                                                                           std::uint16_t machine,
                                                                           const ImageImports& image) {
    if (remember_) {
        if (const auto it = resolved_.find(importer); it != resolved_.end()) return it->second;
    }
    auto all = std::make_shared<std::vector<Resolution>>();
    all->reserve(image.names.size());
    for (const DllName& name : image.names)
        all->push_back(name.searchable ? resolve(name.text, importer, machine) : Resolution{});
    if (remember_) resolved_.emplace(importer, all);
    return all;
}
