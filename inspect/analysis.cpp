#include "inspect/analysis.h"

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

Row importRow(const std::string& importer, const std::string& dllPath, RunCache* run) {
    return fileRow(RowKind::Import, importer, dllPath, run);
}

Row errorRow(const std::string& importer, const std::string& line, Problem problem) {
    return {RowKind::Error, {importer, "erreur", line, "erreur"}, problem};
}

Inspection inspect(const std::string& path, bool recursive, RunCache* run) {
    PEFile::Recursive = recursive;
    PEFile file(path, run);
    Inspection out{file.Done, PEFile::Found, PEFile::Errors, file.Problems, file.Machine};
    out.problems.resize(out.errors.size(), Problem::NotReadable);
    return out;
}

std::vector<Row> analyse(const std::vector<std::string>& files, bool recursive, const StatusFn& status) {
    RunCache run;
    return analyse(files, recursive, status, run);
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
    for (const std::string& path : files) {
        say("inspection: " + path);
        const Inspection result = inspect(path, recursive, &run);
        const std::string importer = platform::fileNamePart(path);
        if (result.done) {
            for (const std::string& dll : result.found) {
                say(importer + " -> " + dll);
                rows.push_back(importRow(importer, dll, &run));
            }
        }
        for (std::size_t i = 0; i < result.errors.size(); ++i)
            rows.push_back(errorRow(importer, result.errors[i], result.problems[i]));
    }
    say("");
    return rows;
}

bool hasErrors(const std::vector<Row>& rows) {
    for (const Row& r : rows)
        if (r.kind == RowKind::Error) return true;
    return false;
}

std::string fullLine(const Cells& c) {
    return platform::padRight(c[kImporter], 20) + ": " + platform::padRight(c[kFile], 20) + "\t" +
           platform::padRight(c[kVersion], 20) + "\t" + c[kPath];
}

std::string shortLine(const Cells& c) {
    return platform::padRight(c[kFile], 20) + "\t" + platform::padRight(c[kVersion], 20) + "\t" + c[kPath];
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
