// The DLL the loader really takes: the program's folder for the whole
// closure, KnownDLLs from the system folder, a Windows folder standing for
// the system, a found file the loader cannot map, and why each was taken.
#include <gtest/gtest.h>

#include <filesystem>

#include "inspect/analysis.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using loader::Origin;

namespace {

class Loader : public ::testing::Test {
protected:
    std::string write(const std::string& folder, const std::string& name, std::uint16_t machine,
                      std::vector<std::string> imports = {}) {
        pew::Image img;
        img.machine = machine;
        img.pe32plus = machine != platform::kMachineI386;
        img.imports = std::move(imports);
        img.importFunctions.resize(img.imports.size());
        const std::string path = platform::joinPath(folder, name);
        pew::writeFile(path, pew::build(img));
        return platform::listPath(path);
    }
    // A Windows folder: System32 (x64) and SysWOW64 (x86) each with
    // kernel32.dll and `extra`, and an empty WinSxS.
    std::string windowsTree(const std::vector<std::string>& extra = {}) {
        const std::string win = dir.mkdir("Windows");
        for (const auto& [sub, machine] : {std::pair{"System32", platform::kMachineAmd64},
                                           std::pair{"SysWOW64", platform::kMachineI386}}) {
            const std::string folder = dir.mkdir(std::string("Windows/") + sub);
            write(folder, "kernel32.dll", machine);
            for (const std::string& e : extra) write(folder, e, machine);
        }
        dir.mkdir("Windows/WinSxS");
        return win;
    }
    static std::vector<Origin> origins(const std::vector<analysis::Row>& rows) {
        std::vector<Origin> out;
        for (const analysis::Row& r : rows)
            if (r.kind == analysis::RowKind::Import) out.push_back(r.origin());
        return out;
    }
    testutil::TempDir dir;
};

}  // namespace

// A DLL found in a user folder that imports libb.dll gets the program
// folder's libb.dll, not the one beside it.
TEST_F(Loader, TheProgramsFolderServesTheWholeClosure) {
    const std::string app = dir.mkdir("app"), mine = dir.mkdir("mine");
    using platform::kMachineAmd64;
    const std::string exe = write(app, "prog.exe", kMachineAmd64, {"liba.dll"});
    const std::string liba = write(mine, "liba.dll", kMachineAmd64, {"libb.dll"});
    const std::string appB = write(app, "libb.dll", kMachineAmd64);
    write(mine, "libb.dll", kMachineAmd64);
    RunOptions options = testutil::only({}, true);
    options.search.userFolders = {mine};
    options.search.folders.reset();
    options.search.windowsFolder = windowsTree();
    const testutil::Flat r = testutil::inspect(exe, options);
    EXPECT_EQ(r.found, (std::vector<std::string>{liba, appB}));
    EXPECT_TRUE(r.errors.empty());
    const auto rows = analysis::analyse({exe}, options);
    EXPECT_EQ(origins(rows), (std::vector<Origin>{Origin::User, Origin::App}));

    // A listed DLL is its own program: its imports come from its own folder.
    EXPECT_EQ(testutil::inspect(liba, options).found, (std::vector<std::string>{platform::listPath(platform::joinPath(mine, "libb.dll"))}));
}

// KnownDLLs come from the system folder of the importer's machine, whatever
// copy sits beside the program; without any system folder they are searched
// like any name.
TEST_F(Loader, KnownDllsComeFromTheSystemFolderOfTheImportersMachine) {
    const std::string win = windowsTree({"shlwapi.dll"});
    const std::string app = dir.mkdir("app");
    const std::string exe64 = write(app, "prog64.exe", platform::kMachineAmd64, {"KERNEL32.dll", "shlwapi.dll", "tvlown.dll"});
    const std::string exe32 = write(app, "prog32.exe", platform::kMachineI386, {"kernel32.dll"});
    write(app, "kernel32.dll", platform::kMachineAmd64);  // an app-local copy the loader ignores
    const std::string own = write(app, "tvlown.dll", platform::kMachineAmd64);
    RunOptions options = testutil::only({});
    options.search.windowsFolder = win;
    const auto rows = analysis::analyse({exe64, exe32}, options);
    ASSERT_EQ(rows.size(), 2u + 3 + 1);
    EXPECT_EQ(rows[2].cells[analysis::kPath], platform::listPath(platform::joinPath(win, "System32")));
    EXPECT_EQ(rows[3].cells[analysis::kPath], platform::listPath(platform::joinPath(win, "System32")));
    EXPECT_EQ(rows[4].cells[analysis::kPath], platform::listPath(app));
    EXPECT_EQ(rows[5].cells[analysis::kPath], platform::listPath(platform::joinPath(win, "SysWOW64")));
    EXPECT_EQ(origins(rows), (std::vector<Origin>{Origin::Known, Origin::Known, Origin::App, Origin::Known}));

#ifndef _WIN32
    // No system folder at all (Windows always has its own): the program's copy.
    const testutil::Flat plain = testutil::inspect(exe64, testutil::only({}));
    EXPECT_EQ(plain.found[0], platform::listPath(platform::joinPath(app, "kernel32.dll")));
    EXPECT_EQ(plain.errors, std::vector<std::string>{"shlwapi.dll invisible pour " + exe64});
#endif
    (void)own;
}

// The Windows folder's System32 and SysWOW64 stand for the system folders
// per machine; a SysWOW64 without kernel32.dll (a 64-bit-only Wine prefix)
// leaves 32-bit programs Wine's own folder.
TEST_F(Loader, AWindowsFolderStandsForTheSystem) {
    const std::string win = windowsTree({"tvlsys.dll"});
    const std::string app = dir.mkdir("app");
    const std::string exe = write(app, "prog.exe", platform::kMachineI386, {"tvlsys.dll"});
    RunOptions options;
    options.search.windowsFolder = win;
    EXPECT_EQ(testutil::inspect(exe, options).found, std::vector<std::string>{platform::listPath(platform::joinPath(platform::joinPath(win, "SysWOW64"), "tvlsys.dll"))});

    platform::SearchPlaces search(options.search);
    EXPECT_EQ(search.windowsFolder(), win);
    EXPECT_EQ(search.forMachine(platform::kMachineAmd64).systemFolder, platform::joinPath(win, "System32"));
#ifndef _WIN32
    std::filesystem::remove(testutil::u8(win + "/SysWOW64/kernel32.dll"));
    platform::SearchPlaces emptyWow(options.search);
    const auto wine32 = platform::systemDllFolders(platform::kMachineI386);
    if (!wine32.empty()) {
        EXPECT_EQ(emptyWow.forMachine(platform::kMachineI386).systemFolder, wine32.front());
    }

    // The environment's prefix, unless the defaults are replaced; a folder
    // given explicitly stands beside --dll-path.
    const std::string prefix = dir.mkdir("prefix");
    std::filesystem::create_directories(testutil::u8(prefix + "/drive_c/windows/system32"));
    testutil::ScopedEnv wineprefix("WINEPREFIX", prefix);
    EXPECT_EQ(platform::SearchPlaces(platform::SearchOptions{}).windowsFolder(), prefix + "/drive_c/windows");
    platform::SearchOptions replaced;
    replaced.folders = std::vector<std::string>{};
    EXPECT_EQ(platform::SearchPlaces(replaced).windowsFolder(), "");
    replaced.windowsFolder = win;
    EXPECT_EQ(platform::SearchPlaces(replaced).windowsFolder(), win);
#endif
}

// A text file under a DLL's name (a Git LFS pointer left in a payload) or a
// truncated DLL stops the search for that name, as the loader does: its row
// stays, its own line follows in the block, also without the closure.
TEST_F(Loader, AFileTheLoaderCannotMapStopsItsNamesSearch) {
    const std::string app = dir.mkdir("app"), mine = dir.mkdir("mine");
    const std::string exe = write(app, "prog.exe", platform::kMachineAmd64, {"tvllfs.dll", "tvlcut.dll", "tvlok.dll"});
    pew::writeFile(platform::joinPath(app, "tvllfs.dll"), std::string("version https://git-lfs.github.com/spec/v1\noid sha256:0\nsize 9\n"));
    pew::Layout layout;
    pew::Image whole;
    whole.pe32plus = true;
    std::vector<std::uint8_t> cut = pew::build(whole, &layout);
    cut.resize(layout.sectionTable + 10);
    pew::writeFile(platform::joinPath(app, "tvlcut.dll"), cut);
    write(app, "tvlok.dll", platform::kMachineAmd64);
    for (const char* name : {"tvllfs.dll", "tvlcut.dll"}) write(mine, name, platform::kMachineAmd64);
    RunOptions options = testutil::only({mine});
    for (bool recursive : {false, true}) {
        options.recursive = recursive;
        const testutil::Flat r = testutil::inspect(exe, options);
        EXPECT_TRUE(r.done);
        EXPECT_EQ(r.found, (std::vector<std::string>{platform::listPath(platform::joinPath(app, "tvllfs.dll")),
                                                     platform::listPath(platform::joinPath(app, "tvlcut.dll")),
                                                     platform::listPath(platform::joinPath(app, "tvlok.dll"))}));
        EXPECT_EQ(r.errors, (std::vector<std::string>{platform::listPath(platform::joinPath(app, "tvllfs.dll")) + " n'est pas un exécutable Win32",
                                                      platform::listPath(platform::joinPath(app, "tvlcut.dll")) + " n'est pas un exécutable Win32"}))
            << recursive;
        EXPECT_EQ(r.problems, (std::vector<Problem>{Problem::NotPe, Problem::NotPe}));
    }
}

#ifdef _WIN32
// On Windows (and under Wine) the running system's store answers: a
// program asking for Common-Controls 6 gets the store's comctl32.dll.
TEST_F(Loader, TheRunningSystemsStoreServesCommonControls) {
    const std::string app = dir.mkdir("app");
    pew::Image prog;
    prog.pe32plus = true;
    prog.import("comctl32.dll");
    prog.manifest("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><dependency>"
                  "<dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
                  "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
                  "</dependentAssembly></dependency></assembly>",
                  1);
    const std::string exe = platform::joinPath(app, "prog.exe");
    pew::writeFile(exe, pew::build(prog));
    const auto rows = analysis::analyse({platform::listPath(exe)}, RunOptions{});
    ASSERT_EQ(rows.size(), 2u);
    if (rows[1].origin() != Origin::Sxs) GTEST_SKIP() << "no Common-Controls 6 in this system's store";
    EXPECT_NE(rows[1].cells[analysis::kPath].find("winsxs"), std::string::npos) << rows[1].cells[analysis::kPath];
    EXPECT_EQ(rows[1].originDetail().rfind("Microsoft.Windows.Common-Controls 6.", 0), 0u);
}
#endif
