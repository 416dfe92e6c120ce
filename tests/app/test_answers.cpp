// What the window answers beside the grid, each held to what tavelin-report
// answers for the same files and options: the tree, "Pourquoi ?",
// "Livrer…", only the problems, accepted absences, the export; and the
// grid's widths and sorting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/application.h"
#include "app/arbre.h"
#include "app/cleversion.h"
#include "app/udossiers.h"
#include "app/ulivrer.h"
#include "app/umain.h"
#include "app/upourquoi.h"
#include "inspect/uimports.h"
#include "krvgrid.h"
#include "platform/platform.h"
#include "platform/settings.h"
#include "tests/app/userstore.h"
#include "tests/cli/clirun.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

namespace fs = std::filesystem;
using clirun::quote;

QString q(const std::string& s) { return QString::fromStdString(s); }

// A folder's files by name, with their bytes.
std::map<std::string, std::string> filesIn(const std::string& folder) {
    std::map<std::string, std::string> out;
    if (!fs::exists(testutil::u8(folder))) return out;
    for (const auto& e : fs::directory_iterator(testutil::u8(folder)))
        out[testutil::str(e.path().filename())] = testutil::fileBytes(testutil::str(e.path()));
    return out;
}

// prog.exe (x64) -> KERNEL32.dll, tvlcore.dll, TVLMID.dll (-> tvlcore.dll,
// tvlleaf.dll -> tvlmid.dll, tvlextra.dll), tvlnowhere.dll, vcruntime140.dll;
// it delay-loads tvllate.dll. tvlextra.dll lives in the user's folder, the
// system's two DLLs in a Windows folder of the test's own.
class Answers : public ::testing::Test {
protected:
    void SetUp() override {
        TApplication::ErrorBox = [this](const QString& text) { errors_.push_back(text.toStdString()); };
        app_ = dir_.mkdir("app");
        libs_ = dir_.mkdir("libs");
        win_ = dir_.mkdir("win");
        const std::string system32 = dir_.mkdir(platform::joinPath("win", "System32"));
        write(platform::joinPath(system32, "kernel32.dll"), {});
        write(platform::joinPath(system32, "vcruntime140.dll"), {"KERNEL32.dll"});
        write(in("prog.exe"), {"KERNEL32.dll", "tvlcore.dll", "TVLMID.dll", "tvlnowhere.dll", "vcruntime140.dll"},
              {"tvllate.dll"}, "5.4.3.2");
        write(in("tvlcore.dll"), {"KERNEL32.dll"}, {}, "10.0");
        write(in("tvlmid.dll"), {"tvlcore.dll", "tvlleaf.dll"}, {}, "5.01");
        write(in("tvlleaf.dll"), {"tvlmid.dll", "tvlextra.dll"});
        write(in("tvllate.dll"), {});
        write(platform::joinPath(libs_, "tvlextra.dll"), {"KERNEL32.dll"});
        prog_ = platform::listPath(in("prog.exe"));
        search_ = "-r -d --dll-path " + quote(libs_) + " --windows " + quote(win_) + " ";
    }
    void TearDown() override {
        if (w_) {
            w_->CBNotSave->setChecked(true);
            w_->close();
            w_.reset();
        }
        TApplication::ErrorBox = nullptr;
        PEFile::Recursive = false;
        EXPECT_TRUE(errors_.empty()) << errors_.front();
    }

    std::string in(const std::string& name) const { return platform::joinPath(app_, name); }
    static void write(const std::string& path, const std::vector<std::string>& imports,
                      const std::vector<std::string>& delayed = {}, const std::string& version = {}) {
        pew::Image image;
        image.pe32plus = true;
        for (const std::string& n : imports) image.import(n);
        for (const std::string& n : delayed) image.delayImport(n);
        if (!version.empty()) image.version(pew::VersionInfo::simple(version));
        pew::writeFile(path, pew::build(image));
    }

    // The window as the store leaves it: `files` listed, "Récursif" and
    // "Différés" ticked, the user's folder alone with the test's Windows.
    void Start(const std::vector<std::string>& files, const std::string& accepted = {}) {
        platform::Settings reg;
        ASSERT_TRUE(reg.OpenKey(TFMain::Cle, true));
        for (std::size_t i = 0; i < files.size(); ++i) reg.WriteString(std::to_string(i), files[i]);
        reg.CloseKey();
        ASSERT_TRUE(reg.OpenKey(TFMain::CleParams, true));
        for (const char* v : {"State", "Top", "Left"}) reg.WriteInteger(v, 0);
        reg.WriteInteger("Width", 1400);
        reg.WriteInteger("Height", 800);
        for (const char* v : {"Adresse", "Windows"}) reg.WriteString(v, "");
        for (const char* v : {"Unique", "Fonctions", "Assemblages"}) reg.WriteBool(v, false);
        for (const char* v : {"Recursif", "Differes", "Seulement"}) reg.WriteBool(v, true);
        reg.WriteString("Dossiers", libs_);
        reg.WriteString("Windows", win_);
        reg.WriteString("Acceptees", accepted);
        reg.CloseKey();
        w_ = std::make_unique<TFMain>();
        w_->Beep = [] {};
        w_->Confirmer = [](const QString&) { return true; };
        w_->Avertir = [this](const QString& text) { errors_.push_back("Avertir: " + text.toStdString()); };
        w_->DoCreate();
        w_->show();
        QCoreApplication::processEvents();
        w_->PageControl1->setCurrentWidget(w_->TSListe2);
        QCoreApplication::processEvents();
    }
    clirun::Outcome cli(const std::string& args) {
        return clirun::runSplit(search_ + args, dir_.file("stderr.txt"));
    }
    std::string listed() const {
        std::string out;
        for (int i = 0; i < w_->LB->count(); ++i) out += " " + quote(w_->LB->item(i)->text().toStdString());
        return out;
    }
    TKRVGrid* grid() const { return w_->SG2; }
    int rowOf(const QString& file, int col = 1) const {
        for (int r = 1; r < grid()->RowCount(); ++r)
            if (grid()->Cells(col, r) == file) return r;
        return -1;
    }
    // Every node, depth first, each opened as the user opens it.
    void walk(const QModelIndex& parent, std::vector<QModelIndex>& out) const {
        TArbreModel* m = w_->ModeleArbre();
        if (m->canFetchMore(parent)) m->fetchMore(parent);
        for (int r = 0; r < m->rowCount(parent); ++r) {
            const QModelIndex child = m->index(r, 0, parent);
            out.push_back(child);
            walk(child, out);
        }
    }
    std::vector<QModelIndex> nodes() const {
        std::vector<QModelIndex> out;
        walk({}, out);
        return out;
    }
    int kind(const QModelIndex& i) const { return i.data(TArbreModel::NatureRole).toInt(); }

    testutil::UserStore store_;
    testutil::TempDir dir_;
    std::string app_, libs_, win_, prog_, search_;
    std::unique_ptr<TFMain> w_;
    std::vector<std::string> errors_;
};

}  // namespace

TEST_F(Answers, TheTreeHoldsTheLinesOfTreeAndItsProblemsBelowTheirModule) {
    Start({prog_, platform::listPath(in("tvlleaf.dll"))});
    w_->PageControl1->setCurrentWidget(w_->TSArbre);
    const clirun::Outcome tree = cli("--tree" + listed());
    ASSERT_EQ(tree.status, 1);
    std::string drawn;
    int roots = 0, problems = 0;
    for (const QModelIndex& i : nodes()) {
        if (kind(i) == int(chains::NodeKind::Problem)) {
            ++problems;
            EXPECT_EQ(i.parent().data().toString(), "prog.exe");  // the importer it is about
            EXPECT_EQ(qvariant_cast<QBrush>(i.data(Qt::ForegroundRole)).color(), QColor(0x80, 0, 0));
            continue;
        }
        if (!i.parent().isValid() && roots++) drawn += "\n";
        drawn += i.data(TArbreModel::LigneRole).toString().toStdString() + "\n";
        if (i.data().toString().contains("tvllate.dll")) {
            EXPECT_TRUE(qvariant_cast<QFont>(i.data(Qt::FontRole)).italic());
        }
    }
    EXPECT_EQ(drawn, tree.out);
    EXPECT_EQ(problems, 1);
    EXPECT_EQ(roots, 2);

    // The system's DLLs leave, with nothing else.
    const std::size_t all = nodes().size();
    QTest::mouseClick(w_->CBSysteme, Qt::LeftButton, {}, QPoint(5, w_->CBSysteme->height() / 2));
    std::size_t left = 0;
    for (const QModelIndex& i : nodes()) {
        EXPECT_FALSE(i.data().toString().startsWith("kernel32.dll")) << i.data().toString().toStdString();
        EXPECT_FALSE(i.data().toString().startsWith("vcruntime140.dll"));
        ++left;
    }
    EXPECT_LT(left, all);
    EXPECT_GE(left, all - 7);
}

TEST_F(Answers, PourquoiGivesWhatWhyGivesFromTheGridAndTheTree) {
    Start({prog_});
    grid()->setFocus();
    grid()->SetRow(rowOf("tvlcore.dll"));
    QTest::keyClick(grid(), Qt::Key_P);
    ASSERT_NE(w_->FenetrePourquoi(), nullptr);
    EXPECT_TRUE(w_->FenetrePourquoi()->isVisible());
    EXPECT_EQ(w_->FenetrePourquoi()->Texte().toStdString() + "\n", cli("--why tvlcore.dll" + listed()).out);
    // The problem row of a DLL found nowhere.
    grid()->SetRow(rowOf("tvlnowhere.dll invisible pour " + q(prog_), 2));
    w_->PopupPopup();
    EXPECT_TRUE(w_->Pourquoi1->isEnabled());
    w_->Pourquoi1->trigger();
    EXPECT_EQ(w_->FenetrePourquoi()->Texte(), "prog.exe -> tvlnowhere.dll (invisible)");
    grid()->SetRow(1);  // the listed file: nothing to ask
    w_->PopupPopup();
    EXPECT_FALSE(w_->Pourquoi1->isEnabled());

    w_->PageControl1->setCurrentWidget(w_->TSArbre);
    for (const QModelIndex& i : nodes())
        if (i.data().toString() == "tvlextra.dll") w_->TVArbre->setCurrentIndex(i);
    QTest::keyClick(w_->TVArbre, Qt::Key_P);
    EXPECT_EQ(w_->FenetrePourquoi()->Texte().toStdString() + "\n", cli("--why tvlextra.dll" + listed()).out);
}

// The set as --ship gives it; while a DLL is found nowhere or two files
// share a name, nothing is copied.
TEST_F(Answers, LivrerShowsTheShipSetAndCopiesNothingWhileARefusalStands) {
    const std::string other = dir_.mkdir("other");
    write(platform::joinPath(other, "b.exe"), {"tvlcore.dll"});
    write(platform::joinPath(other, "tvlcore.dll"), {}, {}, "9.0");  // not prog's tvlcore.dll
    Start({prog_, platform::listPath(platform::joinPath(other, "b.exe"))});
    const clirun::Outcome ship = cli("--ship" + listed());
    ASSERT_EQ(ship.status, 1);
    bool shown = false;
    w_->ExecuteLivrer = [&](QDialog& dialog) {
        shown = true;
        auto& d = static_cast<TFLivrer&>(dialog);
        std::string paths;
        for (const shipping::ShipDll& dll : d.Set().dlls) paths += dll.path() + "\n";
        EXPECT_EQ(paths, ship.out);
        ASSERT_EQ(d.TVListe->topLevelItemCount(), int(d.Set().dlls.size()));
        EXPECT_EQ(d.TVListe->topLevelItem(0)->text(TFLivrer::ColPour), "prog.exe");  // its tvlcore.dll
        EXPECT_EQ(d.TVListe->topLevelItem(d.TVListe->topLevelItemCount() - 1)->text(TFLivrer::ColPour), "b.exe");
        ASSERT_EQ(d.LBRedist->count(), 1);
        EXPECT_NE(ship.err.find(d.LBRedist->item(0)->text().toStdString() + "\n"), std::string::npos);
        // The missing DLL, then the two tvlcore.dll, each with its programs.
        ASSERT_EQ(d.LBRefus->count(), 2);
        EXPECT_TRUE(d.LBRefus->item(0)->text().startsWith("tvlnowhere.dll invisible pour "));
        EXPECT_TRUE(d.LBRefus->item(0)->text().endsWith(" — pour prog.exe"));
        EXPECT_TRUE(d.LBRefus->item(1)->text().contains(": pour b.exe"));
        EXPECT_FALSE(d.BCopier->isEnabled());
        const std::string target = dir_.file("bundle");
        d.Copier(q(target));
        QTRY_VERIFY(!d.EnCours());
        EXPECT_FALSE(d.Resultat().ok);
        EXPECT_FALSE(fs::exists(testutil::u8(target)));
        EXPECT_TRUE(d.LResume->text().startsWith("Rien n'a été copié dans "));
    };
    QTest::mouseClick(w_->BLivrer, Qt::LeftButton);
    EXPECT_TRUE(shown);
}

TEST_F(Answers, LivrerCopiesWhatCopyToCopiesByteForByte) {
    Start({prog_}, "tvlnowhere.dll");
    const std::string mine = dir_.file("mine"), theirs = dir_.file("theirs");
    ASSERT_EQ(cli("--ignore tvlnowhere.dll --copy-to " + quote(theirs) + listed()).status, 0);
    w_->ChoisirDossier = [&](QWidget*, const QString&) { return q(mine); };
    w_->ExecuteLivrer = [&](QDialog& dialog) {
        auto& d = static_cast<TFLivrer&>(dialog);
        EXPECT_EQ(d.LBRefus->count(), 0);
        ASSERT_TRUE(d.BCopier->isEnabled());
        QTest::mouseClick(d.BCopier, Qt::LeftButton);
        EXPECT_FALSE(d.BFermer->isEnabled());  // a copy runs to its end
        QTRY_VERIFY(!d.EnCours());
        EXPECT_TRUE(d.Resultat().ok);
        EXPECT_TRUE(d.LResume->text().startsWith("5 fichiers copiés dans ")) << d.LResume->text().toStdString();
        d.Copier(q(mine));
        QTRY_VERIFY(!d.EnCours());
        EXPECT_TRUE(d.LResume->text().contains("0 fichier copié")) << d.LResume->text().toStdString();
        EXPECT_TRUE(d.LResume->text().contains("5 déjà là"));
    };
    QTest::mouseClick(w_->BLivrer, Qt::LeftButton);
    EXPECT_EQ(filesIn(mine), filesIn(theirs));
    EXPECT_EQ(filesIn(mine).size(), 5u);
}

// The filter shows the error rows alone, wherever the user sorts them; the
// count is --missing's; accepted absences leave the grid, the count, the
// tree and the report as --ignore has them leave.
TEST_F(Answers, ProblemsOnlyTheCountAndAcceptedAbsences) {
    write(in("prog.exe"), {"KERNEL32.dll", "tvlcore.dll", "tvlnowhere.dll", "tvlgone.dll"});
    Start({prog_});
    const auto missing = [&](const std::string& more) {
        const std::string out = cli("--missing " + more + listed()).out;
        return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
    };
    EXPECT_EQ(w_->NombreProblemes(), missing(""));
    EXPECT_EQ(w_->LProblemes->text(), "2 problèmes");
    const auto visibleAreErrors = [&] {
        for (int r = 1; r < grid()->RowCount(); ++r)
            EXPECT_EQ(grid()->isRowHidden(r - 1), grid()->Cells(1, r) != "erreur") << r;
    };
    QTest::mouseClick(w_->CBProblemes, Qt::LeftButton, {}, QPoint(5, w_->CBProblemes->height() / 2));
    visibleAreErrors();
    grid()->SortByColumn(2, true);
    visibleAreErrors();
    QTest::mouseClick(w_->CBProblemes, Qt::LeftButton, {}, QPoint(5, w_->CBProblemes->height() / 2));
    for (int r = 1; r < grid()->RowCount(); ++r) EXPECT_FALSE(grid()->isRowHidden(r - 1));

    // Accepted in "Dossiers…": kept with the folders.
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<TFDossiers*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->Seulement());
        d->EAcceptee->setText("tvlnow*");
        QTest::keyClick(d->EAcceptee, Qt::Key_Return);  // accepts the name, not the dialog
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(d->Acceptees(), QStringList{"tvlnow*"});
        ran = true;
        d->BOK->click();
    });
    QTest::mouseClick(w_->BDossiers, Qt::LeftButton);
    ASSERT_TRUE(ran);
    EXPECT_EQ(w_->Acceptees(), std::vector<std::string>{"tvlnow*"});
    EXPECT_EQ(w_->NombreProblemes(), missing("--ignore " + quote("tvlnow*")));
    EXPECT_EQ(w_->LProblemes->text(), "1 problème");
    w_->PageControl1->setCurrentWidget(w_->TSTexte);
    EXPECT_EQ(w_->RE->toPlainText().toStdString() + "\n", cli("--ignore " + quote("tvlnow*") + listed()).out);
    w_->PageControl1->setCurrentWidget(w_->TSArbre);
    for (const QModelIndex& i : nodes()) {
        EXPECT_FALSE(i.data().toString().startsWith("tvlnowhere.dll invisible"));
        if (i.data().toString().startsWith("tvlnowhere.dll")) {
            EXPECT_FALSE(i.data(Qt::ForegroundRole).isValid());
        }
    }
    w_->CBNotSave->setChecked(false);
    w_->close();
    platform::Settings reg;
    ASSERT_TRUE(reg.OpenKey(TFMain::CleParams, false));
    EXPECT_EQ(reg.ReadString("Acceptees"), "tvlnow*");
    EXPECT_TRUE(reg.ReadBool("Seulement"));
}

TEST_F(Answers, ExportWritesWhatFormatWritesWhole) {
    Start({prog_, platform::listPath(in("gone.exe"))}, "tvlnowhere.dll");
    w_->PageControl1->setCurrentWidget(w_->TSTexte);
    for (bool json : {false, true}) {
        const std::string file = dir_.file(json ? "rows.json" : "rows.csv");
        w_->ExecuteExport = [&](bool& asJson) {
            asJson = json;
            return q(file);
        };
        QTest::mouseClick(w_->BExporter, Qt::LeftButton);
        EXPECT_EQ(testutil::fileBytes(file), cli(std::string("--ignore tvlnowhere.dll --format ") + (json ? "json" : "csv") +
                                     listed())
                                     .out);
    }
    // A folder that is not there: nothing written, the error told.
    w_->ExecuteExport = [&](bool&) { return q(dir_.file("absent/rows.csv")); };
    QTest::mouseClick(w_->BExporter, Qt::LeftButton);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find("Impossible d'écrire le fichier"), std::string::npos);
    errors_.clear();
}

TEST_F(Answers, ColumnsFitTheirContentsAndTitlesReverseTheirOrder) {
    write(in("tvl-a-library-whose-name-is-rather-long.dll"), {}, {}, "10.0.18362.1 (WinBuild.160101.0800)");
    write(in("prog.exe"), {"tvlcore.dll", "TVLMID.dll", "tvl-a-library-whose-name-is-rather-long.dll"});
    Start({prog_});
    const QFontMetrics fm = grid()->fontMetrics();
    for (int c : {0, 1, 3}) {
        EXPECT_LE(grid()->ColWidths(c), TFMain::LargeurMax);
        for (int r = 1; r < grid()->RowCount(); ++r)
            if (fm.horizontalAdvance(grid()->Cells(c, r)) < TFMain::LargeurMax - 20) {
                EXPECT_FALSE(grid()->CellHint(c, r).startsWith(grid()->Cells(c, r))) << c << " " << r;
            }
    }
    const auto others = [&] { return grid()->ColWidths(0) + grid()->ColWidths(1) + grid()->ColWidths(3); };
    EXPECT_GT(grid()->ColWidths(1), 93);
    EXPECT_EQ(grid()->ColWidths(2), grid()->viewport()->width() - others());

    // A width the user drags is kept through the next runs.
    QHeaderView* titles = grid()->horizontalHeader();
    const int edge = titles->sectionViewportPosition(2) - 1, y = titles->height() / 2;
    QTest::mousePress(titles->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
    QTest::mouseMove(titles->viewport(), QPoint(edge + 80, y));
    QTest::mouseRelease(titles->viewport(), Qt::LeftButton, {}, QPoint(edge + 80, y));
    ASSERT_TRUE(w_->LargeurUtilisateur(1));
    const int dragged = grid()->ColWidths(1);
    QTest::mouseClick(w_->CBFonctions, Qt::LeftButton, {}, QPoint(5, w_->CBFonctions->height() / 2));
    EXPECT_EQ(grid()->ColWidths(1), dragged);
    EXPECT_FALSE(w_->LargeurUtilisateur(3));

    // "Version" by numbers, then the other way.
    const auto click = [&](int col) {
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                          QPoint(titles->sectionViewportPosition(col) + 10, y));
    };
    click(3);
    EXPECT_LT(rowOf("tvlmid.dll"), rowOf("tvlcore.dll"));  // 5.01, 10.0
    EXPECT_LT(rowOf("tvlcore.dll"), rowOf("tvl-a-library-whose-name-is-rather-long.dll"));
    EXPECT_EQ(titles->sortIndicatorOrder(), Qt::AscendingOrder);
    click(3);
    EXPECT_GT(rowOf("tvlmid.dll"), rowOf("tvlcore.dll"));
    EXPECT_TRUE(titles->isSortIndicatorShown());
    EXPECT_EQ(titles->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST(CleVersion, NumbersByValueThenText) {
    const std::vector<std::string> ordered = {"1.0", "1.0.1", "1, 0, 2, 0", "5.01", "9.9 beta",
                                              "10.0.18362.1 (WinBuild.160101.0800)", "10.0.18362.10", "erreur",
                                              "V: ???"};
    for (std::size_t i = 0; i + 1 < ordered.size(); ++i)
        EXPECT_LT(CleVersion(ordered[i]), CleVersion(ordered[i + 1])) << ordered[i] << " < " << ordered[i + 1];
    EXPECT_EQ(CleVersion("007.1"), CleVersion("7.1"));
    EXPECT_EQ(CleVersion("V: ???"), CleVersion("v: ???"));
}
