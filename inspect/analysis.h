// The rows of an import analysis and the lines of the version report: plain
// functions shared by the window and the command line, so they never differ.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "inspect/uimports.h"

namespace analysis {

// Columns of the imports grid.
enum Column { kImporter = 0, kFile = 1, kPath = 2, kVersion = 3, kColumnCount = 4 };

using Cells = std::array<std::string, kColumnCount>;

enum class RowKind { Listed, Import, Error };

struct Row {
    RowKind kind;
    Cells cells;
    // Error rows: what the line tells; the other rows: None.
    Problem problem = Problem::None;
    // Listed and import rows: the machine of the file (0 when not a PE image).
    std::uint16_t machine = 0;
    // Import rows: a DLL the program loads only through a delay-load table;
    // error rows: a line of such a DLL or of a delay-load descriptor.
    bool delayLoad = false;
};

// Column titles of row 0.
const Cells& columnTitles();

// One listed file: "toi-même", its file name, its folder, its version.
// Versions and machines come from `run` when given, else are read anew.
Row listedRow(const std::string& path, RunCache* run = nullptr);
// One DLL found while inspecting the listed file `importer` (its file name).
Row importRow(const std::string& importer, const std::string& dllPath, RunCache* run = nullptr,
              bool delayLoad = false);
// One problem met while inspecting `importer`.
Row errorRow(const std::string& importer, const std::string& line, Problem problem = Problem::None,
             bool delayLoad = false);

// What one PEFile found for a listed file.
struct Inspection {
    bool done = false;
    std::vector<std::string> found;
    std::vector<std::string> errors;
    std::vector<Problem> problems;  // one per error line
    std::uint16_t machine = 0;      // of the listed file
    std::vector<bool> foundDelayLoaded;  // one per found DLL
    std::vector<bool> errorsDelayLoaded; // one per error line
};
// Inspects one file within the run `run` (a run of its own, with the
// PEFile switches, when null).
Inspection inspect(const std::string& path, bool recursive, RunCache* run = nullptr);

// What an analysis shows: the whole closure, the imported functions the
// found DLLs lack, the delay-loaded DLLs.
struct Options {
    bool recursive = false;
    bool functions = false;
    bool delayLoad = false;
};

// Status texts shown while the analysis runs.
using StatusFn = std::function<void(const std::string&)>;

// Every row for `files`: the listed-file rows in list order, then per file
// its import rows (only when its analysis completed) and its error rows.
// One run: each image, search and version is read once (see RunCache).
std::vector<Row> analyse(const std::vector<std::string>& files, bool recursive, const StatusFn& status = {});
std::vector<Row> analyse(const std::vector<std::string>& files, const Options& options, const StatusFn& status = {});
// The same within a run the caller owns, with the run's checks.
std::vector<Row> analyse(const std::vector<std::string>& files, bool recursive, const StatusFn& status,
                         RunCache& run);

bool hasErrors(const std::vector<Row>& rows);

// ---------------------------------------------------------------------------
// Report

// "%-20s: %-20s\t%-20s\t%s" with importer, file, version, path.
std::string fullLine(const Cells& cells);
// "%-20s\t%-20s\t%s" with file, version, path.
std::string shortLine(const Cells& cells);

// Keeps the first of the lines that are equal ignoring case.
class UniqueLines {
public:
    // True when no line added before equals `line` ignoring case.
    bool add(const std::string& line);

private:
    std::unordered_set<std::string> seen_;
};

// The report of `rows` in their order: one full line per row, or, when
// `unique`, the short lines without repeats.
std::vector<std::string> reportLines(const std::vector<Cells>& rows, bool unique);

}  // namespace analysis
