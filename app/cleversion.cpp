#include "app/cleversion.h"

#include <cctype>

#include "platform/platform.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// Numbers longer than this compare by their first digits only: no version
// part is that long, and the key stays one byte per length.
constexpr std::size_t kLongest = 200;

}  // namespace

std::string CleVersion(const std::string& texte) {
    const std::string t = platform::toLower(texte);
    if (t.empty() || !digit(t[0])) return "\x02" + t;
    // Marks below every byte of the texts: 1 ends the numbers, 2 starts one.
    std::string key = "\x01";
    std::size_t at = 0;
    for (;;) {
        std::size_t end = at;
        while (end < t.size() && digit(t[end])) ++end;
        std::size_t first = at;
        while (first + 1 < end && t[first] == '0') ++first;  // 007 is 7
        const std::size_t length = std::min(end - first, kLongest);
        key += '\x02';
        key += static_cast<char>(length + 2);
        key.append(t, first, length);
        at = end;
        // "1.2.3", and "1, 2, 3, 4" as old resources write them.
        std::size_t next = at;
        if (next < t.size() && (t[next] == '.' || t[next] == ',')) {
            ++next;
            while (next < t.size() && t[next] == ' ') ++next;
        }
        if (next == at || next >= t.size() || !digit(t[next])) break;
        at = next;
    }
    key += '\x01';
    return key + t.substr(at);
}
