// The DLL search of one analysis run: which folders, in which order, for
// an importer of a given machine, and what each folder holds. One object
// per run owns its folder listings; nothing is kept between runs and
// nothing of the process (its PATH, its current directory) is changed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class ApiSetSchema;

// Where the search looks after the importer's folder.
struct SearchOptions {
    // Replaces the user's folders and every default folder (the command
    // line's --dll-path; on Linux also TAVELIN_DLL_PATH).
    std::optional<std::vector<std::string>> folders;
    // The user's own DLL folders (the window's "Dossiers"), searched after
    // the importer's folder and before the system's, unless `folders` is set.
    // Folders that do not exist are kept and skipped by the search.
    std::vector<std::string> userFolders;

    // What the environment asks for: on Linux, the folders of
    // TAVELIN_DLL_PATH when it is set; on Windows nothing.
    static SearchOptions fromEnvironment();
};

// A candidate whose machine, as the probe tells it, differs from the
// importer's is skipped and the search goes on; 0 on either side skips
// nothing.
using MachineProbe = std::function<std::uint16_t(const std::string& path)>;

struct DllSearchResult {
    bool found = false;
    std::string path;                // the file found
    std::string otherPath;           // not found: the first candidate skipped,
    std::uint16_t otherMachine = 0;  // and its machine
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

    // Looks `name` up for an importer of `machine` in `importerFolder`
    // (the current directory when empty), then the folders after it:
    // Linux, the options' folders, else the user's folders then the default
    // folders of that machine; Windows, the system's order (the program's
    // folder, the importer's, the system folder as a program of `machine`
    // sees it, the 16-bit system folder, the Windows folder, the options'
    // folders, PATH), the user's folders right after the importer's.
    // Names match ignoring case (an exact-case match wins).
    DllSearchResult find(const std::string& name, const std::string& importerFolder, std::uint16_t machine,
                         const MachineProbe& machineOf = {});

    // The folders searched for importers of `machine`, in order; an empty
    // entry stands for the importer's folder.
    const std::vector<std::string>& order(std::uint16_t machine);

    // The API set schema the loader would map names with, read on first need.
    const ApiSetSchema& apiSetSchema();

private:
    SearchOptions options_;
    std::map<std::uint16_t, std::vector<std::string>> orders_;
    std::unique_ptr<detail::FolderIndex> index_;
    std::shared_ptr<const ApiSetSchema> schema_;
};

// SearchPath with no path list and no extension: the standard order from
// the current directory, with the options the environment gives. False
// when the name is not found.
bool searchDll(const std::string& name, std::string& fullPath);

// The default folders searched after the user's ones: Linux, Wine's and
// MinGW-w64's folders that exist, for importers of `machine` (x86 gets
// Wine's i386-windows and the i686 MinGW-w64 folders, x64 the x86_64 ones,
// any other machine, or 0, both lists, x64 first); Windows, nothing (the
// system's order).
std::vector<std::string> systemDllFolders(std::uint16_t machine = 0);

// Separator of a folder list on this platform (':' or ';').
char pathListSeparator();

namespace detail {

// What each backend gives the search.
// The whole order for importers of `machine`; "" stands for the importer's folder.
std::vector<std::string> searchOrder(const SearchOptions& options, std::uint16_t machine);
// The folder listings of one search.
std::unique_ptr<FolderIndex> makeFolderIndex();
class FolderIndex {
public:
    virtual ~FolderIndex() = default;
    // The file `name` in `dir`: the exact spelling first, then any spelling
    // that matches ignoring case; never a folder or a dangling link.
    virtual bool find(const std::string& dir, const std::string& name, std::string& out) = 0;
};
// The schema: Windows, the system's own; Linux, the first apisetschema.dll
// of the folders `options` give, else of Wine's folders.
std::shared_ptr<const ApiSetSchema> readApiSetSchema(const SearchOptions& options, FolderIndex& index);
// A name the search may look up: a bare file name.
bool searchableName(const std::string& name);

}  // namespace detail

}  // namespace platform
