// The DLL search on Windows: the system's order (the program's folder, the
// current one, the system folder, the 16-bit system folder, the Windows
// folder, PATH), walked folder by folder so that a DLL of another machine
// can be skipped, with the system folder a 32-bit program sees.
#include <windows.h>

#include <mutex>

#include "platform/apiset.h"
#include "platform/dllsearch.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {

char pathListSeparator() { return ';'; }

namespace {

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

class SearchPathIndex : public detail::FolderIndex {
public:
    bool find(const std::string& folder, const std::string& name, std::string& fullPath) override {
        wchar_t buf[MAX_PATH];
        wchar_t* filePart = nullptr;
        const DWORD n = SearchPathW(wide(folder).c_str(), wide(name).c_str(), nullptr, MAX_PATH, buf, &filePart);
        if (n == 0 || n >= MAX_PATH) return false;
        const DWORD attributes = GetFileAttributesW(buf);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
        fullPath = narrow(buf, n);
        return true;
    }
};

}  // namespace

SearchOptions SearchOptions::fromEnvironment() { return {}; }

std::vector<std::string> systemDllFolders(std::uint16_t) { return {}; }

bool detail::searchableName(const std::string& name) { return !name.empty() && name.find('\0') == std::string::npos; }

std::vector<std::string> detail::searchOrder(const SearchOptions& options, std::uint16_t machine) {
    std::vector<std::string> out;
    // The user's folders, when set, come right after the importer's folder.
    if (!options.folders && !options.userFolders.empty()) {
        out.push_back(std::string());
        for (const std::string& f : options.userFolders) out.push_back(f);
    }
    out.push_back(directoryPart(executablePath()));
    out.push_back(std::string());
    out.push_back(systemDirectoryFor(machine));
    const std::string windows = windowsDirectory();
    out.push_back(joinPath(windows, "System"));
    out.push_back(windows);
    // The folders asked for go before PATH, the last step of the system's order.
    if (options.folders)
        for (const std::string& f : *options.folders) out.push_back(f);
    for (std::string& f : pathFolders()) out.push_back(std::move(f));
    return out;
}

std::unique_ptr<detail::FolderIndex> detail::makeFolderIndex() { return std::make_unique<SearchPathIndex>(); }

// ---------------------------------------------------------------------------
// API set schema: the system's own, from the ".apiset" section of the system
// folder's apisetschema.dll (the bytes the loader maps for every process).

std::shared_ptr<const ApiSetSchema> detail::readApiSetSchema(const SearchOptions&, FolderIndex&) {
    auto schema = std::make_shared<ApiSetSchema>();
    FileReader file;
    if (file.open(joinPath(systemDirectory(), "apisetschema.dll")) == MapStatus::Ok) schema->readImage(file);
    return schema;
}

}  // namespace platform
