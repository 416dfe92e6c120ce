#include "cli/ignore.h"

#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "platform/text.h"

namespace cli {

namespace {

// A listed file of patterns larger than this is not one.
constexpr long kMaxIgnoreFile = 1 << 20;

// A stream, not a mapping: a pipe (--ignore-file <(...)) is a list too.
// UTF-8 names on Windows as everywhere else.
std::FILE* openForReading(const std::string& path) {
#ifdef _WIN32
    const std::u16string wide = platform::utf8ToUtf16(path);
    return _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

std::u32string codePoints(std::string_view text) {
    const std::string lower = platform::toLower(text);
    std::u32string out;
    for (std::size_t i = 0; i < lower.size();) {
        char32_t cp = 0;
        const std::size_t n = platform::decodeUtf8(lower, i, cp);
        out.push_back(n ? cp : static_cast<unsigned char>(lower[i]));
        i += n ? n : 1;
    }
    return out;
}

// The bracket expression at `p` (just past its `[`): whether `c` is in it,
// and where it ends; false when it has no `]`.
bool inBracket(const std::u32string& pattern, std::size_t p, char32_t c, bool& in, std::size_t& end) {
    bool negate = false;
    if (p < pattern.size() && (pattern[p] == U'!' || pattern[p] == U'^')) {
        negate = true;
        ++p;
    }
    bool matched = false;
    for (bool first = true; p < pattern.size(); first = false) {
        if (pattern[p] == U']' && !first) {
            in = matched != negate;
            end = p + 1;
            return true;
        }
        char32_t low = pattern[p], high = low;
        if (p + 2 < pattern.size() && pattern[p + 1] == U'-' && pattern[p + 2] != U']') {
            high = pattern[p + 2];
            p += 3;
        } else {
            ++p;
        }
        if (low <= c && c <= high) matched = true;
    }
    return false;
}

}  // namespace

bool wildcardMatch(std::string_view patternText, std::string_view textView) {
    const std::u32string pattern = codePoints(patternText), text = codePoints(textView);
    // Iterative, going back only to the last `*`: linear steps per star.
    std::size_t p = 0, t = 0, starP = std::u32string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            const char32_t pc = pattern[p];
            if (pc == U'*') {
                starP = p++;
                starT = t;
                continue;
            }
            if (pc == U'[') {
                bool in = false;
                std::size_t end = 0;
                if (inBracket(pattern, p + 1, text[t], in, end)) {
                    if (in) {
                        p = end;
                        ++t;
                        continue;
                    }
                } else if (text[t] == U'[') {  // no `]`: the `[` itself
                    ++p;
                    ++t;
                    continue;
                }
            } else if (pc == U'?' || pc == text[t]) {
                ++p;
                ++t;
                continue;
            }
        }
        if (starP == std::u32string::npos) return false;
        p = starP + 1;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == U'*') ++p;
    return p == pattern.size();
}

bool IgnoreList::add(const std::string& pattern, std::string& why) {
    if (pattern.find_first_not_of(" \t") == std::string::npos) {
        why = "--ignore: an empty pattern would match no DLL name";
        return false;
    }
    patterns_.push_back(pattern);
    return true;
}

bool IgnoreList::addFile(const std::string& path, std::string& why) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(openForReading(path), std::fclose);
    if (!file) {
        why = "--ignore-file: cannot read '" + path + "'";
        return false;
    }
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file.get())) > 0;) {
        text.append(buf, n);
        if (text.size() > kMaxIgnoreFile) {
            why = "--ignore-file: '" + path + "' is larger than 1 MB: not a list of patterns";
            return false;
        }
    }
    if (std::ferror(file.get())) {
        why = "--ignore-file: cannot read '" + path + "'";
        return false;
    }
    if (text.find('\0') != std::string::npos || platform::validUtf8(text) != text) {
        why = "--ignore-file: '" + path + "' is not a text file";
        return false;
    }
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        line.erase(line.find_last_not_of(" \t\r") + 1);
        patterns_.push_back(line.substr(first));
    }
    return true;
}

bool IgnoreList::ignores(const analysis::Row& row) const {
    if (row.kind != analysis::RowKind::Error || patterns_.empty()) return false;
    switch (row.problem) {
        case Problem::MissingDll:
        case Problem::MissingFunction:
        case Problem::WrongMachine:
        case Problem::MissingAssembly:
        case Problem::OldAssembly: break;
        default: return false;
    }
    return matches(row.dll);
}

bool IgnoreList::matches(const std::string& dll) const {
    const std::string name = platform::fileNamePart(dll);
    for (const std::string& p : patterns_)
        if (wildcardMatch(p, name)) return true;
    return false;
}

}  // namespace cli
