// What changed between two releases: two reports in the rows' JSON form
// (--format json), one written earlier, compared program by program: DLLs
// added and removed, versions up and down, origins and folders changed,
// problems new and gone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "inspect/ignore.h"
#include "inspect/lines.h"

namespace diff {

// What the comparison reads of a row; absent or null members are empty.
struct ReportRow {
    std::string kind, file, path, version, fileVersion, problem, dll, function, origin, importerPath, assembly;
};

// Reports of tens of thousands of rows stay well below this; the rows are
// read as they stream by (no document is built), members the comparison
// does not use and values nested in a row skipped.
constexpr std::uint64_t kMaxReportBytes = 64u << 20;
constexpr unsigned kMaxReportDepth = 64;

// A JSON array of row objects; false, with the reason (English, for
// standard error), for anything else.
bool parseReport(std::string_view text, std::vector<ReportRow>& rows, std::string& reason);
bool readReport(const std::string& path, std::vector<ReportRow>& rows, std::string& reason);

struct Dll {
    std::string file;
    std::string version;  // the binary version, else the FileVersion text
    std::string folder;   // relative to the program's folder when under it ("." for it)
    std::string origin;   // "app", "system", ...
};

struct VersionStep {
    std::string file, before, after;
    lines::VersionChange change = lines::VersionChange::Other;
};

struct Change {
    std::string file, before, after;
};

struct ProblemRow {
    std::string problem, dll, function, line;
};

struct ProgramDiff {
    enum class State { Both, Added, Removed };
    State state = State::Both;
    std::string file, before, after;  // its name, its paths in the earlier and in this report
    std::vector<Dll> added, removed;
    std::vector<VersionStep> versions;  // the program's own first
    std::vector<Change> origins, folders;
    std::vector<ProblemRow> problemsNew, problemsGone;

    bool empty() const;
};

struct Difference {
    // Programs of this report in their order, then those only the earlier had.
    std::vector<ProgramDiff> programs;
    // A problem the earlier report had not, or a version gone down.
    bool worse() const;
};

// Programs are paired by name, then by the longest run of folder names the
// paths end with (release-1/bin/app.exe with release-2/bin/app.exe); DLLs
// by name within their program. The problems of `ignore` are left out of
// both reports.
Difference compare(const std::vector<ReportRow>& before, const std::vector<ReportRow>& after,
                   const analysis::IgnoreList& ignore);

// The French lines of the programs that changed, "aucun changement" when none did.
std::vector<std::string> textLines(const Difference& d);
// One object: {"programs": [...], "worse": bool}, each program with
// "file", "state", "old-path", "path", "added", "removed", "versions",
// "origins", "folders", "problems-new", "problems-gone".
std::string json(const Difference& d);

// Dotted version numbers compared number by number ("10.2" above "9.12");
// Other when either is not one.
lines::VersionChange versionChange(const std::string& before, const std::string& after);

}  // namespace diff
