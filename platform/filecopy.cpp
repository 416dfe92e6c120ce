// What both backends' file copies share: folders with their parents, and
// comparing two open files.
#include <cstring>
#include <vector>

#include "platform/filecopy.h"
#include "platform/platform.h"

namespace platform {

bool createFolders(const std::string& folder, std::string& why) {
    if (folder.empty()) {
        why = "no folder named";
        return false;
    }
    if (folderExists(folder)) return true;
    // Parents first, each created if it is missing.
    const std::string parent = directoryPart(folder);
    if (!parent.empty() && parent != folder && !folderExists(parent) && !createFolders(parent, why)) return false;
    return detail::makeFolder(folder, why);
}

}  // namespace platform

namespace platform::detail {

Comparison compareContents(const BlockReader& read, const std::function<std::string()>& reason, const std::string& a,
                           const std::string& b, std::string& why) {
    constexpr std::size_t kBlock = 1 << 16;
    std::vector<char> ba(kBlock), bb(kBlock);
    for (;;) {
        const long long na = read(0, ba.data(), kBlock);
        const long long nb = read(1, bb.data(), kBlock);
        if (na < 0 || nb < 0) {
            why = (na < 0 ? a : b) + ": " + reason();
            return Comparison::Failed;
        }
        if (na != nb || std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) return Comparison::Different;
        if (na == 0) return Comparison::Same;
    }
}

}  // namespace platform::detail
