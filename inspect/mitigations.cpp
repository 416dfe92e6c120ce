#include "inspect/mitigations.h"

#include <cstring>
#include <new>

#include "inspect/pe/loadconfig.h"
#include "inspect/redist.h"
#include "platform/platform.h"

namespace mitigations {

const char* unsupportedRuntime(std::string_view dllName) {
    const char* package = shipping::redistributableOf(dllName);
    // The redistributables' table names the supported one "Visual C++
    // 2015-2022"; the DirectX runtime is not a compiler's.
    if (!package || std::strncmp(package, "Visual C++", 10) != 0 || std::strstr(package, "2015")) return nullptr;
    return package;
}

FileHardening readFileHardening(const platform::PeImage& image, const std::string& name) {
    FileHardening out;
    out.unsupportedRuntime = unsupportedRuntime(platform::fileNamePart(name));
    if (!image.complete()) return out;
    try {
        out.flags = pe::readHardening(image, pe::readLoadConfig(image));
    } catch (const std::bad_alloc&) {
        out.flags = {};
    }
    return out;
}

}  // namespace mitigations
