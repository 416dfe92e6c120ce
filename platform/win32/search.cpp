// The DLL search on Windows: the folders of the loader's order (the
// program's, the system folder a program of the importer's machine sees,
// the 16-bit system folder, the Windows folder, PATH), looked up folder by
// folder so that a DLL of another machine can be skipped.
#include <windows.h>


#include "platform/apiset.h"
#include "platform/searchplaces.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {

char pathListSeparator() { return ';'; }

namespace {

std::string windowsDirectory() {
    wchar_t buf[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? narrow(buf, n) : std::string();
}

std::vector<std::string> pathFolders() {
    DWORD len = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (len == 0) return {};
    std::wstring path(len, L'\0');
    len = GetEnvironmentVariableW(L"PATH", path.data(), len);
    path.resize(len);
    return splitList(narrow(path), ';');
}

}  // namespace

// The file system folds names itself: each lookup asks it directly.
class FolderIndex::Impl {
public:
    bool find(const std::string& folder, const std::string& name, std::string& out, Kind kind) {
        if (kind == Kind::Folder) {
            const std::string path = joinPath(folder, name);
            const DWORD attributes = GetFileAttributesW(wide(path).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
            out = path;
            return true;
        }
        wchar_t buf[MAX_PATH];
        wchar_t* filePart = nullptr;
        const DWORD n = SearchPathW(wide(folder).c_str(), wide(name).c_str(), nullptr, MAX_PATH, buf, &filePart);
        if (n == 0 || n >= MAX_PATH) return false;
        const DWORD attributes = GetFileAttributesW(buf);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
        out = narrow(buf, n);
        return true;
    }
};

FolderIndex::FolderIndex() : impl_(std::make_unique<Impl>()) {}
FolderIndex::~FolderIndex() = default;
bool FolderIndex::find(const std::string& dir, const std::string& name, std::string& out, Kind kind) {
    return impl_->find(dir, name, out, kind);
}

SearchOptions SearchOptions::fromEnvironment() { return {}; }

std::vector<std::string> systemDllFolders(std::uint16_t) { return {}; }

bool detail::searchableName(const std::string& name) { return !name.empty() && name.find('\0') == std::string::npos; }

std::string detail::defaultWindowsFolder(const SearchOptions&) { return windowsDirectory(); }
std::vector<std::string> detail::builtinSystemFolders(std::uint16_t) { return {}; }
std::vector<detail::BackendToolchainFolder> detail::toolchainFolders(std::uint16_t) { return {}; }
std::vector<std::string> detail::environmentFolders() { return pathFolders(); }

bool detail::isRunningSystem(const std::string& windowsFolder) {
    return !windowsFolder.empty() && toLower(windowsFolder) == toLower(windowsDirectory());
}

// ---------------------------------------------------------------------------
// API set schema: the Windows folder's own, from the ".apiset" section of
// its system folder's apisetschema.dll (the bytes the loader maps for every
// process).

std::shared_ptr<const ApiSetSchema> detail::readApiSetSchema(SearchPlaces& places) {
    auto schema = std::make_shared<ApiSetSchema>();
    FileReader file;
    const std::string system = subfolderIgnoringCase(places.windowsFolder(), "System32");
    if (!system.empty() && file.open(joinPath(system, "apisetschema.dll")) == MapStatus::Ok) schema->readImage(file);
    return schema;
}

}  // namespace platform
