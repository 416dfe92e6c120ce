// --tree and --why: why each DLL is there.
#include <gtest/gtest.h>

#include "inspect/chains.h"
#include "platform/platform.h"
#include "tests/cli/clirun.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

using clirun::Outcome;
using clirun::quote;

// prog.exe -> tvlcore.dll, tvlmid.dll (-> tvlcore.dll, tvlleaf.dll ->
// tvlmid.dll), tvlnowhere.dll; delay-loads tvllate.dll.
class Tree : public ::testing::Test {
protected:
    void SetUp() override {
        const auto write = [&](const std::string& name, const std::vector<std::string>& imports) {
            pew::Image image;
            for (const std::string& n : imports) image.import(n);
            if (name == "prog.exe") image.delayImport("tvllate.dll").version(pew::VersionInfo::simple("1.0"));
            if (name == "tvlcore.dll") image.version(pew::VersionInfo::simple("2.1"));
            pew::writeFile(dir.file(name), pew::build(image));
        };
        write("prog.exe", {"tvlcore.dll", "TVLMID.dll", "tvlnowhere.dll"});
        write("tvlcore.dll", {});
        write("tvlmid.dll", {"tvlcore.dll", "tvlleaf.dll"});
        write("tvlleaf.dll", {"tvlmid.dll"});
        write("tvllate.dll", {});
        prog = platform::listPath(dir.file("prog.exe"));
        folder = platform::listPath(dir.path());
        options = "--dll-path " + quote(dir.mkdir("empty")) + " ";
    }
    Outcome cli(const std::string& args) { return clirun::runSplit(options + args, dir.file("stderr.txt")); }

    testutil::TempDir dir;
    std::string prog, folder, options;
};

// A closure held in memory: node k + 1 is found[k], named "d<k+1>.dll";
// every edge to node k is one import of that name.
Closure syntheticClosure(std::size_t nodes) {
    Closure c;
    c.listed = "prog.exe";
    auto links = std::make_shared<ModuleTables>();
    for (std::size_t k = 0; k < nodes; ++k) {
        auto where = std::make_shared<loader::Location>();
        where->found = true;
        where->path = "d" + std::to_string(k) + ".dll";
        if (k > 0) c.found.push_back({where, false, 0});
        links->links.push_back({{TableEntry::Kind::Import, where->path, k, nullptr}, where, nullptr});
    }
    c.tables.assign(1, links);
    c.imports.resize(nodes);
    return c;
}
void edge(Closure& c, std::size_t from, std::size_t to) { c.imports[from].push_back({&c.tables[0]->links[to], to}); }

}  // namespace

TEST_F(Tree, DrawsEachDllOnceWithVersionAndFolder) {
    const std::string missingLine = "tvlnowhere.dll invisible pour " + prog + "\n";
    const std::string body = "prog.exe  1.0  " + folder + "\n" +
                             "  tvlcore.dll  2.1  " + folder + "\n" +
                             "  tvlmid.dll  V: ???  " + folder + "\n" +
                             "    tvlcore.dll  (voir plus haut)\n" +
                             "    tvlleaf.dll  V: ???  " + folder + "\n" +
                             "      tvlmid.dll  (voir plus haut)\n" +
                             "  tvlnowhere.dll  (invisible)\n";
    const Outcome plain = cli("--tree " + quote(prog));
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, body);
    EXPECT_EQ(plain.err, missingLine);

    const Outcome delayed = cli("-d --tree " + quote(prog) + " " + quote(dir.file("tvlleaf.dll")));
    EXPECT_EQ(delayed.out, body + "  tvllate.dll  V: ???  " + folder + "  (chargement différé)\n\n" +
                               "tvlleaf.dll  V: ???  " + folder + "\n" +
                               "  tvlmid.dll  V: ???  " + folder + "\n" +
                               "    tvlcore.dll  2.1  " + folder + "\n" +
                               // The walk meets the listed file again as a DLL of its closure.
                               "    tvlleaf.dll  V: ???  " + folder + "\n" +
                               "      tvlmid.dll  (voir plus haut)\n");
    EXPECT_EQ(cli("--ignore tvlnowhere.dll --tree " + quote(prog)).status, 0);
}

TEST_F(Tree, WhyGivesTheChainsShortestFirst) {
    const Outcome core = cli("--why TVLCORE.DLL " + quote(prog));
    EXPECT_EQ(core.status, 0);
    EXPECT_EQ(core.err, "tvlnowhere.dll invisible pour " + prog + "\n");  // it may hide chains
    EXPECT_EQ(core.out, "prog.exe -> tvlcore.dll\nprog.exe -> tvlmid.dll -> tvlcore.dll\n");
    EXPECT_EQ(cli("--ignore tvlnowhere.dll --why tvlleaf.dll " + quote(prog)).out,
              "prog.exe -> tvlmid.dll -> tvlleaf.dll\n");
    EXPECT_EQ(cli("--why tvlnowhere.dll " + quote(prog)).out, "prog.exe -> tvlnowhere.dll (invisible)\n");
    EXPECT_EQ(cli("-d --why tvllate.dll " + quote(prog)).out, "prog.exe -> tvllate.dll (chargement différé)\n");

    const Outcome none = cli("--ignore tvlnowhere.dll --why tvlabsent.dll " + quote(prog));
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "tavelin-report: no listed file needs tvlabsent.dll\n");
}

// An API set name leads to its host: the tree shows both, --why knows
// either name.
TEST_F(Tree, ApiSetNamesShowTheirHost) {
    pew::Image schema;
    schema.dataSections.emplace_back(".apiset", pew::apiSetSchema(6, {{"api-ms-win-tvl-l1-1-0", {{"", "tvlcore.dll"}}}}));
    // The Windows folder's schema: the one each backend reads.
    const std::string win = dir.mkdir("win");
    pew::writeFile(platform::joinPath(dir.mkdir(platform::joinPath("win", "System32")), "apisetschema.dll"),
                  pew::build(schema));
    options += "--windows " + quote(win) + " ";
    pew::Image user;
    user.import("api-ms-win-tvl-l1-1-2.dll");
    pew::writeFile(dir.file("user.exe"), pew::build(user));
    const std::string exe = quote(dir.file("user.exe"));
    EXPECT_EQ(cli("--tree " + exe).out, "user.exe  V: ???  " + folder + "\n" +
                                           "  api-ms-win-tvl-l1-1-2.dll -> tvlcore.dll  2.1  " + folder + "\n");
    for (const char* name : {"tvlcore.dll", "api-ms-win-tvl-l1-1-2.dll"})
        EXPECT_EQ(cli(std::string("--why ") + name + " " + exe).out, "user.exe -> tvlcore.dll\n") << name;
}

TEST(Why, WideGraphsStayBoundedAndShortestFirst) {
    // Eight layers of eight DLLs, each importing the whole next layer:
    // 8^8 chains to the last DLL.
    constexpr std::size_t kLayers = 8, kWidth = 8;
    Closure c = syntheticClosure(1 + kLayers * kWidth + 1);
    const std::size_t target = kLayers * kWidth + 1;
    for (std::size_t w = 0; w < kWidth; ++w) edge(c, 0, 1 + w);
    for (std::size_t l = 0; l + 1 < kLayers; ++l)
        for (std::size_t a = 0; a < kWidth; ++a)
            for (std::size_t b = 0; b < kWidth; ++b) edge(c, 1 + l * kWidth + a, 1 + (l + 1) * kWidth + b);
    for (std::size_t w = 0; w < kWidth; ++w) edge(c, 1 + (kLayers - 1) * kWidth + w, target);
    edge(c, 3, target);  // one short cut, which must come first

    const chains::Chains chains = chains::why(c, "d" + std::to_string(target) + ".dll");
    ASSERT_EQ(chains.lines.size(), 20u);
    EXPECT_TRUE(chains.more);
    EXPECT_EQ(chains.lines[0], "prog.exe -> d3.dll -> d" + std::to_string(target) + ".dll");
    std::size_t previous = 0;
    for (const std::string& line : chains.lines) {
        const std::size_t arrows = static_cast<std::size_t>(std::count(line.begin(), line.end(), '>'));
        EXPECT_GE(arrows, previous) << line;
        previous = arrows;
    }
    // A budget too small for any chain ends the search, saying so.
    const chains::Chains starved = chains::why(c, "d" + std::to_string(target) + ".dll", 20, 3);
    EXPECT_TRUE(starved.more);
    EXPECT_TRUE(starved.lines.empty());
}

TEST(Why, LongChainsAndCyclesNeitherOverflowNorLoop) {
    constexpr std::size_t kLength = 1500;
    Closure c = syntheticClosure(kLength + 1);
    for (std::size_t k = 0; k < kLength; ++k) edge(c, k, k + 1);
    edge(c, kLength, 1);  // back to the start
    AnalysisRun run(testutil::only({}));
    const std::string drawn = chains::tree(c, run.reads());
    EXPECT_EQ(static_cast<std::size_t>(std::count(drawn.begin(), drawn.end(), '\n')), kLength + 2);
    EXPECT_NE(drawn.find("d1.dll  (voir plus haut)\n"), std::string::npos);
    const chains::Chains chains = chains::why(c, "d" + std::to_string(kLength) + ".dll");
    ASSERT_EQ(chains.lines.size(), 1u);
    EXPECT_FALSE(chains.more);
}
