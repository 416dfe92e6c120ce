#include "platform/knowndlls.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxLine = 64u << 10;
constexpr std::size_t kMaxValues = 4096;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the escaped text that starts at `pos` up to `end` (unescaped), as
// Wine writes names and strings: \\ \" \n \r \t \0 and \x followed by up to
// four hex digits. `pos` is left past the closing character; false when the
// line ends first.
bool unescape(std::string_view line, std::size_t& pos, char end, std::string& out) {
    out.clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == end) return true;
        if (c != '\\' || pos >= line.size()) {
            out.push_back(c);
            continue;
        }
        const char e = line[pos++];
        switch (e) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case '0': out.push_back('\0'); break;
            case 'x': {
                char32_t cp = 0;
                int digits = 0;
                for (int d; digits < 4 && pos < line.size() && (d = hexDigit(line[pos])) >= 0; ++digits, ++pos)
                    cp = cp * 16 + static_cast<char32_t>(d);
                if (digits == 0) out.push_back('x');
                else platform::appendUtf8(out, cp >= 0xD800 && cp <= 0xDFFF ? 0xFFFD : cp);
                break;
            }
            default: out.push_back(e); break;
        }
    }
    return false;
}

// The control set a key of the Session Manager lies in: "CurrentControlSet"
// or "ControlSet001"; empty for any other key.
std::string knownDllsControlSet(const std::string& key) {
    constexpr std::string_view kSystem = "System\\", kTail = "\\Control\\Session Manager\\KnownDLLs";
    if (key.size() <= kSystem.size() + kTail.size() || !equalsIgnoringCase(key.substr(0, kSystem.size()), kSystem) ||
        !equalsIgnoringCase(std::string_view(key).substr(key.size() - kTail.size()), kTail))
        return std::string();
    std::string set = key.substr(kSystem.size(), key.size() - kSystem.size() - kTail.size());
    return set.find('\\') == std::string::npos ? set : std::string();
}

}  // namespace

bool KnownDlls::contains(std::string_view dllName) const {
    return std::binary_search(names.begin(), names.end(), toLower(dllName));
}

const std::vector<std::string>& windowsKnownDlls() {
    static const std::vector<std::string> names = {
        "advapi32.dll", "clbcatq.dll",  "combase.dll", "comdlg32.dll", "coml2.dll",    "difxapi.dll", "gdi32.dll",
        "gdiplus.dll",  "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",    "msvcrt.dll",  "normaliz.dll",
        "nsi.dll",      "ntdll.dll",    "ole32.dll",   "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",  "sechost.dll",
        "setupapi.dll", "shcore.dll",   "shell32.dll", "shlwapi.dll",  "user32.dll",   "wldap32.dll", "ws2_32.dll",
    };
    return names;
}

bool readWineKnownDlls(const std::string& systemReg, std::vector<std::string>& names) {
    names.clear();
    platform::FileReader file;
    if (file.open(systemReg) != platform::MapStatus::Ok) return false;
    const std::uint64_t size = std::min<std::uint64_t>(file.size(), kMaxHiveSize);

    std::map<std::string, std::vector<std::string>> sets;  // control set (lower-case) -> values
    std::vector<std::string>* values = nullptr;            // of the key being read, when it is KnownDLLs
    bool inSelect = false;
    unsigned long current = 1;
    bool first = true, hive = false;
    std::string line, name, data;
    bool overlong = false;

    const auto take = [&](std::string_view l) {
        if (first) {
            first = false;
            hive = l.rfind("WINE REGISTRY Version", 0) == 0;
            return;
        }
        if (!hive || l.empty()) return;
        if (l[0] == '[') {
            std::size_t pos = 1;
            values = nullptr;
            inSelect = false;
            if (!unescape(l, pos, ']', name)) return;
            inSelect = equalsIgnoringCase(name, "System\\Select");
            const std::string set = knownDllsControlSet(name);
            if (!set.empty()) values = &sets[toLower(set)];
            return;
        }
        if (l[0] != '"' || (!values && !inSelect)) return;
        std::size_t pos = 1;
        if (!unescape(l, pos, '"', name) || pos >= l.size() || l[pos] != '=') return;
        ++pos;
        if (inSelect) {
            constexpr std::string_view kDword = "dword:";
            if (equalsIgnoringCase(name, "Current") && l.compare(pos, kDword.size(), kDword) == 0)
                current = std::strtoul(std::string(l.substr(pos + kDword.size())).c_str(), nullptr, 16);
            return;
        }
        // Only plain strings name DLLs; DllDirectory names the folder they live in.
        if (pos >= l.size() || l[pos] != '"' || name.rfind("DllDirectory", 0) == 0 || values->size() >= kMaxValues)
            return;
        ++pos;
        if (unescape(l, pos, '"', data) && !data.empty() && data.find('\0') == std::string::npos)
            values->push_back(data);
    };

    char block[65536];
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, size - at));
        if (!file.read(at, block, n)) break;
        at += n;
        // Line by line, a span at a time: a hive holds megabytes.
        for (std::size_t i = 0; i < n;) {
            const void* newline = std::memchr(block + i, '\n', n - i);
            const std::size_t end = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - block) : n;
            const std::size_t room = kMaxLine - std::min(kMaxLine, line.size());
            if (end - i > room) overlong = true;
            if (!overlong) line.append(block + i, end - i);
            i = end;
            if (!newline) break;
            ++i;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!overlong) take(line);
            line.clear();
            overlong = false;
        }
        if (first && !line.empty() && line.size() >= 21 && line.rfind("WINE REGISTRY Version", 0) != 0) return false;
    }
    if (!overlong && !line.empty()) take(line);
    if (!hive) return false;

    char set[32];
    std::snprintf(set, sizeof set, "controlset%03lu", current);
    auto it = sets.find("currentcontrolset");
    if (it == sets.end()) it = sets.find(set);
    if (it == sets.end()) return false;
    for (const std::string& v : it->second) names.push_back(toLower(v));
    return true;
}

std::string wineRegistryOf(const std::string& windowsFolder) {
    if (windowsFolder.empty()) return std::string();
    const std::u8string_view u8(reinterpret_cast<const char8_t*>(windowsFolder.data()), windowsFolder.size());
    std::error_code ec;
    fs::path p = fs::canonical(fs::path(u8), ec);
    if (ec) p = fs::path(u8).lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    const fs::path driveC = p.parent_path();
    const std::u8string driveName = driveC.filename().u8string();
    if (!equalsIgnoringCase(std::string_view(reinterpret_cast<const char*>(driveName.data()), driveName.size()), "drive_c"))
        return std::string();
    const std::u8string reg = (driveC.parent_path() / "system.reg").u8string();
    return std::string(reg.begin(), reg.end());
}

KnownDlls knownDllsFor(const std::string& windowsFolder, bool runningSystem) {
    KnownDlls known;
    if (runningSystem && systemKnownDlls(known.names)) {
        known.source = KnownDlls::Source::System;
        for (std::string& n : known.names) n = toLower(n);
    } else if (const std::string reg = wineRegistryOf(windowsFolder);
               !reg.empty() && readWineKnownDlls(reg, known.names)) {
        known.source = KnownDlls::Source::WineRegistry;
        known.registry = reg;
    } else {
        known.source = KnownDlls::Source::WindowsList;
        known.names = windowsKnownDlls();
    }
    // The loader maps ntdll.dll into every process before anything else.
    known.names.push_back("ntdll.dll");
    std::sort(known.names.begin(), known.names.end());
    known.names.erase(std::unique(known.names.begin(), known.names.end()), known.names.end());
    return known;
}

}  // namespace platform
