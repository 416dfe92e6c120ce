#include "cli/ship.h"

#include <unordered_map>

#include "cli/bundle.h"
#include "cli/redist.h"
#include "cli/rowformats.h"
#include "platform/apiset.h"
#include "platform/platform.h"

namespace cli {

namespace {

bool fromTheProgramsSide(platform::Origin origin) {
    return origin == platform::Origin::App || origin == platform::Origin::User ||
           origin == platform::Origin::Toolchain;
}

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

}  // namespace

ShipSet shipSet(const std::vector<Closure>& closures, Reads& reads, const IgnoreList& ignore) {
    ShipSet set;
    set.problems = problemLines(closures, ignore);
    // By found path (lower-cased, as the walk compares them): its place in
    // the set, or kNotShipped.
    constexpr std::size_t kNotShipped = static_cast<std::size_t>(-1);
    std::unordered_map<std::string, std::size_t> fate;
    analysis::UniqueLines refusals, notices;
    const auto notice = [&](const std::string& name) {
        if (const char* package = redistributableOf(name)) {
            std::string line = redistributableLine(name, package);
            if (notices.add(line)) set.notices.push_back(std::move(line));
        }
    };
    for (const Closure& c : closures) {
        const Inspection& in = c.inspection;
        std::vector<bool> shipped(in.found.size() + 1, false);
        for (std::size_t k = 0; k < in.found.size(); ++k) {
            const FoundDll& dll = in.found[k];
            const auto [at, added] = fate.try_emplace(platform::toLower(dll.path), kNotShipped);
            if (added && fromTheProgramsSide(dll.origin) && !platform::isApiSetName(platform::fileNamePart(dll.path)) &&
                !isWineStandIn(dll.path)) {
                at->second = set.dlls.size();
                ShipDll s;
                s.path = dll.path;
                s.origin = dll.origin;
                s.version = reads.version(dll.path);
                if (s.version == "V: ???") s.version.clear();
                s.fileVersion = reads.fixedVersion(dll.path);
                s.machine = reads.machine(dll.path);
                set.dlls.push_back(std::move(s));
            }
            if (at->second == kNotShipped) continue;
            shipped[k + 1] = true;
            std::vector<std::string>& neededBy = set.dlls[at->second].neededBy;
            if (neededBy.empty() || neededBy.back() != c.listed) neededBy.push_back(c.listed);
        }
        for (std::size_t node = 0; node < in.imports.size(); ++node) {
            for (const ImportEdge& e : in.imports[node]) {
                // Whether found or not, a debug runtime under a program or a
                // DLL of the set cannot go to another machine.
                if ((node == 0 || (node < shipped.size() && shipped[node])) && isDebugRuntime(e.name) &&
                    !ignore.matches(e.name)) {
                    std::string line = debugRuntimeLine(e.name, nodePath(c, node));
                    if (refusals.add(line)) set.refusals.push_back(std::move(line));
                }
                if (e.to == kNoNode) notice(e.name);
                else if (e.to < shipped.size() && !shipped[e.to]) notice(platform::fileNamePart(nodePath(c, e.to)));
            }
        }
    }
    return set;
}

std::string shipPaths(const ShipSet& set) {
    std::string out;
    for (const ShipDll& d : set.dlls) out.append(d.path).append(1, '\n');
    return out;
}

std::string shipJson(const ShipSet& set) {
    std::string out = "[";
    for (std::size_t i = 0; i < set.dlls.size(); ++i) {
        const ShipDll& d = set.dlls[i];
        out += i ? ",\n {" : "\n {";
        out += "\"file\": " + jsonString(platform::fileNamePart(d.path));
        out += ", \"path\": " + jsonString(platform::directoryPart(d.path));
        out += ", \"version\": " + jsonOrNull(d.version);
        out += ", \"file-version\": " + jsonOrNull(d.fileVersion);
        out += ", \"machine\": " + jsonOrNull(machineName(d.machine));
        out += ", \"origin\": " + jsonOrNull(platform::originName(d.origin));
        out += ", \"needed-by\": [";
        for (std::size_t n = 0; n < d.neededBy.size(); ++n) out += (n ? ", " : "") + jsonString(d.neededBy[n]);
        out += "]}";
    }
    out += set.dlls.empty() ? "]\n" : "\n]\n";
    return out;
}

Answer shipAnswer(const std::vector<std::string>& files, AnalysisRun& run, const IgnoreList& ignore, bool json,
                  const std::string& copyTo) {
    Answer a;
    const ShipSet set = shipSet(closures(files, run), run.reads(), ignore);
    for (const auto* lines : {&set.problems, &set.refusals, &set.notices})
        for (const std::string& line : *lines) a.err += line + "\n";
    a.status = set.refused() ? 1 : 0;
    if (copyTo.empty()) {
        a.out = json ? shipJson(set) : shipPaths(set);
        return a;
    }
    const BundleResult copy = copyBundle(set, copyTo, files);
    for (const std::string& line : copy.copied) a.out += line + "\n";
    for (const std::string& m : copy.messages) a.err += "tavelin-report: " + m + "\n";
    if (copy.ok)
        a.err += "tavelin-report: " + std::to_string(copy.copied.size()) + " copied to " +
                 platform::absolutePath(copyTo) + ", " + std::to_string(copy.unchanged) + " already there\n";
    else
        a.status = 1;
    return a;
}

}  // namespace cli
