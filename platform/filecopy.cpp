// What both backends' file copies share: comparing two open files.
#include <cstring>
#include <vector>

#include "platform/filecopy.h"

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
