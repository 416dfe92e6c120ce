#include "platform/text.h"

namespace platform {

namespace {

// Code points of bytes 0x80-0x9F in code page 1252; 0 where the byte is unassigned.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0xA0) {
            // Unassigned bytes map to the C1 control of the same value, as Windows does.
            char16_t cp = kCp1252High[c - 0x80];
            appendUtf8(out, cp ? cp : c);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

std::string utf16ToUtf8(const char16_t* text, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::size_t decodeUtf8(std::string_view s, std::size_t pos, char32_t& cp) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const std::size_t n = s.size();
    unsigned char c = b(pos);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    std::size_t len;
    char32_t min;
    if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (pos + len > n) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((b(pos + i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        std::size_t len = decodeUtf8(text, i, cp);
        if (len == 0) {
            cp = 0xFFFD;
            len = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::size_t utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        char32_t cp;
        std::size_t len = decodeUtf8(text, i, cp);
        i += len ? len : 1;
    }
    return count;
}

std::string padRight(std::string_view text, std::size_t width) {
    std::string out(text);
    std::size_t len = utf8Length(text);
    if (len < width) out.append(width - len, ' ');
    return out;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        std::size_t len = decodeUtf8(text, i, cp);
        if (len == 0) {
            appendUtf8(out, 0xFFFD);
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::vector<std::string> splitList(std::string_view list, char separator) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(separator, start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) out.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

char32_t simpleLower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    if (c >= 0x100 && c <= 0x137 && (c & 1) == 0) return c + 1;
    if (c >= 0x139 && c <= 0x148 && (c & 1) == 1) return c + 1;
    if (c >= 0x14A && c <= 0x177 && (c & 1) == 0) return c + 1;
    if (c == 0x178) return 0xFF;
    if (c == 0x179 || c == 0x17B || c == 0x17D) return c + 1;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

}  // namespace platform

namespace platform {

namespace {
struct UpcaseRun {
    std::uint16_t first, count, stride;
    int delta;
};
constexpr UpcaseRun kUpcase[] = {
#include "platform/upcase.inc"
};
}  // namespace

char32_t simpleUpper(char32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
    if (c >= 0x10000) return c;
    // The runs are sorted by their first code point: the last one starting
    // at or below `c` is the only one that may hold it.
    std::size_t lo = 0, hi = sizeof kUpcase / sizeof kUpcase[0];
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (kUpcase[mid].first <= c) lo = mid + 1;
        else hi = mid;
    }
    if (lo == 0) return c;
    const UpcaseRun& r = kUpcase[lo - 1];
    const char32_t offset = c - r.first;
    if (offset % r.stride != 0 || offset / r.stride >= r.count) return c;
    return static_cast<char32_t>(static_cast<int>(c) + r.delta);
}

std::string foldName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t n = decodeUtf8(name, i, cp);
        if (n == 0) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        appendUtf8(out, simpleUpper(cp));
        i += n;
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b) { return foldName(a) == foldName(b); }

}  // namespace platform
