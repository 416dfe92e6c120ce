#include "inspect/refusals.h"

#include <unordered_map>
#include <unordered_set>

#include "inspect/lines.h"
#include "inspect/redist.h"
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
    // The names under which the set holds different bytes.
    for (const Clash& clash : set.clashes) {
        Refusal r;
        r.kind = Refusal::Kind::TwoFiles;
        for (std::size_t k = 0; k < clash.dlls.size(); ++k) {
            ShipDll file = set.dlls[clash.dlls[k]];
            file.neededBy = clash.neededBy[k];
            for (const std::string& n : file.neededBy) addOnce(r.neededBy, n);
            r.files.push_back(std::move(file));
        }
        r.line = lines::twoFiles(clash.name);
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace shipping
