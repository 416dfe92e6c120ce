// What a clean Windows lacks and what may never be shipped: the runtimes
// Microsoft installs with a redistributable package, the debug runtimes,
// and Wine's own DLLs, which stand in for Windows' and are not files to copy.
#pragma once

#include <string>
#include <string_view>

namespace shipping {

// The package that puts the DLL `name` on Windows ("Visual C++ 2015-2022",
// "DirectX End-User Runtime"), ignoring case; null for a DLL that Windows
// ships itself or that no known package installs.
const char* redistributableOf(std::string_view name);

// A debug build of a Visual C++ runtime, which no one may redistribute.
bool isDebugRuntime(std::string_view name);

// A DLL written by Wine (a builtin, or a prefix's placeholder): it stands
// for the Windows DLL of its name.
bool isWineStandIn(const std::string& path);

}  // namespace shipping
