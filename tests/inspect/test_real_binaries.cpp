// The readers on binaries no one here wrote (Wine's PE DLLs, the MinGW-w64
// runtime DLLs), compared with independent readers: objdump for the import
// tables, python3-pefile for the FileVersion strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include <unistd.h>

#include "inspect/analysis.h"
#include "inspect/fileversion.h"
#include "inspect/uimports.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/testutil.h"

using testutil::capture;
using testutil::haveCommand;

namespace {

std::vector<std::string> samples() {
    std::vector<std::string> files;
    std::error_code ec;
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/x86_64-linux-gnu/wine/i386-windows"})
        for (const auto& e : std::filesystem::directory_iterator(dir, ec))
            if (e.is_regular_file()) files.push_back(e.path().string());
    for (const char* dir : {"/usr/x86_64-w64-mingw32/lib", "/usr/i686-w64-mingw32/lib",
                            "/usr/lib/gcc/x86_64-w64-mingw32", "/usr/lib/gcc/i686-w64-mingw32"})
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
            if (e.is_regular_file() && e.path().extension() == ".dll") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Import names as objdump reads them, for every file of one objdump run.
std::map<std::string, std::set<std::string>> objdumpImports(const std::vector<std::string>& files, const std::string& tool) {
    std::map<std::string, std::set<std::string>> out;
    for (std::size_t i = 0; i < files.size(); i += 100) {
        std::string cmd = tool + " -p";
        for (std::size_t j = i; j < std::min(files.size(), i + 100); ++j) cmd += " '" + files[j] + "'";
        const std::string text = capture(cmd + " 2>/dev/null");
        std::string current;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            const std::size_t colon = line.find(":     file format");
            if (colon != std::string::npos) {
                current = line.substr(0, colon);
                out[current];
            } else if (const std::size_t at = line.find("DLL Name: "); at != std::string::npos) {
                out[current].insert(platform::toLower(line.substr(at + 10)));
            }
        }
    }
    return out;
}

}  // namespace

TEST(RealBinaries, ImportNamesAgreeWithObjdump) {
    const std::vector<std::string> files = samples();
    if (files.empty() || !haveCommand("x86_64-w64-mingw32-objdump")) GTEST_SKIP() << "no samples or no objdump";
    const auto reference = objdumpImports(files, "x86_64-w64-mingw32-objdump");
    std::size_t compared = 0;
    for (const std::string& f : files) {
        const auto it = reference.find(f);
        if (it == reference.end()) continue;  // not a PE image for objdump either
        // Every DLL name becomes a found path or an "invisible pour" line.
        const testutil::Flat r = testutil::inspect(f, testutil::only({platform::directoryPart(f)}));
        ASSERT_TRUE(r.done) << f;
        std::set<std::string> ours;
        for (const std::string& p : r.found) ours.insert(platform::toLower(platform::fileNamePart(p)));
        for (const std::string& e : r.errors) ours.insert(platform::toLower(e.substr(0, e.find(" invisible pour "))));
        EXPECT_EQ(ours, it->second) << f;
        ++compared;
    }
    EXPECT_GT(compared, files.size() / 2);
}

TEST(RealBinaries, FileVersionsAgreeWithPefile) {
    const std::vector<std::string> files = samples();
    if (files.empty() || capture("/usr/bin/python3 -c 'import pefile' 2>&1").size() > 0) GTEST_SKIP() << "no pefile";
    // pefile's first string table; the files here hold one translation each.
    std::string script =
        "import pefile,sys\n"
        "for f in sys.argv[1:]:\n"
        "  v='V: ?\?\?'\n"
        "  try:\n"
        "    pe=pefile.PE(f,fast_load=True)\n"
        "    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])\n"
        "    for info in getattr(pe,'FileInfo',[]) or []:\n"
        "      for e in info:\n"
        "        for t in getattr(e,'StringTable',[]):\n"
        "          x=t.entries.get(b'FileVersion')\n"
        "          if x is not None and v=='V: ?\?\?': v=x.decode('utf-8','replace')\n"
        "  except Exception: pass\n"
        "  print(f+'\\t'+v)\n";
    // A folder of this run's own: another user's or run's script is never run.
    testutil::TempDir dir;
    const std::string scriptFile = dir.file("pefile-versions.py");
    std::FILE* s = std::fopen(scriptFile.c_str(), "w");
    ASSERT_NE(s, nullptr);
    std::fputs(script.c_str(), s);
    std::fclose(s);
    std::string cmd = "/usr/bin/python3 '" + scriptFile + "'";
    for (const std::string& f : files) cmd += " '" + f + "'";
    const std::string text = capture(cmd);
    std::size_t compared = 0, withVersion = 0, pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string file = line.substr(0, tab), version = line.substr(tab + 1);
        EXPECT_EQ(FileVersionString(file), version) << file;
        ++compared;
        withVersion += version != "V: ???";
    }
    EXPECT_EQ(compared, files.size());
    EXPECT_GT(withVersion, compared / 4);
}

// Programs built here by MinGW-w64 for both machines: each one's closure
// comes from its own machine's folders, whatever order the folders are in.
TEST(RealBinaries, MingwProgramsOfBothMachinesFindTheirOwnRuntime) {
    const std::string dir = "/tmp/tavelin-mingw-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string source = dir + "/hello.cpp";
    std::FILE* f = std::fopen(source.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("#include <iostream>\n#include <string>\nint main() { std::string s = \"bonjour\"; std::cout << s << std::endl; }\n", f);
    std::fclose(f);
    struct Program {
        std::string compiler, exe;
        std::uint16_t machine;
    };
    const std::vector<Program> programs = {{"i686-w64-mingw32-g++", dir + "/hello32.exe", platform::kMachineI386},
                                           {"x86_64-w64-mingw32-g++", dir + "/hello64.exe", platform::kMachineAmd64}};
    for (const Program& p : programs) {
        if (!haveCommand(p.compiler)) GTEST_SKIP() << "no " << p.compiler;
        capture(p.compiler + " -O1 -o '" + p.exe + "' '" + source + "' 2>&1");
        ASSERT_EQ(platform::imageMachine(p.exe), p.machine) << p.exe;
    }
    std::vector<std::string> x86, x64;
    for (const std::string& d : platform::systemDllFolders(platform::kMachineI386)) x86.push_back(d);
    for (const std::string& d : platform::systemDllFolders(platform::kMachineAmd64)) x64.push_back(d);
    std::vector<std::string> first32 = x86, first64 = x64;
    first32.insert(first32.end(), x64.begin(), x64.end());
    first64.insert(first64.end(), x86.begin(), x86.end());
    for (const auto* order : {&first32, &first64, static_cast<std::vector<std::string>*>(nullptr)}) {
        RunOptions options = order ? testutil::only(*order) : RunOptions{};
        options.recursive = true;
        const std::vector<analysis::Row> rows = analysis::analyse({programs[0].exe, programs[1].exe}, options);
        std::size_t imports[2] = {0, 0};
        for (const analysis::Row& r : rows) {
            if (r.kind != analysis::RowKind::Import) continue;
            const int which = r.cells[analysis::kImporter] == "hello32.exe" ? 0 : 1;
            EXPECT_EQ(r.machine, programs[which].machine) << r.cells[analysis::kFile] << " " << r.cells[analysis::kPath];
            ++imports[which];
        }
        // libstdc++, libgcc, and from Wine at least kernel32 and msvcrt.
        EXPECT_GE(imports[0], 2u);
        EXPECT_GE(imports[1], 2u);
    }
    std::filesystem::remove_all(dir);
}

// The function check on Wine's own DLLs, against python3-pefile's imports
// and exports (forwarders counted present): as shipped, and with a few DLLs
// replaced by others of fewer or other functions (msvcrt by the older
// msvcr70, shlwapi by shcore, ntdll by kernelbase), as an older DLL found
// first would be.
TEST(RealBinaries, MissingFunctionsAgreeWithPefile) {
    if (capture("/usr/bin/python3 -c 'import pefile' 2>&1").size() > 0) GTEST_SKIP() << "no pefile";
    const std::string scratch = "/tmp/tavelin-functions-" + std::to_string(getpid());
    std::size_t folders = 0;
    for (const char* wine : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"}) {
        std::error_code ec;
        if (!std::filesystem::is_directory(wine, ec)) continue;
        for (bool replaced : {false, true}) {
            const std::string folder = scratch + "/" + std::to_string(folders++);
            std::filesystem::create_directories(folder);
            for (const auto& e : std::filesystem::directory_iterator(wine, ec))
                if (e.is_regular_file()) std::filesystem::create_symlink(e.path(), folder + "/" + e.path().filename().string());
            if (replaced)
                for (const auto& [name, by] : {std::pair{"msvcrt", "msvcr70"}, {"shlwapi", "shcore"}, {"ntdll", "kernelbase"}}) {
                    std::filesystem::remove(folder + "/" + name + ".dll");
                    std::filesystem::create_symlink(std::string(wine) + "/" + by + ".dll", folder + "/" + name + ".dll");
                }
            std::vector<std::string> files;
            for (const auto& e : std::filesystem::directory_iterator(folder, ec)) files.push_back(e.path().string());
            std::sort(files.begin(), files.end());

            std::string ours;
            std::size_t forwards = 0;
            AnalysisRun run(testutil::only({}, false, true));
            for (const std::string& f : files) {
                const testutil::Flat r = testutil::flatten(analysis::inspect(f, run));
                for (std::size_t i = 0; i < r.errors.size(); ++i) {
                    if (r.problems[i] != Problem::MissingFunction) continue;
                    // pefile stops at the forwarder; we follow it.
                    if (r.errors[i].find(" (renvoi vers ") != std::string::npos) ++forwards;
                    else ours += r.errors[i] + "\n";
                }
            }
            const std::string reference = capture("/usr/bin/python3 '" PEFILE_FUNCTIONS_PY "' '" + folder + "'");
            EXPECT_EQ(ours, reference) << folder;
            if (replaced) {
                EXPECT_GT(std::count(reference.begin(), reference.end(), '\n'), 100) << folder;
                EXPECT_GT(forwards, 0u);  // kernel32 forwards to ntdll
            } else {
                EXPECT_EQ(forwards, 0u) << folder;  // Wine's own forwarders all lead somewhere
            }
        }
    }
    std::filesystem::remove_all(scratch);
    if (folders == 0) GTEST_SKIP() << "no Wine";
}

// Programs built with each thread model of MinGW-w64 for each machine: the
// closure comes whole from one variant (std::thread is only in the posix
// libstdc++, which needs libwinpthread; a plain program takes the first
// variant that serves it), with or without the closure, never a mix.
TEST(RealBinaries, MingwProgramsGetTheirOwnThreadModelsRuntime) {
    const std::string dir = "/tmp/tavelin-variants-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    for (const auto& [name, text] :
         {std::pair{"thread", "#include <thread>\n#include <iostream>\n"
                              "int main() { std::thread t([] { std::cout << 1 << std::endl; }); t.join(); }\n"},
          std::pair{"plain", "#include <iostream>\nint main() { std::cout << 1 << std::endl; }\n"}}) {
        std::FILE* f = std::fopen((dir + "/" + name + ".cpp").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
    }
    std::size_t built = 0;
    for (const std::string triplet : {"x86_64-w64-mingw32", "i686-w64-mingw32"})
        for (const std::string model : {"posix", "win32"})
            for (const std::string source : {"thread", "plain"}) {
                if (source == "thread" && model == "win32") continue;  // no std::thread there
                const std::string compiler = triplet + "-g++-" + model;
                if (!haveCommand(compiler)) continue;
                const std::string exe = dir + "/" + source + "-" + model + "-" + triplet + ".exe";
                capture(compiler + " -O1 -o '" + exe + "' '" + dir + "/" + source + ".cpp' 2>&1");
                ++built;
                for (bool recursive : {false, true}) {
                    RunOptions options;
                    options.recursive = recursive;
                    options.functions = true;
                    std::set<std::string> variants;
                    for (const analysis::Row& r : analysis::analyse({exe}, options)) {
                        EXPECT_NE(r.kind, analysis::RowKind::Error) << exe << ": " << r.cells[analysis::kPath];
                        if (r.origin() == loader::Origin::Toolchain && r.cells[analysis::kPath].find("/usr/lib/gcc/") == 0)
                            variants.insert(r.cells[analysis::kPath]);
                    }
                    EXPECT_EQ(variants.size(), 1u) << exe;
                    if (!variants.empty() && source == "thread") {
                        EXPECT_NE(variants.begin()->find("-posix"), std::string::npos) << exe;
                    }
                }
            }
    std::filesystem::remove_all(dir);
    if (built == 0) GTEST_SKIP() << "no MinGW-w64 compilers";
}
