// tavelin-report: the version report of a list of executables, on the
// command line, exactly as the window's "Mise en forme" tab shows it, or its
// rows as CSV or JSON for scripts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "inspect/analysis.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const char* const kUsage =
    "Usage: tavelin-report [-r|--recursive] [-f|--functions] [-d|--delay-load] [-u|--unique]\n"
    "                      [--missing] [--dll-path DIR[%cDIR...]] [--windows DIR]\n"
    "                      [--format text|csv|json] FILE...\n";

const char* const kHelp =
    "Lists, for each FILE (EXE or DLL), the DLLs it imports, where they were found\n"
    "and their versions, as the report of Tavelin's \"Mise en forme\" tab.\n"
    "\n"
    "  -r, --recursive     follow the imports of the imports (whole import closure)\n"
    "  -f, --functions     list the imported functions that the found DLL does not\n"
    "                      export (\"<function> absente de <dll> pour <importer>\")\n"
    "  -d, --delay-load    resolve the DLLs of the delay-load tables as imports\n"
    "  -u, --unique        short lines without the importer, each line once\n"
    "      --missing       only the problems (DLLs not found, functions missing, files\n"
    "                      not readable or not executables), each once\n"
    "      --dll-path DIRS folders searched for DLLs after the program's folder\n"
    "                      (replaces TAVELIN_DLL_PATH and the default folders;\n"
    "                      separated by '%c')\n"
    "      --windows DIR   the Windows folder to check against (a mounted Windows,\n"
    "                      or a Wine prefix's drive_c/windows): its System32,\n"
    "                      SysWOW64, side-by-side store and KnownDLLs\n"
    "      --format FMT    text (the report, default), csv or json (the rows)\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Exit status: 0 when no error row was produced, 1 when at least one was\n"
    "(a DLL not found, a function missing, a file not readable or not an executable),\n"
    "2 on a usage error.\n";

enum class Format { Text, Csv, Json };

const char* formatName(Format f) {
    switch (f) {
        case Format::Text: return "text";
        case Format::Csv: return "csv";
        case Format::Json: return "json";
    }
    return "";
}

struct Options {
    RunOptions run;  // what the analysis reads, checks and where it searches
    bool unique = false;
    bool missing = false;
    Format format = Format::Text;
    bool formatGiven = false;
    std::vector<std::string> files;
};

// Options without a value; the one-letter ones may be bundled ("-ru").
struct Switch {
    char letter;
    const char* name;
    bool& (*flag)(Options&);
};
const Switch kSwitches[] = {
    {'r', "--recursive", [](Options& o) -> bool& { return o.run.recursive; }},
    {'f', "--functions", [](Options& o) -> bool& { return o.run.functions; }},
    {'d', "--delay-load", [](Options& o) -> bool& { return o.run.delayLoad; }},
    {'u', "--unique", [](Options& o) -> bool& { return o.unique; }},
    {0, "--missing", [](Options& o) -> bool& { return o.missing; }},
};

struct UsageError {
    std::string reason;
};

// The value of "--name VALUE" or "--name=VALUE"; false when `arg` is neither.
bool optionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                 const char* needs, std::string& value) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) throw UsageError{name + " needs " + needs};
        value = args[++i];
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

bool setSwitch(Options& o, const std::string& arg) {
    for (const Switch& s : kSwitches) {
        if (arg == s.name || (s.letter && arg.size() == 2 && arg[1] == s.letter)) {
            s.flag(o) = true;
            return true;
        }
    }
    // A bundle of one-letter switches.
    if (arg.size() < 3 || arg[1] == '-') return false;
    for (std::size_t k = 1; k < arg.size(); ++k)
        if (!setSwitch(o, std::string("-") + arg[k])) return false;
    return true;
}

// What cannot be asked together, in one line.
std::string contradiction(const Options& o) {
    if (o.unique && o.format != Format::Text)
        return std::string("--unique shapes the text report; --format ") + formatName(o.format) +
               " gives every row";
    return {};
}

enum class Action { Report, Help, Version };

Action parse(const std::vector<std::string>& args, Options& o) {
    bool onlyFiles = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            o.files.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "-h" || a == "--help") {
            return Action::Help;
        } else if (a == "-V" || a == "--version") {
            return Action::Version;
        } else if (optionValue(args, i, "--windows", "a folder", value)) {
            if (!platform::isWindowsFolder(value))
                throw UsageError{"--windows: '" + value + "' holds no System32 folder (a Windows folder, or a Wine "
                                 "prefix's drive_c/windows)"};
            o.run.search.windowsFolder = value;
        } else if (optionValue(args, i, "--dll-path", "a list of folders", value)) {
            o.run.search.folders = platform::splitList(value, platform::pathListSeparator());
        } else if (optionValue(args, i, "--format", "text, csv or json", value)) {
            Format f;
            if (value == "text") f = Format::Text;
            else if (value == "csv") f = Format::Csv;
            else if (value == "json") f = Format::Json;
            else throw UsageError{"unknown format '" + value + "' (text, csv or json)"};
            if (o.formatGiven && f != o.format)
                throw UsageError{std::string("--format given twice (") + formatName(o.format) + ", then " +
                                 formatName(f) + ")"};
            o.format = f;
            o.formatGiven = true;
        } else if (!setSwitch(o, a)) {
            throw UsageError{"unknown option '" + a + "'"};
        }
    }
    if (const std::string why = contradiction(o); !why.empty()) throw UsageError{why};
    if (o.files.empty()) throw UsageError{"no file given"};
    return Action::Report;
}

// ---------------------------------------------------------------------------
// Output

const char* kindName(analysis::RowKind kind) {
    switch (kind) {
        case analysis::RowKind::Listed: return "listed";
        case analysis::RowKind::Import: return "import";
        case analysis::RowKind::Error: return "error";
    }
    return "";
}

const char* problemName(Problem p) {
    switch (p) {
        case Problem::MissingDll: return "missing-dll";
        case Problem::MissingFunction: return "missing-function";
        case Problem::WrongMachine: return "wrong-machine";
        case Problem::NotReadable: return "not-readable";
        case Problem::NotPe: return "not-pe";
        case Problem::None: break;
    }
    return nullptr;
}

// What a field holds: text, a JSON boolean (CSV "true"/"false"), or text
// that is JSON null (an empty CSV field) when absent.
enum class FieldType { Text, Boolean, TextOrNull };

// The keys of a row, in order, for both CSV columns and JSON members.
struct Field {
    const char* key;
    FieldType type;
    // Text: the value; Boolean: "true" or "false"; TextOrNull: empty for null.
    std::string (*value)(const analysis::Row&);
};
std::vector<Field> rowFields(const Options& o) {
    std::vector<Field> fields = {
        {"kind", FieldType::Text, [](const analysis::Row& r) { return std::string(kindName(r.kind)); }},
        {"importer", FieldType::Text, [](const analysis::Row& r) { return r.cells[analysis::kImporter]; }},
        {"file", FieldType::Text, [](const analysis::Row& r) { return r.cells[analysis::kFile]; }},
        {"path", FieldType::Text, [](const analysis::Row& r) { return r.cells[analysis::kPath]; }},
        {"version", FieldType::Text, [](const analysis::Row& r) { return r.cells[analysis::kVersion]; }},
    };
    // Only with the options that make new kinds of rows, so that scripts
    // written for the plain output see the same keys.
    if (o.run.functions || o.run.delayLoad)
        fields.push_back({"problem", FieldType::TextOrNull, [](const analysis::Row& r) {
                              const char* name = problemName(r.problem);
                              return std::string(name ? name : "");
                          }});
    if (o.run.delayLoad)
        fields.push_back({"delay-load", FieldType::Boolean,
                          [](const analysis::Row& r) { return std::string(r.delayLoad ? "true" : "false"); }});
    // Why each DLL was taken from its folder (import rows).
    fields.push_back({"origin", FieldType::TextOrNull,
                      [](const analysis::Row& r) { return std::string(platform::originName(r.origin)); }});
    return fields;
}

// --missing: the error rows, the first of those whose lines are equal
// ignoring case.
std::vector<analysis::Row> problemRows(const std::vector<analysis::Row>& rows) {
    std::vector<analysis::Row> out;
    analysis::UniqueLines seen;
    for (const analysis::Row& r : rows)
        if (r.kind == analysis::RowKind::Error && seen.add(r.cells[analysis::kPath])) out.push_back(r);
    return out;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : platform::validUtf8(text)) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
std::string csvField(const std::string& text) {
    const std::string s = platform::validUtf8(text);
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string json(const std::vector<analysis::Row>& rows, const std::vector<Field>& fields) {
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        out += i ? ",\n {" : "\n {";
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (f) out += ", ";
            out += jsonString(fields[f].key);
            out += ": ";
            const std::string value = fields[f].value(rows[i]);
            if (fields[f].type == FieldType::Boolean) out += value;
            else if (fields[f].type == FieldType::TextOrNull && value.empty()) out += "null";
            else out += jsonString(value);
        }
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

std::string csv(const std::vector<analysis::Row>& rows, const std::vector<Field>& fields) {
    std::string out;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        if (f) out += ',';
        out += csvField(fields[f].key);
    }
    out += '\n';
    for (const analysis::Row& r : rows) {
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (f) out += ',';
            out += csvField(fields[f].value(r));
        }
        out += '\n';
    }
    return out;
}

std::string text(const std::vector<analysis::Row>& rows, const Options& o) {
    std::string out;
    if (o.missing) {
        for (const analysis::Row& r : rows) out.append(r.cells[analysis::kPath]).append(1, '\n');
        return out;
    }
    analysis::appendReport(out, rows, o.unique);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    platform::useUtf8Console();
    Options o;
    try {
        switch (parse(platform::commandLineArguments(argc, argv), o)) {
            case Action::Help:
                std::printf(kUsage, platform::pathListSeparator());
                std::printf("\n");
                std::printf(kHelp, platform::pathListSeparator());
                return 0;
            case Action::Version:
                std::printf("tavelin-report %s\n", TAVELIN_FILE_VERSION);
                return 0;
            case Action::Report: break;
        }
    } catch (const UsageError& error) {
        std::fprintf(stderr, "tavelin-report: %s\n", error.reason.c_str());
        std::fprintf(stderr, kUsage, platform::pathListSeparator());
        return 2;
    }

    // The files as the window's list holds them.
    for (std::string& f : o.files) f = platform::listPath(platform::absolutePath(f));

    AnalysisRun run(o.run);
    const std::vector<analysis::Row> all = analysis::analyse(o.files, run);
    std::vector<analysis::Row> problems;
    if (o.missing) problems = problemRows(all);
    const std::vector<analysis::Row>& rows = o.missing ? problems : all;
    std::string out;
    switch (o.format) {
        case Format::Text: out = text(rows, o); break;
        case Format::Csv: out = csv(rows, rowFields(o)); break;
        case Format::Json: out = json(rows, rowFields(o)); break;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    // The rows and the run's reads go with the process, not one by one.
    std::_Exit(analysis::hasErrors(all) ? 1 : 0);
}
