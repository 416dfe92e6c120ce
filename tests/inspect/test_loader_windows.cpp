// The loader as Windows 10 and 11 apply it: a store whose manifests are
// compressed, a module's DependentLoadFlags, Windows on ARM's hybrid DLLs,
// and a DLL cut short.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "cli/rowformats.h"
#include "inspect/analysis.h"
#include "inspect/lines.h"
#include "platform/peimage.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"
#include "tests/support/windowstree.h"

namespace {

using analysis::Row;
using analysis::RowKind;
using loader::Origin;

constexpr std::uint16_t kX86 = platform::kMachineI386, kX64 = platform::kMachineAmd64, kArm64 = platform::kMachineArm64;

pew::Image image(std::uint16_t machine, std::vector<std::string> imports = {}) {
    pew::Image img;
    img.machine = machine;
    img.pe32plus = machine != kX86 && machine != 0x01C4;
    for (std::string& i : imports) img.import(std::move(i));
    // ARM images must be mappable: ASLR and NX, as the loader asks of them.
    if (machine == kArm64 || machine == 0x01C4) img.dllCharacteristics = 0x0140;
    return img;
}

std::string write(const std::string& folder, const std::string& name, const pew::Image& img) {
    std::filesystem::create_directories(testutil::u8(folder));
    const std::string path = platform::joinPath(folder, name);
    pew::writeFile(path, pew::build(img));
    return platform::listPath(path);
}

std::vector<Row> rows(const std::vector<std::string>& files, const std::string& windows, bool recursive = true,
                      std::vector<std::string> user = {}) {
    RunOptions o;
    o.recursive = recursive;
    o.search.folders = std::move(user);
    o.search.windowsFolder = windows;
    return analysis::analyse(files, o);
}

std::vector<std::string> errors(const std::vector<Row>& rs) {
    std::vector<std::string> out;
    for (const Row& r : rs)
        if (r.kind == RowKind::Error) out.push_back(r.cells[analysis::kPath]);
    return out;
}

const Row* rowOf(const std::vector<Row>& rs, const std::string& file) {
    for (const Row& r : rs)
        if (r.kind == RowKind::Import && r.cells[analysis::kFile] == file) return &r;
    return nullptr;
}

const char* const kNeeds =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
    "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
    "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
    "</dependentAssembly></dependency><dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
    "name=\"Microsoft.VC90.CRT\" version=\"9.0.21022.8\" processorArchitecture=\"*\" "
    "publicKeyToken=\"1fc8b3b9a1e18e3b\"/></dependentAssembly></dependency></assembly>";

}  // namespace

// Windows 10 and 11 keep their store manifests compressed: the name of each
// tells its identity, the folder of the same name its files, and the choice
// among servicing versions is the usual one, for both machines.
TEST(TodaysWindows, CompressedStoreManifestsAnswerByTheirNames) {
    testutil::TempDir dir;
    testutil::WindowsTree tree(dir.path(), false, true);
    tree.addServicedAssemblies();
    for (std::uint16_t m : {kX64, kX86}) write(m == kX64 ? tree.system32() : tree.syswow64(), "kernel32.dll", image(m));
    std::vector<std::string> programs;
    for (std::uint16_t m : {kX64, kX86}) {
        pew::Image prog = image(m, {"comctl32.dll", "msvcr90.dll"});
        prog.manifest(kNeeds, 2);  // the writer's images are DLLs, whose own manifest is ID 2
        programs.push_back(write(dir.path() + "/app", m == kX64 ? "x64.exe" : "x86.exe", prog));
    }
    const std::vector<Row> rs = rows(programs, tree.windows());
    EXPECT_TRUE(errors(rs).empty()) << errors(rs).front();
    std::set<std::string> got;
    for (const Row& r : rs)
        if (r.kind == RowKind::Import)
            got.insert(r.cells[analysis::kFile] + " " + platform::fileNamePart(r.cells[analysis::kPath]).substr(0, 5) +
                       " " + r.originDetail());
    EXPECT_TRUE(got.count("comctl32.dll amd64 Microsoft.Windows.Common-Controls 6.0.22621.2506"));
    EXPECT_TRUE(got.count("comctl32.dll x86_m Microsoft.Windows.Common-Controls 6.0.22621.2506"));
    EXPECT_TRUE(got.count("msvcr90.dll x86_m Microsoft.VC90.CRT 9.0.30729.9635"));
}

// DependentLoadFlags limit where a module's own static imports are looked
// for (after KnownDLLs), and a DLL they hide is named with the folder left
// out; delay-loads and the imports of the DLLs it pulls in keep the usual
// order; a load configuration too short for the field has no flags.
TEST(TodaysWindows, DependentLoadFlagsLimitTheModulesOwnImports) {
    testutil::TempDir dir;
    const std::string windows = dir.mkdir("Windows");
    const std::string system32 = dir.mkdir("Windows/System32"), user = dir.mkdir("user"), app = dir.mkdir("app");
    for (const char* n : {"kernel32.dll", "tvlsys.dll"}) write(system32, n, image(kX64));
    write(user, "tvluser.dll", image(kX64));
    write(app, "tvlbeside.dll", image(kX64, {"tvlsys.dll"}));
    struct Case {
        std::uint16_t flags;
        std::set<std::string> missing;
    };
    for (bool plus : {true, false}) {
        const std::uint16_t m = plus ? kX64 : kX86;
        if (!plus) {
            write(dir.mkdir("Windows/SysWOW64"), "kernel32.dll", image(kX86));
            write(dir.path() + "/Windows/SysWOW64", "tvlsys.dll", image(kX86));
            write(user, "tvluser.dll", image(kX86));
            write(app, "tvlbeside.dll", image(kX86, {"tvlsys.dll"}));
        }
        for (const Case& c : {Case{0x0800, {"tvlbeside.dll", "tvluser.dll"}}, Case{0x0200, {"tvlsys.dll", "tvluser.dll"}},
                              Case{0x0400, {"tvlbeside.dll", "tvlsys.dll"}}, Case{0x1000, {}},
                              Case{0x0a00, {"tvluser.dll"}}}) {
            pew::Image prog = image(m, {"tvlsys.dll", "tvlbeside.dll", "tvluser.dll"});
            prog.delayImport("tvluser.dll");
            prog.loadConfig = pew::LoadConfig{};
            prog.loadConfig->dependentLoadFlags = c.flags;
            const std::string exe = write(app, "prog.exe", prog);
            RunOptions o;
            o.recursive = o.delayLoad = true;
            o.search.userFolders = {user};
            o.search.windowsFolder = windows;
            const std::vector<Row> rs = analysis::analyse({exe}, o);
            std::set<std::string> missing;
            for (const Row& r : rs)
                if (r.kind == RowKind::Error) {
                    missing.insert(r.dll);
                    EXPECT_EQ(r.dependentLoadFlags, c.flags);
                    EXPECT_NE(r.cells[analysis::kPath].find("(DependentLoadFlags " + lines::loadFlags(c.flags) +
                                                            " : le dossier "),
                              std::string::npos)
                        << r.cells[analysis::kPath];
                }
            EXPECT_EQ(missing, c.missing) << c.flags << " " << plus;
            // The delay-load table keeps the usual order: the user's folder.
            const Row* late = rowOf(rs, "tvluser.dll");
            ASSERT_TRUE(late);
            if (c.missing.count("tvluser.dll")) {
                EXPECT_TRUE(late->delayLoad);
            }
            // What the program's own DLLs import is theirs to search.
            if (const Row* sys = rowOf(rs, "tvlsys.dll")) {
                EXPECT_NE(lines::origin(sys->origin(), sys->originDetail(), sys->dependentLoadFlags).find(
                              c.missing.count("tvlsys.dll") ? "dossier système" : "DependentLoadFlags"),
                          std::string::npos);
            }
            EXPECT_NE(cli::json(rs, {}).find("\"dependent-load-flags\": \"" + lines::loadFlags(c.flags) + "\""),
                      std::string::npos);
        }
        // Too short a structure for the field: the default order, and no column.
        pew::Image prog = image(m, {"tvlbeside.dll", "tvlsys.dll"});
        prog.loadConfig = pew::LoadConfig{};
        prog.loadConfig->size = plus ? 0x4E : 0x36;
        prog.loadConfig->dependentLoadFlags = 0x0800;
        const std::vector<Row> rs = rows({write(app, "short.exe", prog)}, windows);
        EXPECT_TRUE(errors(rs).empty()) << errors(rs).front();
        EXPECT_EQ(cli::csv(rs, {}).find("dependent-load-flags"), std::string::npos);
    }
    // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR: a plug-in's own folder, before the
    // program's, where the default order would take another copy.
    const std::string plugins = dir.mkdir("app/plugins");
    write(plugins, "tvlsibling.dll", image(kX64));
    write(app, "tvlsibling.dll", image(kX64));
    pew::Image plugin = image(kX64, {"tvlsibling.dll"});
    plugin.loadConfig = pew::LoadConfig{};
    plugin.loadConfig->dependentLoadFlags = 0x0100;
    write(plugins, "tvlplugin.dll", plugin);
    const std::vector<Row> rs = rows({write(app, "host.exe", image(kX64, {"tvlplugin.dll"}))}, windows, true, {plugins});
    const Row* sibling = rowOf(rs, "tvlsibling.dll");
    ASSERT_TRUE(sibling);
    EXPECT_EQ(sibling->cells[analysis::kPath], platform::listPath(plugins));
    EXPECT_EQ(sibling->origin(), Origin::Module);
}

// Windows on ARM: an x64 (or ARM64EC) program maps ARM64X and ARM64EC DLLs,
// an ARM64 one ARM64 and ARM64X DLLs; the x64 process sees an ARM64X DLL's
// EC view of its imports; 32-bit ARM programs see SysArm32.
TEST(TodaysWindows, HybridDllsOfWindowsOnArm) {
    testutil::TempDir dir;
    const std::string windows = dir.mkdir("Windows");
    const std::string system32 = dir.mkdir("Windows/System32"), sysarm32 = dir.mkdir("Windows/SysArm32");
    pew::Image hybrid = image(kArm64, {"tvlnative.dll"});
    hybrid.loadConfig = pew::LoadConfig{};
    hybrid.arm64x = pew::Arm64x{};
    hybrid.arm64x->ecImports = {"tvlec.dll"};
    write(system32, "kernel32.dll", hybrid);
    pew::Image ec = image(kX64);
    ec.loadConfig = pew::LoadConfig{};
    ec.loadConfig->chpeMetadataPointer = 0x180003000;
    write(system32, "tvlec.dll", ec);
    write(system32, "tvlnative.dll", image(kArm64));
    write(system32, "tvlarmonly.dll", image(kArm64));
    write(sysarm32, "kernel32.dll", image(0x01C4));
    const std::string app = dir.mkdir("app");
    const std::string x64 = write(app, "x64.exe", image(kX64, {"KERNEL32.dll", "tvlec.dll"}));
    const std::string arm = write(app, "arm.exe", image(kArm64, {"KERNEL32.dll", "tvlec.dll"}));
    const std::string arm32 = write(app, "arm32.exe", image(0x01C4, {"KERNEL32.dll"}));

    std::vector<Row> rs = rows({x64}, windows);
    EXPECT_TRUE(errors(rs).empty()) << errors(rs).front();
    ASSERT_TRUE(rowOf(rs, "kernel32.dll") && rowOf(rs, "tvlec.dll"));
    EXPECT_FALSE(rowOf(rs, "tvlnative.dll"));  // the native view's import, not the EC view's
    EXPECT_EQ(rowOf(rs, "kernel32.dll")->cells[analysis::kPath], platform::listPath(system32));
    const std::string json = cli::json(rs, {});
    EXPECT_NE(json.find("\"machine\": \"arm64x\""), std::string::npos);
    EXPECT_NE(json.find("\"machine\": \"arm64ec\""), std::string::npos);

    rs = rows({arm}, windows);
    ASSERT_TRUE(rowOf(rs, "kernel32.dll") && rowOf(rs, "tvlnative.dll"));
    EXPECT_EQ(errors(rs).size(), 1u);  // the ARM64EC DLL is no ARM64 process's
    EXPECT_NE(errors(rs).front().find("tvlec.dll invisible pour "), std::string::npos);

    rs = rows({arm32}, windows);
    ASSERT_TRUE(rowOf(rs, "kernel32.dll"));
    EXPECT_EQ(rowOf(rs, "kernel32.dll")->cells[analysis::kPath], platform::listPath(sysarm32));
}

// A DLL cut short inside a section's data is no DLL the loader maps: the
// line of a text file under a DLL's name, with or without the closure.
TEST(TodaysWindows, ADllCutShortIsNotLoadable) {
    testutil::TempDir dir;
    pew::Image dll = image(kX64, {"kernel32.dll"});
    dll.dataSections.emplace_back(".data", std::vector<std::uint8_t>(8192, 0x5A));
    const std::vector<std::uint8_t> whole = pew::build(dll);
    const platform::MemoryByteSource source(whole.data(), whole.size());
    const platform::PeImage parsed(source);
    ASSERT_TRUE(parsed.sectionsRead());
    const platform::PeSection& last = parsed.sections().back();
    const std::string app = dir.mkdir("app");
    pew::writeFile(app + "/tvlcut.dll", std::vector<std::uint8_t>(whole.begin(), whole.begin() + last.rawPointer + last.rawSize / 2));
    const std::string exe = write(app, "prog.exe", image(kX64, {"tvlcut.dll"}));
    for (bool recursive : {false, true}) {
        const std::vector<Row> rs = rows({exe}, "", recursive, {});
        ASSERT_EQ(errors(rs).size(), 1u) << recursive;
        EXPECT_EQ(errors(rs).front(), platform::listPath(platform::joinPath(app, "tvlcut.dll")) + " n'est pas un exécutable Win32");
    }
}
