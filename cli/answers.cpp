#include "cli/answers.h"

#include "cli/rowformats.h"
#include "inspect/bundle.h"
#include "inspect/chains.h"
#include "platform/platform.h"

namespace cli {

namespace {

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

std::vector<Closure> closuresOf(const std::vector<std::string>& files, AnalysisRun& run) {
    return analysis::analyseFiles(files, run, {}, false).closures;
}

std::string problemText(const std::vector<Closure>& all, const analysis::IgnoreList& ignore) {
    std::string err;
    for (const std::string& line : analysis::problemLines(all, ignore)) err += line + "\n";
    return err;
}

// Different files under one name, each with the programs that need it,
// and the one that would serve them all, if one would.
std::string clashText(const shipping::ShipSet& set, const char* option) {
    std::string out;
    for (const shipping::Clash& c : set.clashes) {
        out += std::string("tavelin-report: ") + option + ": " + std::to_string(c.dlls.size()) +
               " different files named " + c.name + " cannot all go beside the programs:\n";
        for (std::size_t k = 0; k < c.dlls.size(); ++k) {
            out += "  " + set.dlls[c.dlls[k]].path() + " for";
            for (const std::string& p : c.neededBy[k]) out += " " + p;
            out += "\n";
        }
        if (c.served())
            out += "  " + set.dlls[c.servesAll].path() + " would serve them all: put it first in the search (--dll-path)\n";
        else
            out += "  no one of them serves them all: ship these programs in folders of their own\n";
    }
    return out;
}

}  // namespace

std::string shipPaths(const shipping::ShipSet& set) {
    std::string out;
    for (const shipping::ShipDll& d : set.dlls) out.append(d.path()).append(1, '\n');
    return out;
}

std::string shipJson(const shipping::ShipSet& set, const ShipExtras& extras) {
    std::string out = "[";
    for (std::size_t i = 0; i < set.dlls.size(); ++i) {
        const shipping::ShipDll& d = set.dlls[i];
        out += i ? ",\n {" : "\n {";
        out += "\"file\": " + jsonString(platform::fileNamePart(d.path()));
        out += ", \"path\": " + jsonString(platform::directoryPart(d.path()));
        out += ", \"version\": " + jsonOrNull(d.version);
        out += ", \"file-version\": " + jsonOrNull(d.fileVersion);
        out += ", \"machine\": " + jsonOrNull(machineKey(d.machine, d.codeKind));
        out += ", \"origin\": " + jsonOrNull(loader::originName(d.location->origin));
        out += ", \"needed-by\": [";
        for (std::size_t n = 0; n < d.neededBy.size(); ++n) out += (n ? ", " : "") + jsonString(d.neededBy[n]);
        out += "]";
        if (extras.jsonMembers) out += extras.jsonMembers(d);
        out += "}";
    }
    out += set.dlls.empty() ? "]\n" : "\n]\n";
    return out;
}

Answer shipAnswer(const std::vector<std::string>& files, AnalysisRun& run, const analysis::IgnoreList& ignore, bool json,
                  const std::string& copyTo, const ShipExtras& extras) {
    return shipAnswer(closuresOf(files, run), files, run, ignore, json, copyTo, extras);
}

Answer treeAnswer(const std::vector<std::string>& files, AnalysisRun& run, const analysis::IgnoreList& ignore) {
    return treeAnswer(closuresOf(files, run), run, ignore);
}

Answer whyAnswer(const std::vector<std::string>& files, AnalysisRun& run, const analysis::IgnoreList& ignore,
                 const std::string& pattern) {
    return whyAnswer(closuresOf(files, run), run, ignore, pattern);
}

Answer shipAnswer(const std::vector<Closure>& closures, const std::vector<std::string>& files, AnalysisRun& run,
                  const analysis::IgnoreList& ignore, bool json, const std::string& copyTo, const ShipExtras& extras) {
    Answer a;
    shipping::ShipSet set = shipping::shipSet(closures, run.reads(), ignore);
    std::vector<std::string> more = extras.amend ? extras.amend(closures, set) : std::vector<std::string>();
    for (const auto* lines : {&set.problems, &set.refusals, &set.notices, &more})
        for (const std::string& line : *lines) a.err += line + "\n";
    a.err += clashText(set, copyTo.empty() ? "--ship" : "--copy-to");
    a.status = set.refused() ? 1 : 0;
    if (copyTo.empty()) {
        a.out = json ? shipJson(set, extras) : shipPaths(set);
        return a;
    }
    if (set.dlls.empty() && !set.refused()) {
        const std::string folder = platform::absolutePath(copyTo);
        a.err += "tavelin-report: --copy-to: the ship set is empty: nothing to copy, " + folder +
                 (platform::folderExists(folder) ? " left as it is\n" : " not created\n");
        return a;
    }
    const shipping::BundleResult copy = shipping::copyBundle(set, copyTo, files);
    for (const std::string& line : copy.copied) a.out += line + "\n";
    for (const std::string& m : copy.messages) a.err += "tavelin-report: " + m + "\n";
    if (copy.ok)
        a.err += "tavelin-report: " + std::to_string(copy.copied.size()) + " copied to " +
                 platform::absolutePath(copyTo) + ", " + std::to_string(copy.unchanged) + " already there\n";
    else
        a.status = 1;
    return a;
}

Answer treeAnswer(const std::vector<Closure>& all, AnalysisRun& run, const analysis::IgnoreList& ignore) {
    Answer a;
    for (std::size_t i = 0; i < all.size(); ++i) a.out += (i ? "\n" : "") + chains::tree(all[i], run.reads());
    a.err = problemText(all, ignore);
    a.status = a.err.empty() ? 0 : 1;
    return a;
}

Answer whyAnswer(const std::vector<Closure>& all, AnalysisRun&, const analysis::IgnoreList& ignore,
                 const std::string& pattern) {
    Answer a;
    // A DLL given with its folder is asked about by its name.
    const std::string name = platform::fileNamePart(pattern);
    bool needed = false, gaveUp = false;
    for (const Closure& c : all) {
        const chains::Chains chains = chains::why(c, name);
        for (const std::string& line : chains.lines) a.out += line + "\n";
        needed = needed || !chains.lines.empty();
        if (chains.more && chains.lines.empty()) {
            gaveUp = true;
            a.err += "tavelin-report: --why: the search from " + c.listed + " stopped at its bounds\n";
        } else if (chains.more) {
            a.err += "tavelin-report: --why: only the " + std::to_string(chains.lines.size()) +
                     " shortest chains from " + c.listed + " are shown\n";
        }
    }
    a.err += problemText(all, ignore);
    if (!needed && !gaveUp) a.err += "tavelin-report: no listed file needs " + pattern + "\n";
    a.status = needed ? 0 : 1;
    return a;
}

}  // namespace cli
