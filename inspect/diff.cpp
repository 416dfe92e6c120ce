#include "inspect/diff.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "platform/text.h"

namespace diff {

namespace {

using Json = nlohmann::ordered_json;

// Streams the rows out of the array: depth 1 is the array, 2 a row; values
// deeper than a row's members are skipped.
class RowReader : public nlohmann::json_sax<Json> {
public:
    explicit RowReader(std::vector<ReportRow>& rows) : rows_(rows) {}
    std::string reason;

    bool null() override { return value({}); }
    bool boolean(bool b) override { return value(b ? "true" : "false"); }
    bool number_integer(number_integer_t n) override { return value(std::to_string(n)); }
    bool number_unsigned(number_unsigned_t n) override { return value(std::to_string(n)); }
    bool number_float(number_float_t, const string_t& text) override { return value(text); }
    bool string(string_t& s) override { return value(s); }
    bool binary(binary_t&) override { return value({}); }
    bool start_object(std::size_t) override {
        if (!deeper()) return false;
        if (depth_ == 1) return fail("not a report: the rows are not in an array");
        if (depth_ == 2) row_ = ReportRow{};
        return true;
    }
    bool end_object() override {
        if (depth_ == 2) rows_.push_back(std::move(row_));
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        if (!deeper()) return false;
        if (depth_ == 2) return fail("not a report: a row is not an object");
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool key(string_t& k) override {
        if (depth_ == 2) key_ = k;
        return true;
    }
    bool parse_error(std::size_t at, const std::string&, const nlohmann::detail::exception&) override {
        return fail("not valid JSON (at byte " + std::to_string(at) + ")");
    }

private:
    bool fail(std::string why) {
        if (reason.empty()) reason = std::move(why);
        return false;
    }
    bool deeper() {
        if (++depth_ > kMaxReportDepth) return fail("nested more than " + std::to_string(kMaxReportDepth) + " levels deep");
        return true;
    }
    bool value(const std::string& v) {
        if (depth_ == 0) return fail("not a report: not an array of rows");
        if (depth_ == 1) return fail("not a report: a row is not an object");
        if (depth_ > 2) return true;
        static const std::pair<const char*, std::string ReportRow::*> kFields[] = {
            {"kind", &ReportRow::kind},
            {"file", &ReportRow::file},
            {"path", &ReportRow::path},
            {"version", &ReportRow::version},
            {"file-version", &ReportRow::fileVersion},
            {"problem", &ReportRow::problem},
            {"dll", &ReportRow::dll},
            {"function", &ReportRow::function},
            {"origin", &ReportRow::origin},
            {"importer-path", &ReportRow::importerPath},
            {"assembly", &ReportRow::assembly},
        };
        for (const auto& [name, field] : kFields)
            if (key_ == name) row_.*field = v;
        return true;
    }

    std::vector<ReportRow>& rows_;
    ReportRow row_;
    std::string key_;
    unsigned depth_ = 0;
};

// One listed program of a report and what its block of rows says.
struct Program {
    std::string name, path;
    Dll own;  // the program itself, as a DLL entry
    std::vector<Dll> dlls;
    std::vector<ProblemRow> problems;
};

std::string lower(const std::string& s) { return platform::toLower(s); }

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string folderOf(const std::string& dllFolder, const std::string& programFolder) {
    if (dllFolder == programFolder) return ".";
    if (!programFolder.empty() && dllFolder.size() > programFolder.size() &&
        dllFolder.compare(0, programFolder.size(), programFolder) == 0) {
        if (isSeparator(dllFolder[programFolder.size()])) return dllFolder.substr(programFolder.size() + 1);
        if (isSeparator(programFolder.back())) return dllFolder.substr(programFolder.size());
    }
    return dllFolder;
}

std::string folderPart(const std::string& path) {
    std::size_t at = path.size();
    while (at > 0 && !isSeparator(path[at - 1])) --at;
    if (at == 0) return {};
    return at == 1 ? path.substr(0, 1) : path.substr(0, at - 1);
}

// What a problem is about, whatever folder the line names.
std::string problemKey(const ProblemRow& p) { return p.problem + '\n' + lower(p.dll) + '\n' + p.function; }

bool ignoredProblem(const ReportRow& r, const analysis::IgnoreList& ignore) {
    static const char* const kByDll[] = {"missing-dll", "missing-function", "wrong-machine", "missing-assembly",
                                         "old-assembly"};
    for (const char* k : kByDll)
        if (r.problem == k) return ignore.matches(r.dll);
    return false;
}

std::vector<Program> programsOf(const std::vector<ReportRow>& rows, const analysis::IgnoreList& ignore) {
    std::vector<Program> out;
    std::unordered_map<std::string, std::size_t> byPath;
    std::vector<std::unordered_set<std::string>> seenDlls, seenProblems;
    for (const ReportRow& r : rows) {
        if (r.kind != "listed" || byPath.count(r.importerPath)) continue;
        byPath.emplace(r.importerPath, out.size());
        Program p;
        p.name = r.file;
        p.path = r.importerPath;
        p.own = {r.file, r.fileVersion.empty() ? r.version : r.fileVersion, ".", {}};
        out.push_back(std::move(p));
        seenDlls.emplace_back();
        seenProblems.emplace_back();
    }
    for (const ReportRow& r : rows) {
        const auto at = byPath.find(r.importerPath);
        if (at == byPath.end()) continue;
        Program& p = out[at->second];
        if (r.kind == "import") {
            // A program listed twice repeats its block: each DLL once.
            if (!seenDlls[at->second].insert(lower(r.file) + '\n' + r.path).second) continue;
            p.dlls.push_back({r.file, r.fileVersion.empty() ? r.version : r.fileVersion,
                              folderOf(r.path, folderPart(p.path)), r.origin});
        } else if (r.kind == "error" && !ignoredProblem(r, ignore)) {
            ProblemRow e{r.problem, r.dll, r.function, r.path};
            if (seenProblems[at->second].insert(problemKey(e)).second) p.problems.push_back(std::move(e));
        }
    }
    return out;
}

// How many folder names two paths end with alike, their file names apart.
std::size_t commonTail(const std::string& a, const std::string& b) {
    std::size_t i = a.size(), j = b.size(), same = 0;
    for (;;) {
        std::size_t si = i, sj = j;
        while (si > 0 && !isSeparator(a[si - 1])) --si;
        while (sj > 0 && !isSeparator(b[sj - 1])) --sj;
        if (lower(a.substr(si, i - si)) != lower(b.substr(sj, j - sj))) return same;
        if (si == 0 || sj == 0) return same + 1;
        ++same;
        i = si - 1;
        j = sj - 1;
    }
}

std::vector<std::uint64_t> numbers(const std::string& v, bool& ok) {
    std::vector<std::uint64_t> out;
    ok = false;
    std::size_t i = 0;
    while (i < v.size()) {
        if (v[i] < '0' || v[i] > '9') return out;
        std::uint64_t n = 0;
        for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) n = std::min<std::uint64_t>(n * 10 + (v[i] - '0'), 1ull << 60);
        out.push_back(n);
        if (i == v.size()) break;
        if (v[i] != '.' && v[i] != ',') return out;
        ++i;
    }
    ok = !out.empty();
    return out;
}

void compareDll(const Dll& a, const Dll& b, ProgramDiff& d) {
    if (a.version != b.version) d.versions.push_back({b.file, a.version, b.version, versionChange(a.version, b.version)});
    if (a.origin != b.origin) d.origins.push_back({b.file, a.origin, b.origin});
    if (a.folder != b.folder) d.folders.push_back({b.file, a.folder, b.folder});
}

ProgramDiff compareProgram(const Program* before, const Program* after) {
    ProgramDiff d;
    const Program& p = after ? *after : *before;
    d.file = p.name;
    d.before = before ? before->path : std::string();
    d.after = after ? after->path : std::string();
    if (!before || !after) {
        d.state = before ? ProgramDiff::State::Removed : ProgramDiff::State::Added;
        if (after) d.problemsNew = after->problems;
        return d;
    }
    compareDll(before->own, after->own, d);
    std::unordered_map<std::string, std::vector<std::size_t>> old;
    for (std::size_t i = 0; i < before->dlls.size(); ++i) old[lower(before->dlls[i].file)].push_back(i);
    std::vector<bool> matched(before->dlls.size(), false);
    for (const Dll& n : after->dlls) {
        auto it = old.find(lower(n.file));
        if (it == old.end() || it->second.empty()) {
            d.added.push_back(n);
            continue;
        }
        const std::size_t i = it->second.front();
        it->second.erase(it->second.begin());
        matched[i] = true;
        compareDll(before->dlls[i], n, d);
    }
    for (std::size_t i = 0; i < before->dlls.size(); ++i)
        if (!matched[i]) d.removed.push_back(before->dlls[i]);
    std::unordered_set<std::string> was, is;
    for (const ProblemRow& e : before->problems) was.insert(problemKey(e));
    for (const ProblemRow& e : after->problems) is.insert(problemKey(e));
    for (const ProblemRow& e : after->problems)
        if (!was.count(problemKey(e))) d.problemsNew.push_back(e);
    for (const ProblemRow& e : before->problems)
        if (!is.count(problemKey(e))) d.problemsGone.push_back(e);
    return d;
}

std::string originWords(const std::string& key) {
    static const loader::Origin kAll[] = {loader::Origin::Sxs,    loader::Origin::Known,     loader::Origin::App,
                                          loader::Origin::User,   loader::Origin::System,    loader::Origin::Toolchain,
                                          loader::Origin::Gac};
    for (loader::Origin o : kAll)
        if (key == loader::originName(o)) {
            std::string words = lines::origin(o, {});
            while (!words.empty() && words.back() == ' ') words.pop_back();
            return words;
        }
    return key.empty() ? "?" : key;
}

std::string orQuestion(const std::string& s) { return s.empty() ? "?" : s; }

Json str(const std::string& s) { return s.empty() ? Json(nullptr) : Json(platform::validUtf8(s)); }

Json dllsJson(const std::vector<Dll>& dlls) {
    Json out = Json::array();
    for (const Dll& d : dlls)
        out.push_back({{"file", str(d.file)}, {"version", str(d.version)}, {"folder", str(d.folder)}, {"origin", str(d.origin)}});
    return out;
}

Json changesJson(const std::vector<Change>& changes) {
    Json out = Json::array();
    for (const Change& c : changes) out.push_back({{"file", str(c.file)}, {"old", str(c.before)}, {"new", str(c.after)}});
    return out;
}

Json problemsJson(const std::vector<ProblemRow>& problems) {
    Json out = Json::array();
    for (const ProblemRow& p : problems)
        out.push_back({{"problem", str(p.problem)}, {"dll", str(p.dll)}, {"function", str(p.function)}, {"line", str(p.line)}});
    return out;
}

const char* changeKey(lines::VersionChange c) {
    switch (c) {
        case lines::VersionChange::Up: return "up";
        case lines::VersionChange::Down: return "down";
        case lines::VersionChange::Other: break;
    }
    return "changed";
}

}  // namespace

bool parseReport(std::string_view text, std::vector<ReportRow>& rows, std::string& reason) {
    rows.clear();
    try {
        if (text.size() > kMaxReportBytes) {
            reason = "larger than " + std::to_string(kMaxReportBytes >> 20) + " MB";
            return false;
        }
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        RowReader reader(rows);
        if (!Json::sax_parse(text.begin(), text.end(), &reader) || !reader.reason.empty()) {
            reason = reader.reason.empty() ? "not valid JSON" : reader.reason;
            rows.clear();
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (const std::exception& e) {
        reason = e.what();
    }
    rows.clear();
    return false;
}

bool readReport(const std::string& path, std::vector<ReportRow>& rows, std::string& reason) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::openStream(path, "rb"), std::fclose);
    if (!file) {
        reason = "cannot read '" + path + "'";
        return false;
    }
    std::string text;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file.get())) > 0;) {
        text.append(buf, n);
        if (text.size() > kMaxReportBytes) {
            reason = "'" + path + "' is larger than " + std::to_string(kMaxReportBytes >> 20) + " MB";
            return false;
        }
    }
    if (std::ferror(file.get())) {
        reason = "cannot read '" + path + "'";
        return false;
    }
    if (!parseReport(text, rows, reason)) {
        reason = "'" + path + "': " + reason;
        return false;
    }
    return true;
}

lines::VersionChange versionChange(const std::string& before, const std::string& after) {
    bool okA = false, okB = false;
    std::vector<std::uint64_t> a = numbers(before, okA), b = numbers(after, okB);
    if (!okA || !okB) return lines::VersionChange::Other;
    a.resize(std::max(a.size(), b.size()), 0);
    b.resize(a.size(), 0);
    if (a == b) return lines::VersionChange::Other;
    return b > a ? lines::VersionChange::Up : lines::VersionChange::Down;
}

bool ProgramDiff::empty() const {
    return state == State::Both && added.empty() && removed.empty() && versions.empty() && origins.empty() &&
           folders.empty() && problemsNew.empty() && problemsGone.empty();
}

bool Difference::worse() const {
    for (const ProgramDiff& p : programs) {
        if (!p.problemsNew.empty()) return true;
        for (const VersionStep& v : p.versions)
            if (v.change == lines::VersionChange::Down) return true;
    }
    return false;
}

Difference compare(const std::vector<ReportRow>& before, const std::vector<ReportRow>& after,
                   const analysis::IgnoreList& ignore) {
    const std::vector<Program> was = programsOf(before, ignore), is = programsOf(after, ignore);
    // The closest paths first, so that x64/app.exe never takes x86/app.exe
    // from the program that has it.
    struct Pair {
        std::size_t tail, now, old;
    };
    std::vector<Pair> pairs;
    for (std::size_t n = 0; n < is.size(); ++n)
        for (std::size_t o = 0; o < was.size(); ++o)
            if (lower(was[o].name) == lower(is[n].name)) pairs.push_back({commonTail(was[o].path, is[n].path), n, o});
    std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.tail > b.tail; });
    std::vector<std::size_t> partner(is.size(), was.size());
    std::vector<bool> taken(was.size(), false);
    for (const Pair& p : pairs)
        if (partner[p.now] == was.size() && !taken[p.old]) {
            partner[p.now] = p.old;
            taken[p.old] = true;
        }
    Difference d;
    for (std::size_t n = 0; n < is.size(); ++n)
        d.programs.push_back(compareProgram(partner[n] < was.size() ? &was[partner[n]] : nullptr, &is[n]));
    for (std::size_t i = 0; i < was.size(); ++i)
        if (!taken[i]) d.programs.push_back(compareProgram(&was[i], nullptr));
    return d;
}

std::vector<std::string> textLines(const Difference& d) {
    std::vector<std::string> out;
    for (const ProgramDiff& p : d.programs) {
        if (p.empty()) continue;
        if (p.state == ProgramDiff::State::Added) out.push_back(lines::diffProgramAdded(p.after));
        else if (p.state == ProgramDiff::State::Removed) out.push_back(lines::diffProgramRemoved(p.before));
        else out.push_back(lines::diffProgram(p.file, p.before, p.after));
        for (const Dll& x : p.added) out.push_back(lines::diffDllAdded(x.file, x.version, originWords(x.origin)));
        for (const Dll& x : p.removed) out.push_back(lines::diffDllRemoved(x.file, x.version, originWords(x.origin)));
        for (const VersionStep& v : p.versions)
            out.push_back(lines::diffVersion(v.file, orQuestion(v.before), orQuestion(v.after), v.change));
        for (const Change& c : p.origins) out.push_back(lines::diffOrigin(c.file, originWords(c.before), originWords(c.after)));
        for (const Change& c : p.folders) out.push_back(lines::diffFolder(c.file, c.before, c.after));
        for (const ProblemRow& e : p.problemsNew) out.push_back(lines::diffProblemNew(e.line));
        for (const ProblemRow& e : p.problemsGone) out.push_back(lines::diffProblemGone(e.line));
    }
    if (out.empty()) out.push_back(lines::kNoChange);
    return out;
}

std::string json(const Difference& d) {
    Json programs = Json::array();
    for (const ProgramDiff& p : d.programs) {
        Json versions = Json::array();
        for (const VersionStep& v : p.versions)
            versions.push_back({{"file", str(v.file)}, {"old", str(v.before)}, {"new", str(v.after)}, {"change", changeKey(v.change)}});
        const char* state = p.state == ProgramDiff::State::Added     ? "added"
                            : p.state == ProgramDiff::State::Removed ? "removed"
                            : p.empty()                              ? "same"
                                                                     : "changed";
        programs.push_back({{"file", str(p.file)},
                            {"state", state},
                            {"old-path", str(p.before)},
                            {"path", str(p.after)},
                            {"added", dllsJson(p.added)},
                            {"removed", dllsJson(p.removed)},
                            {"versions", std::move(versions)},
                            {"origins", changesJson(p.origins)},
                            {"folders", changesJson(p.folders)},
                            {"problems-new", problemsJson(p.problemsNew)},
                            {"problems-gone", problemsJson(p.problemsGone)}});
    }
    const Json out = {{"programs", std::move(programs)}, {"worse", d.worse()}};
    return out.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace diff
