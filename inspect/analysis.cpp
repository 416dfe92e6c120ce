#include "inspect/analysis.h"

#include <algorithm>
#include <unordered_map>

#include "inspect/fileversion.h"
#include "inspect/uimports.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace analysis {

const Cells& columnTitles() {
    static const Cells titles = {"Importateur", "Fichier", "Chemin", "Version"};
    return titles;
}

namespace {
Row fileRow(RowKind kind, const std::string& importer, const std::string& path, RunCache* run) {
    return {kind,
            {importer, platform::fileNamePart(path), platform::directoryPart(path),
             run ? run->version(path) : FileVersionString(path)},
            Problem::None,
            run ? run->machine(path) : platform::imageMachine(path)};
}
}  // namespace

Row listedRow(const std::string& path, RunCache* run) { return fileRow(RowKind::Listed, "toi-même", path, run); }

Row importRow(const std::string& importer, const std::string& dllPath, RunCache* run, bool delayLoad) {
    Row r = fileRow(RowKind::Import, importer, dllPath, run);
    r.delayLoad = delayLoad;
    return r;
}

Row errorRow(const std::string& importer, const std::string& line, Problem problem, bool delayLoad) {
    return {RowKind::Error, {importer, "erreur", line, "erreur"}, problem, 0, delayLoad};
}

Inspection inspect(const std::string& path, bool recursive, RunCache* run) {
    PEFile::Recursive = recursive;
    PEFile file(path, run);
    Inspection out{file.Done,       {}, {}, std::move(file.Problems), file.Machine, std::move(file.FoundDelayLoaded),
                   std::move(file.DelayLoaded)};
    if (PEFile::LiveObjects() == 1) {
        // The lists are emptied with the object anyway: take them.
        out.found.swap(PEFile::Found);
        out.errors.swap(PEFile::Errors);
    } else {
        out.found = PEFile::Found;
        out.errors = PEFile::Errors;
    }
    out.problems.resize(out.errors.size(), Problem::NotReadable);
    out.errorsDelayLoaded.resize(out.errors.size(), false);
    out.foundDelayLoaded.resize(out.found.size(), false);
    return out;
}

std::vector<Row> analyse(const std::vector<std::string>& files, bool recursive, const StatusFn& status) {
    return analyse(files, Options{recursive, false, false}, status);
}

std::vector<Row> analyse(const std::vector<std::string>& files, const Options& options, const StatusFn& status) {
    RunCache run(true, Checks{options.functions, options.delayLoad});
    return analyse(files, options.recursive, status, run);
}

std::vector<Row> analyse(const std::vector<std::string>& files, bool recursive, const StatusFn& status,
                         RunCache& run) {
    const auto say = [&](const std::string& text) {
        if (status) status(text);
    };
    std::vector<Row> rows;
    rows.reserve(files.size());
    for (const std::string& path : files) {
        say(path);
        rows.push_back(listedRow(path, &run));
    }
    // A file listed again gets the block of rows its first listing got.
    struct Block {
        std::size_t start, end;
        std::vector<std::string> found;  // for the status texts
        bool done;
    };
    std::unordered_map<std::string, Block> blocks;
    for (const std::string& path : files) {
        say("inspection: " + path);
        const std::string importer = platform::fileNamePart(path);
        if (const auto it = blocks.find(path); it != blocks.end()) {
            if (it->second.done)
                for (const std::string& dll : it->second.found) say(importer + " -> " + dll);
            for (std::size_t r = it->second.start; r < it->second.end; ++r) rows.push_back(rows[r]);
            continue;
        }
        Inspection result = inspect(path, recursive, &run);
        const std::size_t start = rows.size();
        if (result.done) {
            for (std::size_t i = 0; i < result.found.size(); ++i) {
                say(importer + " -> " + result.found[i]);
                rows.push_back(importRow(importer, result.found[i], &run, result.foundDelayLoaded[i]));
            }
        }
        for (std::size_t i = 0; i < result.errors.size(); ++i)
            rows.push_back(errorRow(importer, result.errors[i], result.problems[i], result.errorsDelayLoaded[i]));
        if (run.remembers()) blocks.emplace(path, Block{start, rows.size(), std::move(result.found), result.done});
    }
    say("");
    return rows;
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

std::string fullLine(const Cells& c) {
    std::string line;
    line.reserve(70 + c[kImporter].size() + c[kFile].size() + c[kVersion].size() + c[kPath].size());
    appendPadded(line, c[kImporter], 20);
    line += ": ";
    appendPadded(line, c[kFile], 20);
    line += '\t';
    appendPadded(line, c[kVersion], 20);
    line += '\t';
    return line += c[kPath];
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

std::vector<std::string> reportLines(const std::vector<Cells>& rows, bool unique) {
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    UniqueLines seen;
    for (const Cells& row : rows) {
        if (!unique) {
            lines.push_back(fullLine(row));
            continue;
        }
        std::string line = shortLine(row);
        if (seen.add(line)) lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace analysis
