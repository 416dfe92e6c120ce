// The main window: the list of executables, the imports grid, the report,
// and the settings kept between runs.
#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "inspect/analysis.h"
#include "inspect/ignore.h"
#include "inspect/options.h"

class QAction;
class TAnchorLayout;
class AnalysisRun;
class QCheckBox;
class QCloseEvent;
class QDialog;
class QModelIndex;
class QDropEvent;
class QFileDialog;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMouseEvent;
class QMoveEvent;
class QResizeEvent;
class QPlainTextEdit;
class QPrintDialog;
class QPrinter;
class QPushButton;
class QShowEvent;
class QStatusBar;
class QTabWidget;
class QTreeView;
class TArbreModel;
class TFPourquoi;
class TKRVGrid;
class TMsgLabel;
class TURLLabel;
class TVersion;

class TFMain : public QMainWindow {
    Q_OBJECT

public:
    explicit TFMain(QWidget* parent = nullptr);
    ~TFMain() override;

    // Runs FormCreate once the controls exist, before the window is first
    // shown, then appends the files named on the command line that the list
    // does not hold yet. An error
    // FormCreate raises goes to the application's error box and the window
    // opens with what was restored until then, the files still appended.
    void DoCreate(const QStringList& Fichiers = {});

    // Settings store keys.
    static const char* const Cle;        // "\Software\Morvane Soft\Tavelin"
    static const char* const CleParams;  // Cle + "\Params"

    // Outer size limits and the designed bounds when nothing is stored.
    static constexpr int MinWidth = 506, MinHeight = 212;
    static constexpr int DefaultLeft = 107, DefaultTop = 94, DefaultClientWidth = 610, DefaultClientHeight = 389;

    // --- controls ----------------------------------------------------------
    QTabWidget* PageControl1;
    QWidget* TSListe;
    QListWidget* LB;
    QPushButton* BAjout;
    QPushButton* BEffacer;
    QPushButton* BVider;
    QPushButton* BDossiers;
    QCheckBox* CBDifferes;
    QCheckBox* CBAssemblages;
    QWidget* TSListe2;
    TKRVGrid* SG2;
    QPushButton* BLivrer;
    QCheckBox* CBProblemes;
    QLabel* LProblemes;
    QWidget* TSTexte;
    QPlainTextEdit* RE;
    QPushButton* BImp;
    QPushButton* BSauvegarde;
    QPushButton* BPresse;
    QPushButton* BMail;
    QPushButton* BExporter;
    QLineEdit* EAdresse;
    QCheckBox* CBUnique;
    QWidget* TSArbre;
    QTreeView* TVArbre;
    QCheckBox* CBSysteme;
    QLabel* LArbre;
    QPushButton* BQuitter;
    QPushButton* BInfo;
    QCheckBox* CBNotSave;
    QCheckBox* CBRecursif;
    QCheckBox* CBFonctions;
    TURLLabel* URLLabel1;
    TMsgLabel* MsgLab;
    TVersion* VLab;
    QStatusBar* SB;
    QListWidget* LBFloat;
    QFileDialog* OD;
    QFileDialog* SD;
    QMenu* Popup;
    QAction* Ajouter1;
    QAction* Suivre1;
    QAction* Pourquoi1;
    QMenu* PopupArbre;
    QAction* PourquoiArbre;
    // The print dialog needs a printer, looked up only when printing.
    QPrintDialog* PD();

    // --- staleness of the imports grid -------------------------------------
    bool AJour() const { return FAJour; }
    void SetAJour(bool Value);

    // --- dialogs, replaceable by tests --------------------------------------
    // Runs OD; false when cancelled, else the chosen files in dialog order.
    std::function<bool(QStringList& Files)> ExecuteOD;
    // Asks a yes/no question ("&Oui" default); true for "&Oui".
    std::function<bool(const QString& Question)> Confirmer;
    // An information box with the application's title.
    std::function<void(const QString& Text)> Avertir;
    // The folder chooser of "Dossiers de recherche" and of "Livrer…"; null:
    // the toolkit's own.
    std::function<QString(QWidget* Parent, const QString& Depart)> ChoisirDossier;

    // --- handlers ----------------------------------------------------------
    void FormCreate();
    void FormClose();
    void BQuitterClick();
    void BAjoutClick();
    void BEffacerClick();
    void BViderClick();
    void SGKeyDown(QKeyEvent* Key);
    // "Dossiers de recherche": the user's DLL folders, searched after the
    // importer's folder and before the system's.
    void BDossiersClick();
    const std::vector<std::string>& DossiersDLL() const { return FDossiers; }
    // The Windows folder checked against, empty for the default one.
    const std::string& DossierWindows() const { return FWindows; }
    void SetDossiers(const std::vector<std::string>& Folders);
    // "DLL acceptées": the patterns of the absences the user accepts, as
    // --ignore takes them; they leave the grid, the tree, the count, the
    // report and the ship set.
    const std::vector<std::string>& Acceptees() const { return FAcceptees; }
    void SetAcceptees(const std::vector<std::string>& Patterns);
    // "Seulement ces dossiers": the user's folders replace the default ones,
    // as --dll-path does.
    bool Seulement() const { return FSeulement; }
    // What an analysis of the list reads and checks, and where it searches:
    // Recursive (which "Récursif" sets), the boxes "Fonctions" and
    // "Différés", and the user's folders.
    RunOptions OptionsAnalyse() const;
    // Appends files as "Ajouter" does (absolute, in the list's case); a
    // folder gives its PE files by extension, sorted, not its subfolders.
    // SansDoublon leaves out the files already listed (ignoring case, as
    // DansLaListe compares) and those given twice.
    void AjouterFichiers(const QStringList& Chemins, bool SansDoublon = false);
    // Files and folders dropped from the file manager on LB.
    bool LBDragOver(QDropEvent* Event);
    void LBDragDrop(QDropEvent* Event);

    // --- imports tab, report and navigation -----------------------------------
    void TSListe2Show();
    void TSTexteShow();
    // "Arbre": each listed file's closure as --tree draws it.
    void TSArbreShow();
    void AnalyserImports();
    // The run and the analysis that the grid, the tree, "Pourquoi ?" and
    // "Livrer…" show; null before the first run and for an empty list.
    const AnalysisRun* Run() const { return FRun.get(); }
    const analysis::Analysis& Analyse() const { return FAnalyse; }
    // The grid's rows: those of the analysis but the accepted absences.
    const std::vector<analysis::Row>& LignesGrille() const { return FLignes; }
    // The row of the analysis the grid row shows; null for the blank row.
    const analysis::Row* LigneDe(int Row) const;
    // "Problèmes seulement": only the error rows are shown.
    void CBProblemesClick();
    // The problems of the last run, each line once: what LProblemes counts.
    int NombreProblemes() const { return FProblemes; }
    // "Masquer les DLL du système".
    void CBSystemeClick();
    TArbreModel* ModeleArbre() const { return FArbre; }
    void CBRecursifClick();
    // "Fonctions": the imported functions the found DLLs lack, as error rows.
    void CBFonctionsClick();
    // "Différés": the DLLs of the delay-load tables resolved as imports.
    void CBDifferesClick();
    // "Assemblages": the references of .NET assemblies resolved too.
    void CBAssemblagesClick();
    void SG2KeyPress(QChar& Key);
    void SG2MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void PopupPopup();
    void Ajouter1Click();
    void Suivre1Click();
    // "Pourquoi ?" on the grid's current row, or on the tree's current node.
    void Pourquoi1Click();
    void PourquoiArbreClick();
    // The DLL a grid row or a tree node asks about: its file name, or its
    // name as imported when it was found nowhere; empty when none.
    QString DllDeLigne(int Row) const;
    QString DllDuNoeud(const QModelIndex& Index) const;
    // The chains of imports from each listed file to `Dll`, as --why gives
    // them, in the "Pourquoi ?" window.
    void Pourquoi(const QString& Dll);
    TFPourquoi* FenetrePourquoi() const { return FPourquoi; }
    // "Livrer…": the ship set of the list, and its copy.
    void BLivrerClick();
    // Run on the dialog before it shows (tests drive it there); null: exec.
    std::function<void(QDialog& Dialog)> ExecuteLivrer;
    // True when the event was handled and goes no further.
    bool LBFloatMouseDown(QMouseEvent* Event);
    bool LBFloatKeyDown(QKeyEvent* Key);
    // Row path of a grid row: column 2, the separator unless it ends with
    // one, then column 1.
    QString CheminLigne(int Row) const;
    QString CheminSelection() const;
    void Suivre(const QString& Path);
    void MontrerListe();
    void CacherListe();
    // The report as RE shows it: one line per data row in the grid's order.
    QStringList ReportLines() const;
    // The platform's default beep; replaceable by tests.
    std::function<void()> Beep;

    // --- output commands ---------------------------------------------------
    void BImpClick();
    void BSauvegardeClick();
    void BPresseClick();
    void BMailClick();
    void BInfoClick();
    // "Exporter…": the rows as CSV or JSON, as --format writes them.
    void BExporterClick();
    // Runs the export's file dialog: the chosen file, or empty when
    // cancelled; `Json` tells the chosen format.
    std::function<QString(bool& Json)> ExecuteExport;
    // What "Exporter…" writes.
    std::string TexteExport(bool Json) const;
    // Runs SD; the chosen file, or empty when cancelled.
    std::function<QString()> ExecuteSD;
    // Runs PD; the chosen printer, or null when cancelled.
    std::function<QPrinter*()> ExecutePD;
    // Called as each print job begins (job 0, 1, ...); tests give each its own file.
    std::function<void(QPrinter& Printer, int Job)> DebutJob;
    // Shows the "&Infos" box.
    std::function<void(const QString& Text)> Informer;

    // Outer bounds of the window in normal state, frame included.
    QRect OuterBounds() const;
    void SetOuterBounds(const QRect& Bounds);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public:
    // The widths "Importateur", "Fichier" and "Version" take: their
    // contents', capped, unless the user set them by hand.
    void AjusterColonnes();
    bool LargeurUtilisateur(int Col) const { return FLargeurUtilisateur[static_cast<std::size_t>(Col)]; }
    static constexpr int LargeurMax = 280;

private:
    void CreatePageArbre();
    void RemplirArbre();
    void OuvrirRacines();
    void AppliquerFiltre();
    void CompterProblemes();
    void MesurerColonnes();
    analysis::IgnoreList ListeAcceptees() const;
    void CreateControls();
    void CreatePageListe();
    void CreatePageImports();
    void CreatePageTexte();
    void CreateBottom(QWidget* client, TAnchorLayout* layout);
    void CreateFloatingList(QWidget* client);
    void CreateDialogs();
    void SetTabOrder();
    void ConnectHandlers();
    void CreateSeams();
    void CreateOutputDialogs();
    void SetStatus(const QString& Text);
    bool DansLaListe(const QString& Path) const;
    int FloatItemHeight() const;
    // A handler as the controls call it, its errors shown where they arise.
    std::function<void()> Handler(void (TFMain::*handler)());
    QMargins FrameMargins() const;
    void ApplyMinimumSize();
    void FitFrame();
    void BringIntoView();

    bool FAJour = false;
    // The last run, kept until the next one replaces it: what the tree,
    // "Pourquoi ?" and "Livrer…" read.
    std::unique_ptr<AnalysisRun> FRun;
    analysis::Analysis FAnalyse;
    std::vector<std::string> FFichiers;  // the list the run was made of
    std::vector<analysis::Row> FLignes;
    int FProblemes = 0;
    TArbreModel* FArbre = nullptr;
    bool FArbreAJour = false;  // the tree shows the last run
    TFPourquoi* FPourquoi = nullptr;
    std::vector<std::string> FAcceptees;
    bool FSeulement = false;
    // The widths of the contents of each column, measured at the last fill.
    std::array<int, 4> FLargeurContenu{};
    std::array<bool, 4> FLargeurUtilisateur{};
    bool FTitresPresses = false;  // a mouse button is down on the grid's titles
    // The user's DLL folders, absolute, in the order of the dialog.
    std::vector<std::string> FDossiers;
    std::string FWindows;
    std::string FDotnet;  // the dotnet folder of "Dossiers…", empty for the Windows folder's
    QPrintDialog* FPD = nullptr;
    // Frame margins the minimum size was last worked out with.
    QMargins FUsedMargins;
    // Frame margins the normal client area was placed with.
    QMargins FClientMargins;
    // Outer bounds of the normal state, kept while the window is minimized.
    QRect FNormalBounds;
    bool FOuterRestored = false;
    bool FFramed = false;
};

extern TFMain* FMain;
