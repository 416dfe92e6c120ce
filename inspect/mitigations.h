// The hardening of one file as a release check reports it: the mitigations
// its headers and load configuration ask for (pe::readHardening), and
// whether it is, or imports, a Visual C++ runtime Microsoft no longer
// supports (every one before 2015-2022: no security fixes reach it).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inspect/pe/hardening.h"
#include "platform/peimage.h"

namespace mitigations {

// The package of a Visual C++ runtime DLL out of Microsoft's support
// ("Visual C++ 2010"), ignoring case; null for any other name.
const char* unsupportedRuntime(std::string_view dllName);

struct FileHardening {
    pe::Hardening flags;  // flags.read false: no PE optional header
    // The file is itself such a runtime: its package.
    const char* unsupportedRuntime = nullptr;
};

// `image` over the file named `name`.
FileHardening readFileHardening(const platform::PeImage& image, const std::string& name);

}  // namespace mitigations
