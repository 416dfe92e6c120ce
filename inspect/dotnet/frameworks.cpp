// The host's framework resolution over a list of version folders, step for
// step: the policy becomes a compatibility range (exact, patch, minor,
// major) and whether the highest or the lowest fitting version is taken;
// the first pass keeps to releases when the reference prefers them.
#include "inspect/dotnet/frameworks.h"

#include <algorithm>
#include <new>

#include "platform/platform.h"
#include "platform/text.h"

namespace dotnet {

namespace {

enum class Range { Exact, Patch, Minor, Major };

struct Ref {
    FxVersion version;
    Range range = Range::Minor;
    bool highest = false;
    bool preferRelease = false;
    bool applyPatches = true;
};

void fromPolicy(RollForward policy, Range& range, bool& highest) {
    switch (policy) {
    case RollForward::Disable: range = Range::Exact, highest = false; break;
    case RollForward::LatestPatch: range = Range::Patch, highest = false; break;
    case RollForward::Minor: range = Range::Minor, highest = false; break;
    case RollForward::LatestMinor: range = Range::Minor, highest = true; break;
    case RollForward::Major: range = Range::Major, highest = false; break;
    case RollForward::LatestMajor: range = Range::Major, highest = true; break;
    }
}

RollForward toPolicy(Range range, bool highest) {
    switch (range) {
    case Range::Exact: return RollForward::Disable;
    case Range::Patch: return RollForward::LatestPatch;
    case Range::Minor: return highest ? RollForward::LatestMinor : RollForward::Minor;
    case Range::Major: break;
    }
    return highest ? RollForward::LatestMajor : RollForward::Major;
}

bool preferRelease(const FrameworkRequest& r, const FxVersion& v) {
    return r.preferRelease.value_or(!v.isPrerelease());
}

// Whether `ref` may roll to `higher` (at or above its version).
bool compatible(const Ref& ref, const FxVersion& higher) {
    if (compareFxVersions(ref.version, higher) == 0) return true;
    if (ref.version.major != higher.major && ref.range < Range::Major) return false;
    if (ref.version.minor != higher.minor && ref.range < Range::Minor) return false;
    return ref.range != Range::Exact;
}

struct Candidate {
    FxVersion version;
    const std::string* folder = nullptr;
};

bool less(const Candidate& a, const Candidate& b) { return compareFxVersions(a.version, b.version) < 0; }

// The host's two steps, ties kept as its std::min and std::max keep them.
const Candidate* search(const std::vector<Candidate>& list, const Ref& ref, bool releaseOnly) {
    if (ref.range < Range::Patch) return nullptr;
    const bool highest = ref.range != Range::Patch && ref.highest;
    const Candidate* best = nullptr;
    for (const Candidate& c : list) {
        if ((releaseOnly && c.version.isPrerelease()) || compareFxVersions(c.version, ref.version) < 0) continue;
        if (!compatible(ref, c.version)) continue;
        if (!best) best = &c;
        else if (highest) best = less(*best, c) ? &c : best;
        else best = less(c, *best) ? &c : best;
    }
    if (!best || best->version.isPrerelease()) return best;
    const FxVersion from = best->version;
    for (const Candidate& c : list) {
        if (releaseOnly && c.version.isPrerelease()) continue;
        if (!ref.applyPatches && c.version.patch != from.patch) continue;
        if (compareFxVersions(c.version, from) < 0 || c.version.major != from.major || c.version.minor != from.minor)
            continue;
        best = less(c, *best) ? best : &c;
    }
    return best;
}

bool digits(std::string_view s, unsigned& out) {
    // Nine digits at most: the host keeps the numbers in an int.
    if (s.empty() || s.size() > 9 || (s.size() > 1 && s[0] == '0')) return false;
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

// "-a.b.1" or "+x.y": dot-separated labels of [0-9A-Za-z-]; numeric
// prerelease labels without leading zeros.
bool labels(std::string_view s, bool build) {
    if (s.size() < 2) return false;
    std::string_view rest = s.substr(1);
    for (;;) {
        const std::size_t dot = rest.find('.');
        const std::string_view id = rest.substr(0, dot);
        if (id.empty()) return false;  // "1.0.0-a..b", "1.0.0-a."
        for (char c : id)
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-'))
                return false;
        if (!build && id.size() > 1 && id[0] == '0' && id.find_first_not_of("0123456789") == std::string_view::npos)
            return false;
        if (dot == std::string_view::npos) return true;
        rest = rest.substr(dot + 1);
    }
}

std::string listing(const std::vector<Candidate>& list) {
    std::string out;
    for (const Candidate& c : list) out += (out.empty() ? "" : ", ") + *c.folder;
    return out.empty() ? std::string("none") : out;
}

}  // namespace

std::string FxVersion::text() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) + prerelease + build;
}

bool parseFxVersion(std::string_view text, FxVersion& out) {
    out = FxVersion();
    const std::size_t dot1 = text.find('.');
    if (dot1 == std::string_view::npos) return false;
    const std::size_t dot2 = text.find('.', dot1 + 1);
    if (dot2 == std::string_view::npos) return false;
    std::string_view rest = text.substr(dot2 + 1);
    const std::size_t labelStart = rest.find_first_not_of("0123456789");
    const std::string_view patch = rest.substr(0, labelStart);
    if (!digits(text.substr(0, dot1), out.major) || !digits(text.substr(dot1 + 1, dot2 - dot1 - 1), out.minor) ||
        !digits(patch, out.patch))
        return false;
    if (labelStart == std::string_view::npos) return true;
    rest = rest.substr(labelStart);
    const std::size_t plus = rest.find('+');
    const std::string_view pre = rest.substr(0, plus);
    if (!pre.empty() && (pre[0] != '-' || !labels(pre, false))) return false;
    if (plus != std::string_view::npos) {
        const std::string_view build = rest.substr(plus);
        if (!labels(build, true)) return false;
        out.build = std::string(build);
    }
    out.prerelease = std::string(pre);
    return true;
}

int compareFxVersions(const FxVersion& a, const FxVersion& b) {
    if (a.major != b.major) return a.major < b.major ? -1 : 1;
    if (a.minor != b.minor) return a.minor < b.minor ? -1 : 1;
    if (a.patch != b.patch) return a.patch < b.patch ? -1 : 1;
    if (a.prerelease.empty() || b.prerelease.empty())
        return a.prerelease.empty() ? (b.prerelease.empty() ? 0 : 1) : -1;
    // Label by label, without allocating: numbers compare as numbers and
    // sort below words; a list that is a prefix of the other sorts first.
    std::string_view x = std::string_view(a.prerelease).substr(1), y = std::string_view(b.prerelease).substr(1);
    while (!x.empty() && !y.empty()) {
        const std::size_t ex = x.find('.'), ey = y.find('.');
        const std::string_view ix = x.substr(0, ex), iy = y.substr(0, ey);
        // Numeric labels have no leading zeros: longer is larger.
        const bool numX = ix.find_first_not_of("0123456789") == std::string_view::npos;
        const bool numY = iy.find_first_not_of("0123456789") == std::string_view::npos;
        if (numX && numY) {
            if (ix.size() != iy.size()) return ix.size() < iy.size() ? -1 : 1;
            if (const int c = ix.compare(iy)) return c < 0 ? -1 : 1;
        } else if (numX || numY) {
            return numX ? -1 : 1;
        } else if (const int c = ix.compare(iy)) {
            return c < 0 ? -1 : 1;
        }
        x = ex == std::string_view::npos ? std::string_view() : x.substr(ex + 1);
        y = ey == std::string_view::npos ? std::string_view() : y.substr(ey + 1);
    }
    if (x.empty() != y.empty()) return x.empty() ? -1 : 1;
    return 0;
}

FrameworkRequest FrameworkRequest::from(const FrameworkReference& reference) {
    FrameworkRequest r;
    r.name = reference.name;
    r.version = reference.version;
    r.rollForward = reference.rollForward;
    r.applyPatches = reference.applyPatches;
    return r;
}

FrameworkChoice chooseFramework(const FrameworkRequest& request, const std::vector<std::string>& installed) {
    FrameworkChoice out;
    try {
        Ref ref;
        if (!parseFxVersion(request.version, ref.version)) {
            out.outcome = FrameworkChoice::Outcome::BadVersion;
            out.reason = "\"" + request.version + "\" is not a framework version";
            return out;
        }
        fromPolicy(request.rollForward, ref.range, ref.highest);
        ref.applyPatches = request.applyPatches;
        ref.preferRelease = preferRelease(request, ref.version);

        std::vector<Candidate> list;
        list.reserve(installed.size());
        for (const std::string& folder : installed) {
            Candidate c;
            c.folder = &folder;
            if (parseFxVersion(folder, c.version)) list.push_back(std::move(c));
        }

        // No roll forward at all: the folder named as the reference writes
        // its version (Windows matches names ignoring case).
        if (ref.range == Range::Exact ||
            (ref.range == Range::Patch && !ref.applyPatches && !ref.version.isPrerelease())) {
            for (const std::string& folder : installed)
                if (platform::equalsIgnoringCase(folder, request.version)) {
                    out.outcome = FrameworkChoice::Outcome::Found;
                    out.version = folder;
                    return out;
                }
            out.reason = request.name + " " + request.version + " exactly (" + rollForwardName(request.rollForward) +
                         "); installed: " + listing(list);
            return out;
        }

        const Candidate* best = ref.preferRelease ? search(list, ref, true) : nullptr;
        if (!best) best = search(list, ref, false);
        if (best) {
            out.outcome = FrameworkChoice::Outcome::Found;
            out.version = *best->folder;
            return out;
        }
        out.reason = "no version of " + request.name + " fits " + request.version + " with " +
                     rollForwardName(request.rollForward) + "; installed: " + listing(list);
    } catch (const std::bad_alloc&) {
        out = FrameworkChoice();
        out.reason = "out of memory";
    }
    return out;
}

bool reconcileRequests(const FrameworkRequest& a, const FrameworkRequest& b, FrameworkRequest& out,
                       std::string& reason) try {
    Ref ra, rb;
    if (!parseFxVersion(a.version, ra.version) || !parseFxVersion(b.version, rb.version)) {
        reason = "a reference's version is not a framework version";
        return false;
    }
    const bool aHigher = compareFxVersions(ra.version, rb.version) >= 0;
    const FrameworkRequest& high = aHigher ? a : b;
    const FrameworkRequest& low = aHigher ? b : a;
    Ref lo = aHigher ? rb : ra;
    const Ref hi = aHigher ? ra : rb;
    fromPolicy(low.rollForward, lo.range, lo.highest);
    if (!compatible(lo, hi.version)) {
        reason = low.name + " " + low.version + " (" + rollForwardName(low.rollForward) + ") does not reach " +
                 high.version;
        return false;
    }
    Range range = Range::Minor;
    bool highest = false;
    fromPolicy(high.rollForward, range, highest);
    out = high;
    out.rollForward = toPolicy(std::min(range, lo.range), highest || lo.highest);
    out.preferRelease = preferRelease(high, hi.version) || preferRelease(low, lo.version);
    return true;
} catch (const std::bad_alloc&) {
    return false;
}

std::vector<std::string> defaultDotnetFolders(std::uint16_t programMachine, std::uint16_t windowsMachine) {
    if (programMachine == platform::kMachineI386)
        return {windowsMachine == platform::kMachineI386 ? "Program Files/dotnet" : "Program Files (x86)/dotnet"};
    if (programMachine == platform::kMachineAmd64 && windowsMachine == platform::kMachineArm64)
        return {"Program Files/dotnet/x64"};
    return {"Program Files/dotnet"};
}

namespace {

std::string fileIgnoringCase(const std::string& folder, const std::string& name) {
    std::string found;
    platform::listFolder(folder, [&](std::string_view entry) {
        if (!platform::equalsIgnoringCase(entry, name)) return true;
        found = platform::joinPath(folder, std::string(entry));
        return false;
    });
    return found;
}

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') && path[path.size() - 2] != ':')
        path.pop_back();
    return path;
}

}  // namespace

std::vector<std::string> dotnetRoots(const std::string& windowsFolder, std::uint16_t programMachine,
                                     std::uint16_t windowsMachine) {
    std::vector<std::string> out;
    try {
        const std::string windows = withoutTrailingSeparators(windowsFolder);
        if (windowsMachine == 0) {
            const std::string ntdll = fileIgnoringCase(platform::subfolderIgnoringCase(windows, "System32"), "ntdll.dll");
            windowsMachine = ntdll.empty() ? 0 : platform::imageMachine(ntdll);
            if (windowsMachine == 0) windowsMachine = platform::kMachineAmd64;
        }
        const std::string drive = platform::directoryPart(windows);
        for (const std::string& relative : defaultDotnetFolders(programMachine, windowsMachine)) {
            std::string folder = drive;
            for (const std::string& part : platform::splitList(relative, '/')) {
                folder = platform::subfolderIgnoringCase(folder, part);
                if (folder.empty()) break;
            }
            if (!folder.empty()) out.push_back(folder);
        }
    } catch (const std::bad_alloc&) {
        out.clear();
    }
    return out;
}

std::vector<std::string> installedVersions(const std::string& dotnetRoot, const std::string& name) {
    // More folders than this is no installation.
    constexpr std::size_t kMaxVersions = 4096;
    std::vector<std::string> out;
    try {
        const std::string folder =
            platform::subfolderIgnoringCase(platform::subfolderIgnoringCase(dotnetRoot, "shared"), name);
        if (folder.empty()) return out;
        std::vector<std::string> names, paths;
        platform::listFolder(folder, [&](std::string_view entry) {
            names.emplace_back(entry);
            paths.push_back(platform::joinPath(folder, names.back()));
            return names.size() < kMaxVersions;
        });
        const std::vector<bool> folders = platform::foldersAmong(paths);
        for (std::size_t i = 0; i < names.size(); ++i)
            if (folders[i]) out.push_back(std::move(names[i]));
    } catch (const std::bad_alloc&) {
        out.clear();
    }
    return out;
}

}  // namespace dotnet
