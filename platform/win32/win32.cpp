// The real Windows calls, through the wide functions: a code page 1252 name
// behaves as with the "A" functions and every other name works too.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>

#include "platform/fileio.h"
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
// Files

namespace {
OpenFailure failureOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE: return OpenFailure::NoSuchFile;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return OpenFailure::PermissionDenied;
        case ERROR_DIRECTORY: return OpenFailure::NotAFolder;
        case ERROR_CANT_RESOLVE_FILENAME: return OpenFailure::TooManyLinks;
        case ERROR_FILENAME_EXCED_RANGE: return OpenFailure::NameTooLong;
    }
    return OpenFailure::Other;
}
}  // namespace

std::intptr_t detail::openFile(const std::string& path, MapStatus& status, std::uint64_t& size, OpenFailure& failure) {
    status = MapStatus::NotOpenable;
    failure = OpenFailure::None;
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder opens only with backup semantics: it is no file to read.
        const DWORD attributes = GetFileAttributesW(wide(path).c_str());
        failure = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? OpenFailure::NotAFile
                                                                                                      : failureOf(error);
        return -1;
    }
    // Devices, pipes and consoles are not files to read.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        failure = OpenFailure::NotAFile;
        CloseHandle(file);
        return -1;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length) || length.QuadPart <= 0 ||
        static_cast<unsigned long long>(length.QuadPart) > SIZE_MAX) {
        CloseHandle(file);
        status = MapStatus::NotMappable;
        return -1;
    }
    status = MapStatus::Ok;
    size = static_cast<std::uint64_t>(length.QuadPart);
    return reinterpret_cast<std::intptr_t>(file);
}

void detail::closeFile(std::intptr_t file) { CloseHandle(asHandle(file)); }

// ---------------------------------------------------------------------------
// File reader

long long detail::readAt(std::intptr_t file, std::uint64_t offset, void* out, std::size_t count) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    if (!ReadFile(asHandle(file), out, static_cast<DWORD>(count), &n, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return n;
}

// ---------------------------------------------------------------------------
// Current directory and paths

bool listFolder(const std::string& dir, const std::function<bool(std::string_view name)>& visit) {
    WIN32_FIND_DATAW data;
    // Basic information in large fetches: no short names, fewer calls.
    HANDLE h = FindFirstFileExW(wide(joinPath(dir, "*")).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::string name = narrow(data.cFileName, std::wcslen(data.cFileName));
        if (name == "." || name == "..") continue;
        if (!visit(name)) break;
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return true;
}

std::string currentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return std::string();
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(n, buf.data());
    buf.resize(n);
    return narrow(buf);
}


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

std::FILE* openStream(const std::string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

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
// Version information

bool versionBlockOf(const std::string&, const PeImage&, std::vector<std::uint8_t>&) { return false; }

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
