// tavelin-report: the version report of a list of executables, on the
// command line, exactly as the window's "Mise en forme" tab shows it, or its
// rows as CSV or JSON for scripts.
#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/answers.h"
#include "cli/release.h"
#include "cli/rowformats.h"
#include "inspect/analysis.h"
#include "inspect/ignore.h"
#include "platform/filecopy.h"
#include "platform/knowndlls.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const char* const kUsage =
    "Usage: tavelin-report [-r|--recursive] [-f|--functions] [-d|--delay-load] [-a|--assemblies]\n"
    "                      [-u|--unique] [-R|--recurse] [--missing] [--dll-path DIR[%cDIR...]]\n"
    "                      [--add-dll-path DIR[%cDIR...]]"
    " [--windows DIR] [--ignore PATTERN]... [--ignore-file FILE]\n"
    "                      [--format text|csv|json] FILE|FOLDER...\n"
    "       tavelin-report (--ship [--format json] | --copy-to DIR | --tree | --why NAME)\n"
    "                      [-d] [-f] [search and --ignore options] FILE|FOLDER...\n"
    "       tavelin-report [--signatures] [--require-signed] [--hardening] [--ship|--copy-to DIR]\n"
    "                      [--format cyclonedx] [--diff OLD.json] [other options] FILE|FOLDER...\n";

const char* const kHelp =
    "Lists, for each FILE (EXE or DLL), the DLLs it imports, where they were found\n"
    "and their versions, as the report of Tavelin's \"Mise en forme\" tab. A FOLDER\n"
    "stands for its PE files (.exe, .dll, .ocx, .sys, .cpl, .drv, .node, .pyd), sorted.\n"
    "\n"
    "  -r, --recursive     follow the imports of the imports (whole import closure)\n"
    "  -f, --functions     list the imported functions that the found DLL does not\n"
    "                      export (\"<function> absente de <dll> pour <importer>\")\n"
    "  -d, --delay-load    resolve the DLLs of the delay-load tables as imports\n"
    "  -a, --assemblies    resolve the references of .NET assemblies as the runtime\n"
    "                      probes for them (the program's folder, then the global\n"
    "                      assembly cache); with -d also their P/Invoke DLLs\n"
    "  -u, --unique        short lines without the importer, each line once\n"
    "  -R, --recurse       a FOLDER stands for the PE files of its subfolders too:\n"
    "                      a folder's own files first, then each subfolder's, in\n"
    "                      the same order, depth first; links followed, each\n"
    "                      folder once\n"
    "      --missing       only the problems (DLLs not found, functions missing, files\n"
    "                      not readable or not executables), each once\n"
    "      --dll-path DIRS folders searched for DLLs after the program's folder\n"
    "                      (replaces TAVELIN_DLL_PATH and the default folders;\n"
    "                      separated by '%c')\n"
    "      --add-dll-path DIRS  folders searched after the program's folder and\n"
    "                      before the system's, keeping the default folders\n"
    "      --windows DIR   the Windows folder to check against (a mounted Windows,\n"
    "                      or a Wine prefix's drive_c/windows): its System32,\n"
    "                      SysWOW64, side-by-side store and KnownDLLs\n"
    "      --dotnet DIR    with -a, the dotnet folder (holding shared/) that .NET 5+\n"
    "                      programs' frameworks are chosen from; by default the\n"
    "                      Windows folder's drive's Program Files\\dotnet\n"
    "      --ignore PAT    leave out the problems about DLLs whose name matches the\n"
    "                      shell pattern PAT (*, ?, [a-z]; ignoring case): missing,\n"
    "                      a function of it missing, another machine, an assembly;\n"
    "                      they no longer count in the exit status (repeatable)\n"
    "      --ignore-file FILE  the same, one pattern a line, # for comments\n"
    "      --format FMT    text (the report, default), csv or json (the rows)\n"
    "\n"
    "  Shipping (each follows the whole import closure):\n"
    "      --ship          the DLLs to put beside the programs, one full path a line\n"
    "                      (with --format json, objects): those of the program's\n"
    "                      folder, the user's folders and the toolchain, never the\n"
    "                      system's or Wine's; problems and redistributables to\n"
    "                      install on standard error; status 1 when a DLL is found\n"
    "                      nowhere or a debug runtime is imported\n"
    "      --copy-to DIR   copy that set into DIR (created when missing): each file\n"
    "                      whole, the same bytes left alone, nothing at all when\n"
    "                      the set is incomplete\n"
    "      --tree          each file's closure as a tree, with versions and folders\n"
    "      --why NAME      the chains of imports that lead to the DLL NAME, shortest\n"
    "                      first; status 1 when no file needs it\n"
    "\n"
    "  Release checks (of the listed files and their ship set):\n"
    "      --signatures    each file's Authenticode signatures: signer, issuer,\n"
    "                      digest, timestamp, nested ones, changed after signing;\n"
    "                      read offline, trust not decided (no root store)\n"
    "      --require-signed  status 1 for each file unsigned, changed after\n"
    "                      signing or whose signature does not check out; --ignore\n"
    "                      patterns exempt files by name\n"
    "      --hardening     ASLR, HIGH_ENTROPY_VA, DEP, CFG, SafeSEH of each file,\n"
    "                      and Visual C++ runtimes out of Microsoft's support\n"
    "      --format cyclonedx  a CycloneDX 1.6 SBOM: a component per file with\n"
    "                      its SHA-256, the import graph, what must be installed\n"
    "      --diff OLD.json compare with a report written by --format json: DLLs\n"
    "                      added and removed, versions, origins, folders, problems;\n"
    "                      status 1 for a new problem or a version gone down\n"
    "\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Exit status: 0 when no error row was produced, 1 when at least one was\n"
    "(a DLL not found, a function missing, a file not readable or not an executable)\n"
    "or when a FOLDER holds no PE file, 2 on a usage error, 3 when the output could\n"
    "not be written (a full disk, a closed pipe).\n";

enum class Format { Text, Csv, Json, Cyclonedx };

const char* formatName(Format f) {
    switch (f) {
        case Format::Text: return "text";
        case Format::Csv: return "csv";
        case Format::Json: return "json";
        case Format::Cyclonedx: return "cyclonedx";
    }
    return "";
}

struct Options {
    RunOptions run;  // what the analysis reads, checks and where it searches
    bool dllPathGiven = false;
    analysis::IgnoreList ignore;
    bool unique = false;
    bool missing = false;
    Format format = Format::Text;
    bool formatGiven = false;
    bool ship = false, tree = false;
    bool recurse = false;  // a folder stands for its subfolders' PE files too
    std::string copyTo, why;  // empty when not asked
    cli::ReleaseOptions release;
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
    {'a', "--assemblies", [](Options& o) -> bool& { return o.run.assemblies; }},
    {'u', "--unique", [](Options& o) -> bool& { return o.unique; }},
    {'R', "--recurse", [](Options& o) -> bool& { return o.recurse; }},
    {0, "--missing", [](Options& o) -> bool& { return o.missing; }},
    {0, "--ship", [](Options& o) -> bool& { return o.ship; }},
    {0, "--tree", [](Options& o) -> bool& { return o.tree; }},
    {0, "--signatures", [](Options& o) -> bool& { return o.release.signatures; }},
    {0, "--require-signed", [](Options& o) -> bool& { return o.release.requireSigned; }},
    {0, "--hardening", [](Options& o) -> bool& { return o.release.hardening; }},
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
        // An option where the value is expected is a slip, not a value
        // ("--why -d ntdll.dll"); "--name=-x" gives such a value.
        if (args[i + 1].size() > 1 && args[i + 1][0] == '-')
            throw UsageError{name + " needs " + needs + ", not the option '" + args[i + 1] + "'"};
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

// The answers that follow the closure instead of giving the rows.
std::vector<std::string> graphAnswers(const Options& o) {
    std::vector<std::string> asked;
    if (!o.copyTo.empty()) asked.push_back("--copy-to");
    else if (o.ship) asked.push_back("--ship");
    if (o.tree) asked.push_back("--tree");
    if (!o.why.empty()) asked.push_back("--why");
    return asked;
}

cli::OtherOptions otherOptions(const Options& o) {
    return {o.ship, o.copyTo, o.tree, !o.why.empty(), o.unique, o.missing, formatName(o.format),
            {o.run.delayLoad, o.run.assemblies}};
}

// What cannot be asked together, in one line.
std::string contradiction(const Options& o) {
    if (std::string why = cli::releaseContradiction(o.release, otherOptions(o)); !why.empty()) return why;
    if (const std::vector<std::string> asked = graphAnswers(o); !asked.empty()) {
        const std::string& a = asked[0];
        if (asked.size() > 1) return a + " and " + asked[1] + " are different answers; ask one at a time";
        if (o.unique) return a + " prints no report lines for --unique to shorten";
        if (o.missing) return a + " prints its problems on standard error; --missing is for the report";
        if ((o.tree || !o.why.empty()) && o.format != Format::Text)
            return a + " draws text; --format " + formatName(o.format) + " gives rows";
        if (!o.copyTo.empty() && o.format != Format::Text)
            return std::string("--copy-to prints what it copied; --format ") + formatName(o.format) +
                   " is for --ship alone";
        if (o.format == Format::Csv) return "--ship gives paths (text) or objects (json), not csv";
    }
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
            if (!platform::folderExists(platform::absolutePath(value)))
                throw UsageError{"--windows: '" + value + "' does not exist (a Windows folder, or a Wine prefix's "
                                 "drive_c/windows)"};
            if (!platform::isWindowsFolder(value))
                throw UsageError{"--windows: '" + value + "' holds no System32 folder (a Windows folder, or a Wine "
                                 "prefix's drive_c/windows)"};
            o.run.search.windowsFolder = value;
        } else if (optionValue(args, i, "--dotnet", "a folder", value)) {
            if (!platform::folderExists(platform::absolutePath(value)))
                throw UsageError{"--dotnet: '" + value + "' does not exist (a dotnet folder, holding shared/)"};
            o.run.dotnetFolder = platform::absolutePath(value);
        } else if (optionValue(args, i, "--dll-path", "a list of folders", value)) {
            o.run.search.folders = platform::splitList(value, platform::pathListSeparator());
            o.dllPathGiven = true;
        } else if (optionValue(args, i, "--add-dll-path", "a list of folders", value)) {
            for (std::string& f : platform::splitList(value, platform::pathListSeparator()))
                o.run.search.addedFolders.push_back(std::move(f));
        } else if (optionValue(args, i, "--ignore", "a pattern", value)) {
            std::string why;
            if (!o.ignore.add(value, why)) throw UsageError{why};
        } else if (optionValue(args, i, "--ignore-file", "a file", value)) {
            std::string why;
            if (!o.ignore.addFile(value, why)) throw UsageError{why};
        } else if (optionValue(args, i, "--copy-to", "a folder", value)) {
            if (value.empty()) throw UsageError{"--copy-to needs a folder"};
            if (!o.copyTo.empty() && o.copyTo != value)
                throw UsageError{"--copy-to given twice (" + o.copyTo + ", then " + value + ")"};
            if (platform::pathExists(value) && !platform::folderExists(value))
                throw UsageError{"--copy-to: '" + value + "' is a file, not a folder"};
            o.copyTo = value;
        } else if (optionValue(args, i, "--why", "a DLL name", value)) {
            if (value.empty()) throw UsageError{"--why needs a DLL name"};
            if (!o.why.empty() && o.why != value)
                throw UsageError{"--why given twice (" + o.why + ", then " + value + ")"};
            o.why = value;
        } else if (optionValue(args, i, "--diff", "a report written by --format json", value)) {
            if (value.empty()) throw UsageError{"--diff needs a report written by --format json"};
            o.release.diff = value;
        } else if (optionValue(args, i, "--format", "text, csv or json", value)) {
            Format f;
            if (value == "text") f = Format::Text;
            else if (value == "csv") f = Format::Csv;
            else if (value == "json") f = Format::Json;
            else if (value == "cyclonedx") f = Format::Cyclonedx;
            else throw UsageError{"unknown format '" + value + "' (text, csv, json or cyclonedx)"};
            if (o.formatGiven && f != o.format)
                throw UsageError{std::string("--format given twice (") + formatName(o.format) + ", then " +
                                 formatName(f) + ")"};
            o.format = f;
            o.formatGiven = true;
            o.release.cyclonedx = f == Format::Cyclonedx;
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

// --missing: the error rows, the first of those whose lines are equal
// ignoring case.
std::vector<analysis::Row> problemRows(const std::vector<analysis::Row>& rows) {
    std::vector<analysis::Row> out;
    analysis::UniqueLines seen;
    for (const analysis::Row& r : rows)
        if (r.kind == analysis::RowKind::Error && seen.add(r.cells[analysis::kPath])) out.push_back(r);
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


// The listed files, as the window's list holds them; a folder gives its PE
// files, as a folder dropped on the window does (and, with -R, those of its
// subfolders). A folder that gives none, or an argument list that gives no
// file at all, is a problem: a mistyped or empty output folder must fail a
// job, not pass it.
struct Listed {
    std::vector<std::string> files;
    std::string err;  // the problems, whole lines
};

Listed listedFiles(const std::vector<std::string>& args, bool recurse) {
    Listed l;
    std::vector<std::string> paths;
    for (const std::string& a : args) paths.push_back(platform::absolutePath(a));
    const std::vector<bool> folders = platform::foldersAmong(paths);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const std::string& path = paths[i];
        if (!folders[i]) {
            // "name/" names a folder: kept as given, so a file there reads as
            // not a folder rather than as the file.
#ifdef _WIN32
            const bool folderMeant = !a.empty() && (a.back() == '/' || a.back() == '\\');
#else
            const bool folderMeant = !a.empty() && a.back() == '/';
#endif
            l.files.push_back(platform::listPath(path) + (folderMeant && path.size() > 1 ? a.substr(a.size() - 1) : ""));
            continue;
        }
        const platform::FolderFiles found = platform::peFilesOf(path, recurse);
        for (const std::string& u : found.unreadable) l.err += "tavelin-report: cannot list the folder " + u + "\n";
        if (found.files.empty())
            l.err += "tavelin-report: " + a + ": no PE file (" + platform::peExtensionList() + ")" +
                     (recurse ? "" : " in this folder; -R takes its subfolders too") + "\n";
        for (const std::string& f : found.files) l.files.push_back(platform::listPath(f));
    }
    if (l.files.empty() && l.err.empty()) l.err = "tavelin-report: no file to inspect\n";
    return l;
}

// Writes `text` whole to `stream` and flushes it; false, with errno, when
// the system refuses (a full disk, a closed pipe): a job must not pass on
// an output it never got.
bool emit(std::FILE* stream, const std::string& text) {
    errno = 0;
    const bool written = text.empty() || std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written && !std::ferror(stream);
}

// Exit status when the output could not be written.
constexpr int kOutputFailed = 3;

// Writes the answer and ends the process with `status` (kOutputFailed when
// a write fails). The run's reads go with the process, not one by one.
[[noreturn]] void finish(const std::string& out, const std::string& err, int status) {
    if (!emit(stdout, out)) {
        const int error = errno;
        emit(stderr, err);
        std::fprintf(stderr, "tavelin-report: cannot write the output: %s\n",
                     error ? std::strerror(error) : "the stream refused it");
        std::fflush(stderr);
        std::_Exit(kOutputFailed);
    }
    if (!emit(stderr, err)) std::_Exit(kOutputFailed);
    std::_Exit(status);
}

// One line per shared framework that .NET 5+ programs need when no dotnet
// folder was there to choose it from: what the target must install.
std::string frameworkHints(const std::vector<Closure>& closures) {
    std::vector<std::pair<std::string, std::vector<std::string>>> needed;
    for (const Closure& c : closures) {
        if (c.frameworksChecked) continue;
        for (const std::string& f : c.frameworks) {
            auto at = std::find_if(needed.begin(), needed.end(), [&](const auto& n) { return n.first == f; });
            if (at == needed.end()) at = needed.insert(needed.end(), {f, {}});
            const std::string who = platform::listedNamePart(c.listed);
            if (std::find(at->second.begin(), at->second.end(), who) == at->second.end()) at->second.push_back(who);
        }
    }
    std::string out;
    for (const auto& [framework, programs] : needed) {
        out += "tavelin-report: " + framework + " needed by";
        for (const std::string& p : programs) out += " " + p;
        out += ": no dotnet folder to check it against (give --dotnet DIR, or --windows DIR whose drive has Program "
               "Files/dotnet)\n";
    }
    return out;
}

// One line per machine whose programs have no system folder left to search,
// which would make every system DLL of theirs read as missing.
std::string systemHints(const std::vector<Closure>& closures, AnalysisRun& run) {
    std::string out;
    std::vector<std::uint16_t> told;
    // Only where a DLL every Windows has reads as missing: the hint is about
    // the system folder, not about the user's own DLLs.
    const auto systemDll = [](std::string name) {
        name = platform::toLower(name);
        const std::vector<std::string>& known = platform::windowsKnownDlls();
        return name == "ntdll.dll" || name.starts_with("api-ms-win-") || name.starts_with("ext-ms-") ||
               std::binary_search(known.begin(), known.end(), name);
    };
    const auto missesDll = [&](const Closure& c) {
        return std::any_of(c.findings.begin(), c.findings.end(), [&](const Finding& f) {
            return (f.problem == Problem::MissingDll || f.problem == Problem::WrongMachine) && systemDll(f.dll);
        });
    };
    for (const Closure& c : closures) {
        const std::uint16_t m = c.runsAs;
        if (m == 0 || !missesDll(c) || std::find(told.begin(), told.end(), m) != told.end()) continue;
        told.push_back(m);
        const platform::SearchPlaces::Machine& places = run.places().forMachine(m);
        const std::string which = cli::machineKey(m);
        std::string why;
        // A Windows folder without this machine's DLLs (a 64-bit-only
        // prefix's empty SysWOW64) is no system folder either.
        std::string kernel32;
        if (!places.builtin && !places.systemFolder.empty() &&
            !run.places().findFile(places.systemFolder, "kernel32.dll", kernel32))
            why = places.systemFolder + " holds no kernel32.dll";
        else if (!places.system.empty())
            continue;
        else if (run.places().defaultsKept())
            why = "no Windows folder, and Wine's " + which + " DLLs are not installed";
        else
            why = "--dll-path replaces the default folders, and no --windows is given";
        out += "tavelin-report: no system folder for " + which + " programs (" + why +
               "): their system DLLs read as missing; give --windows DIR (a Windows folder, or a Wine prefix's "
               "drive_c/windows, with " + which + " DLLs)" +
               (m == platform::kMachineI386 && run.places().defaultsKept() ? " or install Wine's 32-bit DLLs" : "") +
               "\n";
    }
    return out;
}

// Once per file that cannot be opened: why.
std::string openFailures(const std::vector<analysis::Row>& rows) {
    std::string out;
    std::vector<std::string> told;
    for (const analysis::Row& r : rows) {
        // Names that differ in case only are one line, as in the report.
        if (r.reason == platform::OpenFailure::None ||
            std::any_of(told.begin(), told.end(), [&](const std::string& t) { return platform::equalsIgnoringCase(t, r.dll); }))
            continue;
        told.push_back(r.dll);
        const std::string& line = r.cells[analysis::kPath];
        out += "tavelin-report: " + line.substr(0, line.rfind(" non ouvrable")) + ": " +
               platform::openFailureText(r.reason) + "\n";
    }
    return out;
}

// Folders of the search that do not exist are named; the run goes on.
void warnMissingFolders(const Options& o) {
    const auto check = [](const std::vector<std::string>& folders, const char* from) {
        for (const std::string& f : folders)
            if (!platform::folderExists(platform::absolutePath(f)))
                std::fprintf(stderr, "tavelin-report: warning: %s: no folder %s\n", from, f.c_str());
    };
    if (o.run.search.folders) check(*o.run.search.folders, o.dllPathGiven ? "--dll-path" : "TAVELIN_DLL_PATH");
    check(o.run.search.addedFolders, "--add-dll-path");
}

}  // namespace

int main(int argc, char** argv) {
    platform::useUtf8Console();
    Options o;
    try {
        switch (parse(platform::commandLineArguments(argc, argv), o)) {
            case Action::Help:
                std::printf(kUsage, platform::pathListSeparator(), platform::pathListSeparator());
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
        std::fprintf(stderr, kUsage, platform::pathListSeparator(), platform::pathListSeparator());
        return 2;
    }
    warnMissingFolders(o);
    const Listed listed = listedFiles(o.files, o.recurse);
    const std::vector<std::string>& files = listed.files;

    // Release checks: signatures, hardening, the SBOM, what changed.
    if (o.release.asked()) {
        if (cli::releaseFollowsClosure(o.release, otherOptions(o))) o.run.recursive = true;
        AnalysisRun run(o.run);
        const cli::ReleaseCall call{files, &o.ignore, o.release, otherOptions(o),
                                    [&](const std::vector<analysis::Row>& rows) {
                                        return text(o.missing ? problemRows(rows) : rows, o);
                                    },
                                    TAVELIN_FILE_VERSION};
        const cli::Answer a = cli::releaseAnswer(call, run);
        finish(a.out, listed.err + a.err, listed.err.empty() || a.status > 1 ? a.status : 1);
    }

    if (!graphAnswers(o).empty()) {
        o.run.recursive = true;
        AnalysisRun run(o.run);
        const std::vector<Closure> closures = analysis::analyseFiles(files, run, {}, false).closures;
        cli::Answer a;
        if (o.tree) a = cli::treeAnswer(closures, run, o.ignore);
        else if (!o.why.empty()) a = cli::whyAnswer(closures, run, o.ignore, o.why);
        else a = cli::shipAnswer(closures, files, run, o.ignore, o.format == Format::Json, o.copyTo);
        finish(a.out, listed.err + systemHints(closures, run) + (o.tree || !o.why.empty() ? frameworkHints(closures) : "") + a.err, listed.err.empty() ? a.status : 1);
    }

    AnalysisRun run(o.run);
    analysis::Analysis analysis = analysis::analyseFiles(files, run);
    std::vector<analysis::Row> all = std::move(analysis.rows);  // the closures stay
    if (!o.ignore.empty())
        all.erase(std::remove_if(all.begin(), all.end(), [&](const analysis::Row& r) { return o.ignore.ignores(r); }),
                  all.end());
    std::vector<analysis::Row> problems;
    if (o.missing) problems = problemRows(all);
    const std::vector<analysis::Row>& rows = o.missing ? problems : all;
    std::string out;
    switch (o.format) {
        case Format::Text: out = text(rows, o); break;
        case Format::Csv: out = cli::csv(rows, {o.run.delayLoad, o.run.assemblies}); break;
        case Format::Json: out = cli::json(rows, {o.run.delayLoad, o.run.assemblies}); break;
        case Format::Cyclonedx: break;  // a release answer
    }
    finish(out, listed.err + systemHints(analysis.closures, run) + frameworkHints(analysis.closures) + openFailures(all),
           analysis::hasErrors(all) || !listed.err.empty() ? 1 : 0);
}
