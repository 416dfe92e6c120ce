#include "inspect/runcache.h"

#include "inspect/fileversion.h"
#include "platform/text.h"

RunCache::RunCache(bool remember, Checks checks)
    : remember_(remember), checks_(checks), schema_(platform::apiSetSchema()) {
    platform::beginSearchScope();
}

RunCache::~RunCache() { platform::endSearchScope(); }

std::shared_ptr<const ImageImports> RunCache::imports(const std::string& path) {
    if (!remember_) return std::make_shared<const ImageImports>(readImageImports(path, false, checks_));
    auto it = images_.find(path);
    if (it == images_.end()) {
        it = images_.emplace(path, std::make_shared<const ImageImports>(readImageImports(path, true, checks_))).first;
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

std::shared_ptr<const ExportTable> RunCache::exports(const std::string& path) {
    if (!remember_) return std::make_shared<const ExportTable>(readExportTable(path));
    auto it = exports_.find(path);
    if (it == exports_.end()) it = exports_.emplace(path, std::make_shared<const ExportTable>(readExportTable(path))).first;
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
    all->reserve(image.names.size() + image.delayNames.size());
    for (const DllName& name : image.names)
        all->push_back(name.searchable ? resolve(name.text, importer, machine) : Resolution{});
    if (checks_.delayLoad)
        for (const DllName& name : image.delayNames)
            all->push_back(name.searchable ? resolve(name.text, importer, machine) : Resolution{});
    if (remember_) resolved_.emplace(importer, all);
    return all;
}

// ---------------------------------------------------------------------------
// Functions

namespace {
// A loader follows a chain of forwarders; a cycle, or a chain longer than
// any system builds, leads nowhere.
constexpr int kMaxForwards = 16;
constexpr std::size_t kMaxDllName = 259;
}  // namespace

RunCache::Lookup RunCache::findExport(std::shared_ptr<const ExportTable> table, std::string dll, std::string_view name,
                                      std::uint32_t ordinal, bool byOrdinal) {
    std::string forward, function(name);
    for (int hop = 0;; ++hop) {
        const ExportTable::Entry e = byOrdinal ? table->byOrdinal(ordinal) : table->byName(function);
        if (!e.exported) return hop == 0 ? Lookup{Lookup::Missing, {}} : Lookup{Lookup::BrokenForward, forward};
        if (!e.forward) return {Lookup::Present, {}};
        forward = *e.forward;
        const Lookup broken{Lookup::BrokenForward, forward};
        // "OTHER.Function" or "OTHER.#12"; the module gets ".dll" unless it has
        // an extension of its own, as the loader does.
        const std::size_t dot = forward.rfind('.');
        if (hop == kMaxForwards || dot == std::string::npos || dot == 0 || dot + 1 == forward.size()) return broken;
        std::string module = forward.substr(0, dot);
        if (module.find('.') == std::string::npos) module += ".dll";
        if (module.size() > kMaxDllName) return broken;
        function = forward.substr(dot + 1);
        byOrdinal = function[0] == '#';
        if (byOrdinal) {
            if (function.size() < 2 || function.size() > 6 ||
                function.find_first_not_of("0123456789", 1) != std::string::npos)
                return broken;
            ordinal = static_cast<std::uint32_t>(std::stoul(function.substr(1)));
        }
        const std::uint16_t m = machine(dll);
        const Resolution& r = resolve(platform::cp1252ToUtf8(module), dll, m);
        if (!r.found) return broken;
        dll = r.path;
        table = exports(dll);
        if (table->state != ExportTable::State::Read) return broken;
    }
}

std::shared_ptr<const std::vector<RunCache::FunctionCheck>> RunCache::checkFunctions(
    const std::string& importer, const ImageImports& image, const std::vector<Resolution>& resolved) {
    if (remember_) {
        if (const auto it = checked_.find(importer); it != checked_.end()) return it->second;
    }
    auto all = std::make_shared<std::vector<FunctionCheck>>(resolved.size());
    for (std::size_t i = 0; i < resolved.size(); ++i) {
        const bool delayed = i >= image.names.size();
        const DllName& dll = delayed ? image.delayNames[i - image.names.size()] : image.names[i];
        const Resolution& r = resolved[i];
        if (!r.found || dll.functions.empty()) continue;
        FunctionCheck& check = (*all)[i];
        const std::shared_ptr<const ExportTable> table = exports(r.path);
        if (table->state != ExportTable::State::Read) {
            if (table->state == ExportTable::State::Damaged) {
                check.dllLine = r.path + " n'est pas un exécutable Win32";
                check.dllProblem = Problem::NotPe;
            } else {
                check.dllLine = imageProblemLine(r.path, *imports(r.path), check.dllProblem);
            }
            continue;
        }
        const std::string tail = " absente de " + r.path + " pour " + importer;
        for (const ImportedFunction& f : dll.functions) {
            const std::string_view name(image.functionNames.data() + f.at, f.length);
            const Lookup found = findExport(table, r.path, name, f.ordinal, f.byOrdinal);
            if (found.outcome == Lookup::Present) continue;
            std::string line = f.byOrdinal ? "#" + std::to_string(f.ordinal) : imageText(name) + (f.cut ? "…" : "");
            line += tail;
            if (found.outcome == Lookup::BrokenForward) line += " (renvoi vers " + imageText(found.forward) + ")";
            if (delayed) line += " (chargement différé)";
            check.lines.push_back(std::move(line));
        }
    }
    if (remember_) checked_.emplace(importer, all);
    return all;
}

std::string imageProblemLine(const std::string& name, const ImageImports& image, Problem& kind) {
    kind = Problem::NotReadable;
    switch (image.outcome) {
        case ImageImports::Outcome::NotOpenable: return name + " non ouvrable";
        case ImageImports::Outcome::NotMappable: return name + " non mappable";
        case ImageImports::Outcome::NotViewable: return name + " non visionnable";
        default: break;
    }
    kind = Problem::NotPe;
    return name + " n'est pas un exécutable Win32";
}
