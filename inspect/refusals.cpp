#include "inspect/refusals.h"

#include <unordered_map>
#include <unordered_set>

#include "inspect/lines.h"
#include "inspect/redist.h"
#include "platform/filecopy.h"
#include "platform/platform.h"

namespace shipping {

namespace {

void addOnce(std::vector<std::string>& list, const std::string& item) {
    for (const std::string& s : list)
        if (s == item) return;
    list.push_back(item);
}

// Refusals by their line ignoring case, as the set keeps each line once.
class ByLine {
public:
    explicit ByLine(std::vector<Refusal>& out) : out_(out) {}
    void add(Refusal::Kind kind, const std::string& line, const std::string& listed) {
        const auto [at, added] = index_.try_emplace(platform::toLower(line), out_.size());
        if (added) out_.push_back({kind, line, {}, {}});
        addOnce(out_[at->second].neededBy, listed);
    }

private:
    std::vector<Refusal>& out_;
    std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace

std::vector<Refusal> refusals(const ShipSet& set, const std::vector<Closure>& closures,
                              const analysis::IgnoreList& ignore) {
    std::vector<Refusal> out;
    {
        // In the order problemLines gives them.
        ByLine problems(out);
        for (const Closure& c : closures)
            for (const Finding& f : c.findings)
                if (!ignore.ignores(analysis::errorRow(c.listed, f))) problems.add(Refusal::Kind::Problem, f.line, c.listed);
    }
    // The found DLLs' keys are their paths lower-cased, as the set compares them.
    std::unordered_set<std::string> inSet;
    for (const ShipDll& d : set.dlls) inSet.insert(d.location->key.empty() ? platform::toLower(d.path()) : d.location->key);
    {
        // As shipSet finds them: under a program, or under a DLL of the set;
        // each name judged once, the same names recurring in every closure.
        std::unordered_map<std::string, bool> refused;
        std::vector<Refusal> debug;
        ByLine runtimes(debug);
        for (const Closure& c : closures)
            for (std::size_t node = 0; node < c.imports.size(); ++node) {
                if (node > c.found.size()) break;
                if (node > 0) {
                    const loader::Location& where = *c.found[node - 1].location;
                    if (!inSet.count(where.key.empty() ? platform::toLower(where.path) : where.key)) continue;
                }
                for (const ImportEdge& e : c.imports[node]) {
                    auto [at, added] = refused.try_emplace(e.name(), false);
                    if (added) at->second = isDebugRuntime(e.name()) && !ignore.matches(e.name());
                    if (at->second)
                        runtimes.add(Refusal::Kind::DebugRuntime, lines::debugRuntime(e.name(), c.nodePath(node)),
                                     c.listed);
                }
            }
        out.insert(out.end(), debug.begin(), debug.end());
    }
    // The files of each name, those of the same bytes taken as one.
    std::vector<std::string> names;
    std::unordered_map<std::string, std::vector<ShipDll>> byName;
    for (const ShipDll& d : set.dlls) {
        const std::string name = platform::toLower(platform::fileNamePart(d.path()));
        auto [at, added] = byName.try_emplace(name);
        if (added) names.push_back(name);
        std::vector<ShipDll>& files = at->second;
        bool merged = false;
        std::string why;
        for (ShipDll& f : files)
            if (platform::compareFiles(f.path(), d.path(), why) == platform::Comparison::Same) {
                for (const std::string& n : d.neededBy) addOnce(f.neededBy, n);
                merged = true;
                break;
            }
        if (!merged) files.push_back(d);
    }
    for (const std::string& name : names) {
        std::vector<ShipDll>& files = byName[name];
        if (files.size() < 2) continue;
        Refusal r;
        r.kind = Refusal::Kind::TwoFiles;
        for (const ShipDll& f : files)
            for (const std::string& n : f.neededBy) addOnce(r.neededBy, n);
        r.line = lines::twoFiles(platform::fileNamePart(files.front().path()));
        r.files = std::move(files);
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace shipping
