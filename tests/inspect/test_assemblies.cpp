// .NET references resolved as the runtime probes for them: the program's
// folder (satellites by culture), the global assembly cache, versions too
// old, the framework's own assemblies where no cache exists, and P/Invoke
// DLLs as delay-loaded ones.
#include <gtest/gtest.h>

#include "inspect/analysis.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

const std::vector<std::uint8_t> kToken = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const std::vector<std::uint8_t> kFramework = {0xB7, 0x7A, 0x5C, 0x56, 0x19, 0x34, 0xE0, 0x89};

pew::Image assembly(const std::string& name, std::uint16_t major, std::uint16_t minor, std::vector<pew::ManagedName> refs = {},
                   std::vector<std::string> modules = {}) {
    pew::Managed m;
    m.assembly = pew::ManagedName{name, major, minor, 0, 0, "", kToken, false};
    m.references = std::move(refs);
    m.moduleRefs = std::move(modules);
    pew::Image img;
    img.import("mscoree.dll", {{"_CorExeMain"}});
    img.managed = m;
    return img;
}

// A file name as the rows show it (Windows lists paths lower-cased).
std::string shown(const std::string& name) { return platform::listPath(name); }

std::vector<std::string> lines(const std::vector<analysis::Row>& rows) {
    std::vector<std::string> out;
    for (const analysis::Row& r : rows)
        out.push_back(r.kind == analysis::RowKind::Error ? r.cells[analysis::kPath] : r.cells[analysis::kFile]);
    return out;
}

}  // namespace

TEST(Assemblies, ReferencesAreProbedAsTheRuntimeDoes) {
    testutil::TempDir dir;
    const std::string app = dir.mkdir("app"), fr = dir.mkdir("app/fr-FR");
    pew::writeFile(platform::joinPath(app, "mscoree.dll"), pew::build(pew::Image{}));
    pew::writeFile(platform::joinPath(app, "Lib.dll"), pew::build(assembly("Lib", 1, 0)));
    pew::writeFile(platform::joinPath(app, "Old.dll"), pew::build(assembly("Old", 1, 5)));
    pew::writeFile(platform::joinPath(fr, "Prog.resources.dll"), pew::build(assembly("Prog.resources", 1, 0)));
    pew::writeFile(platform::joinPath(app, "tvlnative.dll"), pew::build(pew::Image{}));
    const std::string exe = platform::joinPath(app, "Prog.exe");
    pew::writeFile(exe, pew::build(assembly("Prog", 1, 0,
                                          {{"Lib", 1, 0, 0, 0, "", kToken, false},
                                           {"Old", 2, 0, 0, 0, "", kToken, false},
                                           {"Gone", 1, 0, 0, 0, "", kToken, false},
                                           {"System.Xml", 4, 0, 0, 0, "", kFramework, false},
                                           {"Prog.resources", 1, 0, 0, 0, "fr-FR", kToken, false}},
                                          {"tvlnative", "tvlabsent.dll"})));
    const std::string listed = platform::listPath(exe);
    RunOptions o = testutil::only({});
    // Without the option, the rows of any native program.
    EXPECT_EQ(lines(analysis::analyse({listed}, o)), (std::vector<std::string>{shown("Prog.exe"), "mscoree.dll"}));

    o.assemblies = true;
    const auto rows = analysis::analyse({listed}, o);
    EXPECT_EQ(lines(rows), (std::vector<std::string>{
                               shown("Prog.exe"), "mscoree.dll", shown("Lib.dll"), shown("Old.dll"),
                               shown("Prog.resources.dll"),
                               "Old 2.0.0.0 trop ancienne (1.5.0.0) pour " + listed,
                               "Gone 1.0.0.0 invisible pour " + listed}));  // no cache: the framework's unchecked
    EXPECT_EQ(rows[4].cells[analysis::kPath], platform::listPath(fr));
    EXPECT_EQ(rows[2].origin(), loader::Origin::App);
    EXPECT_EQ(rows[2].reference(), "Lib, Version=1.0.0.0, Culture=neutral, PublicKeyToken=0123456789abcdef");
    EXPECT_EQ(rows[5].problem, Problem::OldAssembly);
    EXPECT_EQ(rows[6].problem, Problem::MissingAssembly);
    EXPECT_EQ(rows[6].dll, "Gone");

    // P/Invoke DLLs with the delay-load tables, ".dll" added where missing.
    o.delayLoad = true;
    const auto late = analysis::analyse({listed}, o);
    EXPECT_EQ(lines(late).back(), "tvlabsent.dll invisible pour " + listed + " (chargement différé)");
    EXPECT_EQ(late[5].cells[analysis::kFile], "tvlnative.dll");
    EXPECT_TRUE(late[5].delayLoad);

    // A Windows folder with a global assembly cache: the framework's are
    // looked for there, and found in the 4.0 layout.
    const std::string gac = dir.mkdir("Windows/Microsoft.NET/assembly/GAC_MSIL/System.Xml/v4.0_4.0.0.0__b77a5c561934e089");
    dir.mkdir("Windows/System32");
    pew::writeFile(platform::joinPath(gac, "System.Xml.dll"), pew::build(assembly("System.Xml", 4, 0)));
    o.delayLoad = false;
    o.search.windowsFolder = platform::joinPath(dir.path(), "Windows");
    const auto withGac = analysis::analyse({listed}, o);
    ASSERT_EQ(withGac.size(), rows.size() + 1);
    EXPECT_EQ(withGac[4].cells[analysis::kFile], shown("System.Xml.dll"));
    EXPECT_EQ(withGac[4].origin(), loader::Origin::Gac);
}
