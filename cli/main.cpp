// tavelin-report: the version report of a list of executables, on the
// command line, exactly as the window's "Mise en forme" tab shows it.
#include <cstdio>
#include <string>
#include <vector>

#include "inspect/analysis.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const char* const kUsage =
    "Usage: tavelin-report [-r|--recursive] [-u|--unique] [--dll-path DIR[%cDIR...]]\n"
    "                      [--format text|json] FILE...\n";

const char* const kHelp =
    "Lists, for each FILE (EXE or DLL), the DLLs it imports, where they were found\n"
    "and their versions, as the report of Tavelin's \"Mise en forme\" tab.\n"
    "\n"
    "  -r, --recursive     follow the imports of the imports (whole import closure)\n"
    "  -u, --unique        short lines without the importer, each line once\n"
    "      --dll-path DIRS folders searched for DLLs after the importer's folder\n"
    "                      (replaces TAVELIN_DLL_PATH; separated by '%c')\n"
    "      --format FMT    text (the report, default) or json (the rows)\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Exit status: 0 when no error row was produced, 1 when at least one was\n"
    "(a DLL not found, a file not readable or not an executable), 2 on a usage error.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "tavelin-report: %s\n", message.c_str());
    std::fprintf(stderr, kUsage, platform::pathListSeparator());
    return 2;
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

const char* kindName(analysis::RowKind kind) {
    switch (kind) {
        case analysis::RowKind::Listed: return "listed";
        case analysis::RowKind::Import: return "import";
        case analysis::RowKind::Error: return "error";
    }
    return "";
}

void printJson(const std::vector<analysis::Row>& rows) {
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const analysis::Cells& c = rows[i].cells;
        out += i ? ",\n " : "\n ";
        out += "{\"kind\": " + jsonString(kindName(rows[i].kind));
        out += ", \"importer\": " + jsonString(c[analysis::kImporter]);
        out += ", \"file\": " + jsonString(c[analysis::kFile]);
        out += ", \"path\": " + jsonString(c[analysis::kPath]);
        out += ", \"version\": " + jsonString(c[analysis::kVersion]) + "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    platform::useUtf8Console();
    const std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    bool recursive = false, unique = false, json = false, onlyFiles = false;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            files.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "-r" || a == "--recursive") {
            recursive = true;
        } else if (a == "-u" || a == "--unique") {
            unique = true;
        } else if (a == "-ru" || a == "-ur") {
            recursive = unique = true;
        } else if (a == "-h" || a == "--help") {
            std::printf(kUsage, platform::pathListSeparator());
            std::printf("\n");
            std::printf(kHelp, platform::pathListSeparator());
            return 0;
        } else if (a == "-V" || a == "--version") {
            std::printf("tavelin-report %s\n", TAVELIN_FILE_VERSION);
            return 0;
        } else if (a == "--dll-path" || a.rfind("--dll-path=", 0) == 0) {
            std::string value;
            if (a == "--dll-path") {
                if (i + 1 >= args.size()) return usageError("--dll-path needs a list of folders");
                value = args[++i];
            } else {
                value = a.substr(11);
            }
            platform::setDllSearchFolders(platform::splitList(value, platform::pathListSeparator()));
        } else if (a == "--format" || a.rfind("--format=", 0) == 0) {
            std::string value;
            if (a == "--format") {
                if (i + 1 >= args.size()) return usageError("--format needs text or json");
                value = args[++i];
            } else {
                value = a.substr(9);
            }
            if (value == "json") json = true;
            else if (value == "text") json = false;
            else return usageError("unknown format '" + value + "' (text or json)");
        } else {
            return usageError("unknown option '" + a + "'");
        }
    }
    if (files.empty()) return usageError("no file given");

    // The files as the window's list holds them.
    for (std::string& f : files) f = platform::listPath(platform::absolutePath(f));

    std::vector<analysis::Row> rows = analysis::analyse(files, recursive);
    const bool errors = analysis::hasErrors(rows);
    if (json) {
        printJson(rows);
    } else {
        // Written as it is formatted: the same lines as reportLines.
        std::string out;
        analysis::UniqueLines seen;
        for (const analysis::Row& r : rows) {
            if (unique) {
                std::string line = analysis::shortLine(r.cells);
                if (!seen.add(line)) continue;
                out += line;
            } else {
                out += analysis::fullLine(r.cells);
            }
            out += '\n';
            if (out.size() >= 1 << 16) {
                std::fwrite(out.data(), 1, out.size(), stdout);
                out.clear();
            }
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    std::fflush(stdout);
    return errors ? 1 : 0;
}
