// The "Imports" tab, the report and the navigation commands, driven through
// the real window on fixture images.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QCursor>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>

#include <cstdio>
#include <memory>

#include "app/application.h"
#include "app/umain.h"
#include "inspect/uimports.h"
#include "krvgrid.h"
#include "platform/platform.h"
#include "tests/app/userstore.h"
#include "inspect/analysis.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/qtprint.h"
#include "tests/support/testutil.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

class ImportsTab : public ::testing::Test {
protected:
    void SetUp() override {
        TApplication::ErrorBox = [this](const QString& text) { errors_.push_back(text.toStdString()); };
        pew::Image one;
        one.import("tvlthree.dll").version(pew::VersionInfo::simple("1.0.0.1"));
        write("tvlone.dll", one);
        pew::Image two;
        two.version(pew::VersionInfo::simple("2.0"));
        write("tvltwo.dll", two);
        pew::Image three;
        three.import("tvlfour.dll");
        write("tvlthree.dll", three);
        write("tvlfour.dll", pew::Image{});
        pew::Image exe;
        exe.import("tvlone.dll").import("tvltwo.dll").version(pew::VersionInfo::simple("5.4.3.2"));
        app_ = write("app.exe", exe);
        pew::Image other;
        other.import("tvltwo.dll");
        other_ = write("other.exe", other);

        w_ = std::make_unique<TFMain>();
        w_->ExecuteOD = [this](QStringList& files) {
            files = chosen_;
            return !files.isEmpty();
        };
        w_->Confirmer = [](const QString&) { return true; };
        w_->Beep = [this] { ++beeps_; };
        w_->CBNotSave->setChecked(true);
        w_->DoCreate();
        w_->CBNotSave->setChecked(true);
        w_->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        w_->close();
        w_.reset();
        TApplication::ErrorBox = nullptr;
        PEFile::Recursive = false;
        EXPECT_TRUE(errors_.empty()) << errors_.front();
    }

    std::string write(const std::string& name, const pew::Image& img) {
        const std::string path = dir_.file(name);
        pew::writeFile(path, pew::build(img));
        return path;
    }
    void Add(const std::vector<std::string>& files) {
        chosen_.clear();
        for (const std::string& f : files) chosen_ << q(f);
        QTest::mouseClick(w_->BAjout, Qt::LeftButton);
    }
    void ShowImports() { w_->PageControl1->setCurrentWidget(w_->TSListe2); }
    void ShowReport() { w_->PageControl1->setCurrentWidget(w_->TSTexte); }
    void ShowList() { w_->PageControl1->setCurrentWidget(w_->TSListe); }

    TKRVGrid* grid() const { return w_->SG2; }
    QStringList row(int r) const { return grid()->Rows(r); }
    QString listed(const std::string& name) const { return q(platform::listPath(dir_.file(name))); }
    QString folder() const { return q(platform::directoryPart(platform::listPath(dir_.file("x")))); }
    int rowOf(const QString& file) const {
        for (int r = 1; r < grid()->RowCount(); ++r)
            if (grid()->Cells(1, r) == file) return r;
        return -1;
    }
    // A point inside data row `r` of the grid, in the grid's coordinates.
    QPoint pointOf(int r, int c = 1) const {
        const QRect rect = grid()->visualRect(grid()->model()->index(r - 1, c));
        return grid()->viewport()->mapTo(grid(), rect.center());
    }

    testutil::UserStore store_;
    testutil::TempDir dir_;
    testutil::ScopedEnv onlyImporter_{"TAVELIN_DLL_PATH", ""};  // only the importer's folder (Linux)
    std::string app_, other_;
    std::unique_ptr<TFMain> w_;
    QStringList chosen_;
    std::vector<std::string> errors_;
    int beeps_ = 0;
};

}  // namespace

TEST_F(ImportsTab, EmptyListLeavesTheTitleAndOneBlankRowHidden) {
    ShowImports();
    EXPECT_EQ(grid()->RowCount(), 2);
    EXPECT_TRUE(grid()->Empty);
    EXPECT_FALSE(grid()->isVisible());
    EXPECT_EQ(row(0), (QStringList{"Importateur", "Fichier", "Chemin", "Version"}));
    ShowReport();
    EXPECT_FALSE(w_->RE->isVisible());
    EXPECT_TRUE(w_->RE->toPlainText().isEmpty());
}

TEST_F(ImportsTab, RowsDirectThenWholeClosureWhenRecursifIsTicked) {
    Add({app_});
    ShowImports();
    ASSERT_EQ(grid()->RowCount(), 4);
    EXPECT_FALSE(grid()->Empty);
    EXPECT_TRUE(grid()->isVisible());
    EXPECT_EQ(row(1), (QStringList{"toi-même", "app.exe", folder(), "5.4.3.2"}));
    EXPECT_EQ(row(2), (QStringList{"app.exe", "tvlone.dll", folder(), "1.0.0.1"}));
    EXPECT_EQ(row(3), (QStringList{"app.exe", "tvltwo.dll", folder(), "2.0"}));
    EXPECT_TRUE(w_->SB->currentMessage().isEmpty());

    // Ticking "Récursif" while the tab shows rebuilds at once: the closure of
    // each DLL right after it, under the listed file's name.
    QTest::mouseClick(w_->CBRecursif, Qt::LeftButton, {}, QPoint(5, w_->CBRecursif->height() / 2));
    ASSERT_TRUE(w_->CBRecursif->isChecked());
    ASSERT_EQ(grid()->RowCount(), 6);
    EXPECT_EQ(row(3), (QStringList{"app.exe", "tvlthree.dll", folder(), "V: ???"}));
    EXPECT_EQ(row(4)[1], "tvlfour.dll");
    EXPECT_EQ(row(5)[1], "tvltwo.dll");
}

TEST_F(ImportsTab, ErrorRowsBelongToTheirFilesBlock) {
    pew::writeFile(dir_.file("notes.exe"), std::string("plain text, not an image"));
    Add({app_, dir_.file("notes.exe"), dir_.file("gone.exe"), other_});
    ShowImports();
    // 4 listed rows, app's 2 DLLs, the text file's error, the missing file's
    // error, other's DLL again.
    ASSERT_EQ(grid()->RowCount(), 1 + 4 + 2 + 1 + 1 + 1);
    EXPECT_EQ(row(7), (QStringList{"notes.exe", "erreur", listed("notes.exe") + " n'est pas un exécutable Win32", "erreur"}));
    EXPECT_EQ(row(8), (QStringList{"gone.exe", "erreur", listed("gone.exe") + " non ouvrable", "erreur"}));
    EXPECT_EQ(row(9), (QStringList{"other.exe", "tvltwo.dll", folder(), "2.0"}));
    EXPECT_EQ(row(3)[3], "V: ???");
}

TEST_F(ImportsTab, ShowingAgainWithoutChangeKeepsTheUsersSort) {
    Add({app_, other_});
    ShowImports();
    // Sort by "Fichier" with a real click on its title.
    QHeaderView* header = grid()->horizontalHeader();
    const QPoint title(header->sectionViewportPosition(1) + 10, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, title);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, title);
    const QString firstAfterSort = grid()->Cells(1, 1);
    EXPECT_EQ(firstAfterSort, "app.exe");
    EXPECT_EQ(grid()->Cells(1, 2), "other.exe");
    EXPECT_EQ(grid()->Cells(1, 3), "tvlone.dll");

    ShowList();
    ShowImports();
    EXPECT_EQ(grid()->Cells(1, 3), "tvlone.dll");  // not rebuilt
    ShowReport();
    EXPECT_TRUE(w_->RE->toPlainText().split('\n')[2].startsWith("app.exe             : tvlone.dll"));

    // A change of the list rebuilds in the analysis order.
    ShowList();
    Add({app_});
    ShowImports();
    EXPECT_EQ(grid()->Cells(0, 1), "toi-même");
    EXPECT_EQ(grid()->Cells(1, 3), "app.exe");
}

// The window and the command line share one loop: for every list and
// option, the grid holds exactly the rows that loop gives.
TEST_F(ImportsTab, TheGridHoldsTheRowsOfTheSharedLoop) {
    pew::Image checks;
    checks.import("tvltwo.dll", {{"Absent"}}).delayImport("tvlone.dll").delayImport("tvlnowhere.dll");
    const std::string funcs = write("funcs.exe", checks);
    pew::writeFile(dir_.file("notes.exe"), std::string("plain text"));
    Add({app_, funcs, dir_.file("gone.exe"), dir_.file("notes.exe"), app_, other_, funcs});
    ShowImports();
    const auto tick = [&](QCheckBox* box, bool on) {
        if (box->isChecked() != on) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        ASSERT_EQ(box->isChecked(), on);
    };
    std::vector<std::string> files;
    for (int i = 0; i < w_->LB->count(); ++i) files.push_back(w_->LB->item(i)->text().toStdString());
    for (int options = 0; options < 8; ++options) {
        tick(w_->CBRecursif, options & 1);
        tick(w_->CBFonctions, options & 2);
        tick(w_->CBDifferes, options & 4);
        const std::vector<analysis::Row> rows =
            analysis::analyse(files, testutil::only({}, options & 1, options & 2, options & 4));
        ASSERT_EQ(grid()->RowCount(), static_cast<int>(rows.size()) + 1) << options;
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (int c = 0; c < analysis::kColumnCount; ++c)
                EXPECT_EQ(grid()->Cells(c, static_cast<int>(r) + 1).toStdString(), rows[r].cells[c]) << options << " " << r;
    }
    EXPECT_GT(grid()->RowCount(), 20);
}

TEST_F(ImportsTab, ReportIsWhatTheCommandLinePrints) {
    Add({app_, other_, dir_.file("gone.exe")});
    ShowReport();
    ASSERT_TRUE(w_->RE->isVisible());
    for (bool unique : {false, true}) {
        if (w_->CBUnique->isChecked() != unique)
            QTest::mouseClick(w_->CBUnique, Qt::LeftButton, {}, QPoint(5, w_->CBUnique->height() / 2));
        ASSERT_EQ(w_->CBUnique->isChecked(), unique);
        std::string cmd = std::string("\"") + TAVELIN_REPORT_EXE + "\" --dll-path \"" + dir_.mkdir("nothing") + "\"";
        if (unique) cmd += " -u";
        for (int i = 0; i < w_->LB->count(); ++i) cmd += " \"" + w_->LB->item(i)->text().toStdString() + "\"";
#ifdef _WIN32
        cmd = "\"" + cmd + "\"";  // cmd /c strips one outer pair of quotes
#endif
        std::string out;
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        EXPECT_EQ(pclose(p) != 0, true);  // the missing file is an error row
        EXPECT_EQ(w_->RE->toPlainText().toStdString() + "\n", out) << (unique ? "sans doublon" : "full");
    }
    // "sans doublon": tvltwo.dll, used by both executables, shows once.
    EXPECT_EQ(w_->RE->toPlainText().count("tvltwo.dll"), 1);
    EXPECT_EQ(w_->RE->toPlainText().split('\n').size(), 3 + 2 + 1);
}

TEST_F(ImportsTab, PopupStatesAndAjouter) {
    Add({app_});
    ShowImports();
    grid()->SetRow(0);
    w_->PopupPopup();
    EXPECT_FALSE(w_->Ajouter1->isEnabled());
    EXPECT_FALSE(w_->Suivre1->isEnabled());

    grid()->SetRow(1);  // the "toi-même" row: already in the list
    w_->PopupPopup();
    EXPECT_FALSE(w_->Ajouter1->isEnabled());
    EXPECT_TRUE(w_->Suivre1->isEnabled());

    const int dll = rowOf("tvlone.dll");
    grid()->SetRow(dll);
    w_->PopupPopup();
    EXPECT_TRUE(w_->Ajouter1->isEnabled());
    w_->Ajouter1->trigger();
    ASSERT_EQ(w_->LB->count(), 2);
    EXPECT_EQ(w_->LB->item(1)->text(), listed("tvlone.dll"));
    EXPECT_EQ(grid()->RowCount(), 1 + 2 + 2 + 1);  // rebuilt at once
    grid()->SetRow(rowOf("tvlone.dll"));
    w_->Ajouter1Click();  // a second time: nothing more
    EXPECT_EQ(w_->LB->count(), 2);
}

TEST_F(ImportsTab, RightClickChoosesTheRowButNotBelowTheLast) {
    Add({app_});
    ShowImports();
    grid()->SetRow(1);
    QTest::mousePress(grid()->viewport(), Qt::RightButton, {}, grid()->viewport()->mapFrom(grid(), pointOf(3)));
    QTest::mouseRelease(grid()->viewport(), Qt::RightButton, {}, grid()->viewport()->mapFrom(grid(), pointOf(3)));
    EXPECT_EQ(grid()->Row(), 3);
    const QPoint below(20, grid()->viewport()->height() - 3);
    QTest::mousePress(grid()->viewport(), Qt::RightButton, {}, below);
    QTest::mouseRelease(grid()->viewport(), Qt::RightButton, {}, below);
    EXPECT_EQ(grid()->Row(), 3);
    if (QMenu* m = w_->Popup; m->isVisible()) m->close();
}

TEST_F(ImportsTab, KeysActOnDataRowsOnly) {
    Add({app_});
    ShowImports();
    grid()->setFocus();
    grid()->SetRow(0);
    QTest::keyClick(grid(), Qt::Key_A);
    QTest::keyClick(grid(), Qt::Key_S);
    EXPECT_EQ(w_->LB->count(), 1);
    EXPECT_FALSE(w_->LBFloat->isVisible());
    EXPECT_EQ(beeps_, 0);

    grid()->SetRow(rowOf("tvltwo.dll"));
    QTest::keyClick(grid(), Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(w_->LB->count(), 2);
    grid()->SetRow(rowOf("tvltwo.dll"));
    QTest::keyClick(grid(), Qt::Key_S);  // imports nothing: a beep, no list
    EXPECT_EQ(beeps_, 1);
    EXPECT_FALSE(w_->LBFloat->isVisible());
    EXPECT_EQ(w_->SB->currentMessage(), "suivi: " + listed("tvltwo.dll"));
}

TEST_F(ImportsTab, FollowingShowsTheFloatingListInsideTheWindow) {
    Add({app_});
    ShowImports();
    const int dll = rowOf("tvlone.dll");
    grid()->SetRow(dll);
    QCursor::setPos(w_->mapToGlobal(QPoint(w_->width() - 3, w_->height() - 3)));
    QTest::keyClick(grid(), Qt::Key_Return);
    ASSERT_TRUE(w_->LBFloat->isVisible());
    EXPECT_FALSE(grid()->isEnabled());
    EXPECT_EQ(w_->LBFloat->count(), 1);
    EXPECT_EQ(w_->LBFloat->item(0)->text(), listed("tvlthree.dll"));
    QWidget* client = w_->LBFloat->parentWidget();
    const QRect g = w_->LBFloat->geometry();
    EXPECT_TRUE(client->rect().contains(g)) << g.x() << "," << g.y() << " " << g.width() << "x" << g.height();
    const int ih = w_->LBFloat->sizeHintForRow(0);
    EXPECT_EQ(g.height(), 1 * ih + 2);

    // With "Récursif" the whole closure, sorted; following from the list
    // replaces it.
    w_->CacherListe();
    QTest::mouseClick(w_->CBRecursif, Qt::LeftButton, {}, QPoint(5, w_->CBRecursif->height() / 2));
    grid()->SetRow(rowOf("tvlone.dll"));
    w_->Suivre1Click();
    ASSERT_EQ(w_->LBFloat->count(), 2);
    EXPECT_EQ(w_->LBFloat->item(0)->text(), listed("tvlfour.dll"));
    EXPECT_EQ(w_->LBFloat->item(1)->text(), listed("tvlthree.dll"));
    QWidget* vp = w_->LBFloat->viewport();
    const QRect second = w_->LBFloat->visualItemRect(w_->LBFloat->item(1));
    QTest::mouseClick(vp, Qt::RightButton, {}, second.center());  // tvlthree imports tvlfour
    ASSERT_TRUE(w_->LBFloat->isVisible());
    EXPECT_EQ(w_->LBFloat->count(), 1);
    EXPECT_EQ(w_->LBFloat->item(0)->text(), listed("tvlfour.dll"));
    QTest::mouseClick(vp, Qt::RightButton, {}, w_->LBFloat->visualItemRect(w_->LBFloat->item(0)).center());
    EXPECT_EQ(beeps_, 1);  // tvlfour imports nothing: the list stays as it was
    EXPECT_TRUE(w_->LBFloat->isVisible());

    QTest::keyClick(w_->LBFloat, Qt::Key_Escape);
    EXPECT_FALSE(w_->LBFloat->isVisible());
    EXPECT_TRUE(grid()->isEnabled());
    EXPECT_EQ(w_->LBFloat->count(), 0);
    EXPECT_TRUE(w_->SB->currentMessage().isEmpty());

    grid()->SetRow(rowOf("tvlone.dll"));
    w_->Suivre1Click();
    QTest::mouseClick(w_->LBFloat->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(w_->LBFloat->isVisible());
}

// Real mouse events, through the window as the system delivers them.
TEST_F(ImportsTab, TheFloatingListTakesWhatItHandlesAndEveryRightPress) {
#ifdef _WIN32
    // The list opens at the system's cursor, which QCursor::setPos does not
    // move under Wine without a display.
    GTEST_SKIP() << "no cursor to move under Wine's offscreen platform";
#endif
    Add({app_});
    ShowImports();
    int pressed = 0, activated = 0;
    QObject::connect(w_->LBFloat, &QListWidget::pressed, [&] { ++pressed; });
    QObject::connect(w_->LBFloat, &QListWidget::doubleClicked, [&] { ++pressed; });
    QObject::connect(w_->LBFloat, &QListWidget::activated, [&] { ++activated; });
    grid()->SetRow(1);
    QCursor::setPos(w_->mapToGlobal(QPoint(w_->width() / 2, w_->height() / 2)));
    w_->Suivre1Click();
    ASSERT_EQ(w_->LBFloat->count(), 2);  // tvlone, tvltwo
    const QPoint on = w_->LBFloat->viewport()->mapTo(w_.get(), w_->LBFloat->visualItemRect(w_->LBFloat->item(0)).center());
    QCursor::setPos(w_->mapToGlobal(on));
    // A double click of the right button: each press follows. The list moves
    // under the pointer, so the second press lands on tvlone's own import.
    QTest::mouseDClick(w_->windowHandle(), Qt::RightButton, {}, on);
    ASSERT_TRUE(w_->LBFloat->isVisible());
    ASSERT_EQ(w_->LBFloat->count(), 1);
    EXPECT_EQ(w_->LBFloat->item(0)->text(), listed("tvlfour.dll"));
    EXPECT_EQ(beeps_, 0);
    EXPECT_EQ(pressed, 0);

    // Enter follows and goes no further; tvlfour imports nothing.
    w_->LBFloat->setCurrentRow(0);
    QTest::keyClick(w_->LBFloat, Qt::Key_Return);
    EXPECT_EQ(beeps_, 1);
    EXPECT_EQ(activated, 0);
    EXPECT_TRUE(w_->LBFloat->isVisible());
    const QPoint empty = w_->LBFloat->viewport()->mapTo(w_.get(), QPoint(2, w_->LBFloat->viewport()->height() - 1));
    QTest::mouseClick(w_->windowHandle(), Qt::LeftButton, {}, empty);
    EXPECT_FALSE(w_->LBFloat->isVisible());
    EXPECT_EQ(pressed, 0);
}

TEST_F(ImportsTab, RightClickOnTheTitleRowOpensThePopupWithBothItemsDisabled) {
    Add({app_});
    ShowImports();
    const auto rightClick = [&](QWidget* area, QPoint at) {
        QTest::mouseClick(w_->windowHandle(), Qt::RightButton, {}, area->mapTo(w_.get(), at));
        QCoreApplication::processEvents();
    };
    rightClick(grid()->viewport(), grid()->viewport()->mapFrom(grid(), pointOf(rowOf("tvlone.dll"))));
    ASSERT_TRUE(w_->Popup->isVisible());
    EXPECT_TRUE(w_->Ajouter1->isEnabled());
    EXPECT_TRUE(w_->Suivre1->isEnabled());
    w_->Popup->close();

    QHeaderView* titles = grid()->horizontalHeader();
    rightClick(titles->viewport(), QPoint(titles->sectionViewportPosition(2) + 10, titles->height() / 2));
    EXPECT_EQ(grid()->Row(), 0);
    ASSERT_TRUE(w_->Popup->isVisible());
    EXPECT_FALSE(w_->Ajouter1->isEnabled());
    EXPECT_FALSE(w_->Suivre1->isEnabled());
    w_->Popup->close();
}

TEST_F(ImportsTab, FollowingAnErrorRowOrAVanishedFileBeeps) {
    pew::writeFile(dir_.file("notes.exe"), std::string("text"));
    Add({dir_.file("notes.exe")});
    ShowImports();
    grid()->SetRow(2);  // the error row
    w_->Suivre1Click();
    EXPECT_EQ(beeps_, 1);
    w_->Ajouter1Click();  // its composed text joins the list, reported next time
    EXPECT_EQ(w_->LB->count(), 2);
    EXPECT_EQ(grid()->Cells(1, grid()->RowCount() - 1), "erreur");
}

// Problems in dark red, whichever way the user orders the rows, in the grid only.
TEST_F(ImportsTab, ProblemRowsAreDarkRedWhereverTheUserPutsThem) {
    pew::writeFile(dir_.file("notes.exe"), std::string("plain text, not an image"));
    Add({app_, dir_.file("notes.exe"), dir_.file("gone.exe"), other_});
    ShowImports();
    const auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        for (int r = 1; r < grid()->RowCount(); ++r) {
            const QVariant v = grid()->model()->index(r - 1, 2).data(Qt::ForegroundRole);
            ASSERT_EQ(v.isValid(), grid()->Cells(1, r) == "erreur") << "row " << r;
            if (v.isValid()) {
                EXPECT_EQ(qvariant_cast<QBrush>(v).color(), QColor(0x80, 0, 0));
            }
        }
    };
    check("as analysed");
    QHeaderView* header = grid()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(2) + 10, header->height() / 2));  // by "Chemin"
    ASSERT_NE(grid()->Cells(1, 7), "erreur");
    check("sorted by path");
    grid()->verticalHeader()->moveSection(grid()->RowCount() - 2, 0);  // a row handle dragged to the top
    check("row moved");
    ShowReport();
    EXPECT_FALSE(w_->RE->document()->toHtml().contains("color"));
}

// The designed widths are the least; "Chemin" fills what the window leaves.
TEST_F(ImportsTab, ThePathsTakeTheRoomOfAWiderWindow) {
    Add({app_});
    ShowImports();
    const auto others = [&] { return grid()->ColWidths(0) + grid()->ColWidths(1) + grid()->ColWidths(3); };
    EXPECT_EQ(grid()->ColWidths(2), std::max(306, grid()->viewport()->width() - others()));
    w_->resize(w_->width() + 200, w_->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(others(), 92 + 93 + 84);
    EXPECT_EQ(grid()->ColWidths(2), grid()->viewport()->width() - others());
    EXPECT_GT(grid()->ColWidths(2), 306 + 150);
    w_->resize(TFMain::MinWidth, w_->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(grid()->ColWidths(2), 306);
}
