#include "inspect/wildcard.h"

#include "platform/platform.h"
#include "platform/text.h"

namespace analysis {

namespace {

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

}  // namespace analysis
