// The DLL search on Windows: the system's order (the program's folder, the
// current one, the system folder, the 16-bit system folder, the Windows
// folder, PATH), walked folder by folder so that a DLL of another machine
// can be skipped, with the system folder a 32-bit program sees.
#include <windows.h>

#include <map>
#include <mutex>

#include "platform/apiset.h"
#include "platform/fileio.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {

char pathListSeparator() { return ';'; }

namespace {

std::vector<std::string> g_userFolders;
bool g_overridden = false;
int g_scopeDepth = 0;
std::map<std::uint16_t, std::vector<std::string>> g_scopeFolders;

std::string systemDirectory() {
    wchar_t buf[MAX_PATH];
    const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? narrow(buf, n) : std::string();
}

std::string windowsDirectory() {
    wchar_t buf[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? narrow(buf, n) : std::string();
}

bool isFolder(const std::string& path) {
    const DWORD a = GetFileAttributesW(wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The system folder as the loader shows it to a program of `machine`:
// SysWOW64 for a 32-bit program when this build is 64-bit; the real
// System32 (through Sysnative) for a 64-bit program when this build is
// 32-bit and runs under WOW64.
std::string systemDirectoryFor(std::uint16_t machine) {
    constexpr bool build64 = sizeof(void*) == 8;
    if (build64 && machine == kMachineI386) {
        wchar_t buf[MAX_PATH];
        const UINT n = GetSystemWow64DirectoryW(buf, MAX_PATH);
        if (n > 0 && n < MAX_PATH) return narrow(buf, n);
    } else if (!build64 && machine != 0 && machine != kMachineI386) {
        const std::string native = joinPath(windowsDirectory(), "Sysnative");
        if (isFolder(native)) return native;
    }
    return systemDirectory();
}

std::vector<std::string> pathFolders() {
    DWORD len = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (len == 0) return {};
    std::wstring path(len, L'\0');
    len = GetEnvironmentVariableW(L"PATH", path.data(), len);
    path.resize(len);
    return splitList(narrow(path), ';');
}

// Every folder after the importer's one, in order; the importer's folder
// itself is marked by an empty entry where the system's order puts the
// current directory.
std::vector<std::string> computeFolders(std::uint16_t machine) {
    std::vector<std::string> out;
    if (!g_overridden && !g_userFolders.empty()) out = g_userFolders;
    out.push_back(directoryPart(executablePath()));
    out.push_back(std::string());
    out.push_back(systemDirectoryFor(machine));
    const std::string windows = windowsDirectory();
    out.push_back(joinPath(windows, "System"));
    out.push_back(windows);
    for (std::string& f : pathFolders()) out.push_back(std::move(f));
    return out;
}

const std::vector<std::string>& foldersFor(std::uint16_t machine, std::vector<std::string>& scratch) {
    if (g_scopeDepth == 0) return scratch = computeFolders(machine);
    auto it = g_scopeFolders.find(machine);
    if (it == g_scopeFolders.end()) it = g_scopeFolders.emplace(machine, computeFolders(machine)).first;
    return it->second;
}

bool searchIn(const std::string& folder, const std::wstring& name, std::string& fullPath) {
    wchar_t buf[MAX_PATH];
    wchar_t* filePart = nullptr;
    const DWORD n = SearchPathW(wide(folder).c_str(), name.c_str(), nullptr, MAX_PATH, buf, &filePart);
    if (n == 0 || n >= MAX_PATH) return false;
    const DWORD attributes = GetFileAttributesW(buf);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    fullPath = narrow(buf, n);
    return true;
}

}  // namespace

DllSearchResult searchDll(const std::string& name, const std::string& importerFolder, std::uint16_t machine,
                          const MachineProbe& machineOf) {
    DllSearchResult result;
    if (name.empty() || name.find('\0') != std::string::npos) return result;
    const std::wstring w = wide(name);
    const std::string first = importerFolder.empty() ? currentDirectory() : importerFolder;
    std::vector<std::string> scratch;
    const std::vector<std::string>& rest = foldersFor(machine, scratch);
    std::string path;
    const auto tryFolder = [&](const std::string& folder) {
        return !folder.empty() && searchIn(folder, w, path) && detail::acceptCandidate(result, path, machine, machineOf);
    };
    // The user's folders, when set, come right after the importer's folder.
    if (!g_overridden && !g_userFolders.empty() && tryFolder(first)) return result;
    for (const std::string& folder : rest)
        if (tryFolder(folder.empty() ? first : folder)) return result;
    return result;
}

bool searchDll(const std::string& name, std::string& fullPath) {
    const DllSearchResult r = searchDll(name, std::string(), 0, {});
    if (r.found) fullPath = r.path;
    return r.found;
}

bool dllSearchFoldersOverridden() { return g_overridden; }

void setUserDllFolders(const std::vector<std::string>& folders) {
    g_userFolders.clear();
    for (const std::string& f : folders)
        if (!f.empty()) g_userFolders.push_back(absolutePath(f));
}

std::vector<std::string> userDllFolders() { return g_userFolders; }

std::vector<std::string> systemDllFolders() { return {}; }
std::vector<std::string> systemDllFolders(std::uint16_t) { return {}; }

std::vector<std::string> dllSearchFolders() {
    std::vector<std::string> out;
    if (const std::string s = systemDirectory(); !s.empty()) out.push_back(s);
    if (const std::string w = windowsDirectory(); !w.empty()) out.push_back(w);
    for (std::string& folder : pathFolders()) out.push_back(std::move(folder));
    return out;
}

namespace {
std::wstring g_originalPath;
bool g_pathSaved = false;

std::wstring environmentPath() {
    DWORD len = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (len == 0) return std::wstring();
    std::wstring value(len, L'\0');
    len = GetEnvironmentVariableW(L"PATH", value.data(), len);
    value.resize(len);
    return value;
}
}  // namespace

void resetDllSearchFolders() {
    g_overridden = false;
    if (g_pathSaved) SetEnvironmentVariableW(L"PATH", g_originalPath.c_str());
}

void setDllSearchFolders(const std::vector<std::string>& folders) {
    if (!g_pathSaved) {
        g_originalPath = environmentPath();
        g_pathSaved = true;
    }
    g_overridden = true;
    std::wstring value;
    for (const std::string& f : folders) {
        if (f.empty()) continue;
        value += wide(absolutePath(f));
        value += L';';
    }
    value += g_originalPath;
    SetEnvironmentVariableW(L"PATH", value.c_str());
}

void beginSearchScope() {
    if (g_scopeDepth++ == 0) g_scopeFolders.clear();
}

void endSearchScope() {
    if (g_scopeDepth > 0 && --g_scopeDepth == 0) g_scopeFolders.clear();
}

// ---------------------------------------------------------------------------
// API set schema: the system's own, from the ".apiset" section of the system
// folder's apisetschema.dll (the bytes the loader maps for every process).

std::shared_ptr<const ApiSetSchema> apiSetSchema() {
    static std::once_flag once;
    static std::shared_ptr<ApiSetSchema> schema;
    std::call_once(once, [] {
        schema = std::make_shared<ApiSetSchema>();
        FileReader file;
        if (file.open(joinPath(systemDirectory(), "apisetschema.dll")) == MapStatus::Ok) schema->readImage(file);
    });
    return schema;
}

}  // namespace platform
