// The places the loader's search is made of, for one run: the user's
// folders, the Windows folder checked against and its system folders as a
// program of a given machine sees them, the toolchain's runtime folders,
// the KnownDLLs and API set schema of that system, and the one folder
// index every lookup of the run goes through. The order in which the
// loader takes them is the loader's own (inspect/loader); nothing here is
// kept between runs and nothing of the process (its PATH, its current
// directory) is changed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/folderindex.h"
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

// The toolchain variant a search is held to: a compiler's runtime folder
// (12-win32, 12-posix, ...), by its index among the machine's; any, in
// order, when kAnyVariant.
constexpr int kAnyVariant = -1;

// A folder of the toolchain and the variant it belongs to (kAnyVariant:
// shared by every variant).
struct ToolchainFolder {
    std::string path;
    int variant = kAnyVariant;
};

class SearchPlaces {
public:
    explicit SearchPlaces(SearchOptions options = SearchOptions::fromEnvironment());
    ~SearchPlaces();
    SearchPlaces(const SearchPlaces&) = delete;
    SearchPlaces& operator=(const SearchPlaces&) = delete;

    const SearchOptions& options() const { return options_; }
    // The Windows folder checked against, empty when none.
    const std::string& windowsFolder() const { return windows_; }
    // The user's folders in order: those that replace the defaults, else the
    // window's, then the added ones (absolute; missing ones kept).
    const std::vector<std::string>& userFolders() const { return user_; }
    // False when --dll-path (or TAVELIN_DLL_PATH) replaces the defaults.
    bool defaultsKept() const { return !options_.folders.has_value(); }

    // What a program of `machine` sees.
    struct Machine {
        // The system folders in the loader's order (System32 or SysWOW64,
        // System, the Windows folder; else Wine's builtin folders), empty
        // when the defaults are replaced and there is no Windows folder.
        std::vector<std::string> system;
        // Where its KnownDLLs come from: the first system folder, or empty.
        std::string systemFolder;
        // The system folders are Wine's builtin ones, which stand for System32.
        bool builtin = false;
        // The MinGW-w64 runtime folders Linux adds after the system's.
        std::vector<ToolchainFolder> toolchain;
        int variants = 0;
    };
    const Machine& forMachine(std::uint16_t machine);
    // Folders the system's order ends with (PATH on Windows).
    const std::vector<std::string>& environmentFolders();

    // The KnownDLLs of the system checked against.
    const KnownDlls& knownDlls();
    // The API set schema the loader would map names with, read on first need.
    const ApiSetSchema& apiSetSchema();

    // Every lookup of the run's files.
    FolderIndex& files() { return index_; }
    // The file `name` in `dir` as the search finds files; false for a name
    // that is no bare file name.
    bool findFile(const std::string& dir, const std::string& name, std::string& path);

private:
    SearchOptions options_;
    std::string windows_;
    std::vector<std::string> user_;
    std::map<std::uint16_t, Machine> machines_;
    std::optional<std::vector<std::string>> environment_;
    FolderIndex index_;
    std::shared_ptr<const ApiSetSchema> schema_;
    std::optional<KnownDlls> known_;
};

// The default folders searched after the user's ones: Linux, Wine's builtin
// and MinGW-w64's folders that exist, for importers of `machine` (x86 gets
// Wine's i386-windows and the i686 MinGW-w64 folders, x64 the x86_64 ones,
// any other machine, or 0, both lists, x64 first); Windows, nothing (the
// system's order).
std::vector<std::string> systemDllFolders(std::uint16_t machine = 0);

// Separator of a folder list on this platform (':' or ';').
char pathListSeparator();

// 32-bit ARM code (ARM, Thumb, ARMv7).
bool isArm32(std::uint16_t machine);

// True when `folder` holds System32 (ignoring case): a Windows folder.
bool isWindowsFolder(const std::string& folder);

namespace detail {

// What each backend gives the places.
// The Windows folder used when none is given: Windows, the running
// system's; Linux, a Wine prefix's (unless the defaults are replaced).
std::string defaultWindowsFolder(const SearchOptions& options);
// The system folders used for `machine` without a Windows folder (Wine's
// builtin folders on Linux).
std::vector<std::string> builtinSystemFolders(std::uint16_t machine);
// The toolchain folders after them: those every variant shares, and one per
// compiler variant (`variant` true).
struct BackendToolchainFolder {
    std::string path;
    bool variant = false;
};
std::vector<BackendToolchainFolder> toolchainFolders(std::uint16_t machine);
std::vector<std::string> environmentFolders();
// True when `windowsFolder` is the running Windows' own folder.
bool isRunningSystem(const std::string& windowsFolder);
// The schema: the Windows folder's own when there is one; else, Linux, the
// first apisetschema.dll of the folders `places` takes, then of Wine's.
std::shared_ptr<const ApiSetSchema> readApiSetSchema(SearchPlaces& places);
// A name the search may look up: a bare file name.
bool searchableName(const std::string& name);

}  // namespace detail

}  // namespace platform
