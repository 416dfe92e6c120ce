// The rows of an import analysis and the lines of the version report: one
// loop shared by the window and the command line, which differ only in
// where the rows go.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "inspect/closure.h"
#include "inspect/findings.h"
#include "inspect/options.h"
#include "inspect/run.h"

namespace analysis {

// Columns of the imports grid.
enum Column { kImporter = 0, kFile = 1, kPath = 2, kVersion = 3, kColumnCount = 4 };

using Cells = std::array<std::string, kColumnCount>;

enum class RowKind { Listed, Import, Error };

struct Row {
    RowKind kind = RowKind::Listed;
    Cells cells;
    // Error rows: what the line tells; the other rows: None.
    Problem problem = Problem::None;
    // Listed and import rows: the file has a FileVersion (else the Version
    // cell reads "V: ???").
    bool hasVersion = false;
    // Listed and import rows: the machine of the file (0 when not a PE image).
    std::uint16_t machine = 0;
    // Listed and import rows: an ARM64EC or ARM64X image.
    pe::CodeView::Kind codeKind = pe::CodeView::Kind::Plain;
    // Import rows: a DLL the program loads only through a delay-load table;
    // error rows: a line of such a DLL or of a delay-load descriptor.
    bool delayLoad = false;
    // Error rows: the DLL (or file) the line is about, and a missing function.
    std::string dll, function;
    // Import rows: where the loader maps the DLL from and why (the loader's
    // own record: origin, a side-by-side assembly's name and version, the
    // .NET reference it answers).
    loader::LocationPtr location;
    // The listed file's full path, whose block the row is in.
    std::string importerPath;
    // Listed and import rows: the binary file version ("a.b.c.d"), empty
    // without a version resource.
    std::string fileVersion;
    // Error rows: a .NET reference the line answers (its display name).
    std::string assembly;
    // Import rows: the image whose import table named the DLL first (the
    // listed file for its direct imports), its path.
    std::string viaPath;
    // Listed rows, with the assemblies: the kind of .NET program
    // (dotnetKindKey), empty for none, and the machine its process is.
    std::string dotnetKind;
    std::uint16_t runsAs = 0;

    loader::Origin origin() const { return location ? location->origin : loader::Origin::None; }
    // "Microsoft.Windows.Common-Controls 6.0.22621.2506" for a side-by-side
    // assembly's DLL; empty otherwise.
    const std::string& originDetail() const;
    // The DependentLoadFlags of the image whose table named the DLL, when
    // they limited its search (import rows, and missing-DLL rows); 0 else.
    std::uint16_t dependentLoadFlags = 0;
    // Error rows about a file that cannot be opened: why.
    platform::OpenFailure reason = platform::OpenFailure::None;
    // The .NET reference the row answers, whichever kind of row it is.
    const std::string& reference() const { return location ? location->assembly : assembly; }
};

// Column titles of row 0.
const Cells& columnTitles();

// One listed file: "toi-même", its file name, its folder, its version.
Row listedRow(const std::string& path, Reads& reads);
// One DLL found while inspecting the listed file at `listed`.
Row importRow(const std::string& listed, const FoundDll& dll, Reads& reads);
// One problem met while inspecting the listed file at `listed`.
Row errorRow(const std::string& listed, const Finding& finding);

// The inspection of one file within `run` (its closure when the run is
// recursive).
Closure inspect(const std::string& path, AnalysisRun& run);

// Status texts shown while the analysis runs.
using StatusFn = std::function<void(const std::string&)>;

// What one analysis gives: the closure of every listed file (a file listed
// twice, once), and the grid's rows.
struct Analysis {
    std::vector<Closure> closures;  // in list order
    std::vector<Row> rows;
};

// The one loop over the listed files. The rows: the listed-file rows in list
// order, then per file its import rows (only when its analysis completed)
// and its error rows; a file listed again gets the block of its first
// listing. One run: each image, search and version is read once.
// `rows` false: the closures alone (for the answers that follow the graph).
Analysis analyseFiles(const std::vector<std::string>& files, AnalysisRun& run, const StatusFn& status = {},
                      bool rows = true);
// Its rows alone.
std::vector<Row> analyse(const std::vector<std::string>& files, AnalysisRun& run, const StatusFn& status = {});
std::vector<Row> analyse(const std::vector<std::string>& files, const RunOptions& options,
                         const StatusFn& status = {});

bool hasErrors(const std::vector<Row>& rows);

// ---------------------------------------------------------------------------
// Report

// "%-20s: %-20s\t%-20s\t%s" with importer, file, version, path.
std::string fullLine(const Cells& cells);
void appendFullLine(std::string& out, const Cells& cells);
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
std::vector<std::string> reportLines(const std::vector<Row>& rows, bool unique);
// The same lines appended to `out`, each ended by a line feed.
void appendReport(std::string& out, const std::vector<Row>& rows, bool unique);

}  // namespace analysis
