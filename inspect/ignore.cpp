#include "inspect/ignore.h"

#include "inspect/wildcard.h"

#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "platform/text.h"

namespace analysis {

namespace {

// A listed file of patterns larger than this is not one.
constexpr long kMaxIgnoreFile = 1 << 20;

}  // namespace

bool IgnoreList::add(const std::string& pattern, std::string& why) {
    if (pattern.find_first_not_of(" \t") == std::string::npos) {
        why = "--ignore: an empty pattern would match no DLL name";
        return false;
    }
    patterns_.push_back(pattern);
    return true;
}

bool IgnoreList::addFile(const std::string& path, std::string& why) {
    // A stream, not a mapping: a pipe (--ignore-file <(...)) is a list too.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::openStream(path, "rb"), std::fclose);
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
        case Problem::OldAssembly:
        case Problem::MissingFramework: break;
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

std::vector<std::string> problemLines(const std::vector<Closure>& closures, const IgnoreList& ignore) {
    std::vector<std::string> out;
    UniqueLines seen;
    for (const Closure& c : closures)
        for (const Finding& f : c.findings) {
            if (ignore.ignores(errorRow(c.listed, f))) continue;
            if (seen.add(f.line)) out.push_back(f.line);
        }
    return out;
}

}  // namespace analysis
