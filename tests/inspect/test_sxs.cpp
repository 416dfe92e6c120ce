// The side-by-side store: store file names, the loader's choice among
// servicing versions and architectures, private assemblies, activation
// contexts, and damaged stores.
#include <gtest/gtest.h>

#include <filesystem>

#include "inspect/loader/sxs.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"
#include "tests/support/windowstree.h"

using namespace sxs;
using platform::kMachineAmd64;
using platform::kMachineArm64;
using platform::kMachineI386;

namespace {

AssemblyIdentity identity(const std::string& name, const std::string& version, const std::string& arch = "*",
                          const std::string& token = "6595b64144ccf1df", const std::string& language = "*") {
    AssemblyIdentity id;
    id.name = name;
    id.versionText = version;
    id.versionValid = parseAssemblyVersion(version, id.version);
    id.processorArchitecture = arch;
    id.publicKeyToken = token;
    id.language = language;
    return id;
}

const std::string kCC = "Microsoft.Windows.Common-Controls";
const std::string kCrtToken = "1fc8b3b9a1e18e3b";

std::string label(const AssemblyPtr& a) { return a ? a->label() + " " + a->architecture : "(none)"; }

}  // namespace

TEST(SxsNames, StoreFileNamesTakenApart) {
    StoreName s;
    ASSERT_TRUE(parseStoreName(
        "amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.22621.2506_none_270d72677387dfc3.manifest", s));
    EXPECT_EQ(s.architecture, "amd64");
    EXPECT_EQ(s.name, "microsoft.windows.common-controls");
    EXPECT_EQ(s.token, "6595b64144ccf1df");
    EXPECT_EQ(s.version, (std::array<std::uint16_t, 4>{6, 0, 22621, 2506}));
    EXPECT_EQ(s.language, "none");
    EXPECT_FALSE(s.wine());
    ASSERT_TRUE(parseStoreName("X86_Microsoft.VC90.CRT_1fc8b3b9a1e18e3b_9.0.30729.6161_none_DEADBEEF.MANIFEST", s));
    EXPECT_EQ(s.name, "microsoft.vc90.crt");
    EXPECT_TRUE(s.wine());
    EXPECT_EQ(s.stem, "X86_Microsoft.VC90.CRT_1fc8b3b9a1e18e3b_9.0.30729.6161_none_DEADBEEF");
    ASSERT_TRUE(parseStoreName("msil_some_name_with_underscores_b03f5f7f11d50a3a_4.0.0.0_en-us_0123456789abcdef.manifest", s));
    EXPECT_EQ(s.name, "some_name_with_underscores");
    EXPECT_EQ(s.language, "en-us");
    for (const char* odd : {"", ".manifest", "x86_a_b_1.0.0.0_none.manifest", "x86_a_b_1.0.0_none_h.manifest",
                            "x86_a_b_1.0.0.70000_none_h.manifest", "x86_a_b_1.0.0.0_none_h.cat", "x86__b_1.0.0.0_none_h.manifest",
                            "_a_b_1.0.0.0_none_h.manifest", "x86_a_b_1.0.0.0_none_.manifest"})
        EXPECT_FALSE(parseStoreName(odd, s)) << odd;

    // Long names are abbreviated in the store's file names.
    EXPECT_EQ(storeSpelling("Microsoft-Windows-Application-Experience-Infrastructure"),
              "microsoft-windows-a..ence-infrastructure");
    EXPECT_EQ(storeSpelling(kCC), "microsoft.windows.common-controls");

    EXPECT_EQ(architecturesFor("*", kMachineAmd64), (std::vector<std::string>{"amd64", "msil"}));
    EXPECT_EQ(architecturesFor("*", kMachineI386), (std::vector<std::string>{"x86", "wow64", "msil"}));
    EXPECT_EQ(architecturesFor("X86", kMachineAmd64), (std::vector<std::string>{"x86", "wow64", "msil"}));
    EXPECT_EQ(architecturesFor("*", kMachineArm64), (std::vector<std::string>{"arm64", "msil"}));
    EXPECT_EQ(architecturesFor("msil", kMachineAmd64), (std::vector<std::string>{"msil"}));
}

TEST(SxsStore, HighestServicingOfTheAskedMajorMinorPerMachine) {
    testutil::TempDir dir;
    testutil::WindowsTree tree(dir.path());
    tree.addServicedAssemblies();
    SxsStore store(tree.windows());
    ASSERT_TRUE(store.present());
    EXPECT_EQ(store.folder(), tree.winsxs());

    AssemblyPtr a = store.findInStore(identity(kCC, "6.0.0.0"), kMachineAmd64);
    EXPECT_EQ(label(a), kCC + " 6.0.22621.2506 amd64");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->where, ResolvedAssembly::Where::Store);
    ASSERT_EQ(a->files.size(), 1u);
    EXPECT_TRUE(a->files[0].present);
    EXPECT_EQ(platform::directoryPart(a->files[0].path), a->folder);
    EXPECT_EQ(platform::directoryPart(a->folder), tree.winsxs());
    EXPECT_EQ(platform::imageMachine(a->files[0].path), kMachineAmd64);

    a = store.findInStore(identity(kCC, "6.0.0.0"), kMachineI386);
    EXPECT_EQ(label(a), kCC + " 6.0.22621.2506 x86");
    ASSERT_TRUE(a);
    EXPECT_EQ(platform::imageMachine(a->files[0].path), kMachineI386);
    // Another major.minor is another assembly; a build.revision above every
    // servicing version installed is found nowhere.
    EXPECT_EQ(label(store.findInStore(identity(kCC, "5.82.0.0"), kMachineAmd64)), kCC + " 5.82.22621.2506 amd64");
    EXPECT_EQ(label(store.findInStore(identity(kCC, "6.0.22621.2507"), kMachineAmd64)), "(none)");
    EXPECT_EQ(label(store.findInStore(identity(kCC, "6.1.0.0"), kMachineAmd64)), "(none)");
    // Name and token ignoring case, an explicit architecture as asked.
    EXPECT_EQ(label(store.findInStore(identity("MICROSOFT.vc90.crt", "9.0.21022.8", "x86", "1FC8B3B9A1E18E3B"),
                                      kMachineAmd64)),
              "Microsoft.VC90.CRT 9.0.30729.9635 x86");
    EXPECT_EQ(label(store.findInStore(identity("Microsoft.VC80.CRT", "8.0.50727.762", "amd64", kCrtToken), kMachineAmd64)),
              "Microsoft.VC80.CRT 8.0.50727.6195 amd64");
    // No token, no architecture, another token, a machine with none installed: not in the store.
    EXPECT_FALSE(store.findInStore(identity(kCC, "6.0.0.0", "*", ""), kMachineAmd64));
    EXPECT_FALSE(store.findInStore(identity(kCC, "6.0.0.0", ""), kMachineAmd64));
    EXPECT_FALSE(store.findInStore(identity(kCC, "6.0.0.0", "*", "0000000000000000"), kMachineAmd64));
    EXPECT_FALSE(store.findInStore(identity(kCC, "6.0.0.0"), kMachineArm64));
}

TEST(SxsStore, ArchitecturesLanguagesAndWineStandIns) {
    testutil::TempDir dir;
    testutil::WindowsTree tree(dir.path(), true);
    // Only the 32-bit half of a 64-bit component, and an architecture-neutral one.
    tree.add({"wow64", "Microsoft.Windows.Half", "31bf3856ad364e35", "10.0.22621.1", "none", false, true, {"half.dll"}, ""});
    tree.add({"msil", "Neutral.Thing", "b03f5f7f11d50a3a", "2.0.0.0", "none", false, true, {"neutral.dll"}, ""});
    // Languages: a neutral one and a French one, the French higher.
    tree.add({"amd64", "Lang.Thing", kCrtToken, "1.0.0.1", "none", false, true, {"l.dll"}, ""});
    tree.add({"amd64", "Lang.Thing", kCrtToken, "1.0.0.5", "fr-fr", false, true, {"l.dll"}, ""});
    // Wine's stand-in above a real servicing version: the real one answers.
    tree.add({"amd64", "Microsoft.VC90.CRT", kCrtToken, "9.0.30729.6161", "none", true, true, {"msvcr90.dll"}, ""});
    tree.add({"amd64", "Microsoft.VC90.CRT", kCrtToken, "9.0.30729.4148", "none", false, true, {"msvcr90.dll"}, ""});
    tree.add({"amd64", "Microsoft.VC80.CRT", kCrtToken, "8.0.50727.9672", "none", true, true, {"msvcr80.dll"}, ""});
    SxsStore store(tree.windows());
    EXPECT_EQ(store.size(), 7u);

    const AssemblyIdentity half = identity("Microsoft.Windows.Half", "10.0.0.0", "*", "31bf3856ad364e35");
    EXPECT_EQ(label(store.findInStore(half, kMachineI386)), "Microsoft.Windows.Half 10.0.22621.1 wow64");
    EXPECT_FALSE(store.findInStore(half, kMachineAmd64));
    const AssemblyIdentity neutral = identity("Neutral.Thing", "2.0.0.0", "*", "b03f5f7f11d50a3a");
    EXPECT_EQ(label(store.findInStore(neutral, kMachineAmd64)), "Neutral.Thing 2.0.0.0 msil");
    EXPECT_EQ(label(store.findInStore(neutral, kMachineI386)), "Neutral.Thing 2.0.0.0 msil");

    EXPECT_EQ(label(store.findInStore(identity("Lang.Thing", "1.0.0.0", "*", kCrtToken), kMachineAmd64)),
              "Lang.Thing 1.0.0.5 amd64");
    EXPECT_EQ(label(store.findInStore(identity("Lang.Thing", "1.0.0.0", "*", kCrtToken, "neutral"), kMachineAmd64)),
              "Lang.Thing 1.0.0.5 amd64");
    const AssemblyPtr french = store.findInStore(identity("Lang.Thing", "1.0.0.0", "*", kCrtToken, "FR-FR"), kMachineAmd64);
    EXPECT_EQ(label(french), "Lang.Thing 1.0.0.5 amd64");
    EXPECT_FALSE(store.findInStore(identity("Lang.Thing", "1.0.0.0", "*", kCrtToken, "de-de"), kMachineAmd64));

    EXPECT_EQ(label(store.findInStore(identity("Microsoft.VC90.CRT", "9.0.21022.8", "*", kCrtToken), kMachineAmd64)),
              "Microsoft.VC90.CRT 9.0.30729.4148 amd64");
    // Asked above the real one: only Wine's stand-in qualifies.
    EXPECT_EQ(label(store.findInStore(identity("Microsoft.VC90.CRT", "9.0.30729.5000", "*", kCrtToken), kMachineAmd64)),
              "Microsoft.VC90.CRT 9.0.30729.6161 amd64");
    EXPECT_EQ(label(store.findInStore(identity("Microsoft.VC80.CRT", "8.0.50727.762", "*", kCrtToken), kMachineAmd64)),
              "Microsoft.VC80.CRT 8.0.50727.9672 amd64");
}

TEST(SxsStore, DamagedStoresAnswerNothingForWhatIsDamaged) {
    testutil::TempDir dir;
    testutil::WindowsTree tree(dir.path());
    tree.addServicedAssemblies();
    // The best servicing version has lost its folder: the assembly is not found.
    tree.add({"amd64", kCC, "6595b64144ccf1df", "6.0.22621.3000", "none", false, false, {"comctl32.dll"}, ""});
    // The best VC90 manifest is not XML; a store name with a manifest of
    // another assembly behind it.
    const std::string broken =
        tree.add({"amd64", "Microsoft.VC90.CRT", kCrtToken, "9.0.30729.9999", "none", false, true, {"msvcr90.dll"}, ""});
    pew::writeFile(platform::joinPath(tree.manifests(), broken + ".manifest"), std::string("\x00\x01garbage", 9));
    // Oddly named entries, a folder named like a manifest, an unreadable file.
    for (const char* odd : {"readme.txt", "x86_.manifest", "a_b_c_d_e_f.manifest", "amd64_n_t_1.2.3.4_none_h.cat"})
        pew::writeFile(platform::joinPath(tree.manifests(), odd), std::string("x"));
    std::filesystem::create_directories(
        testutil::u8(platform::joinPath(tree.manifests(), "amd64_dir_6595b64144ccf1df_1.0.0.0_none_0.manifest")));
    SxsStore store(tree.windows());
    EXPECT_FALSE(store.findInStore(identity(kCC, "6.0.0.0"), kMachineAmd64));
    EXPECT_FALSE(store.findInStore(identity("Microsoft.VC90.CRT", "9.0.0.0", "*", kCrtToken), kMachineAmd64));
    EXPECT_FALSE(store.findInStore(identity("dir", "1.0.0.0"), kMachineAmd64));
    EXPECT_EQ(label(store.findInStore(identity(kCC, "6.0.0.0"), kMachineI386)), kCC + " 6.0.22621.2506 x86");
    // Absurd identities are never looked up.
    EXPECT_FALSE(store.findInStore(identity("../../etc", "6.0.0.0"), kMachineAmd64));
    EXPECT_FALSE(store.findInStore(identity(kCC, "6.0.0.99999"), kMachineAmd64));

    // No Windows folder, a folder without WinSxS, WinSxS without Manifests: no store.
    EXPECT_FALSE(SxsStore("").present());
    EXPECT_FALSE(SxsStore(dir.mkdir("empty")).present());
    dir.mkdir("bare/winsxs");
    SxsStore bare(dir.file("bare"));
    EXPECT_FALSE(bare.present());
    EXPECT_EQ(bare.size(), 0u);
    EXPECT_FALSE(bare.findInStore(identity(kCC, "6.0.0.0"), kMachineAmd64));
}

TEST(SxsStore, AbbreviatedLongNamesAreCheckedAgainstTheirManifest) {
    testutil::TempDir dir;
    testutil::WindowsTree tree(dir.path());
    const std::string longName = "Microsoft-Windows-Application-Experience-Infrastructure";
    const std::string other = "Microsoft-Windows-Another-Thing-Experience-Infrastructure";
    ASSERT_EQ(storeSpelling(longName), storeSpelling(other));
    // Both spelt alike on disk: written by hand, as WindowsTree writes full names.
    for (const auto& [name, version] : {std::pair{longName, "10.0.1.1"}, std::pair{other, "10.0.1.2"}}) {
        const std::string stem = "amd64_" + storeSpelling(name) + "_31bf3856ad364e35_" + version + "_none_00000000000000" +
                                 std::string(version).substr(7);
        pew::writeFile(platform::joinPath(tree.manifests(), stem + ".manifest"),
                      testutil::assemblyManifest(name, version, "amd64", "31bf3856ad364e35", {"x.dll"}));
        std::filesystem::create_directories(testutil::u8(platform::joinPath(tree.winsxs(), stem)));
    }
    SxsStore store(tree.windows());
    EXPECT_EQ(label(store.findInStore(identity(longName, "10.0.0.0", "*", "31bf3856ad364e35"), kMachineAmd64)),
              longName + " 10.0.1.1 amd64");
    EXPECT_EQ(label(store.findInStore(identity(other, "10.0.0.0", "*", "31bf3856ad364e35"), kMachineAmd64)),
              other + " 10.0.1.2 amd64");
}

TEST(SxsStore, PrivateAssembliesProbedInTheLoadersOrder) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app");
    const std::string name = "Company.Private";
    const std::string manifest = testutil::assemblyManifest(name, "1.0.0.0", "amd64", "", {"priv.dll"});
    SxsStore store("");
    const AssemblyIdentity id = identity(name, "1.0.0.0", "amd64", "");
    EXPECT_FALSE(store.find(id, kMachineAmd64, app));

    // Each probe in turn, the last one first: every earlier one takes over.
    dir.mkdir("app/company.private");  // the subfolder, any case
    pew::writeFile(dir.file("app/company.private/COMPANY.PRIVATE.MANIFEST"), manifest);
    pew::writeFile(dir.file("app/company.private/priv.dll"), std::string("x"));
    SxsStore s4("");
    AssemblyPtr a = s4.findPrivate(id, app);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->where, ResolvedAssembly::Where::Private);
    // The spelling found on disk (Windows keeps the asked one: its names ignore case).
    EXPECT_TRUE(equalsIgnoringCase(a->folder, dir.file("app/company.private"))) << a->folder;
    EXPECT_TRUE(a->files.at(0).present);

    pew::Image carrier;
    carrier.pe32plus = true;
    carrier.manifest(manifest, 1);
    pew::writeFile(dir.file("app/company.private/Company.Private.dll"), pew::build(carrier));
    SxsStore s3("");
    EXPECT_TRUE(equalsIgnoringCase(s3.findPrivate(id, app)->manifestPath, dir.file("app/company.private/Company.Private.dll")));

    pew::writeFile(dir.file("app/Company.Private.manifest"), manifest);
    SxsStore s2("");
    a = s2.findPrivate(id, app);
    EXPECT_EQ(a->manifestPath, dir.file("app/Company.Private.manifest"));
    EXPECT_EQ(a->folder, app);
    EXPECT_FALSE(a->files.at(0).present);  // priv.dll is in the subfolder only

    pew::writeFile(dir.file("app/Company.Private.dll"), pew::build(carrier));
    SxsStore s1("");
    EXPECT_EQ(s1.findPrivate(id, app)->manifestPath, dir.file("app/Company.Private.dll"));

    // A probe of another identity or version, or no manifest, is passed over.
    pew::Image plain;
    pew::writeFile(dir.file("app/Company.Private.dll"), pew::build(plain));
    pew::writeFile(dir.file("app/Company.Private.manifest"),
                  testutil::assemblyManifest(name, "2.0.0.0", "amd64", "", {"priv.dll"}));
    SxsStore s5("");
    EXPECT_TRUE(equalsIgnoringCase(s5.findPrivate(id, app)->manifestPath, dir.file("app/company.private/Company.Private.dll")));
    // A name that would leave the program's folder is never probed.
    EXPECT_FALSE(s5.findPrivate(identity("../app/Company.Private", "1.0.0.0"), app));
}

TEST(SxsContext, AssembliesTheirDependenciesAndTheFilesTheyRedirect) {
    testutil::TempDir dir;
    testutil::WindowsTree tree(dir.path());
    tree.addServicedAssemblies();
    // A cycle between two assemblies, and one listing a file it lacks.
    tree.add({"amd64", "Cycle.A", kCrtToken, "1.0.0.0", "none", false, true, {"a.dll"},
              testutil::dependencyXml("Cycle.B", "1.0.0.0", "amd64", kCrtToken)});
    tree.add({"amd64", "Cycle.B", kCrtToken, "1.0.0.0", "none", false, true, {"b.dll"},
              testutil::dependencyXml("Cycle.A", "1.0.0.0", "amd64", kCrtToken)});
    const std::string lacking =
        tree.add({"amd64", "Lacking", kCrtToken, "1.0.0.0", "none", false, true, {"gone.dll"}, ""});
    std::filesystem::remove(testutil::u8(platform::joinPath(platform::joinPath(tree.winsxs(), lacking), "gone.dll")));
    const std::string app = dir.mkdir("app");

    const std::string text = testutil::assemblyManifest(
        "App", "1.0.0.0", "amd64", "", {"own.dll", "MSVCR90.DLL"},
        testutil::dependencyXml("Microsoft.VC90.MFC", "9.0.21022.8", "*", kCrtToken) +
            testutil::dependencyXml(kCC, "6.0.0.0") +
            testutil::dependencyXml("Cycle.A", "1.0.0.0", "amd64", kCrtToken) +
            testutil::dependencyXml("Lacking", "1.0.0.0", "amd64", kCrtToken) +
            testutil::dependencyXml("Nowhere", "1.0.0.0") +
            testutil::dependencyXml("Nowhere.Optional", "1.0.0.0", "*", "6595b64144ccf1df", "") .replace(0, 12, "<dependency optional=\"yes\">") +
            testutil::dependencyXml("Nowhere.Delayed", "1.0.0.0", "*", "6595b64144ccf1df", " allowDelayedBinding=\"true\""));
    const Manifest m = parseManifest(text.data(), text.size());
    ASSERT_TRUE(m.ok());
    SxsStore store(tree.windows());
    const ActivationContext ctx = store.context(m, kMachineAmd64, app, app);
    std::vector<std::string> labels;
    for (const AssemblyPtr& a : ctx.assemblies) labels.push_back(a->label());
    EXPECT_EQ(labels, (std::vector<std::string>{"Microsoft.VC90.MFC 9.0.30729.9635", kCC + " 6.0.22621.2506",
                                                "Cycle.A 1.0.0.0", "Lacking 1.0.0.0", "Microsoft.VC90.CRT 9.0.30729.9635",
                                                "Cycle.B 1.0.0.0"}));
    ASSERT_EQ(ctx.missing.size(), 1u);
    EXPECT_EQ(ctx.missing[0].identity.label(), "Nowhere 1.0.0.0");

    const Redirection* r = ctx.find("ComCtl32.dll");
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->present);
    EXPECT_EQ(r->assembly->label(), kCC + " 6.0.22621.2506");
    EXPECT_EQ(platform::imageMachine(r->path), kMachineAmd64);
    ASSERT_TRUE(ctx.find("mfc90.dll"));
    ASSERT_TRUE(ctx.find("b.dll"));
    // The module's own files come first, in its own folder, even when present nowhere.
    r = ctx.find("msvcr90.dll");
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->assembly);
    EXPECT_EQ(r->path, platform::joinPath(app, "MSVCR90.DLL"));
    r = ctx.find("gone.dll");
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->present);
    EXPECT_FALSE(ctx.find("kernel32.dll"));

    // The same for a 32-bit importer, from the x86 assemblies.
    const ActivationContext x86 = store.context(m, kMachineI386, app, app);
    ASSERT_TRUE(x86.find("comctl32.dll"));
    EXPECT_EQ(platform::imageMachine(x86.find("comctl32.dll")->path), kMachineI386);
    // Without a store, nothing is checked.
    SxsStore none("");
    EXPECT_TRUE(none.context(m, kMachineAmd64, app, app).missing.empty());
}

TEST(SxsContext, ModuleContextsFromEachModulesOwnManifest) {
    testutil::TempDir dir;
    testutil::WindowsTree tree(dir.path());
    tree.addServicedAssemblies();
    const std::string app = dir.mkdir("app");
    pew::Image program;
    program.pe32plus = true;
    program.import("helper.dll").manifest(testutil::assemblyManifest("App", "1.0.0.0", "amd64", "", {},
                                                                    testutil::dependencyXml(kCC, "6.0.0.0")));
    pew::writeFile(dir.file("app/app.exe"), pew::build(program));
    // A DLL whose own manifest names the DLL itself, both as a file and as
    // a private assembly answered by the DLL.
    pew::Image helper;
    helper.pe32plus = true;
    const std::string self = testutil::assemblyManifest(
        "helper", "1.0.0.0", "amd64", "", {"helper.dll"},
        testutil::dependencyXml("helper", "1.0.0.0", "amd64", "") +
            testutil::dependencyXml("Microsoft.VC90.CRT", "9.0.21022.8", "amd64", kCrtToken));
    helper.import("msvcr90.dll").manifest(self, 1).manifest(self, 2);
    pew::writeFile(dir.file("app/helper.dll"), pew::build(helper));
    pew::writeFile(dir.file("app/plain.dll"), pew::build(pew::Image{}));

    SxsStore store(tree.windows());
    const auto programCtx = store.moduleContext(dir.file("app/app.exe"), false, kMachineAmd64, app);
    ASSERT_TRUE(programCtx);
    EXPECT_EQ(programCtx->source, ModuleManifest::Source::Embedded);
    EXPECT_TRUE(programCtx->find("comctl32.dll"));
    const auto helperCtx = store.moduleContext(dir.file("app/helper.dll"), true, kMachineAmd64, app);
    ASSERT_TRUE(helperCtx);
    ASSERT_TRUE(helperCtx->find("helper.dll"));
    EXPECT_EQ(helperCtx->find("helper.dll")->path, dir.file("app/helper.dll"));
    ASSERT_TRUE(helperCtx->find("msvcr90.dll"));
    EXPECT_EQ(helperCtx->find("msvcr90.dll")->assembly->label(), "Microsoft.VC90.CRT 9.0.30729.9635");
    EXPECT_TRUE(helperCtx->missing.empty());
    EXPECT_FALSE(store.moduleContext(dir.file("app/plain.dll"), true, kMachineAmd64, app));
    // Asked again: the same answer, not read again.
    EXPECT_EQ(store.moduleContext(dir.file("app/helper.dll"), true, kMachineAmd64, app), helperCtx);
}
