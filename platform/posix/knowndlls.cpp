#include "platform/knowndlls.h"

namespace platform {

// Linux has no system registry: the Windows folder's (a Wine prefix's hive) serves instead.
bool systemKnownDlls(std::vector<std::string>& names) {
    names.clear();
    return false;
}

}  // namespace platform
