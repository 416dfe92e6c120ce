#include "inspect/bundle.h"

#include <unordered_map>
#include <unordered_set>

#include "platform/filecopy.h"
#include "platform/platform.h"

namespace shipping {

namespace {

struct Step {
    std::string source, target;
    bool replaces = false;
    std::string staged;
};

}  // namespace

BundleResult copyBundle(const ShipSet& set, const std::string& folderArg, const std::vector<std::string>& listed,
                        const BundleProgress& progress) {
    BundleResult r;
    using Kind = BundleNote::Kind;
    const auto note = [&](Kind kind, std::string path, std::string source = {}, std::string other = {},
                          std::string why = {}) {
        r.notes.push_back({kind, std::move(path), std::move(source), std::move(other), std::move(why)});
    };
    const std::string folder = platform::absolutePath(folderArg);
    if (set.refused()) {
        r.messages.push_back("--copy-to: nothing copied to " + folder + ": the ship set is incomplete");
        note(Kind::Incomplete, folder);
        return r;
    }
    if (platform::pathExists(folder) && !platform::folderExists(folder)) {
        r.messages.push_back("--copy-to: " + folder + " is not a folder");
        note(Kind::NotAFolder, folder);
        return r;
    }
    const bool folderThere = platform::folderExists(folder);
    std::unordered_set<std::string> listedKeys;
    for (const std::string& l : listed) listedKeys.insert(platform::toLower(platform::absolutePath(l)));

    // Windows has one file per name ignoring case: two DLLs of the set that
    // share a name must be the same bytes, and go once.
    std::unordered_map<std::string, std::string> byName;
    std::vector<Step> steps;
    bool refused = false;
    std::string why;
    for (const ShipDll& d : set.dlls) {
        const std::string name = platform::fileNamePart(d.path());
        const auto [it, added] = byName.try_emplace(platform::toLower(name), d.path());
        if (!added) {
            const platform::Comparison same = platform::compareFiles(it->second, d.path(), why);
            if (same == platform::Comparison::Same) continue;
            r.messages.push_back(same == platform::Comparison::Failed
                                     ? "--copy-to: " + why
                                     : "--copy-to: two different files would be " + platform::joinPath(folder, name) +
                                           ": " + it->second + " and " + d.path());
            if (same == platform::Comparison::Failed) note(Kind::CannotCompare, {}, {}, {}, why);
            else note(Kind::TwoFiles, platform::joinPath(folder, name), it->second, d.path());
            refused = true;
            continue;
        }
        Step s{d.path(), platform::joinPath(folder, name), false, {}};
        if (folderThere) {
            if (const std::string there = platform::fileIgnoringCase(folder, name); !there.empty()) {
                s.target = there;
                switch (platform::compareFiles(d.path(), there, why)) {
                    case platform::Comparison::Same: ++r.unchanged; continue;
                    case platform::Comparison::Failed:
                        r.messages.push_back("--copy-to: " + why);
                        note(Kind::CannotCompare, {}, {}, {}, why);
                        refused = true;
                        continue;
                    case platform::Comparison::Different: s.replaces = true; break;
                }
                if (listedKeys.count(platform::toLower(there))) {
                    r.messages.push_back("--copy-to: " + there + " is a listed file; " + d.path() +
                                         " would replace it");
                    note(Kind::ListedFile, there, d.path());
                    refused = true;
                    continue;
                }
            }
        }
        steps.push_back(std::move(s));
    }
    if (refused) {
        r.messages.push_back("--copy-to: nothing copied to " + folder);
        return r;
    }
    // Copies a stopped run left would go into the bundle's archive.
    if (folderThere)
        for (const std::string& left : platform::removeLeftoverStaged(folder))
            r.messages.push_back("--copy-to: removed " + left + ", left by a copy that was stopped");
    if (steps.empty()) {
        r.ok = true;
        return r;
    }
    if (!platform::createFolders(folder, why)) {
        r.messages.push_back("--copy-to: cannot create the folder: " + why);
        note(Kind::CannotCreate, folder, {}, {}, why);
        return r;
    }
    // Every copy written and flushed before any is renamed into place: a
    // failure on the way leaves the folder as it was.
    std::size_t staged = 0;
    for (Step& s : steps) {
        s.staged = platform::stageCopy(s.source, s.target, why);
        if (!s.staged.empty()) {
            if (progress) progress(++staged, steps.size());
            continue;
        }
        for (const Step& done : steps)
            if (!done.staged.empty()) platform::discardStaged(done.staged);
        r.messages.push_back("--copy-to: cannot write: " + why);
        note(Kind::CannotWrite, {}, {}, {}, why);
        r.messages.push_back("--copy-to: nothing copied to " + folder);
        return r;
    }
    bool ok = true;
    for (Step& s : steps) {
        if (!ok) {
            platform::discardStaged(s.staged);
            continue;
        }
        if (!platform::commitStaged(s.staged, s.target, why)) {
            platform::discardStaged(s.staged);
            r.messages.push_back("--copy-to: cannot put the copy in place: " + why);
            note(Kind::CannotPlace, {}, {}, {}, why);
            ok = false;
            continue;
        }
        if (s.replaces) {
            r.messages.push_back("replaced " + s.target + " (its bytes differed from " + s.source + ")");
            note(Kind::Replaced, s.target, s.source);
        }
        r.copied.push_back(s.source + " -> " + s.target);
    }
    platform::syncFolder(folder);
    r.ok = ok;
    return r;
}

}  // namespace shipping
