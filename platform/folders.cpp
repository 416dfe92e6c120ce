// Folders as both backends see them, through std::filesystem with UTF-8
// paths.
#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <system_error>

#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

namespace {
std::filesystem::path u8(const std::string& s) { return std::filesystem::path(std::u8string(s.begin(), s.end())); }
std::string str(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}
}  // namespace

bool folderExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(u8(path), ec);
}

std::vector<bool> foldersAmong(const std::vector<std::string>& paths) {
    std::vector<bool> out(paths.size(), false);
    std::unordered_map<std::string, std::vector<std::size_t>> byParent;
    for (std::size_t i = 0; i < paths.size(); ++i) byParent[directoryPart(paths[i])].push_back(i);
    for (const auto& [parent, members] : byParent) {
        if (members.size() < 4) {
            for (std::size_t i : members) out[i] = folderExists(paths[i]);
            continue;
        }
        // One listing tells the type of every entry (only links, and
        // entries the listing leaves untyped, are looked at on their own).
        std::unordered_map<std::string, std::size_t> wanted;
        for (std::size_t i : members) wanted.emplace(fileNamePart(paths[i]), i);
        std::vector<bool> listed(paths.size(), false);
        std::error_code ec;
        for (std::filesystem::directory_iterator it(u8(parent), ec), end; !ec && it != end; it.increment(ec)) {
            const auto w = wanted.find(str(it->path().filename()));
            if (w == wanted.end()) continue;
            std::error_code typeError;
            listed[w->second] = true;
            out[w->second] = it->is_directory(typeError);
        }
        // Duplicates of one name share its answer; a name the listing spells
        // otherwise (case on Windows, ".", "..") is asked on its own.
        for (std::size_t i : members) {
            const std::size_t first = wanted[fileNamePart(paths[i])];
            out[i] = listed[first] ? bool(out[first]) : folderExists(paths[i]);
        }
    }
    return out;
}

std::string subfolderIgnoringCase(const std::string& folder, const std::string& name) {
    if (folder.empty()) return {};
    if (folderExists(joinPath(folder, name))) return joinPath(folder, name);
    const std::string wanted = foldName(name);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(u8(folder), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = str(it->path().filename());
        if (foldName(entry) == wanted && it->is_directory(ec)) return joinPath(folder, entry);
    }
    return {};
}

namespace {

// The one order of a folder's names: ignoring case, then exactly.
void sortNames(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = toLower(a), lb = toLower(b);
        return la != lb ? la < lb : a < b;
    });
}

bool peExtension(const std::string& name) {
    static const char* const kExtensions[] = {".EXE", ".DLL", ".OCX", ".SYS", ".CPL", ".DRV", ".NODE", ".PYD"};
    const std::string folded = foldName(name);
    for (const char* e : kExtensions) {
        const std::string ext(e);
        if (folded.size() > ext.size() && folded.compare(folded.size() - ext.size(), ext.size(), ext) == 0) return true;
    }
    return false;
}

// How deep subfolders are followed: deeper is a trap, not a payload.
constexpr int kMaxDepth = 64;

void collectUnder(const std::string& folder, int depth, std::vector<std::string>& seen, std::vector<std::string>& out,
                  std::vector<std::string>& unreadable) {
    std::error_code ec;
    const std::string real = str(std::filesystem::canonical(u8(folder), ec));
    if (ec || std::find(seen.begin(), seen.end(), real) != seen.end() || depth > kMaxDepth) return;
    seen.push_back(real);
    std::vector<std::string> files, folders;
    std::filesystem::directory_iterator it(u8(folder), ec);
    if (ec) {
        unreadable.push_back(folder);
        return;
    }
    for (std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        const std::string name = str(it->path().filename());
        if (it->is_directory(typeError)) folders.push_back(name);
        else if (it->is_regular_file(typeError) && peExtension(name)) files.push_back(name);
    }
    sortNames(files);
    sortNames(folders);
    for (const std::string& f : files) out.push_back(joinPath(folder, f));
    for (const std::string& f : folders) collectUnder(joinPath(folder, f), depth + 1, seen, out, unreadable);
}

}  // namespace

std::vector<std::string> peFilesUnder(const std::string& folder, std::vector<std::string>& unreadable) {
    std::vector<std::string> seen, out;
    collectUnder(folder, 0, seen, out, unreadable);
    return out;
}

namespace {
bool endsInSeparator(const std::string& path) {
#ifdef _WIN32
    return path.size() > 1 && (path.back() == '\\' || path.back() == '/') && path[path.size() - 2] != ':';
#else
    return path.size() > 1 && path.back() == '/';
#endif
}
}  // namespace

std::string listedNamePart(const std::string& path) {
    if (!endsInSeparator(path)) return fileNamePart(path);
    return fileNamePart(path.substr(0, path.size() - 1)) + path.back();
}

std::string listedFolderPart(const std::string& path) {
    return directoryPart(endsInSeparator(path) ? path.substr(0, path.size() - 1) : path);
}

FolderFiles peFilesOf(const std::string& folder, bool withSubfolders) {
    FolderFiles f;
    if (withSubfolders) {
        f.files = peFilesUnder(folder, f.unreadable);
        return f;
    }
    bool readable = false;
    for (const std::string& n : peFilesIn(folder, readable)) f.files.push_back(joinPath(folder, n));
    if (!readable) f.unreadable.push_back(folder);
    return f;
}

const char* peExtensionList() { return ".exe, .dll, .ocx, .sys, .cpl, .drv, .node, .pyd"; }

std::vector<std::string> peFilesIn(const std::string& folder, bool& readable) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(u8(folder), ec);
    readable = !ec;
    for (std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code fileError;
        if (!it->is_regular_file(fileError)) continue;
        std::string name = str(it->path().filename());
        if (peExtension(name)) names.push_back(std::move(name));
    }
    sortNames(names);
    return names;
}

}  // namespace platform
