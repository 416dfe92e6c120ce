// The rows of an import analysis and the lines of the version report: plain
// functions shared by the window and the command line, so they never differ.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

namespace analysis {

// Columns of the imports grid.
enum Column { kImporter = 0, kFile = 1, kPath = 2, kVersion = 3, kColumnCount = 4 };

using Cells = std::array<std::string, kColumnCount>;

enum class RowKind { Listed, Import, Error };

struct Row {
    RowKind kind;
    Cells cells;
};

// Column titles of row 0.
const Cells& columnTitles();

// One listed file: "toi-même", its file name, its folder, its version.
Row listedRow(const std::string& path);
// One DLL found while inspecting the listed file `importer` (its file name).
Row importRow(const std::string& importer, const std::string& dllPath);
// One problem met while inspecting `importer`.
Row errorRow(const std::string& importer, const std::string& line);

// What one PEFile found for a listed file.
struct Inspection {
    bool done = false;
    std::vector<std::string> found;
    std::vector<std::string> errors;
};
Inspection inspect(const std::string& path, bool recursive);

// Status texts shown while the analysis runs.
using StatusFn = std::function<void(const std::string&)>;

// Every row for `files`: the listed-file rows in list order, then per file
// its import rows (only when its analysis completed) and its error rows.
// Versions are read anew for every row.
std::vector<Row> analyse(const std::vector<std::string>& files, bool recursive, const StatusFn& status = {});

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
