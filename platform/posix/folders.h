// Linux only: how the MinGW-w64 runtime folders of one compiler triplet are
// ordered (folder names under /usr/lib/gcc/<triplet>, such as "12-posix").
#pragma once

#include <string>
#include <vector>

namespace platform {

// Newest compiler first, versions compared as numbers ("12" after "9" is
// newer); among folders of one version, those of `preferredThreads`
// ("win32" or "posix", the model the triplet's gcc builds with) first.
std::vector<std::string> orderCompilerFolders(std::vector<std::string> names, const std::string& preferredThreads);

}  // namespace platform
