// KnownDLLs: the DLL names the loader maps from the system folder before
// any search. On Windows the system's list; on Linux the list of the
// Windows folder's registry when it is a Wine prefix whose hive has the key,
// else the list of Windows 10 and 11.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Windows: the file names (REG_SZ values) of
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs, as
// written; false when the key cannot be opened. Linux: no system registry,
// always false.
bool systemKnownDlls(std::vector<std::string>& names);

struct KnownDlls {
    enum class Source {
        System,        // the running Windows' registry
        WineRegistry,  // the system.reg of the Wine prefix holding the Windows folder
        WindowsList,   // Windows 10 and 11's own list
    };
    Source source = Source::WindowsList;
    std::string registry;            // WineRegistry: the hive read
    std::vector<std::string> names;  // lower-case, sorted, each once; ntdll.dll always among them

    bool contains(std::string_view dllName) const;  // ignoring case
};

// The KnownDLLs of Windows 10 and 11, lower-case, sorted.
const std::vector<std::string>& windowsKnownDlls();

// The file names under [System\CurrentControlSet\Control\Session
// Manager\KnownDLLs] of a Wine hive file (system.reg), else under the
// control set that [System\Select] "Current" names; string values only
// (DllDirectory names a folder). False when the file is not a Wine hive or
// has no such key. Reads at most kMaxHiveSize bytes, lines of at most 64 KB.
constexpr std::size_t kMaxHiveSize = 64u << 20;
bool readWineKnownDlls(const std::string& systemReg, std::vector<std::string>& names);

// The system.reg of the Wine prefix whose drive_c holds `windowsFolder`
// (links followed, names ignoring case), one level above drive_c; empty
// when the folder is not a prefix's.
std::string wineRegistryOf(const std::string& windowsFolder);

// The KnownDLLs an importer sees with `windowsFolder` as its Windows folder;
// `runningSystem` when that folder is the running Windows' own, whose
// registry then answers.
KnownDlls knownDllsFor(const std::string& windowsFolder, bool runningSystem);

}  // namespace platform
