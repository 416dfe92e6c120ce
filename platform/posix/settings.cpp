// The settings store on Linux: HKEY_CURRENT_USER as a ".reg" text file
// (REGEDIT4 syntax, UTF-8) at $XDG_CONFIG_HOME/tavelin/user.reg.
//
// The file is read whole when a key is opened. What is written and deleted
// while the key is open stays in memory and reaches the file as one atomic
// rewrite when the key is closed: a temporary file in the same folder,
// flushed and synced, then renamed over the old one. Keys and values that are
// not ours, comments and value types we do not use are kept as they were. A
// file we cannot read or parse is reported and never rewritten.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "platform/settings.h"
#include "platform/text.h"

namespace platform {

namespace {

const char kHive[] = "HKEY_CURRENT_USER";

// Key and value names ignore case, as in the registry.
std::string fold(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp;
        std::size_t n = decodeUtf8(s, i, cp);
        if (n == 0) {
            out += s[i++];
            continue;
        }
        appendUtf8(out, simpleLower(cp));
        i += n;
    }
    return out;
}

std::string trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

enum class Kind { String, Dword, Other };

struct Value {
    std::string name;
    Kind kind = Kind::String;
    std::string text;         // String
    std::uint32_t dword = 0;  // Dword
    std::string original;     // the line(s) as read, written back verbatim; empty once rewritten
};

struct Entry {
    bool comment = false;
    bool deleted = false;  // left in place until the next rewrite drops it
    std::string line;      // the comment
    Value value;
};

struct Section {
    std::string key;  // inside the brackets, as written
    std::string folded;
    std::vector<Entry> entries;
    std::unordered_map<std::string, std::size_t> index;  // folded name -> live entry

    Section(std::string k) : key(std::move(k)), folded(fold(key)) {}

    Value* find(const std::string& name) {
        const auto it = index.find(fold(name));
        return it == index.end() ? nullptr : &entries[it->second].value;
    }
    // Replaces the value of that name where it stands, or appends it.
    void put(Value v) {
        const auto [it, added] = index.try_emplace(fold(v.name), entries.size());
        if (!added) {
            Value& old = entries[it->second].value;
            v.name = old.name;  // the stored spelling of the name stays
            old = std::move(v);
            return;
        }
        Entry e;
        e.value = std::move(v);
        entries.push_back(std::move(e));
    }
    bool erase(const std::string& name) {
        const auto it = index.find(fold(name));
        if (it == index.end()) return false;
        entries[it->second].deleted = true;
        index.erase(it);
        return true;
    }
};

struct Document {
    std::string header = "REGEDIT4";
    std::vector<std::string> preamble;  // comments before the first key
    std::vector<Section> sections;

    Section* section(const std::string& key) {
        const std::string f = fold(key);
        for (Section& s : sections)
            if (s.folded == f) return &s;
        return nullptr;
    }
    // A key exists when it has a section or a subkey has one (parents are implicit).
    bool exists(const std::string& key) const {
        const std::string f = fold(key);
        for (const Section& s : sections)
            if (s.folded == f || s.folded.starts_with(f + "\\")) return true;
        return false;
    }
};

// ---------------------------------------------------------------------------
// Reading

struct ParseError {
    std::size_t line;
    std::string reason;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted string at `pos` (on the opening quote); returns the position after
// the closing quote.
std::size_t parseQuoted(const std::string& s, std::size_t pos, std::string& out, std::size_t lineNo) {
    out.clear();
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        if (s[i] == '"') return i + 1;
        if (s[i] == '\\') {
            if (i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
                out += s[++i];
                continue;
            }
            throw ParseError{lineNo, "barre oblique inverse non doublée"};
        }
        out += s[i];
    }
    throw ParseError{lineNo, "guillemet fermant manquant"};
}

bool startsWithNoCase(const std::string& s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

void parseData(const std::string& data, Value& v, std::size_t lineNo) {
    if (data.starts_with("\"")) {
        std::size_t end = parseQuoted(data, 0, v.text, lineNo);
        if (!trim(data.substr(end)).empty()) throw ParseError{lineNo, "texte après la valeur"};
        v.kind = Kind::String;
        return;
    }
    if (startsWithNoCase(data, "dword:")) {
        const std::string digits = trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) throw ParseError{lineNo, "valeur dword invalide"};
        std::uint32_t x = 0;
        for (char c : digits) {
            int d = hexDigit(c);
            if (d < 0) throw ParseError{lineNo, "valeur dword invalide"};
            x = x << 4 | static_cast<std::uint32_t>(d);
        }
        v.kind = Kind::Dword;
        v.dword = x;
        return;
    }
    if (startsWithNoCase(data, "hex")) {
        // hex:..  or hex(N):..  — continuation backslashes already removed.
        std::size_t colon = data.find(':');
        if (colon == std::string::npos) throw ParseError{lineNo, "valeur hex invalide"};
        const std::string type = data.substr(3, colon - 3);
        std::vector<std::uint8_t> bytes;
        std::string rest = data.substr(colon + 1);
        std::size_t i = 0;
        while (i < rest.size()) {
            while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t' || rest[i] == ',')) ++i;
            if (i == rest.size()) break;
            if (i + 1 >= rest.size() || hexDigit(rest[i]) < 0 || hexDigit(rest[i + 1]) < 0)
                throw ParseError{lineNo, "octet hexadécimal invalide"};
            bytes.push_back(static_cast<std::uint8_t>(hexDigit(rest[i]) << 4 | hexDigit(rest[i + 1])));
            i += 2;
            if (i < rest.size() && rest[i] != ',' && rest[i] != ' ' && rest[i] != '\t')
                throw ParseError{lineNo, "octet hexadécimal invalide"};
        }
        if (type == "(1)") {  // string, as we write texts holding line breaks
            std::size_t n = 0;
            while (n < bytes.size() && bytes[n] != 0) ++n;
            v.kind = Kind::String;
            v.text.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        } else if (type == "(4)" && bytes.size() == 4) {
            v.kind = Kind::Dword;
            v.dword = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
        } else if (type.empty() || (type.size() >= 3 && type.front() == '(' && type.back() == ')')) {
            v.kind = Kind::Other;
        } else {
            throw ParseError{lineNo, "type de valeur inconnu"};
        }
        return;
    }
    if (data == "-") throw ParseError{lineNo, "suppression de valeur non prise en charge"};
    throw ParseError{lineNo, "type de valeur inconnu"};
}

Document parse(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (std::size_t i = start; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == '\n') {
            std::string l = bytes.substr(start, i - start);
            if (!l.empty() && l.back() == '\r') l.pop_back();
            lines.push_back(std::move(l));
            start = i + 1;
        }
    }
    Document doc;
    bool haveHeader = false;
    Section* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t lineNo = i + 1;
        std::string line = trim(lines[i]);
        if (line.empty()) continue;
        if (!haveHeader) {
            if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00")
                throw ParseError{lineNo, "en-tête « REGEDIT4 » absent"};
            doc.header = line;
            haveHeader = true;
            continue;
        }
        if (line[0] == ';') {
            Entry e;
            e.comment = true;
            e.line = lines[i];
            if (current)
                current->entries.push_back(std::move(e));
            else
                doc.preamble.push_back(lines[i]);
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) throw ParseError{lineNo, "nom de clé mal formé"};
            std::string key = line.substr(1, line.size() - 2);
            if (key[0] == '-') throw ParseError{lineNo, "suppression de clé non prise en charge"};
            while (!key.empty() && key.back() == '\\') key.pop_back();
            if (key.empty() || key.find("\\\\") != std::string::npos) throw ParseError{lineNo, "nom de clé mal formé"};
            current = doc.section(key);
            if (!current) current = &doc.sections.emplace_back(key);
            continue;
        }
        if (!current) throw ParseError{lineNo, "valeur en dehors d'une clé"};
        Entry e;
        std::size_t pos;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            pos = parseQuoted(line, 0, e.value.name, lineNo);
        } else {
            throw ParseError{lineNo, "ligne incompréhensible"};
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') throw ParseError{lineNo, "signe « = » manquant"};
        std::string data = trim(std::string_view(line).substr(pos + 1));
        e.value.original = lines[i];
        // Binary values may go on over several lines ending with a backslash.
        if (startsWithNoCase(data, "hex")) {
            while (!data.empty() && data.back() == '\\') {
                data.pop_back();
                if (++i >= lines.size() || trim(lines[i]).empty()) throw ParseError{lineNo, "valeur hex inachevée"};
                e.value.original += "\n" + lines[i];
                data += trim(lines[i]);
            }
        }
        parseData(data, e.value, lineNo);
        const auto [it, added] = current->index.try_emplace(fold(e.value.name), current->entries.size());
        if (added)
            current->entries.push_back(std::move(e));
        else
            current->entries[it->second].value = std::move(e.value);  // the last one wins, as on import
    }
    return doc;
}

// ---------------------------------------------------------------------------
// Writing

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

bool hasLineBreakOrControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20) return true;
    return false;
}

std::string valueLine(const Value& v) {
    if (!v.original.empty()) return v.original;  // as read: untouched values keep their spelling
    std::string out = v.name.empty() ? "@" : quote(v.name);
    out += '=';
    char buf[16];
    if (v.kind == Kind::Dword) {
        std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
        return out + buf;
    }
    if (!hasLineBreakOrControl(v.text)) return out + quote(v.text);
    // A quoted REGEDIT4 string cannot hold a line break: such texts go as
    // hex(1), their bytes followed by the terminating zero.
    out += "hex(1):";
    for (std::size_t i = 0; i <= v.text.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", i < v.text.size() ? static_cast<unsigned char>(v.text[i]) : 0u);
        out += buf;
    }
    return out;
}

std::string serialize(const Document& doc) {
    std::string out = doc.header + "\n";
    for (const std::string& c : doc.preamble) out += c + "\n";
    for (const Section& s : doc.sections) {
        out += "\n[" + s.key + "]\n";
        for (const Entry& e : s.entries)
            if (!e.deleted) out += (e.comment ? e.line : valueLine(e.value)) + "\n";
    }
    return out;
}

std::string homeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    struct passwd pw, *res = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_dir) return res->pw_dir;
    return std::string();
}

std::string storeFile() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const std::string home = homeFolder();
        if (home.empty()) return std::string();
        base = home + "/.config";
    }
    return base + "/tavelin/user.reg";
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces `file` with `data` so that a crash leaves either the old or the new
// content, never a mix. A symbolic link is followed and its target replaced.
bool replaceAtomically(const std::string& file, const std::string& data) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(file);
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec) return false;
        target = resolved;
    }
    const fs::path dir = target.parent_path();
    if (!fs::is_directory(dir, ec)) {
        fs::create_directories(dir, ec);
        if (ec) return false;
    }
    std::string tmpl = (dir / (target.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(tmpl.data());
    if (fd < 0) return false;
    struct stat st;
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    bool ok = fchmod(fd, mode) == 0 && writeAll(fd, data) && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(tmpl.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------

struct Settings::Impl {
    std::string file = storeFile();
    Document doc;
    std::optional<std::string> key;      // current key, hive included
    bool dirty = false;                  // doc differs from the file
    std::optional<std::string> written;  // first value written since the key was opened
    int unwinding = std::uncaught_exceptions();

    Document load() const {
        if (file.empty()) throw SettingsUnreadable("Dossier personnel introuvable : les réglages ne peuvent être lus.");
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (!f) {
            if (errno == ENOENT || errno == ENOTDIR) return Document{};
            throw SettingsUnreadable("Le fichier de réglages " + file + " ne peut être lu : " + std::strerror(errno) + ".");
        }
        std::string bytes;
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
        const bool failed = std::ferror(f);
        std::fclose(f);
        if (failed) throw SettingsUnreadable("Le fichier de réglages " + file + " ne peut être lu.");
        try {
            return parse(bytes);
        } catch (const ParseError& e) {
            throw SettingsUnreadable("Le fichier de réglages " + file + " est illisible (ligne " +
                                     std::to_string(e.line) + " : " + e.reason + ") ; il n'a pas été modifié.");
        }
    }

    // Ends the current key; true unless its changes could not be written.
    bool close() {
        const bool ok = !dirty || (!file.empty() && replaceAtomically(file, serialize(doc)));
        dirty = false;
        key.reset();
        return ok;
    }

    Section* section() { return key ? doc.section(*key) : nullptr; }
    const Value* find(const std::string& name) const {
        if (!key) return nullptr;
        Section* s = const_cast<Document&>(doc).section(*key);
        return s ? s->find(name) : nullptr;
    }

    void write(const std::string& name, Value v) {
        if (!key || name.find_first_of("\r\n") != std::string::npos) throw SettingsError::WriteFailed(name);
        Section* s = section();
        if (!s) s = &doc.sections.emplace_back(*key);
        v.name = name;
        s->put(std::move(v));
        dirty = true;
        if (!written) written = name;
    }
};

Settings::Settings() : impl_(std::make_unique<Impl>()) {}

Settings::~Settings() {
    // Half of a change that an error interrupted is not written.
    if (std::uncaught_exceptions() > impl_->unwinding) return;
    // A refusal here has no one to go to, as a failed deletion has none.
    impl_->close();
}

bool Settings::OpenKey(const std::string& path, bool create) {
    std::string rel = path;
    std::string base;
    if (!rel.empty() && rel[0] == '\\') {
        rel.erase(0, 1);
    } else if (impl_->key) {
        base = *impl_->key;
    }
    CloseKey();
    while (!rel.empty() && rel.back() == '\\') rel.pop_back();
    if (rel.find("\\\\") != std::string::npos) return false;
    std::string key = base.empty() ? kHive : base;
    if (!rel.empty()) key += "\\" + rel;

    impl_->doc = impl_->load();
    if (!impl_->doc.exists(key)) {
        if (!create) return false;
        impl_->doc.sections.emplace_back(key);
        impl_->dirty = true;
    }
    impl_->key = key;
    return true;
}

void Settings::CloseKey() {
    const std::optional<std::string> written = std::move(impl_->written);
    impl_->written.reset();
    // A key created or values deleted, and nothing written: a failure goes
    // unreported, as a failed deletion does.
    if (!impl_->close() && written) throw SettingsError::WriteFailed(*written);
}

std::vector<std::string> Settings::GetValueNames() const {
    std::vector<std::string> names;
    if (Section* s = impl_->section())
        for (const Entry& e : s->entries)
            if (!e.comment && !e.deleted) names.push_back(e.value.name);
    return names;
}

bool Settings::ValueExists(const std::string& name) const { return impl_->find(name) != nullptr; }

std::string Settings::ReadString(const std::string& name) const {
    if (!impl_->key) throw SettingsError::ReadFailed(name);
    const Value* v = impl_->find(name);
    if (!v) return std::string();
    if (v->kind != Kind::String) throw SettingsError::WrongType(name);
    return v->text;
}

std::int32_t Settings::ReadInteger(const std::string& name) const {
    const Value* v = impl_->find(name);
    if (!v) throw SettingsError::ReadFailed(name);
    if (v->kind != Kind::Dword) throw SettingsError::WrongType(name);
    return static_cast<std::int32_t>(v->dword);
}

bool Settings::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

void Settings::WriteString(const std::string& name, const std::string& value) {
    Value v;
    v.kind = Kind::String;
    v.text = value;
    impl_->write(name, std::move(v));
}

void Settings::WriteInteger(const std::string& name, std::int32_t value) {
    Value v;
    v.kind = Kind::Dword;
    v.dword = static_cast<std::uint32_t>(value);
    impl_->write(name, std::move(v));
}

void Settings::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

bool Settings::DeleteValue(const std::string& name) {
    Section* s = impl_->section();
    if (!s || !s->erase(name)) return false;
    impl_->dirty = true;
    return true;
}

}  // namespace platform
