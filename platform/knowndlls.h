// The running system's KnownDLLs, which the loader maps from the system
// folder before any search (one backend per target).
#pragma once

#include <string>
#include <vector>

namespace platform {

// Windows: the file names (REG_SZ values) of
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs, as
// written; false when the key cannot be opened. Linux: no system registry,
// always false.
bool systemKnownDlls(std::vector<std::string>& names);

}  // namespace platform
