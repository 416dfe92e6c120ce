// The main window driven headless: the settings kept between runs, the list
// of executables, and where errors of the handlers end up.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/ownversion.h"
#include "app/udossiers.h"
#include "app/umain.h"
#include "inspect/uimports.h"
#include "krvgrid.h"
#include "msglabel.h"
#include "platform/platform.h"
#include "platform/settings.h"
#include "tests/app/userstore.h"
#include "tests/support/qtprint.h"
#include "tests/support/testutil.h"
#include "urllabel.h"
#include "version.h"

#ifdef __linux__
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

using Values = std::vector<std::pair<std::string, std::string>>;  // name, text
using Integers = std::vector<std::pair<std::string, int>>;

// The list's lines for these files: as the window lists them (on Windows
// with backslashes, lowered).
// The list's lines read back from the store: lowered on Windows, the
// separators as stored.
QStringList Restored(const std::vector<std::string>& paths) {
    QStringList out;
    for (const std::string& p : paths) out << q(platform::listPath(p));
    return out;
}
QStringList Listed(const std::vector<std::string>& paths) {
    QStringList out;
    for (const std::string& p : paths) out << QDir::toNativeSeparators(q(platform::listPath(p)));
    return out;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TApplication::ErrorBox = [this](const QString& text) { errors_.push_back(text.toStdString()); };
    }
    void TearDown() override { TApplication::ErrorBox = nullptr; }

    // One run of the program: the window built, restored and shown, with
    // the files of its command line.
    std::unique_ptr<TFMain> Start(const QStringList& commandLine = {}) {
        auto w = std::make_unique<TFMain>();
        w->ExecuteOD = [this](QStringList& files) {
            ++odRuns_;
            if (chosen_.empty()) return false;
            files = chosen_.front();
            chosen_.erase(chosen_.begin());
            return true;
        };
        w->Confirmer = [this](const QString& question) {
            questions_.push_back(question.toStdString());
            return answer_;
        };
        w->Avertir = [this](const QString& text) { notices_.push_back(text.toStdString()); };
        w->ChoisirDossier = [this](QWidget*, const QString&) {
            if (folders_.empty()) return QString();
            const QString f = folders_.front();
            folders_.erase(folders_.begin());
            return f;
        };
        w->DoCreate(commandLine);
        w->show();
        QCoreApplication::processEvents();
        return w;
    }

    // Adds files through the open dialog, as the user would.
    void Add(TFMain& w, const QStringList& files) {
        chosen_.push_back(files);
        QTest::mouseClick(w.BAjout, Qt::LeftButton);
    }

    static QStringList Items(const TFMain& w) {
        QStringList out;
        for (int i = 0; i < w.LB->count(); ++i) out << w.LB->item(i)->text();
        return out;
    }

    // The store as another program sees it.
    static std::vector<std::string> Names(const char* key) {
        platform::Settings reg;
        if (!reg.OpenKey(key, false)) return {};
        return reg.GetValueNames();
    }
    static std::string Text(const char* key, const std::string& name) {
        platform::Settings reg;
        EXPECT_TRUE(reg.OpenKey(key, false));
        return reg.ReadString(name);
    }
    static int Integer(const char* key, const std::string& name) {
        platform::Settings reg;
        EXPECT_TRUE(reg.OpenKey(key, false));
        return reg.ReadInteger(name);
    }
    static void Put(const char* key, const Values& texts, const Integers& integers = {}) {
        platform::Settings reg;
        ASSERT_TRUE(reg.OpenKey(key, true));
        for (const auto& [n, v] : texts) reg.WriteString(n, v);
        for (const auto& [n, v] : integers) reg.WriteInteger(n, v);
    }
    static void PutParams(int top, int left, int width, int height, int state, const std::string& adresse = "a@b.c",
                          int unique = 1, int recursif = 1) {
        Put(TFMain::CleParams, {{"Adresse", adresse}},
            {{"Top", top}, {"Left", left}, {"Width", width}, {"Height", height}, {"State", state},
             {"Unique", unique}, {"Recursif", recursif}});
    }
    std::string Path(const std::string& name) const { return files_.file(name); }

    // Runs "Dossiers…" and lets `drive` work the dialog as the user would.
    void Dossiers(TFMain& w, const std::function<void(TFDossiers&)>& drive) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<TFDossiers*>(QApplication::activeModalWidget());
            if (!d) return ADD_FAILURE() << "no dialog";
            drive(*d);
            ran = true;
            if (d->isVisible()) d->reject();
        });
        QTest::mouseClick(w.BDossiers, Qt::LeftButton);
        EXPECT_TRUE(ran);
    }

    // A drag from the file manager over LB, then its drop; true when taken.
    static bool Drop(TFMain& w, const QList<QUrl>& urls, Qt::DropAction* action = nullptr) {
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = w.LB->viewport()->rect().center();
        // Shift asks for a move; the list must answer with a copy.
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
        enter.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(w.LB->viewport(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
        drop.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(w.LB->viewport(), &drop);
        if (action) *action = drop.dropAction();
        return drop.isAccepted();
    }

    testutil::UserStore store_;
    testutil::TempDir files_;
    std::vector<std::string> errors_;
    std::vector<QStringList> chosen_;
    int odRuns_ = 0;
    std::vector<std::string> questions_;
    bool answer_ = true;
    std::vector<std::string> notices_;
    std::vector<QString> folders_;  // what the folder chooser answers, in turn
};

// ---------------------------------------------------------------------------
// Start and stop

TEST_F(MainWindow, FirstStartShowsTheDesignedWindowAndClosingStoresEverything) {
    auto w = Start();
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(w->LB->count(), 0);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Tavelin, un utilitaire pour les bêtas!"));
    EXPECT_EQ(w->pos(), QPoint(107, 94));  // of the frame
    EXPECT_EQ(w->size(), QSize(610, 389));  // of the client area
    const QSize frame = w->frameGeometry().size() - w->size();
    EXPECT_EQ(w->windowState(), Qt::WindowNoState);
    EXPECT_EQ(w->PageControl1->currentWidget(), w->TSListe);
    EXPECT_TRUE(w->EAdresse->text().isEmpty());
    EXPECT_FALSE(w->CBUnique->isChecked());
    EXPECT_FALSE(w->CBRecursif->isChecked());
    EXPECT_FALSE(w->LBFloat->isVisible());
    EXPECT_FALSE(w->AJour());
    // The grid is ready even before anything is stored, and VLab shows the program's own version.
    EXPECT_EQ(w->SG2->Cells(0, 0), QStringLiteral("Importateur"));
    EXPECT_EQ(w->SG2->Cells(3, 0), QStringLiteral("Version"));
    EXPECT_EQ(w->SG2->RowCount(), 2);
    EXPECT_TRUE(w->SG2->Empty);
    EXPECT_EQ(w->VLab->text(), QStringLiteral("V 1.3.0.81"));
    EXPECT_FALSE(w->VLab->Clothed);

    Add(*w, {QString::fromStdString(Path("a.exe")), QString::fromStdString(Path("b.dll"))});
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(errors_.empty());

    EXPECT_EQ(Names(TFMain::Cle), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(Text(TFMain::Cle, "0"), platform::listPath(Path("a.exe")));
    EXPECT_EQ(Text(TFMain::Cle, "1"), platform::listPath(Path("b.dll")));
    std::vector<std::string> params = {"State",    "Top",         "Left",    "Width",     "Height",
                                       "Adresse",  "Unique",      "Recursif", "Fonctions", "Differes",
                                       "Dossiers", "Assemblages", "Windows", "Dotnet",   "Acceptees",
                                       "Seulement"};
#ifdef _WIN32
    // Wine's registry enumerates a key's values by name, not in writing order.
    std::sort(params.begin(), params.end());
#endif
    EXPECT_EQ(Names(TFMain::CleParams), params);
    EXPECT_EQ(Integer(TFMain::CleParams, "State"), 0);
    EXPECT_EQ(Integer(TFMain::CleParams, "Top"), 94);
    EXPECT_EQ(Integer(TFMain::CleParams, "Left"), 107);
    EXPECT_EQ(Integer(TFMain::CleParams, "Width"), 610 + frame.width());
    EXPECT_EQ(Integer(TFMain::CleParams, "Height"), 389 + frame.height());
    EXPECT_EQ(Text(TFMain::CleParams, "Adresse"), "");
    EXPECT_EQ(Integer(TFMain::CleParams, "Unique"), 0);
    EXPECT_EQ(Integer(TFMain::CleParams, "Recursif"), 0);
    EXPECT_EQ(Integer(TFMain::CleParams, "Fonctions"), 0);
    EXPECT_EQ(Integer(TFMain::CleParams, "Differes"), 0);
    EXPECT_EQ(Text(TFMain::CleParams, "Dossiers"), "");
}

TEST_F(MainWindow, WhatOneRunStoresTheNextRestores) {
    {
        auto w = Start();
        Add(*w, {QString::fromStdString(Path("a.exe")), QString::fromStdString(Path("é.dll")),
                 QString::fromStdString(Path("a.exe"))});
        w->SetOuterBounds(QRect(150, 120, 700, 450));
        w->EAdresse->setText(QStringLiteral("bêta@exemple.fr"));
        w->CBUnique->setChecked(true);
        w->CBRecursif->setChecked(true);
        w->CBFonctions->setChecked(true);
        w->CBDifferes->setChecked(true);
        w->CBAssemblages->setChecked(true);
        w->CBNotSave->setChecked(false);
        ASSERT_TRUE(w->close());
    }
    auto w = Start();
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(Items(*w), (QStringList{QString::fromStdString(platform::listPath(Path("a.exe"))),
                                      QString::fromStdString(platform::listPath(Path("é.dll"))),
                                      QString::fromStdString(platform::listPath(Path("a.exe")))}));
    EXPECT_EQ(w->OuterBounds(), QRect(150, 120, 700, 450));
    EXPECT_EQ(w->EAdresse->text(), QStringLiteral("bêta@exemple.fr"));
    EXPECT_TRUE(w->CBUnique->isChecked());
    EXPECT_TRUE(w->CBRecursif->isChecked());
    EXPECT_TRUE(w->CBFonctions->isChecked());
    EXPECT_TRUE(w->CBDifferes->isChecked());
    EXPECT_TRUE(w->CBAssemblages->isChecked() && w->OptionsAnalyse().assemblies);
    EXPECT_TRUE(w->OptionsAnalyse().functions && w->OptionsAnalyse().delayLoad);
    EXPECT_FALSE(w->CBNotSave->isChecked());
}

TEST_F(MainWindow, AShrinkingListLeavesExactlyItsValues) {
    {
        auto w = Start();
        for (const char* f : {"1.exe", "2.exe", "3.exe", "4.exe", "5.exe"}) Add(*w, {QString::fromStdString(Path(f))});
        ASSERT_TRUE(w->close());
    }
    EXPECT_EQ(Names(TFMain::Cle).size(), 5u);
    {
        auto w = Start();
        ASSERT_EQ(w->LB->count(), 5);
        w->LB->item(0)->setSelected(true);
        w->LB->item(3)->setSelected(true);
        QTest::mouseClick(w->BEffacer, Qt::LeftButton);
        ASSERT_TRUE(w->close());
    }
    EXPECT_EQ(Names(TFMain::Cle), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(Text(TFMain::Cle, "0"), platform::listPath(Path("2.exe")));
    EXPECT_EQ(Text(TFMain::Cle, "1"), platform::listPath(Path("3.exe")));
    EXPECT_EQ(Text(TFMain::Cle, "2"), platform::listPath(Path("5.exe")));
}

TEST_F(MainWindow, AnEmptyListOrNePasSauverWritesNothing) {
    Put(TFMain::Cle, {{"0", "/gardé.exe"}});
    PutParams(10, 20, 600, 400, 0, "x@y.z", 0, 0);
    {
        auto w = Start();
        answer_ = true;
        QTest::mouseClick(w->BVider, Qt::LeftButton);
        EXPECT_EQ(w->LB->count(), 0);
        w->SetOuterBounds(QRect(30, 40, 650, 420));
        EXPECT_TRUE(w->close());
    }
    {
        auto w = Start();
        EXPECT_EQ(Items(*w), QStringList{QStringLiteral("/gardé.exe")});
        EXPECT_EQ(w->OuterBounds(), QRect(20, 10, 600, 400));
        Add(*w, {QStringLiteral("/autre.exe")});
        w->EAdresse->setText(QStringLiteral("changée"));
        w->CBNotSave->setChecked(true);
        EXPECT_TRUE(w->close());
    }
    EXPECT_EQ(Names(TFMain::Cle), std::vector<std::string>{"0"});
    EXPECT_EQ(Text(TFMain::CleParams, "Adresse"), "x@y.z");
    auto w = Start();
    EXPECT_FALSE(w->CBNotSave->isChecked());
    EXPECT_EQ(w->LB->count(), 1);
}

TEST_F(MainWindow, EveryValueOfTheMainKeyIsAFileAndIsReplacedAtTheNextClose) {
    Put(TFMain::Cle, {{"0", "/Un/Premier.EXE"}, {"ajout à la main", "/Deux.dll"}, {"1", "/Trois.exe"}});
    // In the store's own order of values (Wine's registry: by name).
    std::vector<std::string> stored;
    for (const std::string& name : Names(TFMain::Cle)) stored.push_back(Text(TFMain::Cle, name.c_str()));
    auto w = Start();
    EXPECT_TRUE(errors_.empty());
    // Lowered on Windows; kept on Linux, where a lowered name would name another file.
    EXPECT_EQ(Items(*w), Restored(stored));
    ASSERT_TRUE(w->close());
    EXPECT_EQ(Names(TFMain::Cle), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(Text(TFMain::Cle, "1"), platform::listPath(stored[1]));
}

TEST_F(MainWindow, MaximizedAndMinimizedStatesTravelWithTheNormalBounds) {
    {
        auto w = Start();
        Add(*w, {QStringLiteral("/a.exe")});
        w->SetOuterBounds(QRect(60, 50, 640, 400));
        w->showMaximized();
        QCoreApplication::processEvents();
        ASSERT_TRUE(w->isMaximized());
        ASSERT_TRUE(w->close());
        EXPECT_FALSE(w->isMaximized());  // the store saw it put back to normal
    }
    EXPECT_EQ(Integer(TFMain::CleParams, "State"), 2);
    EXPECT_EQ(Integer(TFMain::CleParams, "Left"), 60);
    EXPECT_EQ(Integer(TFMain::CleParams, "Top"), 50);
    EXPECT_EQ(Integer(TFMain::CleParams, "Width"), 640);
    EXPECT_EQ(Integer(TFMain::CleParams, "Height"), 400);
    {
        auto w = Start();
        EXPECT_TRUE(w->isMaximized());
        EXPECT_EQ(w->OuterBounds(), QRect(60, 50, 640, 400));
        w->showMinimized();
        QCoreApplication::processEvents();
        ASSERT_TRUE(w->close());
    }
    EXPECT_EQ(Integer(TFMain::CleParams, "State"), 1);
    EXPECT_EQ(Integer(TFMain::CleParams, "Width"), 640);
    auto w = Start();
    EXPECT_TRUE(w->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(w->OuterBounds(), QRect(60, 50, 640, 400));
}

TEST_F(MainWindow, StoredGeometryIsKeptWithinReason) {
    // Too small: the minimum size wins, also for the user's own resizing.
    PutParams(30, 40, 300, 100, 0);
    {
        auto w = Start();
        EXPECT_EQ(w->OuterBounds(), QRect(40, 30, 506, 212));
        w->resize(100, 50);
        EXPECT_EQ(w->frameGeometry().size(), QSize(506, 212));
    }
    // Unknown states open a normal window.
    for (int state : {3, -1, 1000}) {
        PutParams(30, 40, 600, 300, state);
        auto w = Start();
        EXPECT_EQ(w->windowState(), Qt::WindowNoState) << state;
    }
    // A position off every screen is brought back to the designed place.
    PutParams(-30000, 50000, 600, 300, 0);
    auto w = Start();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w->OuterBounds(), QRect(screen.topLeft() + QPoint(107, 94), QSize(600, 300)));
    EXPECT_TRUE(errors_.empty());
}

TEST_F(MainWindow, MissingAdresseGivesAnEmptyAddress) {
    Put(TFMain::CleParams, {}, {{"Top", 11}, {"Left", 12}, {"Width", 613}, {"Height", 414}, {"State", 0},
                                {"Unique", 1}, {"Recursif", 0}});
    auto w = Start();
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(w->EAdresse->text().isEmpty());
    EXPECT_EQ(w->OuterBounds(), QRect(12, 11, 613, 414));
    EXPECT_TRUE(w->CBUnique->isChecked());
    // A store written before "Fonctions" and "Differes": unticked, no error.
    EXPECT_FALSE(w->CBFonctions->isChecked());
    EXPECT_FALSE(w->CBDifferes->isChecked());
}

TEST_F(MainWindow, AWrongValueIsReportedAndTheWindowOpensWithWhatWasRestored) {
    // A geometry value of the wrong type stops the restore at that value.
    Put(TFMain::Cle, {{"0", "/a.exe"}});
    Put(TFMain::CleParams, {{"Width", "large"}, {"Adresse", "x@y.z"}},
        {{"Top", 33}, {"Left", 44}, {"Height", 400}, {"State", 2}, {"Unique", 1}, {"Recursif", 1}});
    {
        auto w = Start();
        ASSERT_EQ(errors_, std::vector<std::string>{"Type de données incorrect pour 'Width'"});
        EXPECT_EQ(w->LB->count(), 1);
        EXPECT_EQ(w->OuterBounds().topLeft(), QPoint(44, 33));
        EXPECT_EQ(w->size(), QSize(610, 389));
        EXPECT_FALSE(w->isMaximized());
        EXPECT_TRUE(w->EAdresse->text().isEmpty());
        EXPECT_FALSE(w->CBRecursif->isChecked());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->VLab->text(), QStringLiteral("V 1.3.0.81"));
        EXPECT_EQ(w->SG2->Cells(1, 0), QStringLiteral("Fichier"));
        w->CBNotSave->setChecked(true);
    }
    // A missing integer is reported by name; the store is left as it was.
    errors_.clear();
    {
        platform::Settings reg;
        ASSERT_TRUE(reg.OpenKey(TFMain::CleParams, false));
        reg.WriteInteger("Width", 620);
        ASSERT_TRUE(reg.DeleteValue("State"));
    }
    {
        auto w = Start();
        ASSERT_EQ(errors_.size(), 1u);
        EXPECT_NE(errors_[0].find("'State'"), std::string::npos) << errors_[0];
        EXPECT_EQ(w->OuterBounds(), QRect(44, 33, 620, 400));
        EXPECT_TRUE(w->EAdresse->text().isEmpty());
        w->CBNotSave->setChecked(true);
    }
    // A list value that is not a string stops the restore of the list there.
    errors_.clear();
    Put(TFMain::Cle, {{"2", "/c.exe"}}, {{"1", 7}});
    auto w = Start();
    EXPECT_EQ(errors_, std::vector<std::string>{"Type de données incorrect pour '1'"});
#ifdef _WIN32
    // Wine's registry enumerates by name: '1' comes before '2' and ends the reading.
    EXPECT_EQ(Items(*w), Restored({"/a.exe"}));
#else
    EXPECT_EQ(Items(*w), Restored({"/a.exe", "/c.exe"}));
#endif
    EXPECT_EQ(w->pos(), QPoint(107, 94));
    EXPECT_EQ(w->size(), QSize(610, 389));
}

TEST_F(MainWindow, ARefusedWriteKeepsTheWindowOpenAndALaterCloseTriesAgain) {
    if (!testutil::UserStore::CanRefuseWrites) GTEST_SKIP() << "this store cannot refuse the writes of an open key";
    auto w = Start();
    Add(*w, {QStringLiteral("/a.exe"), QStringLiteral("/b.exe")});
    store_.RefuseWrites(true);
    EXPECT_FALSE(w->close());
    EXPECT_EQ(errors_, std::vector<std::string>{"Erreur à la définition des données pour '0'"});
    EXPECT_TRUE(w->isVisible());
    store_.RefuseWrites(false);
    EXPECT_TRUE(w->close());
    EXPECT_EQ(Names(TFMain::Cle), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(Integer(TFMain::CleParams, "State"), 0);

    // "Ne pas sauver" lets the program end without writing.
    errors_.clear();
    auto again = Start();
    store_.RefuseWrites(true);
    EXPECT_FALSE(again->close());
    again->CBNotSave->setChecked(true);
    EXPECT_TRUE(again->close());
    EXPECT_EQ(errors_.size(), 1u);
}

// ---------------------------------------------------------------------------
// The list of executables

TEST_F(MainWindow, AjouterAppendsTheChosenFilesInDialogOrder) {
    auto w = Start();
    w->SetAJour(true);
    Add(*w, {QStringLiteral("/x/Trois.DLL"), QStringLiteral("/x/un.exe"), QStringLiteral("/x/deux.exe")});
    EXPECT_FALSE(w->AJour());
    Add(*w, {QStringLiteral("/x/un.exe")});
    EXPECT_EQ(Items(*w), Listed({"/x/Trois.DLL", "/x/un.exe", "/x/deux.exe", "/x/un.exe"}));
    // Cancelled: nothing changes, not even the staleness.
    w->SetAJour(true);
    QTest::mouseClick(w->BAjout, Qt::LeftButton);
    EXPECT_EQ(odRuns_, 3);
    EXPECT_EQ(w->LB->count(), 4);
    EXPECT_TRUE(w->AJour());
}

TEST_F(MainWindow, EffacerRemovesTheSelectedLinesAndAlwaysMarksTheAnalysisStale) {
    auto w = Start();
    Add(*w, {"/a", "/b", "/c", "/d", "/e"});
    w->SetAJour(true);
    QTest::mouseClick(w->BEffacer, Qt::LeftButton);
    EXPECT_EQ(w->LB->count(), 5);
    EXPECT_FALSE(w->AJour());
    for (int i : {0, 2, 4}) w->LB->item(i)->setSelected(true);
    QTest::mouseClick(w->BEffacer, Qt::LeftButton);
    EXPECT_EQ(Items(*w), Listed({"/b", "/d"}));
}

TEST_F(MainWindow, ViderAsksFirstEvenForAnEmptyList) {
    auto w = Start();
    QTest::mouseClick(w->BVider, Qt::LeftButton);
    EXPECT_EQ(questions_, std::vector<std::string>{"On efface tout?"});
    Add(*w, {"/a", "/b"});
    w->SetAJour(true);
    answer_ = false;
    QTest::mouseClick(w->BVider, Qt::LeftButton);
    EXPECT_EQ(w->LB->count(), 2);
    EXPECT_TRUE(w->AJour());
    answer_ = true;
    QTest::mouseClick(w->BVider, Qt::LeftButton);
    EXPECT_EQ(w->LB->count(), 0);
    EXPECT_FALSE(w->AJour());
}

TEST_F(MainWindow, TheConfirmationBoxAnswersOuiToEnterAndNonToEscape) {
    auto w = Start();
    auto answerWith = [&](int key) {
        QTimer::singleShot(0, [key, &w] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Confirmation"));
            EXPECT_EQ(box->text(), QStringLiteral("On efface tout?"));
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            QStringList captions;
            for (QAbstractButton* b : box->buttons()) captions << b->text();
            captions.sort();
            EXPECT_EQ(captions, (QStringList{QStringLiteral("&Non"), QStringLiteral("&Oui")}));
            EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("&Oui"));
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        });
        return w->Confirmer(QStringLiteral("On efface tout?"));
    };
    auto fresh = std::make_unique<TFMain>();  // the real box, not the test's
    w->Confirmer = fresh->Confirmer;
    EXPECT_FALSE(answerWith(Qt::Key_Escape));
    EXPECT_TRUE(answerWith(Qt::Key_Return));
}

TEST_F(MainWindow, InsertAndDeleteWorkWhateverTheModifiers) {
    auto w = Start();
    w->LB->setFocus();
    chosen_.push_back({"/a", "/b", "/c"});
    QTest::keyClick(w->LB, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(w->LB->count(), 3);
    chosen_.push_back({"/d"});
    QTest::keyClick(w->LB, Qt::Key_Insert);
    EXPECT_EQ(w->LB->count(), 4);
    w->LB->clearSelection();
    w->LB->item(1)->setSelected(true);
    QTest::keyClick(w->LB, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Items(*w), Listed({"/a", "/c", "/d"}));
    w->LB->item(0)->setSelected(true);
    QTest::keyClick(w->LB, Qt::Key_Delete, Qt::AltModifier | Qt::ShiftModifier);
    // Other keys keep their list-box meaning and run no command.
    w->LB->setCurrentRow(0);
    QTest::keyClick(w->LB, Qt::Key_Down);
    EXPECT_EQ(w->LB->currentRow(), 1);
    EXPECT_EQ(odRuns_, 2);
    EXPECT_EQ(w->LB->count(), 2);
}

TEST_F(MainWindow, AnErrorInAHandlerIsShownAndTheWindowGoesOn) {
    auto w = Start();
    w->ExecuteOD = [](QStringList&) -> bool { throw std::runtime_error("Impossible de créer le fichier x"); };
    QTest::mouseClick(w->BAjout, Qt::LeftButton);
    EXPECT_EQ(errors_, std::vector<std::string>{"Impossible de créer le fichier x"});
    EXPECT_TRUE(w->isVisible());
    chosen_.push_back({"/a"});
    w->ExecuteOD = [this](QStringList& files) {
        files = chosen_.front();
        return true;
    };
    QTest::mouseClick(w->BAjout, Qt::LeftButton);
    EXPECT_EQ(w->LB->count(), 1);
}

// Whatever a handler lets through reaches the application's net.
TEST_F(MainWindow, AnErrorEscapingAnEventReachesTheApplication) {
    struct Thrower : QObject {
        bool event(QEvent*) override { throw std::runtime_error("Index hors limites"); }
    } thrower;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
    EXPECT_EQ(errors_, std::vector<std::string>{"Index hors limites"});
}

// ---------------------------------------------------------------------------
// Search folders, files from the desktop, a store that cannot be read

void Touch(const std::string& path, const std::string& text = "") { std::ofstream(path, std::ios::binary) << text; }
std::vector<std::string> Utf8(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list) out.push_back(s.toStdString());
    return out;
}

TEST_F(MainWindow, TheFoldersDialogEditsTheStoredSearchFolders) {
    testutil::TempDir trees;
    const QString a = q(trees.mkdir("win-a")), b = q(trees.mkdir("win b")), later = q(trees.file("pas monté"));
    auto w = Start();
    w->SetAJour(true);
    folders_ = {a, b, a, q(trees.file("un;deux")), later, QString()};
    Dossiers(*w, [&](TFDossiers& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Dossiers de recherche"));
        EXPECT_TRUE(d.isModal());
        EXPECT_FALSE(d.LRemplace->isVisibleTo(&d));
        QStringList after;
        for (int i = 0; i < d.LBSuite->count(); ++i) after << d.LBSuite->item(i)->text();
        QStringList system;
        for (const std::string& f : platform::systemDllFolders()) system << q(f);
        EXPECT_EQ(after, system.isEmpty() ? QStringList{QStringLiteral("ordre de recherche du système")} : system);
        EXPECT_FALSE(d.BRetirer->isEnabled());
        for (int i = 0; i < 6; ++i) QTest::mouseClick(d.BAjouter, Qt::LeftButton);
        // Each folder once; the one holding the separator refused with a word why.
        EXPECT_EQ(d.Dossiers(), (QStringList{a, b, later}));
        ASSERT_EQ(notices_.size(), 1u);
        EXPECT_NE(notices_[0].find("un;deux"), std::string::npos);
        d.LBDossiers->setCurrentRow(1);
        QTest::mouseClick(d.BMonter, Qt::LeftButton);
        EXPECT_FALSE(d.BMonter->isEnabled());
        QTest::keyClick(d.LBDossiers, Qt::Key_Down);
        QTest::mouseClick(d.BDescendre, Qt::LeftButton);
        EXPECT_EQ(d.Dossiers(), (QStringList{b, later, a}));
        EXPECT_FALSE(d.BDescendre->isEnabled());
        QTest::mouseClick(d.BOK, Qt::LeftButton);
    });
    EXPECT_FALSE(w->AJour());
    EXPECT_EQ(w->DossiersDLL(), Utf8({b, later, a}));
    EXPECT_EQ(w->OptionsAnalyse().search.userFolders, Utf8({b, later, a}));

    // Cancelled, or OK without a change: nothing happens.
    w->SetAJour(true);
    Dossiers(*w, [&](TFDossiers& d) {
        QTest::keyClick(d.LBDossiers, Qt::Key_Delete);
        EXPECT_EQ(d.Dossiers().size(), 2);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    Dossiers(*w, [&](TFDossiers& d) { QTest::keyClick(&d, Qt::Key_Return); });
    EXPECT_TRUE(w->AJour());
    EXPECT_EQ(w->DossiersDLL().size(), 3u);

    Add(*w, {QStringLiteral("/a.exe")});
    ASSERT_TRUE(w->close());
    EXPECT_EQ(Text(TFMain::CleParams, "Dossiers"), (QStringList{b, later, a}.join(QLatin1Char(';'))).toStdString());
    // The next start gives them back to the search, the one not there yet too.
    auto again = Start();
    EXPECT_EQ(again->OptionsAnalyse().search.userFolders, Utf8({b, later, a}));
    EXPECT_TRUE(errors_.empty());
}

// The Windows folder to check against: a folder without System32 is refused,
// a real one kept, stored as "Windows" and given back to the search.
TEST_F(MainWindow, TheFoldersDialogKeepsTheWindowsFolderCheckedAgainst) {
    testutil::TempDir trees;
    const QString notWindows = q(trees.mkdir("data")), windows = q(trees.mkdir("win"));
    trees.mkdir("win/system32");
    auto w = Start();
    w->SetAJour(true);
    Dossiers(*w, [&](TFDossiers& d) {
        d.EWindows->setText(notWindows);
        QTest::mouseClick(d.BOK, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        ASSERT_EQ(notices_.size(), 1u);
        EXPECT_NE(notices_[0].find("System32"), std::string::npos);
        d.EWindows->setText(windows);
        QTest::mouseClick(d.BOK, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_FALSE(w->AJour());
    EXPECT_EQ(w->OptionsAnalyse().search.windowsFolder, windows.toStdString());
    Add(*w, {QStringLiteral("/a.exe")});
    ASSERT_TRUE(w->close());
    EXPECT_EQ(Text(TFMain::CleParams, "Windows"), windows.toStdString());
    auto again = Start();
    EXPECT_EQ(again->DossierWindows(), windows.toStdString());
}

TEST_F(MainWindow, TheDialogSaysWhenTavelinDllPathReplacesTheList) {
    auto w = Start();
    qputenv("TAVELIN_DLL_PATH", "/ailleurs");
    if (!platform::SearchOptions::fromEnvironment().folders) {
        qunsetenv("TAVELIN_DLL_PATH");
        GTEST_SKIP() << "this platform's search does not read TAVELIN_DLL_PATH";
    }
    Dossiers(*w, [&](TFDossiers& d) {
        EXPECT_TRUE(d.LRemplace->isVisibleTo(&d));
        EXPECT_TRUE(d.LRemplace->text().startsWith(QStringLiteral("TAVELIN_DLL_PATH est défini")));
        QTest::mouseClick(d.BAnnuler, Qt::LeftButton);
    });
    qunsetenv("TAVELIN_DLL_PATH");
}

TEST_F(MainWindow, FilesAndFoldersDroppedOnTheListAreAppended) {
    testutil::TempDir dir;
    const std::string suite = dir.mkdir("suite");
    for (const char* n : {"b.DLL", "a.exe", "C.ocx", "readme.txt", "x.PYD", "z.node", "k.sys", "m.cpl", "d.drv", "dll"})
        Touch(suite + "/" + n, "MZ");
    Touch(dir.mkdir("suite/sub") + "/inner.dll");
    const std::string notes = dir.file("notes.txt");
    Touch(notes, "pas un exécutable");
    auto w = Start();
    w->SetAJour(true);

    // Nothing local: refused.
    EXPECT_FALSE(Drop(*w, {QUrl(QStringLiteral("https://example.org/x.dll"))}));
    EXPECT_TRUE(w->AJour());

    Qt::DropAction action = Qt::IgnoreAction;
    ASSERT_TRUE(Drop(*w, {QUrl::fromLocalFile(q(notes)), QUrl(QStringLiteral("https://example.org/x.dll")),
                          QUrl::fromLocalFile(q(suite))},
                     &action));
    EXPECT_EQ(action, Qt::CopyAction);  // never a move: the file manager would delete them
    EXPECT_FALSE(w->AJour());
    std::vector<std::string> expected = {notes};
    for (const char* n : {"a.exe", "b.DLL", "C.ocx", "d.drv", "k.sys", "m.cpl", "x.PYD", "z.node"})
        expected.push_back(suite + "/" + n);
    EXPECT_EQ(Items(*w), Listed(expected));
    EXPECT_TRUE(notices_.empty());
}

TEST_F(MainWindow, FilesOnTheCommandLineComeAfterTheStoredList) {
    Put(TFMain::Cle, {{"0", "/gardé.exe"}});
    testutil::TempDir dir;
    const std::string suite = dir.mkdir("suite");
    Touch(suite + "/Un.dll");
    Touch(suite + "/deux.exe");
    const std::string start = platform::currentDirectory();
    ASSERT_TRUE(testutil::changeDirectory(dir.path()));  // relative names are the start folder's
    auto w = Start({QStringLiteral("prog.exe"), QStringLiteral("suite/../autre.dll"), QStringLiteral("suite")});
    testutil::changeDirectory(start);
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(Items(*w), QStringList{QStringLiteral("/gardé.exe")} + Listed({dir.file("prog.exe"), dir.file("autre.dll"),
                                                                             suite + "/deux.exe", suite + "/Un.dll"}));
    EXPECT_FALSE(w->AJour());
}

// The file manager's "Ouvrir avec Tavelin" on a file already listed: the
// list keeps one line for it, whatever the case of its name.
TEST_F(MainWindow, FilesOnTheCommandLineAlreadyListedAreNotListedAgain) {
    testutil::TempDir dir;
    const std::string suite = dir.mkdir("Suite");
    Touch(suite + "/Un.dll");
    Touch(suite + "/deux.exe");
    const QStringList stored = Listed({dir.file("Gardé.exe"), suite + "/un.DLL"});  // as the window wrote them
    Put(TFMain::Cle, {{"0", stored[0].toStdString()}, {"1", stored[1].toStdString()}});
    auto w = Start({q(dir.file("GARDÉ.EXE")), q(suite + "/deux.exe"), q(suite), q(dir.file("neuf.exe")),
                    q(dir.file("NEUF.exe"))});
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(Items(*w), stored + Listed({suite + "/deux.exe", dir.file("neuf.exe")}));
    // Files added by hand may still come twice.
    Add(*w, {q(dir.file("neuf.exe"))});
    EXPECT_EQ(w->LB->count(), 5);
}

#ifdef __linux__
// Root reads every file: the cases that need an ordinary user switch this
// thread alone (the raw call; glibc's would switch every thread) to an id
// no account has, and back.
class AsNobody {
public:
    explicit AsNobody(bool realToo) {
        if (geteuid() == 0)
            active_ = syscall(SYS_setresuid, realToo ? kId : uid_t(-1), kId, uid_t(-1)) == 0;
    }
    ~AsNobody() {
        if (active_) syscall(SYS_setresuid, uid_t(0), uid_t(0), uid_t(-1));
    }
    bool active() const { return active_; }

private:
    static constexpr uid_t kId = 54321;
    bool active_ = false;
};

TEST_F(MainWindow, AStoreThatCannotBeReadIsReportedOnceAndNeverBlocksClosing) {
    namespace fs = std::filesystem;
    const std::string config = qgetenv("XDG_CONFIG_HOME").toStdString();  // the test's fresh store folder
    const std::string folder = config + "/tavelin", store = folder + "/user.reg";
    const std::string valid = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n\"0\"=\"/gardé.exe\"\n";
    const auto slurp = [&] {
        std::ifstream in(store, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    enum Case { Syntax, Folder, Permissions, NoHome };
    int tried = 0;
    for (Case c : {Syntax, Folder, Permissions, NoHome}) {
        SCOPED_TRACE(c);
        errors_.clear();
        fs::remove_all(folder);
        fs::create_directories(folder);
        if (c == Folder) fs::create_directories(store);
        else Touch(store, c == Syntax ? std::string("REGEDIT4\n[HKEY_CURRENT_USER\\Software\nrien\n") : valid);
        if (c == Permissions) chmod(store.c_str(), 0);
        const std::string before = c == Folder ? std::string() : slurp();
        const QByteArray home = qgetenv("HOME");
        if (c == NoHome) {
            qunsetenv("XDG_CONFIG_HOME");
            qputenv("HOME", "");
        }
        {
            AsNobody nobody(c == NoHome);
            if ((c == Permissions || c == NoHome) && geteuid() == 0) {
                ADD_FAILURE() << "could not leave root";
                continue;
            }
            if (c == NoHome && !nobody.active()) continue;  // an ordinary user always has an account
            ++tried;
            auto w = Start({QStringLiteral("/ligne.exe")});
            ASSERT_EQ(errors_.size(), 1u);
            EXPECT_NE(errors_[0].find(c == NoHome ? "Dossier personnel introuvable" : "réglages"), std::string::npos)
                << errors_[0];
            // The files of the command line are there all the same.
            EXPECT_EQ(Items(*w), QStringList{QStringLiteral("/ligne.exe")});
            Add(*w, {QStringLiteral("/ajout.exe")});
            EXPECT_TRUE(w->close());
            EXPECT_FALSE(w->isVisible());
            EXPECT_EQ(errors_.size(), 1u);
        }
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
        if (c == Folder) EXPECT_TRUE(fs::is_directory(store));
        else EXPECT_EQ(slurp(), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
        chmod(store.c_str(), 0600);
    }
    EXPECT_EQ(tried, geteuid() == 0 ? 4 : 3);
}
#endif

// ---------------------------------------------------------------------------
// The window's layout

TEST_F(MainWindow, ControlsFollowTheirAnchorsAndTheMinimumSize) {
    auto w = Start();
    const QRect quitter = w->BQuitter->geometry(), vlab = w->VLab->geometry(), tabs = w->PageControl1->geometry(),
                lb = w->LB->geometry(), ajout = w->BAjout->geometry();
    EXPECT_EQ(quitter, QRect(4, 344, 75, 25));
    EXPECT_EQ(vlab, QRect(538, 350, 55, 13));
    EXPECT_EQ(tabs, QRect(0, 0, 610, 341));
    EXPECT_EQ(ajout.top() - lb.bottom(), 288 - 284);
    EXPECT_EQ(w->BDossiers->geometry(), w->BVider->geometry().translated(80, 0));
    EXPECT_EQ(w->BDossiers->toolTip(), QStringLiteral("Dossiers où chercher les DLL"));
    // Pages are laid out when shown.
    w->PageControl1->setCurrentWidget(w->TSTexte);
    QCoreApplication::processEvents();
    const QRect adresse = w->EAdresse->geometry(), unique = w->CBUnique->geometry();
    EXPECT_EQ(unique.right() - adresse.right(), 600 - 508);

    w->resize(w->width() + 100, w->height() + 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->PageControl1->geometry(), QRect(0, 0, 710, 391));
    EXPECT_EQ(w->EAdresse->geometry(), adresse.adjusted(0, 50, 100, 50));
    EXPECT_EQ(w->CBUnique->geometry(), unique.translated(100, 50));
    EXPECT_EQ(w->BQuitter->geometry(), quitter.translated(0, 50));
    EXPECT_EQ(w->VLab->geometry(), vlab.translated(100, 50));
    EXPECT_EQ(w->SB->geometry(), QRect(0, 420, 710, 19));
    w->PageControl1->setCurrentWidget(w->TSListe);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->LB->geometry(), lb.adjusted(0, 0, 100, 50));
    EXPECT_EQ(w->BAjout->geometry(), ajout.translated(0, 50));
    EXPECT_EQ(w->BDossiers->geometry(), w->BVider->geometry().translated(80, 0));

    w->resize(10, 10);
    EXPECT_EQ(w->frameGeometry().size(), QSize(506, 212));
}

// "Fonctions" sits beside "Récursif", "Différés" beside "Dossiers…"; at any
// width nothing shown in the bottom row covers another control.
TEST_F(MainWindow, TheOptionBoxesFitTheirRows) {
    auto w = Start();
    EXPECT_EQ(w->CBFonctions->text(), QStringLiteral("Fonctions"));
    EXPECT_EQ(w->CBDifferes->text(), QStringLiteral("Différés"));
    EXPECT_EQ(w->CBDifferes->parentWidget(), w->TSListe);
#ifdef _WIN32
    // The suites' process under Wine measures its texts in a font much wider
    // than the program's own (the program's window, seen on screen, fits):
    // the widths below hold for the designed metrics only.
    GTEST_SKIP() << "font metrics of the test process under Wine";
#endif
    for (int width : {610, 700, 560, 520, 400}) {
        w->resize(width, 389);
        QCoreApplication::processEvents();
        const QWidget* row[] = {w->BQuitter, w->BInfo, w->CBNotSave, w->CBRecursif, w->CBFonctions,
                                w->URLLabel1, w->MsgLab, w->VLab};
        for (const QWidget* a : row) {
            for (const QWidget* b : row) {
                if (a != b && a->isVisible() && b->isVisible()) {
                    EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                        << width << " " << a->objectName().toStdString() << " " << b->objectName().toStdString();
                }
            }
        }
        EXPECT_EQ(w->URLLabel1->isVisible(), width >= 600) << width;
        EXPECT_TRUE(w->CBFonctions->isVisible());
        // The new box shows its whole text.
        EXPECT_GE(w->CBFonctions->width(), w->CBFonctions->sizeHint().width());
    }
    w->PageControl1->setCurrentWidget(w->TSListe);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->CBDifferes->geometry().left() - w->BDossiers->geometry().right(), 322 - 314);
    EXPECT_FALSE(w->CBDifferes->geometry().intersects(w->BDossiers->geometry()));
    EXPECT_GE(w->CBDifferes->width(), w->CBDifferes->sizeHint().width());
}

TEST_F(MainWindow, KeyboardOrderAndTheOpenDialogsFolder) {
    auto w = Start();
    // The dialog starts in the program's own folder.
    EXPECT_EQ(QDir::toNativeSeparators(w->OD->directory().absolutePath()),
              QString::fromStdString(platform::directoryPart(platform::executablePath())));
    EXPECT_EQ(w->OD->fileMode(), QFileDialog::ExistingFiles);

    // Keyboard order on the window, then on the page showing.
    std::vector<QWidget*> chain;
    for (QWidget* f = w->BQuitter; chain.size() < 40; f = f->nextInFocusChain()) {
        if (f->focusPolicy() & Qt::TabFocus) chain.push_back(f);
        if (f->nextInFocusChain() == w->BQuitter) break;
    }
    auto at = [&](QWidget* x) { return std::find(chain.begin(), chain.end(), x) - chain.begin(); };
    EXPECT_LT(at(w->BQuitter), at(w->PageControl1));
    EXPECT_LT(at(w->BAjout), at(w->BEffacer));
    EXPECT_LT(at(w->BVider), at(w->BDossiers));
    EXPECT_LT(at(w->BDossiers), at(w->LB));
    EXPECT_LT(at(w->BMail), at(w->RE));
    EXPECT_LT(at(w->RE), at(w->EAdresse));
    EXPECT_LT(at(w->CBUnique), at(w->BInfo));
    EXPECT_LT(at(w->BInfo), at(w->CBNotSave));
    EXPECT_LT(at(w->CBNotSave), at(w->CBRecursif));
    EXPECT_LT(at(w->CBRecursif), at(w->CBFonctions));
    EXPECT_LT(at(w->BDossiers), at(w->CBDifferes));
    EXPECT_LT(at(w->CBDifferes), at(w->LB));
}

// ---------------------------------------------------------------------------
// The program's own version

TEST(OwnVersion, TheBlockCarriesTheVersionsUnderTheFrenchTable) {
    const std::vector<std::uint8_t> block = OwnVersionBlock();
    const void* value = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(platform::verQueryValue(block.data(), "\\VarFileInfo\\Translation", value, length));
    ASSERT_EQ(length, 4u);
    std::uint32_t translation;
    std::memcpy(&translation, value, 4);
    EXPECT_EQ(translation, 0x04E4040Cu);
    std::string text;
    ASSERT_TRUE(platform::verQueryString(block.data(), "\\StringFileInfo\\040C04E4\\FileVersion", text));
    EXPECT_EQ(text, "1.3.0.81");
    ASSERT_TRUE(platform::verQueryString(block.data(), "\\StringFileInfo\\040C04E4\\ProductVersion", text));
    EXPECT_EQ(text, "1.0.0.0");
    ASSERT_TRUE(platform::verQueryString(block.data(), "\\StringFileInfo\\040C04E4\\CompanyName", text));
    EXPECT_EQ(text, "");
    ASSERT_TRUE(platform::verQueryValue(block.data(), "\\", value, length));
    ASSERT_EQ(length, 52u);
    std::uint32_t fixed[4];
    std::memcpy(fixed, value, sizeof fixed);
    EXPECT_EQ(fixed[2], 0x00010003u);  // 1.3
    EXPECT_EQ(fixed[3], 0x00000051u);  // 0.81
}

TEST(OwnVersion, TheRunningProgramAnswersWithItWhateverTheNameItIsGiven) {
    RegisterOwnVersion();
    const std::string self = platform::executablePath();
    TVersion label;
    EXPECT_EQ(label.VersionFichier(QString::fromStdString(self)), QStringLiteral("V 1.3.0.81"));
    // Through a link to it too, while other files keep their own answer.
    testutil::TempDir dir;
    const std::string link = dir.file("lien");
#ifdef _WIN32
    std::filesystem::create_hard_link(self, link);  // libstdc++ makes no symbolic links there
#else
    std::filesystem::create_symlink(self, link);
#endif
    EXPECT_EQ(label.VersionFichier(QString::fromStdString(link)), QStringLiteral("V 1.3.0.81"));
    EXPECT_EQ(label.VersionFichier(QString::fromStdString(dir.file("absent.exe"))), QStringLiteral("V: ???"));
    std::uint32_t handle = 0;
    EXPECT_EQ(platform::fileVersionInfoSize("", handle), 0u);
}

}  // namespace
