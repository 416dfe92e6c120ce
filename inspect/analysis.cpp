#include "inspect/analysis.h"

#include <algorithm>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/text.h"

namespace analysis {

const Cells& columnTitles() {
    static const Cells titles = {"Importateur", "Fichier", "Chemin", "Version"};
    return titles;
}

namespace {
Row fileRow(RowKind kind, const std::string& importer, const std::string& listed, const std::string& path,
            Reads& reads) {
    Row r;
    r.kind = kind;
    r.cells = {importer, platform::listedNamePart(path), platform::listedFolderPart(path), reads.version(path)};
    const auto image = reads.image(path);
    r.machine = image->machine;
    r.codeKind = image->codeKind;
    r.hasVersion = reads.hasVersion(path);
    r.importerPath = listed;
    r.fileVersion = reads.fixedVersion(path);
    return r;
}
}  // namespace

Row listedRow(const std::string& path, Reads& reads) { return fileRow(RowKind::Listed, "toi-même", path, path, reads); }

Row importRow(const std::string& listed, const FoundDll& dll, Reads& reads) {
    Row r = fileRow(RowKind::Import, platform::listedNamePart(listed), listed, dll.path(), reads);
    r.delayLoad = dll.delayLoaded;
    r.location = dll.location;
    r.dependentLoadFlags = dll.location->dependentLoadFlags;
    return r;
}

const std::string& Row::originDetail() const {
    static const std::string none;
    return location ? location->detail : none;
}

Row errorRow(const std::string& listed, const Finding& f) {
    Row r;
    r.kind = RowKind::Error;
    r.cells = {platform::listedNamePart(listed), "erreur", f.line, "erreur"};
    r.problem = f.problem;
    r.delayLoad = f.delayLoaded;
    r.dll = f.dll;
    r.function = f.function;
    r.assembly = f.assembly;
    r.dependentLoadFlags = f.dependentLoadFlags;
    r.reason = f.reason;
    r.importerPath = listed;
    return r;
}

Closure inspect(const std::string& path, AnalysisRun& run) { return walkClosure(path, run); }

std::vector<Row> analyse(const std::vector<std::string>& files, const RunOptions& options, const StatusFn& status) {
    AnalysisRun run(options);
    return analyse(files, run, status);
}

std::vector<Row> analyse(const std::vector<std::string>& files, AnalysisRun& run, const StatusFn& status) {
    return analyseFiles(files, run, status).rows;
}

Analysis analyseFiles(const std::vector<std::string>& files, AnalysisRun& run, const StatusFn& status, bool withRows) {
    const auto say = [&](const std::string& text) {
        if (status) status(text);
    };
    Reads& reads = run.reads();
    Analysis a;
    std::vector<Row>& rows = a.rows;
    rows.reserve(files.size());
    if (withRows)
        for (const std::string& path : files) {
            say(path);
            rows.push_back(listedRow(path, reads));
        }
    // A file listed again gets the block of rows its first listing got.
    struct Block {
        std::size_t start, end, closure;
    };
    std::unordered_map<std::string, Block> blocks;
    // The listed row of file `at` gets what its closure tells of it.
    const auto dotnetOf = [&](std::size_t at, const Closure& c) {
        if (!withRows) return;
        rows[at].dotnetKind = c.dotnetKind;
        rows[at].runsAs = c.runsAs;
    };
    for (std::size_t at = 0; at < files.size(); ++at) {
        const std::string& path = files[at];
        say("inspection: " + path);
        const std::string importer = platform::listedNamePart(path);
        if (const auto it = blocks.find(path); it != blocks.end()) {
            const Closure& first = a.closures[it->second.closure];
            dotnetOf(at, first);
            if (first.done)
                for (const FoundDll& dll : first.found) say(importer + " -> " + dll.path());
            for (std::size_t r = it->second.start; r < it->second.end; ++r) rows.push_back(rows[r]);
            continue;
        }
        a.closures.push_back(walkClosure(path, run));
        const Closure& result = a.closures.back();
        dotnetOf(at, result);
        const std::size_t start = rows.size();
        if (!withRows) {
            blocks.emplace(path, Block{start, start, a.closures.size() - 1});
            continue;
        }
        if (result.done) {
            for (const FoundDll& dll : result.found) {
                say(importer + " -> " + dll.path());
                rows.push_back(importRow(path, dll, reads));
                rows.back().viaPath = result.nodePath(dll.via);
            }
        }
        for (const Finding& f : result.findings) rows.push_back(errorRow(path, f));
        blocks.emplace(path, Block{start, rows.size(), a.closures.size() - 1});
    }
    say("");
    return a;
}

bool hasErrors(const std::vector<Row>& rows) {
    for (const Row& r : rows)
        if (r.kind == RowKind::Error) return true;
    return false;
}

namespace {
// `text` left-aligned in `width` characters (never cut), as padRight.
void appendPadded(std::string& out, const std::string& text, std::size_t width) {
    out += text;
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    const std::size_t length = ascii ? text.size() : platform::utf8Length(text);
    if (length < width) out.append(width - length, ' ');
}
}  // namespace

void appendFullLine(std::string& line, const Cells& c) {
    appendPadded(line, c[kImporter], 20);
    line += ": ";
    appendPadded(line, c[kFile], 20);
    line += '\t';
    appendPadded(line, c[kVersion], 20);
    line += '\t';
    line += c[kPath];
}

std::string fullLine(const Cells& c) {
    std::string line;
    line.reserve(70 + c[kImporter].size() + c[kFile].size() + c[kVersion].size() + c[kPath].size());
    appendFullLine(line, c);
    return line;
}

std::string shortLine(const Cells& c) {
    std::string line;
    line.reserve(50 + c[kFile].size() + c[kVersion].size() + c[kPath].size());
    appendPadded(line, c[kFile], 20);
    line += '\t';
    appendPadded(line, c[kVersion], 20);
    line += '\t';
    return line += c[kPath];
}

bool UniqueLines::add(const std::string& line) { return seen_.insert(platform::toLower(line)).second; }

namespace {
// Each line of the report of `rows`, in order, handed to `emit`.
template <class Rows, class CellsOf, class Emit>
void forEachLine(const Rows& rows, bool unique, CellsOf cellsOf, Emit emit) {
    UniqueLines seen;
    for (const auto& row : rows) {
        if (!unique) {
            emit(fullLine(cellsOf(row)));
            continue;
        }
        std::string line = shortLine(cellsOf(row));
        if (seen.add(line)) emit(std::move(line));
    }
}
const Cells& cellsOfRow(const Row& r) { return r.cells; }
}  // namespace

std::vector<std::string> reportLines(const std::vector<Cells>& rows, bool unique) {
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    forEachLine(rows, unique, [](const Cells& c) -> const Cells& { return c; },
                [&](std::string line) { lines.push_back(std::move(line)); });
    return lines;
}

std::vector<std::string> reportLines(const std::vector<Row>& rows, bool unique) {
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    forEachLine(rows, unique, cellsOfRow, [&](std::string line) { lines.push_back(std::move(line)); });
    return lines;
}

void appendReport(std::string& out, const std::vector<Row>& rows, bool unique) {
    if (!unique) {
        for (const Row& r : rows) {
            appendFullLine(out, r.cells);
            out += '\n';
        }
        return;
    }
    forEachLine(rows, unique, cellsOfRow, [&](const std::string& line) { out.append(line).append(1, '\n'); });
}

}  // namespace analysis
