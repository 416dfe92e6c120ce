#include "inspect/ship.h"

#include <algorithm>
#include <unordered_map>

#include "inspect/lines.h"
#include "inspect/redist.h"
#include "platform/apiset.h"
#include "platform/filecopy.h"
#include "platform/platform.h"

namespace shipping {

namespace {

bool fromTheProgramsSide(loader::Origin origin) {
    return origin == loader::Origin::App || origin == loader::Origin::User || origin == loader::Origin::Toolchain;
}

// Whether the DLL `dll` exports every function that the images of
// `closures` import from a DLL of its name, for the machine of their process.
bool serves(const ShipDll& dll, const std::vector<Closure>& closures, const std::vector<std::string>& users,
            Reads& reads) {
    const std::string name = platform::toLower(platform::fileNamePart(dll.path()));
    const auto exports = reads.exports(dll.path());
    if (exports->state != pe::ExportTable::State::Read) return false;
    for (const Closure& c : closures) {
        if (std::find(users.begin(), users.end(), c.listed) == users.end()) continue;
        if (!loader::loadableInto(c.machine, dll.machine, dll.codeKind)) return false;
        for (std::size_t node = 0; node < c.imports.size(); ++node)
            for (const ImportEdge& e : c.imports[node]) {
                if (e.to == kNoNode || platform::toLower(platform::fileNamePart(c.nodePath(e.to))) != name) continue;
                const TableEntry& entry = e.link->entry;
                if (entry.kind != TableEntry::Kind::Import && entry.kind != TableEntry::Kind::DelayImport) continue;
                const auto image = reads.imageWithFunctions(c.nodePath(node));
                const pe::ImportTable& table =
                    entry.kind == TableEntry::Kind::Import ? image->imports : image->delayImports;
                if (entry.index >= table.dlls.size()) continue;
                for (const pe::ImportedFunction& f : table.dlls[entry.index].functions) {
                    const pe::ExportTable::Entry x =
                        f.byOrdinal ? exports->byOrdinal(f.ordinal) : exports->byName(table.functionName(f));
                    if (!x.exported) return false;
                }
            }
    }
    return true;
}

// Different files of the set under one name (the same bytes twice are one file).
void findClashes(const std::vector<Closure>& closures, Reads& reads, ShipSet& set) {
    const auto addOnce = [](std::vector<std::string>& list, const std::vector<std::string>& items) {
        for (const std::string& u : items)
            if (std::find(list.begin(), list.end(), u) == list.end()) list.push_back(u);
    };
    std::unordered_map<std::string, Clash> byName;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < set.dlls.size(); ++i) {
        const std::string key = platform::toLower(platform::fileNamePart(set.dlls[i].path()));
        Clash& same = byName[key];
        if (same.dlls.empty()) order.push_back(key);
        std::string why;
        const auto duplicate = std::find_if(same.dlls.begin(), same.dlls.end(), [&](std::size_t j) {
            return platform::compareFiles(set.dlls[j].path(), set.dlls[i].path(), why) == platform::Comparison::Same;
        });
        if (duplicate != same.dlls.end()) {
            addOnce(same.neededBy[std::size_t(duplicate - same.dlls.begin())], set.dlls[i].neededBy);
            continue;
        }
        same.dlls.push_back(i);
        same.neededBy.push_back(set.dlls[i].neededBy);
    }
    for (const std::string& key : order) {
        Clash& clash = byName[key];
        if (clash.dlls.size() < 2) continue;
        clash.name = platform::fileNamePart(set.dlls[clash.dlls.front()].path());
        std::vector<std::string> users;
        for (const std::vector<std::string>& n : clash.neededBy) addOnce(users, n);
        for (std::size_t i : clash.dlls)
            if (serves(set.dlls[i], closures, users, reads)) {
                clash.servesAll = i;
                break;
            }
        set.clashes.push_back(std::move(clash));
    }
}

}  // namespace

ShipSet shipSet(const std::vector<Closure>& closures, Reads& reads, const analysis::IgnoreList& ignore) {
    ShipSet set;
    set.problems = analysis::problemLines(closures, ignore);
    // By found path (lower-cased, as the walk compares them): its place in
    // the set, or kNotShipped.
    constexpr std::size_t kNotShipped = static_cast<std::size_t>(-1);
    std::unordered_map<std::string, std::size_t> fate;
    analysis::UniqueLines refusals, notices;
    const auto notice = [&](const std::string& name) {
        if (const char* package = redistributableOf(name)) {
            std::string line = lines::redistributable(name, package);
            if (notices.add(line)) set.notices.push_back(std::move(line));
        }
    };
    for (const Closure& c : closures) {
        std::vector<bool> shipped(c.found.size() + 1, false);
        for (std::size_t k = 0; k < c.found.size(); ++k) {
            const FoundDll& dll = c.found[k];
            const std::string& path = dll.path();
            const auto [at, added] = fate.try_emplace(platform::toLower(path), kNotShipped);
            if (added && fromTheProgramsSide(dll.location->origin) &&
                !platform::isApiSetName(platform::fileNamePart(path)) && !isWineStandIn(path)) {
                at->second = set.dlls.size();
                ShipDll s;
                s.location = dll.location;
                if (reads.hasVersion(path)) s.version = reads.version(path);
                s.fileVersion = reads.fixedVersion(path);
                s.machine = reads.machine(path);
                s.codeKind = reads.image(path)->codeKind;
                set.dlls.push_back(std::move(s));
            }
            if (at->second == kNotShipped) continue;
            shipped[k + 1] = true;
            std::vector<std::string>& neededBy = set.dlls[at->second].neededBy;
            if (neededBy.empty() || neededBy.back() != c.listed) neededBy.push_back(c.listed);
        }
        for (std::size_t node = 0; node < c.imports.size(); ++node) {
            for (const ImportEdge& e : c.imports[node]) {
                // Whether found or not, a debug runtime under a program or a
                // DLL of the set cannot go to another machine.
                if ((node == 0 || (node < shipped.size() && shipped[node])) && isDebugRuntime(e.name()) &&
                    !ignore.matches(e.name())) {
                    std::string line = lines::debugRuntime(e.name(), c.nodePath(node));
                    if (refusals.add(line)) set.refusals.push_back(std::move(line));
                }
                if (e.to == kNoNode) notice(e.name());
                else if (e.to < shipped.size() && !shipped[e.to]) notice(platform::fileNamePart(c.nodePath(e.to)));
            }
        }
    }
    // What .NET apps' deps files select that no reference reached.
    for (const Closure& c : closures)
        for (const std::string& path : c.depsFiles) {
            if (platform::toLower(path) == platform::toLower(c.listed)) continue;
            const auto [at, added] = fate.try_emplace(platform::toLower(path), set.dlls.size());
            if (added) {
                auto where = std::make_shared<loader::Location>();
                where->found = true;
                where->path = path;
                where->key = platform::toLower(path);
                where->origin = loader::Origin::App;
                ShipDll s;
                s.location = std::move(where);
                if (reads.hasVersion(path)) s.version = reads.version(path);
                s.fileVersion = reads.fixedVersion(path);
                s.machine = reads.machine(path);
                set.dlls.push_back(std::move(s));
            }
            if (at->second == kNotShipped) continue;
            std::vector<std::string>& neededBy = set.dlls[at->second].neededBy;
            if (std::find(neededBy.begin(), neededBy.end(), c.listed) == neededBy.end()) neededBy.push_back(c.listed);
        }
    // The shared frameworks .NET 5+ programs run on: installed, never shipped.
    for (const Closure& c : closures)
        for (const std::string& framework : c.frameworks) {
            std::string line = lines::sharedFramework(framework);
            if (notices.add(line)) set.notices.push_back(std::move(line));
        }
    findClashes(closures, reads, set);
    return set;
}

}  // namespace shipping
