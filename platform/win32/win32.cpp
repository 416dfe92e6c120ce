// The real Windows calls, through the wide functions: a code page 1252 name
// behaves as with the "A" functions and every other name works too.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>

#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

HANDLE asHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool isSeparator(char c) { return c == '\\' || c == ':'; }

std::size_t lastSeparator(const std::string& path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (isSeparator(path[i - 1])) return i - 1;
    return std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------------------
// Mapped file

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
    if (data_) UnmapViewOfFile(data_);
    if (mapping_ != -1) CloseHandle(asHandle(mapping_));
    if (file_ != -1) CloseHandle(asHandle(file_));
    data_ = nullptr;
    size_ = 0;
    mapping_ = -1;
    file_ = -1;
}

MapStatus MappedFile::open(const std::string& path) {
    close();
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return MapStatus::NotOpenable;
    // Devices, pipes and consoles are not files to map.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return MapStatus::NotOpenable;
    }
    file_ = reinterpret_cast<std::intptr_t>(file);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
        close();
        return MapStatus::NotMappable;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) {
        close();
        return MapStatus::NotMappable;
    }
    mapping_ = reinterpret_cast<std::intptr_t>(mapping);
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        close();
        return MapStatus::NotViewable;
    }
    data_ = static_cast<const std::uint8_t*>(view);
    size_ = static_cast<std::size_t>(size.QuadPart);
    return MapStatus::Ok;
}

// ---------------------------------------------------------------------------
// Current directory and paths

std::string currentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return std::string();
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(n, buf.data());
    buf.resize(n);
    return narrow(buf);
}

bool setCurrentDirectory(const std::string& dir) { return SetCurrentDirectoryW(wide(dir).c_str()) != 0; }

std::string fileNamePart(const std::string& path) {
    const std::size_t p = lastSeparator(path);
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string directoryPart(const std::string& path) {
    const std::size_t p = lastSeparator(path);
    if (p == std::string::npos) return std::string();
    std::string dir = path.substr(0, p);
    // A drive root keeps its backslash: C:\ stays C:\.
    if (path[p] == '\\' && dir.size() == 2 && dir[1] == ':') dir += '\\';
    return dir;
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '\\') return dir + name;
    return dir + "\\" + name;
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    const std::wstring w = wide(path);
    DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring buf(n, L'\0');
    n = GetFullPathNameW(w.c_str(), n, buf.data(), nullptr);
    buf.resize(n);
    return narrow(buf);
}

std::string executablePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) {
            buf.resize(n);
            return narrow(buf);
        }
        buf.resize(buf.size() * 2);
    }
}

std::string listPath(const std::string& path) { return toLower(path); }

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return {argv, argv + argc};
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(narrow(args[i], wcslen(args[i])));
    LocalFree(args);
    return out;
}

void useUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

// ---------------------------------------------------------------------------
// Text

std::string toLower(std::string_view text) {
    std::wstring w = wide(std::string(text));
    if (!w.empty()) CharLowerBuffW(w.data(), static_cast<DWORD>(w.size()));
    return narrow(w);
}

// ---------------------------------------------------------------------------
// DLL search

char pathListSeparator() { return ';'; }

namespace {
std::vector<std::string> g_userFolders;
bool g_overridden = false;

bool searchIn(const wchar_t* folders, const std::wstring& name, std::string& fullPath) {
    wchar_t buf[MAX_PATH];
    wchar_t* filePart = nullptr;
    const DWORD n = SearchPathW(folders, name.c_str(), nullptr, MAX_PATH, buf, &filePart);
    if (n == 0 || n >= MAX_PATH) return false;
    fullPath = narrow(buf, n);
    return true;
}
}  // namespace

bool searchDll(const std::string& name, std::string& fullPath) {
    if (name.empty() || name.find('\0') != std::string::npos) return false;
    const std::wstring w = wide(name);
    if (!g_overridden && !g_userFolders.empty()) {
        // The importer's folder (the current one), then the user's folders,
        // then the system's own order.
        if (searchIn(L".", w, fullPath)) return true;
        std::wstring list;
        for (const std::string& f : g_userFolders) {
            if (!list.empty()) list += L';';
            list += wide(f);
        }
        if (searchIn(list.c_str(), w, fullPath)) return true;
    }
    return searchIn(nullptr, w, fullPath);
}

bool dllSearchFoldersOverridden() { return g_overridden; }

void setUserDllFolders(const std::vector<std::string>& folders) {
    g_userFolders.clear();
    for (const std::string& f : folders)
        if (!f.empty()) g_userFolders.push_back(absolutePath(f));
}

std::vector<std::string> userDllFolders() { return g_userFolders; }

std::vector<std::string> systemDllFolders() { return {}; }

std::vector<std::string> dllSearchFolders() {
    std::vector<std::string> out;
    wchar_t buf[MAX_PATH];
    UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH) out.push_back(narrow(buf, n));
    n = GetWindowsDirectoryW(buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH) out.push_back(narrow(buf, n));
    DWORD len = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (len > 0) {
        std::wstring path(len, L'\0');
        len = GetEnvironmentVariableW(L"PATH", path.data(), len);
        path.resize(len);
        for (std::string& folder : splitList(narrow(path), ';')) out.push_back(std::move(folder));
    }
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

void beginSearchScope() {}
void endSearchScope() {}

// ---------------------------------------------------------------------------
// Version information

std::uint32_t fileVersionInfoSize(const std::string& path, std::uint32_t& handle) {
    DWORD h = 0;
    const DWORD size = GetFileVersionInfoSizeW(wide(path).c_str(), &h);
    handle = h;
    return size;
}

bool fileVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size, void* block) {
    return GetFileVersionInfoW(wide(path).c_str(), handle, size, block) != 0;
}

bool verQueryValue(const void* block, const std::string& subBlock, const void*& value, std::uint32_t& length) {
    void* p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(block, wide(subBlock).c_str(), &p, &len) || !p) return false;
    value = p;
    length = len;
    return true;
}

bool verQueryString(const void* block, const std::string& subBlock, std::string& value) {
    void* p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(block, wide(subBlock).c_str(), &p, &len) || !p) return false;
    value.clear();
    if (len == 0) return true;
    // Never read past the block, whose first WORD is its length.
    const auto* base = static_cast<const std::uint8_t*>(block);
    const auto* text = static_cast<const std::uint8_t*>(p);
    const std::uint16_t blockLength = static_cast<std::uint16_t>(base[0] | (base[1] << 8));
    if (text < base || text >= base + blockLength) return true;
    const std::size_t room = static_cast<std::size_t>(base + blockLength - text) / sizeof(wchar_t);
    const auto* w = static_cast<const wchar_t*>(p);
    value = narrow(w, wcsnlen(w, room));
    return true;
}

}  // namespace platform
