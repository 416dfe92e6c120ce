// The DLL search on Linux (SearchPath's stand-in): the folders per machine,
// the folder listings of one search, and where the API set schema comes from.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <unordered_map>

#include "platform/apiset.h"
#include "platform/searchplaces.h"
#include "platform/folderindex.h"
#include "platform/fileio.h"
#include "platform/platform.h"
#include "platform/posix/folders.h"
#include "platform/text.h"

namespace platform {

namespace {

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// What the search may return: something that exists once links are
// followed (a dangling link is no DLL) and is not a folder.
bool isCandidate(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// "12-posix" -> {12}, "10.3-win32" -> {10, 3}.
std::vector<unsigned long> versionOf(const std::string& folderName) {
    std::vector<unsigned long> parts;
    const char* p = folderName.c_str();
    while (*p >= '0' && *p <= '9') {
        char* end = nullptr;
        parts.push_back(std::strtoul(p, &end, 10));
        p = end;
        if (*p != '.') break;
        ++p;
    }
    return parts;
}

// The thread model that `<triplet>-gcc` builds with (Debian's alternatives
// pick "win32" unless the user chose "posix"): its runtime comes first
// among folders of the same compiler version.
std::string preferredThreads(const std::string& triplet) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(("/etc/alternatives/" + triplet + "-gcc").c_str(), buf, sizeof buf - 1);
    if (n > 0) {
        const std::string target(buf, static_cast<std::size_t>(n));
        if (target.size() >= 6 && target.compare(target.size() - 6, 6, "-posix") == 0) return "posix";
    }
    return "win32";
}

// The MinGW-w64 runtime folders of one compiler triplet, in the order of
// orderCompilerFolders.
void addGccFolders(const std::string& triplet, std::vector<std::string>& out) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/usr/lib/gcc/" + triplet, ec))
        found.push_back(e.path().filename().string());
    for (const std::string& f : orderCompilerFolders(std::move(found), preferredThreads(triplet)))
        out.push_back("/usr/lib/gcc/" + triplet + "/" + f);
}

std::vector<std::string> wineFolders(std::uint16_t machine) {
    switch (machine) {
        case kMachineAmd64:
            return {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows",
                    "/usr/lib64/wine/x86_64-windows", "/opt/wine-stable/lib64/wine/x86_64-windows"};
        case kMachineI386:
            return {"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/i386-windows",
                    "/usr/lib/wine/i386-windows", "/opt/wine-stable/lib/wine/i386-windows"};
        case kMachineArm64: return {"/usr/lib/aarch64-linux-gnu/wine/aarch64-windows", "/usr/lib/wine/aarch64-windows"};
    }
    return {};
}

std::string tripletOf(std::uint16_t machine) {
    return machine == kMachineAmd64 ? "x86_64-w64-mingw32" : machine == kMachineI386 ? "i686-w64-mingw32" : "";
}

// The folders every compiler variant of a triplet shares.
std::vector<std::string> mingwSharedFolders(std::uint16_t machine) {
    const std::string t = tripletOf(machine);
    if (t.empty()) return {};
    return {"/usr/" + t + "/bin", "/usr/" + t + "/lib"};
}

// One runtime folder per compiler variant, in the search's order.
std::vector<std::string> mingwVariantFolders(std::uint16_t machine) {
    std::vector<std::string> c;
    if (const std::string t = tripletOf(machine); !t.empty()) addGccFolders(t, c);
    return c;
}

// The machines whose folders an importer of `machine` sees: unknown
// machines see every folder, x64 first, and the skip rule chooses.
std::vector<std::uint16_t> machinesSeenBy(std::uint16_t machine) {
    if (machine == kMachineAmd64 || machine == kMachineI386) return {machine};
    return {kMachineArm64, kMachineAmd64, kMachineI386};
}


}  // namespace

// The listings of one run, read on the first miss in each folder.
class FolderIndex::Impl {
public:
    bool find(const std::string& dir, const std::string& name, std::string& out, Kind kind) {
        const auto is = [kind](const std::string& path) { return kind == Kind::Folder ? isDirectory(path) : isCandidate(path); };
        auto it = listings_.find(dir);
        std::string key;
        if (it != listings_.end() && it->second.complete) {
            key = foldName(name);
            if (!it->second.byKey.count(key)) return false;
        }
        const std::string exact = joinPath(dir, name);
        if (is(exact)) {
            out = exact;
            return true;
        }
        if (it == listings_.end()) it = listings_.emplace(dir, list(dir)).first;
        if (key.empty()) key = foldName(name);
        const auto hit = it->second.byKey.find(key);
        if (hit == it->second.byKey.end()) return false;
        for (const std::string& spelling : hit->second) {
            const std::string path = joinPath(dir, spelling);
            if (spelling != name && is(path)) {
                out = path;
                return true;
            }
        }
        return false;
    }

private:
    struct Listing {
        std::unordered_map<std::string, std::vector<std::string>> byKey;  // sorted spellings per folded name
        bool complete = false;  // every name of a listable folder, within kMaxListing
    };
    static Listing list(const std::string& dir) {
        Listing listing;
        std::size_t count = 0;
        listing.complete = listFolder(dir, [&](std::string_view n) {
            listing.byKey[foldName(n)].emplace_back(n);
            return ++count < kMaxListing;
        }) && count < kMaxListing;
        for (auto& [key, spellings] : listing.byKey) std::sort(spellings.begin(), spellings.end());
        return listing;
    }
    std::unordered_map<std::string, Listing> listings_;
};

FolderIndex::FolderIndex() : impl_(std::make_unique<Impl>()) {}
FolderIndex::~FolderIndex() = default;
bool FolderIndex::find(const std::string& dir, const std::string& name, std::string& out, Kind kind) {
    return impl_->find(dir, name, out, kind);
}

bool detail::searchableName(const std::string& name) {
    // A Windows DLL name is a bare file name; anything with a separator or an
    // embedded zero names no file of the search folders.
    return !name.empty() && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos && name != "." &&
           name != "..";
}

std::vector<std::string> orderCompilerFolders(std::vector<std::string> names, const std::string& preferredThreads) {
    const auto threadsRank = [&](const std::string& name) {
        const std::size_t dash = name.rfind('-');
        return dash != std::string::npos && name.compare(dash + 1, std::string::npos, preferredThreads) == 0 ? 0 : 1;
    };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        const auto va = versionOf(a), vb = versionOf(b);
        if (va != vb) return va > vb;
        if (threadsRank(a) != threadsRank(b)) return threadsRank(a) < threadsRank(b);
        return a < b;
    });
    return names;
}

char pathListSeparator() { return ':'; }

SearchOptions SearchOptions::fromEnvironment() {
    SearchOptions options;
    if (const char* env = std::getenv("TAVELIN_DLL_PATH")) options.folders = splitList(env, ':');
    return options;
}

std::vector<std::string> systemDllFolders(std::uint16_t machine) {
    std::vector<std::string> out = detail::builtinSystemFolders(machine);
    for (detail::BackendToolchainFolder& f : detail::toolchainFolders(machine)) out.push_back(std::move(f.path));
    return out;
}

std::vector<std::string> detail::builtinSystemFolders(std::uint16_t machine) {
    std::vector<std::string> out;
    for (std::uint16_t m : machinesSeenBy(machine))
        for (std::string& f : wineFolders(m))
            if (isDirectory(f) && std::find(out.begin(), out.end(), f) == out.end()) out.push_back(std::move(f));
    return out;
}

std::vector<detail::BackendToolchainFolder> detail::toolchainFolders(std::uint16_t machine) {
    std::vector<BackendToolchainFolder> out;
    const auto add = [&](std::vector<std::string> folders, bool variant) {
        for (std::string& f : folders)
            if (isDirectory(f) &&
                std::none_of(out.begin(), out.end(), [&](const BackendToolchainFolder& t) { return t.path == f; }))
                out.push_back({std::move(f), variant});
    };
    // Per machine, the folders every variant shares, then one per variant.
    for (std::uint16_t m : machinesSeenBy(machine)) {
        add(mingwSharedFolders(m), false);
        add(mingwVariantFolders(m), true);
    }
    return out;
}
std::vector<std::string> detail::environmentFolders() { return {}; }

std::string detail::defaultWindowsFolder(const SearchOptions& options) {
    // Replaced defaults leave out a prefix found by chance; as Wine does, a
    // set WINEPREFIX is the prefix, else ~/.wine.
    if (options.folders) return {};
    std::string prefix;
    if (const char* env = std::getenv("WINEPREFIX"); env && *env) prefix = env;
    else if (const char* home = std::getenv("HOME"); home && *home) prefix = joinPath(home, ".wine");
    if (prefix.empty()) return {};
    const std::string windows = joinPath(joinPath(absolutePath(prefix), "drive_c"), "windows");
    return isWindowsFolder(windows) ? windows : std::string();
}

bool detail::isRunningSystem(const std::string&) { return false; }

// ---------------------------------------------------------------------------
// API set schema: the first apisetschema.dll of the search folders (the
// Windows folder's system folder among them), else of Wine's own folders.

std::shared_ptr<const ApiSetSchema> detail::readApiSetSchema(SearchPlaces& places) {
    // The folders an importer of no known machine searches after its own.
    std::vector<std::string> folders = places.userFolders();
    const SearchPlaces::Machine& any = places.forMachine(0);
    folders.insert(folders.end(), any.system.begin(), any.system.end());
    for (const ToolchainFolder& t : any.toolchain) folders.push_back(t.path);
    for (const std::string& f : places.environmentFolders()) folders.push_back(f);
    for (std::uint16_t m : {kMachineAmd64, kMachineI386})
        for (std::string& f : wineFolders(m)) folders.push_back(std::move(f));
    auto schema = std::make_shared<ApiSetSchema>();
    std::string path;
    for (const std::string& dir : folders) {
        if (!places.files().find(dir, "apisetschema.dll", path)) continue;
        FileReader file;
        if (file.open(path) == MapStatus::Ok) schema->readImage(file);
        break;
    }
    return schema;
}

}  // namespace platform
