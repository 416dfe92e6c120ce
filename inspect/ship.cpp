#include "inspect/ship.h"

#include <unordered_map>

#include "inspect/lines.h"
#include "inspect/redist.h"
#include "platform/apiset.h"
#include "platform/platform.h"

namespace shipping {

namespace {

bool fromTheProgramsSide(loader::Origin origin) {
    return origin == loader::Origin::App || origin == loader::Origin::User || origin == loader::Origin::Toolchain;
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
    return set;
}

}  // namespace shipping
