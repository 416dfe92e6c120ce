// The DLL search of one analysis run, in the Windows loader's order: which
// folders, for an importer of a given machine, and what each holds. One
// object per run owns its folder listings; nothing is kept between runs and
// nothing of the process (its PATH, its current directory) is changed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/knowndlls.h"

namespace platform {

class ApiSetSchema;

// Where the search looks besides the program's folder.
struct SearchOptions {
    // Replaces the user's folders and every default folder (the command
    // line's --dll-path; on Linux also TAVELIN_DLL_PATH).
    std::optional<std::vector<std::string>> folders;
    // The user's own DLL folders (the window's "Dossiers"), searched after
    // the program's folder and before the system's, unless `folders` is set.
    // Folders that do not exist are kept and skipped by the search.
    std::vector<std::string> userFolders;
    // Folders added after the user's, whatever `folders` says (--add-dll-path).
    std::vector<std::string> addedFolders;
    // The Windows folder to check against (--windows, the window's
    // "Windows"): a folder holding System32, SysWOW64 and WinSxS. Empty: the
    // running system's on Windows; on Linux a Wine prefix's (WINEPREFIX,
    // then ~/.wine) unless `folders` replaces the defaults, else none.
    std::string windowsFolder;

    // What the environment asks for: on Linux, the folders of
    // TAVELIN_DLL_PATH when it is set; on Windows nothing.
    static SearchOptions fromEnvironment();
};

// Why a DLL was taken from where it was.
enum class Origin {
    None,
    Sxs,        // a side-by-side assembly's folder
    Known,      // a KnownDLL, always from the system folder
    App,        // the program's folder
    User,       // a folder of the user's (or of PATH on Windows)
    System,     // the system folders (of the Windows folder, or Wine's)
    Toolchain,  // the MinGW-w64 runtime folders Linux adds
    Gac,        // a .NET assembly of the Windows folder's global assembly cache
};
// "sxs", "known", "app", "user", "system", "toolchain", "gac"; "" for None.
const char* originName(Origin origin);

// A candidate whose machine, as the probe tells it, differs from the
// importer's is skipped and the search goes on; 0 on either side skips
// nothing.
using MachineProbe = std::function<std::uint16_t(const std::string& path)>;

// The toolchain variant a search is held to: a compiler's runtime folder
// (12-win32, 12-posix, ...), by its index among the machine's; any, in
// order, when kAnyVariant.
constexpr int kAnyVariant = -1;

struct DllSearchResult {
    bool found = false;
    std::string path;                 // the file found
    Origin origin = Origin::None;     // why it was taken
    int variant = kAnyVariant;        // found in that toolchain variant's folder
    std::string otherPath;            // not found: the first candidate skipped,
    std::uint16_t otherMachine = 0;   // and its machine
};

namespace detail {
class FolderIndex;
}

class DllSearch {
public:
    explicit DllSearch(SearchOptions options = SearchOptions::fromEnvironment());
    ~DllSearch();
    DllSearch(const DllSearch&) = delete;
    DllSearch& operator=(const DllSearch&) = delete;

    const SearchOptions& options() const { return options_; }

    // Looks `name` up for an importer of `machine` whose program lives in
    // `programFolder` (the current directory when empty), as the loader
    // does after the API sets and the side-by-side assemblies: a KnownDLL
    // from the system folder, then the program's folder, the user's folders,
    // the system folders, and on Linux the MinGW-w64 runtime folders. Names
    // match ignoring case (an exact-case match wins).
    // `variant`: only that toolchain variant's folder among the variants.
    DllSearchResult find(const std::string& name, const std::string& programFolder, std::uint16_t machine,
                         const MachineProbe& machineOf = {}, int variant = kAnyVariant);

    // The number of toolchain variants for importers of `machine`.
    int variantCount(std::uint16_t machine);

    // A folder of the search and why a DLL found there is taken; an empty
    // folder stands for the program's.
    struct Step {
        std::string folder;
        Origin origin;
        int variant = kAnyVariant;  // a toolchain variant's folder, or a folder of every variant
    };
    // The folders searched for importers of `machine`, in order, KnownDLLs
    // aside.
    const std::vector<Step>& order(std::uint16_t machine);

    // The Windows folder checked against, empty when none.
    const std::string& windowsFolder() const { return windows_; }
    // The system folder a program of `machine` sees (where its KnownDLLs
    // come from): the Windows folder's System32 or SysWOW64, else Wine's
    // builtin folder; empty when there is none.
    std::string systemFolder(std::uint16_t machine);
    // The KnownDLLs of the system checked against.
    const KnownDlls& knownDlls();

    // The API set schema the loader would map names with, read on first need.
    const ApiSetSchema& apiSetSchema();

    // The file `name` in `dir` as the search finds files (ignoring case, an
    // exact spelling first, through this search's listings).
    bool findFile(const std::string& dir, const std::string& name, std::string& path);

private:
    struct Folders {
        std::vector<Step> order;
        std::string system;
        int variants = 0;
    };
    const Folders& folders(std::uint16_t machine);
    bool findIn(const std::string& dir, const std::string& name, std::uint16_t machine, const MachineProbe& machineOf,
                DllSearchResult& result);

    SearchOptions options_;
    std::string windows_;
    std::map<std::uint16_t, Folders> folders_;
    std::unique_ptr<detail::FolderIndex> index_;
    std::shared_ptr<const ApiSetSchema> schema_;
    std::optional<KnownDlls> known_;
};

// SearchPath with no path list and no extension: the standard order from
// the current directory, with the options the environment gives. False
// when the name is not found.
bool searchDll(const std::string& name, std::string& fullPath);

// The default folders searched after the user's ones: Linux, Wine's builtin
// and MinGW-w64's folders that exist, for importers of `machine` (x86 gets
// Wine's i386-windows and the i686 MinGW-w64 folders, x64 the x86_64 ones,
// any other machine, or 0, both lists, x64 first); Windows, nothing (the
// system's order).
std::vector<std::string> systemDllFolders(std::uint16_t machine = 0);

// Separator of a folder list on this platform (':' or ';').
char pathListSeparator();

// True when `folder` holds System32 (ignoring case): a Windows folder.
bool isWindowsFolder(const std::string& folder);

namespace detail {

// What each backend gives the search.
class FolderIndex {
public:
    virtual ~FolderIndex() = default;
    // The file `name` in `dir`: the exact spelling first, then any spelling
    // that matches ignoring case; never a folder or a dangling link.
    virtual bool find(const std::string& dir, const std::string& name, std::string& out) = 0;
};
std::unique_ptr<FolderIndex> makeFolderIndex();
// The Windows folder used when none is given: Windows, the running
// system's; Linux, a Wine prefix's (unless the defaults are replaced).
std::string defaultWindowsFolder(const SearchOptions& options);
// The system folders used for `machine` without a Windows folder (Wine's
// builtin folders on Linux), and the toolchain folders after them: those
// every variant shares, and one per compiler variant (`variant` true).
std::vector<std::string> builtinSystemFolders(std::uint16_t machine);
struct ToolchainFolder {
    std::string path;
    bool variant = false;
};
std::vector<ToolchainFolder> toolchainFolders(std::uint16_t machine);
// Folders the system's order ends with (PATH on Windows).
std::vector<std::string> environmentFolders();
// True when `windowsFolder` is the running Windows' own folder.
bool isRunningSystem(const std::string& windowsFolder);
// The schema: the Windows folder's own when there is one; else, Linux, the
// first apisetschema.dll of the folders `search` takes, then of Wine's.
std::shared_ptr<const ApiSetSchema> readApiSetSchema(DllSearch& search, FolderIndex& index);
// A name the search may look up: a bare file name.
bool searchableName(const std::string& name);

}  // namespace detail

}  // namespace platform
