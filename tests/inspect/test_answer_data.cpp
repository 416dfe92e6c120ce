// The answers as the window reads them: the tree's nodes, the refusals of a
// ship set with the programs they concern, the copy's notes and progress.
#include <gtest/gtest.h>

#include "inspect/analysis.h"
#include "inspect/bundle.h"
#include "inspect/chains.h"
#include "inspect/lines.h"
#include "inspect/refusals.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

// a.exe -> tvla.dll (-> tvlgone.dll, msvcp140d.dll), b.exe -> tvla.dll,
// msvcp140d.dll; all in one folder, nothing else searched.
class AnswerData : public ::testing::Test {
protected:
    void SetUp() override {
        write("tvla.dll", {"tvlgone.dll", "msvcp140d.dll"});
        write("a.exe", {"tvla.dll"});
        write("b.exe", {"tvla.dll", "msvcp140d.dll"});
        files = {platform::listPath(dir.file("a.exe")), platform::listPath(dir.file("b.exe"))};
    }
    void write(const std::string& name, const std::vector<std::string>& imports) {
        pew::Image image;
        for (const std::string& n : imports) image.import(n);
        pew::writeFile(dir.file(name), pew::build(image));
    }

    testutil::TempDir dir;
    std::vector<std::string> files;
    AnalysisRun run{testutil::only({}, true)};
};

}  // namespace

TEST_F(AnswerData, ProblemsHangUnderTheModuleTheyConcernAndChildrenComeOnDemand) {
    const analysis::Analysis a = analysis::analyseFiles(files, run, {}, false);
    const chains::Tree tree(a.closures[0], run.reads());
    const chains::TreeNode root = tree.root();
    EXPECT_EQ(root.kind, chains::NodeKind::Listed);
    const std::vector<chains::TreeNode> top = tree.children(root);
    ASSERT_EQ(top.size(), 1u);  // the missing DLLs belong to tvla.dll, not to a.exe
    EXPECT_EQ(top[0].kind, chains::NodeKind::Found);
    EXPECT_EQ(top[0].label, "tvla.dll");
    EXPECT_EQ(top[0].location->origin, loader::Origin::App);
    const std::vector<chains::TreeNode> below = tree.children(top[0]);
    ASSERT_EQ(below.size(), 4u);
    EXPECT_EQ(below[0].kind, chains::NodeKind::Nowhere);
    EXPECT_EQ(below[0].text, "tvlgone.dll  (invisible)");
    EXPECT_EQ(below[2].kind, chains::NodeKind::Problem);
    EXPECT_EQ(below[2].text, a.closures[0].findings[below[2].finding].line);
    EXPECT_EQ(below[2].depth, 2u);
    EXPECT_FALSE(tree.hasChildren(below[2]));
}

TEST_F(AnswerData, RefusalsNameTheProgramsTheyConcern) {
    const analysis::Analysis a = analysis::analyseFiles(files, run, {}, false);
    analysis::IgnoreList none, gone;
    std::string why;
    ASSERT_TRUE(gone.add("tvlgone.dll", why));
    for (const analysis::IgnoreList* ignore : {&none, &gone}) {
        const shipping::ShipSet set = shipping::shipSet(a.closures, run.reads(), *ignore);
        const std::vector<shipping::Refusal> refusals = shipping::refusals(set, a.closures, *ignore);
        // As the set words them, in its order.
        std::vector<std::string> lines;
        for (const shipping::Refusal& r : refusals) lines.push_back(r.line);
        std::vector<std::string> expected = set.problems;
        expected.insert(expected.end(), set.refusals.begin(), set.refusals.end());
        EXPECT_EQ(lines, expected);
        for (const shipping::Refusal& r : refusals) {
            // tvla.dll's lines concern both programs; b.exe's own, b.exe alone.
            const bool ofB = r.line.find(platform::listPath(dir.file("b.exe"))) != std::string::npos;
            EXPECT_EQ(r.neededBy, ofB ? std::vector<std::string>{files[1]} : files) << r.line;
        }
    }
}

TEST_F(AnswerData, TheCopyTellsItsProgressAndItsNotes) {
    write("c.exe", {"tvla.dll"});
    write("tvla.dll", {});
    const analysis::Analysis a = analysis::analyseFiles({dir.file("c.exe")}, run, {}, false);
    const shipping::ShipSet set = shipping::shipSet(a.closures, run.reads(), {});
    ASSERT_EQ(set.dlls.size(), 1u);
    const std::string target = dir.mkdir("bundle");
    pew::writeFile(platform::joinPath(target, "TVLA.DLL"), std::string("other bytes"));
    std::vector<std::pair<std::size_t, std::size_t>> told;
    const shipping::BundleResult r =
        shipping::copyBundle(set, target, {}, [&](std::size_t done, std::size_t total) { told.push_back({done, total}); });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(told, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 1}}));
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_EQ(r.notes[0].kind, shipping::BundleNote::Kind::Replaced);
    EXPECT_EQ(lines::bundleNote(r.notes[0]),
              r.notes[0].path + " remplacé (ses octets différaient de " + set.dlls[0].path() + ")");
    EXPECT_EQ(r.messages.size(), r.notes.size());
}
