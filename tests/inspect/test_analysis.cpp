// Analysis rows and report lines, on fixture images.
#include <gtest/gtest.h>

#include <random>

#include "inspect/analysis.h"
#include "inspect/uimports.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using analysis::Cells;
using analysis::Row;
using analysis::RowKind;

namespace {

class Analysis : public ::testing::Test {
protected:
    void SetUp() override {
        pew::Image one;
        one.import("tvlthree.dll").version(pew::VersionInfo::simple("1.0.0.1"));
        write("tvlone.dll", one);
        pew::Image two;
        two.version(pew::VersionInfo::simple("2.0"));
        write("tvltwo.dll", two);
        write("tvlthree.dll", pew::Image{});
        pew::Image exe;
        exe.import("tvlone.dll").import("tvltwo.dll").version(pew::VersionInfo::simple("5.4.3.2"));
        app = write("app.exe", exe);
    }

    std::string write(const std::string& name, const pew::Image& img) {
        const std::string path = dir.file(name);
        pew::writeFile(path, pew::build(img));
        return path;
    }
    std::string folder() const { return platform::directoryPart(platform::listPath(dir.file("x"))); }

    testutil::TempDir dir;
    std::string app;
};

std::vector<Cells> cellsOf(const std::vector<Row>& rows) {
    std::vector<Cells> out;
    for (const Row& r : rows) out.push_back(r.cells);
    return out;
}

// The report's duplicate test as first written: a linear search over the
// lines kept so far, each compared lower-cased.
std::vector<std::string> linearUnique(const std::vector<Cells>& rows) {
    std::vector<std::string> lines;
    for (const Cells& row : rows) {
        const std::string line = analysis::shortLine(row);
        bool seen = false;
        for (const std::string& l : lines)
            if (platform::toLower(l) == platform::toLower(line)) seen = true;
        if (!seen) lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST_F(Analysis, OneExeTwoDllsDirectThenRecursive) {
    const std::vector<Row> rows = analysis::analyse({app}, testutil::only({}));
    const std::vector<Cells> expected = {
        {"toi-même", "app.exe", platform::directoryPart(app), "5.4.3.2"},
        {"app.exe", "tvlone.dll", folder(), "1.0.0.1"},
        {"app.exe", "tvltwo.dll", folder(), "2.0"},
    };
    EXPECT_EQ(cellsOf(rows), expected);
    EXPECT_FALSE(analysis::hasErrors(rows));

    const std::vector<Row> deep = analysis::analyse({app}, testutil::only({}, true));
    ASSERT_EQ(deep.size(), 4u);
    EXPECT_EQ(deep[2].cells, (Cells{"app.exe", "tvlthree.dll", folder(), "V: ???"}));  // right after its importer
    EXPECT_EQ(deep[3].cells[analysis::kFile], "tvltwo.dll");
}

TEST_F(Analysis, ErrorRowsFollowEachFilesBlock) {
    pew::writeFile(dir.file("notes.exe"), std::string("plain text"));
    const std::string gone = dir.file("gone.exe");
    const std::vector<std::string> files = {app, dir.file("notes.exe"), gone, app};
    std::vector<std::string> statuses;
    const std::vector<Row> rows =
        analysis::analyse(files, testutil::only({}), [&](const std::string& s) { statuses.push_back(s); });
    ASSERT_EQ(rows.size(), 4u + 2 + 1 + 1 + 2);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rows[i].kind, RowKind::Listed);
    EXPECT_EQ(rows[2].cells[analysis::kVersion], "V: ???");
    EXPECT_EQ(rows[6].cells, (Cells{"notes.exe", "erreur", dir.file("notes.exe") + " n'est pas un exécutable Win32", "erreur"}));
    EXPECT_EQ(rows[7].cells, (Cells{"gone.exe", "erreur", gone + " non ouvrable", "erreur"}));
    // The same DLLs again in the block of the second copy of the exe.
    EXPECT_EQ(rows[8].cells[analysis::kFile], "tvlone.dll");
    EXPECT_TRUE(analysis::hasErrors(rows));

    EXPECT_EQ(statuses.front(), app);
    EXPECT_EQ(statuses[4], "inspection: " + app);
    EXPECT_EQ(statuses[5], "app.exe -> " + platform::listPath(dir.file("tvlone.dll")));
    EXPECT_EQ(statuses.back(), "");
}

TEST_F(Analysis, VersionsAreReadAnewForEveryRow) {
    std::vector<Row> rows = analysis::analyse({app}, testutil::only({}));
    EXPECT_EQ(rows[1].cells[analysis::kVersion], "1.0.0.1");
    pew::Image newer;
    newer.import("tvlthree.dll").version(pew::VersionInfo::simple("1.0.0.2"));
    write("tvlone.dll", newer);
    rows = analysis::analyse({app}, testutil::only({}));
    EXPECT_EQ(rows[1].cells[analysis::kVersion], "1.0.0.2");
}

TEST(Report, LineFormats) {
    const Cells listed = {"toi-même", "app.exe", "/opt/app", "1.2"};
    EXPECT_EQ(analysis::fullLine(listed), "toi-même            : app.exe             \t1.2                 \t/opt/app");
    const Cells error = {"app.exe", "erreur", "x.dll invisible pour /opt/app/app.exe", "erreur"};
    EXPECT_EQ(analysis::shortLine(error), "erreur              \terreur              \tx.dll invisible pour /opt/app/app.exe");
    const Cells wide = {"a-very-long-importer-name.exe", "f", "p", "v"};
    EXPECT_EQ(analysis::fullLine(wide), "a-very-long-importer-name.exe: f                   \tv                   \tp");
}

TEST(Report, FullKeepsEveryRowShortDropsRepeatsIgnoringCase) {
    const std::vector<Cells> rows = {
        {"a.exe", "k.dll", "/lib", "1.0"},
        {"b.exe", "k.dll", "/lib", "1.0"},      // same DLL for another importer
        {"b.exe", "K.DLL", "/LIB", "1.0"},      // differs only in case
        {"b.exe", "k.dll", "/other", "1.0"},    // same name, another folder
    };
    EXPECT_EQ(analysis::reportLines(rows, false).size(), 4u);
    const std::vector<std::string> unique = analysis::reportLines(rows, true);
    ASSERT_EQ(unique.size(), 2u);
    EXPECT_EQ(unique[0], analysis::shortLine(rows[0]));
    EXPECT_EQ(unique[1], analysis::shortLine(rows[3]));
}

TEST(Report, HashedDuplicateTestMatchesTheLinearSearch) {
    std::mt19937 rng(42);
    const char* words[] = {"a.dll", "A.DLL", "é.dll", "É.DLL", "b", "/lib", "/Lib", "1.0", "V: ???", "erreur", ""};
    for (int round = 0; round < 300; ++round) {
        std::vector<Cells> rows(rng() % 40);
        for (Cells& c : rows)
            for (std::string& cell : c) cell = words[rng() % std::size(words)];
        EXPECT_EQ(analysis::reportLines(rows, true), linearUnique(rows)) << round;
    }
}
