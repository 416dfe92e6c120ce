#include "app/umain.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QWindow>

#include <string>
#include <unordered_set>

#include "app/anchorlayout.h"
#include "app/application.h"
#include "app/arbre.h"
#include "app/cleversion.h"
#include "app/udossiers.h"
#include "inspect/analysis.h"
#include "inspect/uimports.h"
#include "krvgrid.h"
#include "msglabel.h"
#include "platform/platform.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "urllabel.h"
#include "version.h"

TFMain* FMain = nullptr;

const char* const TFMain::Cle = "\\Software\\Morvane Soft\\Tavelin";
const char* const TFMain::CleParams = "\\Software\\Morvane Soft\\Tavelin\\Params";

namespace {

// The maker's pages; the packager may point them elsewhere.
const char kSiteAuteur[] = "https://morvane-soft.example/";
const char kMailAuteur[] = "contact@morvane-soft.example";

// Filters as "description|patterns|…". The description is shown as written;
// the patterns, ';'-separated, are handed to Qt after it, where *.* means every
// file as it does on Windows.
QStringList NameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

QString FromUtf8(const std::string& s) { return QString::fromStdString(s); }
std::string ToUtf8(const QString& s) { return s.toStdString(); }

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, const QString& hint = {}) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    if (!hint.isEmpty()) b->setToolTip(hint);
    return b;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(QLatin1String(name));
    c->setToolTip(hint);
    return c;
}

QWidget* Page(QTabWidget* tabs, const char* name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    tabs->addTab(page, caption);
    return page;
}

}  // namespace

TFMain::TFMain(QWidget* parent) : QMainWindow(parent) {
    CreateControls();
}

TFMain::~TFMain() {
    // The tree reads the run's closures, which go before the window's children.
    if (FArbre) FArbre->Vider();
    delete FPD;
}

void TFMain::CreateControls() {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(QStringLiteral("Tavelin, un utilitaire pour les bêtas!"));
    // Where the designed font is missing, a face of the same metrics as Arial
    // keeps the captions within their designed bounds.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);
    // The status bar is the main window's own; the rest is laid out in the
    // client area above it, designed 610 x 370.
    auto* layout = new TAnchorLayout(client, QSize(DefaultClientWidth, 370));

    PageControl1 = new QTabWidget(client);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    layout->add(PageControl1, QRect(0, 0, 610, 341), akAll);

    CreatePageListe();
    CreatePageImports();
    CreatePageTexte();
    CreatePageArbre();
    CreateBottom(client, layout);
    SB = new QStatusBar(this);
    SB->setObjectName(QStringLiteral("SB"));
    SB->setFixedHeight(19);
    setStatusBar(SB);

    CreateFloatingList(client);
    CreateDialogs();
    SetTabOrder();
    ConnectHandlers();
    CreateSeams();
    // The designed geometry, used when nothing is stored.
    PageControl1->setCurrentWidget(TSListe);
    // The native window exists from here on, so that its frame is known (where
    // the platform knows it before showing) for the outer bounds of the store.
    winId();
    windowHandle()->installEventFilter(this);
    ApplyMinimumSize();
    FClientMargins = FrameMargins();
    setGeometry(QRect(QPoint(DefaultLeft + FClientMargins.left(), DefaultTop + FClientMargins.top()),
                      QSize(DefaultClientWidth, DefaultClientHeight)));
}

void TFMain::CreatePageListe() {
    TSListe = Page(PageControl1, "TSListe", QStringLiteral("Exécutables"));
    auto* pageListe = new TAnchorLayout(TSListe, QSize(602, 313));
    LB = new QListWidget(TSListe);
    LB->setObjectName(QStringLiteral("LB"));
    LB->setSelectionMode(QAbstractItemView::ExtendedSelection);
    LB->setUniformItemSizes(true);
    pageListe->add(LB, QRect(0, 0, 602, 285), akAll);
    BAjout = Button(TSListe, "BAjout", QStringLiteral("Ajouter"),
                    QStringLiteral("Permet de sélectionner plusieurs fichiers d'un coup"));
    pageListe->add(BAjout, QRect(0, 288, 75, 25), akLeft | akBottom);
    BEffacer = Button(TSListe, "BEffacer", QStringLiteral("Effacer"), QStringLiteral("Effacer une ligne"));
    pageListe->add(BEffacer, QRect(80, 288, 75, 25), akLeft | akBottom);
    BVider = Button(TSListe, "BVider", QStringLiteral("Vider"), QStringLiteral("Vider la grille"));
    pageListe->add(BVider, QRect(160, 288, 75, 25), akLeft | akBottom);
    BDossiers = Button(TSListe, "BDossiers", QStringLiteral("Dossiers…"), QStringLiteral("Dossiers où chercher les DLL"));
    pageListe->add(BDossiers, QRect(240, 288, 75, 25), akLeft | akBottom);
    // Beside the search folders: both decide which DLLs are looked for.
    CBDifferes = CheckBox(TSListe, "CBDifferes", QStringLiteral("Différés"),
                          QStringLiteral("Chercher aussi les DLL à chargement différé"));
    pageListe->add(CBDifferes, QRect(322, 292, 75, 17), akLeft | akBottom);
    CBAssemblages = CheckBox(TSListe, "CBAssemblages", QStringLiteral("Assemblages"),
                             QStringLiteral("Chercher aussi les assemblages .NET référencés (et, avec « Différés », "
                                            "les DLL de leurs P/Invoke)"));
    pageListe->add(CBAssemblages, QRect(402, 292, 95, 17), akLeft | akBottom);
    // Files and folders dragged from the file manager.
    LB->setAcceptDrops(true);
    LB->viewport()->setAcceptDrops(true);

}

void TFMain::CreatePageImports() {
    TSListe2 = Page(PageControl1, "TSListe2", QStringLiteral("Imports"));
    auto* pageImports = new TAnchorLayout(TSListe2, QSize(602, 313));
    SG2 = new TKRVGrid(TSListe2);
    SG2->setObjectName(QStringLiteral("SG2"));
    SG2->SetColCount(4);
    SG2->SetFixedCols(0);
    SG2->SetFixedRows(1);
    SG2->SetDefaultRowHeight(16);
    const int widths[] = {92, 93, 306, 84};
    for (int c = 0; c < 4; ++c) SG2->SetColWidths(c, widths[c]);
    // A wider window gives its width to the paths.
    SG2->SetStretchCol(2);
    SG2->SetGridLines(true);
    SG2->SetColResizing(true);
    SG2->SetRowMoving(true);
    SG2->SetRowSelect(true);
    SG2->setToolTip(QStringLiteral("Un clic sur les entêtes pour trier..."));
    // A second click on a title reverses its order; versions sort by their numbers.
    SG2->HeadClickReverse = true;
    SG2->OnSortKey = [](int col, const QString& text) {
        return col == analysis::kVersion ? CleVersion(ToUtf8(text)) : platform::toLower(ToUtf8(text));
    };
    pageImports->add(SG2, QRect(0, 0, 602, 285), akAll);
    BLivrer = Button(TSListe2, "BLivrer", QStringLiteral("&Livrer…"),
                     QStringLiteral("Les DLL à mettre à côté des programmes, et leur copie dans un dossier"));
    pageImports->add(BLivrer, QRect(0, 288, 75, 25), akLeft | akBottom);
    CBProblemes = CheckBox(TSListe2, "CBProblemes", QStringLiteral("&Problèmes seulement"),
                           QStringLiteral("Ne montrer que les lignes d'erreur"));
    pageImports->add(CBProblemes, QRect(82, 292, 130, 17), akLeft | akBottom);
    LProblemes = new QLabel(TSListe2);
    LProblemes->setObjectName(QStringLiteral("LProblemes"));
    LProblemes->setToolTip(QStringLiteral("Les problèmes de la dernière analyse, chacun une fois, sans les absences "
                                          "acceptées"));
    pageImports->add(LProblemes, QRect(218, 292, 384, 17), akLeft | akRight | akBottom);

}

void TFMain::CreatePageTexte() {
    TSTexte = Page(PageControl1, "TSTexte", QStringLiteral("Mise en forme"));
    auto* pageTexte = new TAnchorLayout(TSTexte, QSize(602, 313));
    RE = new QPlainTextEdit(TSTexte);
    RE->setObjectName(QStringLiteral("RE"));
    RE->setReadOnly(true);
    RE->setLineWrapMode(QPlainTextEdit::NoWrap);
    RE->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    RE->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QFont mono;
    mono.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    mono.setStyleHint(QFont::TypeWriter);
    mono.setFixedPitch(true);
    mono.setPointSize(9);
    RE->setFont(mono);
    pageTexte->add(RE, QRect(0, 0, 602, 285), akAll);
    BImp = Button(TSTexte, "BImp", QStringLiteral("Impression"));
    pageTexte->add(BImp, QRect(0, 288, 75, 25), akLeft | akBottom);
    BSauvegarde = Button(TSTexte, "BSauvegarde", QStringLiteral("Sauvegarde"));
    pageTexte->add(BSauvegarde, QRect(80, 288, 75, 25), akLeft | akBottom);
    BPresse = Button(TSTexte, "BPresse", QStringLiteral("Presse-Papier"));
    pageTexte->add(BPresse, QRect(160, 288, 75, 25), akLeft | akBottom);
    BMail = Button(TSTexte, "BMail", QStringLiteral("Mail"));
    pageTexte->add(BMail, QRect(240, 288, 75, 25), akLeft | akBottom);
    BExporter = Button(TSTexte, "BExporter", QStringLiteral("E&xporter…"),
                       QStringLiteral("Les lignes en CSV ou en JSON, comme tavelin-report --format"));
    pageTexte->add(BExporter, QRect(320, 288, 75, 25), akLeft | akBottom);
    EAdresse = new QLineEdit(TSTexte);
    EAdresse->setObjectName(QStringLiteral("EAdresse"));
    EAdresse->setToolTip(QStringLiteral("Entrer l'adresse d'envoi"));
    pageTexte->add(EAdresse, QRect(400, 290, 108, 21), akLeft | akRight | akBottom);
    CBUnique = CheckBox(TSTexte, "CBUnique", QStringLiteral("sans doublon"),
                        QStringLiteral("ne montrer qu'une fois chaque fichier"));
    pageTexte->add(CBUnique, QRect(515, 293, 85, 17), akRight | akBottom);

}

// The bottom of the window, below the tabs.
void TFMain::CreateBottom(QWidget* client, TAnchorLayout* layout) {
    BQuitter = Button(client, "BQuitter", QStringLiteral("&Quitter"));
    layout->add(BQuitter, QRect(4, 344, 75, 25), akLeft | akBottom);
    BInfo = Button(client, "BInfo", QStringLiteral("&Infos"));
    layout->add(BInfo, QRect(84, 344, 75, 25), akLeft | akBottom);
    CBNotSave = CheckBox(client, "CBNotSave", QStringLiteral("Ne pas sauver"),
                         QStringLiteral("Ne pas sauver les modifications en quittant"));
    layout->add(CBNotSave, QRect(164, 348, 93, 17), akLeft | akBottom);
    CBRecursif = CheckBox(client, "CBRecursif", QStringLiteral("Récursif"),
                          QStringLiteral("Montrer les imports des imports, etc..."));
    layout->add(CBRecursif, QRect(264, 348, 65, 17), akLeft | akBottom);
    CBFonctions = CheckBox(client, "CBFonctions", QStringLiteral("Fonctions"),
                           QStringLiteral("Montrer les fonctions importées que la DLL trouvée n'exporte pas"));
    layout->add(CBFonctions, QRect(334, 348, 78, 17), akLeft | akBottom);

    URLLabel1 = new TURLLabel(client);
    URLLabel1->setObjectName(QStringLiteral("URLLabel1"));
    URLLabel1->setText(QStringLiteral("Mon site"));
    URLLabel1->Adresse = false;
    URLLabel1->Cible = QLatin1String(kSiteAuteur);
    // Labels size themselves to their caption, from their designed left edge.
    const auto autoSized = [](QWidget* label, QRect bounds) {
        bounds.setWidth(std::max(bounds.width(), label->sizeHint().width()));
        return bounds;
    };
    layout->add(URLLabel1, autoSized(URLLabel1, QRect(449, 350, 40, 13)), akRight | akBottom);

    MsgLab = new TMsgLabel(client);
    // As read from a stored form: name, caption and address each as given.
    MsgLab->SetLoading(true);
    MsgLab->setObjectName(QStringLiteral("MsgLab"));
    MsgLab->SetCaption(QStringLiteral("M'écrire"));
    MsgLab->Adresse = QLatin1String(kMailAuteur);
    MsgLab->SetLoading(false);
    layout->add(MsgLab, autoSized(MsgLab, QRect(494, 350, 37, 13)), akRight | akBottom);
    // Narrowed below its designed width, the window keeps "Fonctions" clear.
    layout->yieldTo(URLLabel1, CBFonctions, 4);
    layout->yieldTo(MsgLab, CBFonctions, 4);

    VLab = new TVersion(client);
    VLab->setObjectName(QStringLiteral("VLab"));
    layout->add(VLab, QRect(538, 350, 55, 13), akRight | akBottom);

}

// Placed by MontrerListe, so outside the layout.
void TFMain::CreateFloatingList(QWidget* client) {
    LBFloat = new QListWidget(client);
    LBFloat->setObjectName(QStringLiteral("LBFloat"));
    LBFloat->setSortingEnabled(true);
    LBFloat->setFrameShape(QFrame::Box);
    LBFloat->setFrameShadow(QFrame::Plain);
    LBFloat->setLineWidth(1);
    LBFloat->setToolTip(QStringLiteral("clic-D: suivre; clic-G: fermer."));
    {
        QPalette p = LBFloat->palette();
        p.setColor(QPalette::Base, p.color(QPalette::ToolTipBase));
        p.setColor(QPalette::Text, p.color(QPalette::ToolTipText));
        LBFloat->setPalette(p);
    }
    LBFloat->setGeometry(40, 64, 321, 129);
    LBFloat->hide();

}

// The non-visual components: the file dialogs and the grid's pop-up menu.
void TFMain::CreateDialogs() {
    OD = new QFileDialog(this);
    OD->setObjectName(QStringLiteral("OD"));
    OD->setFileMode(QFileDialog::ExistingFiles);
    OD->setAcceptMode(QFileDialog::AcceptOpen);
    // Shows each description as written, the Qt patterns kept out of sight.
    OD->setOption(QFileDialog::HideNameFilterDetails);
    OD->setNameFilters(NameFilters(QStringLiteral("code exécutable (*.exe;*.dll)|*.exe;*.dll|tous (*.*)|*.*")));

    SD = new QFileDialog(this);
    SD->setObjectName(QStringLiteral("SD"));
    SD->setAcceptMode(QFileDialog::AcceptSave);
    SD->setFileMode(QFileDialog::AnyFile);
    SD->setOption(QFileDialog::HideNameFilterDetails);
    SD->setNameFilters(NameFilters(QStringLiteral("texte (*.txt)|*.txt")));
    SD->setDefaultSuffix(QStringLiteral("TXT"));
    SD->selectFile(QStringLiteral("Versions"));

    Popup = new QMenu(this);
    Popup->setObjectName(QStringLiteral("Popup"));
    Ajouter1 = Popup->addAction(QStringLiteral("Ajouter"));
    Ajouter1->setObjectName(QStringLiteral("Ajouter1"));
    Ajouter1->setShortcut(QKeySequence(Qt::Key_A));
    Suivre1 = Popup->addAction(QStringLiteral("Suivre"));
    Suivre1->setObjectName(QStringLiteral("Suivre1"));
    Suivre1->setShortcut(QKeySequence(Qt::Key_S));
    Pourquoi1 = Popup->addAction(QStringLiteral("Pourquoi ?"));
    Pourquoi1->setObjectName(QStringLiteral("Pourquoi1"));
    Pourquoi1->setShortcut(QKeySequence(Qt::Key_P));
    PopupArbre = new QMenu(this);
    PopupArbre->setObjectName(QStringLiteral("PopupArbre"));
    PourquoiArbre = PopupArbre->addAction(QStringLiteral("Pourquoi ?"));
    PourquoiArbre->setObjectName(QStringLiteral("PourquoiArbre"));
    PourquoiArbre->setShortcut(QKeySequence(Qt::Key_P));
    for (QAction* a : {Ajouter1, Suivre1, Pourquoi1, PourquoiArbre}) {
        a->setShortcutContext(Qt::WidgetShortcut);
        a->setShortcutVisibleInContextMenu(true);
    }

}

// Keyboard order: the window, then the controls of the page showing.
void TFMain::SetTabOrder() {
    QWidget* order[] = {BQuitter, PageControl1, BAjout,      BEffacer,    BVider,   BDossiers, CBDifferes,
                        CBAssemblages, LB,      SG2,         BLivrer,     CBProblemes, BImp,  BSauvegarde,
                        BPresse,  BMail,        BExporter,   RE,          EAdresse, CBUnique,  TVArbre,
                        CBSysteme, BInfo,       CBNotSave,   CBRecursif,  CBFonctions};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

}

void TFMain::ConnectHandlers() {
    connect(BAjout, &QPushButton::clicked, this, Handler(&TFMain::BAjoutClick));
    connect(BEffacer, &QPushButton::clicked, this, Handler(&TFMain::BEffacerClick));
    connect(BVider, &QPushButton::clicked, this, Handler(&TFMain::BViderClick));
    connect(BDossiers, &QPushButton::clicked, this, Handler(&TFMain::BDossiersClick));
    connect(BQuitter, &QPushButton::clicked, this, Handler(&TFMain::BQuitterClick));
    connect(BInfo, &QPushButton::clicked, this, Handler(&TFMain::BInfoClick));
    connect(BImp, &QPushButton::clicked, this, Handler(&TFMain::BImpClick));
    connect(BSauvegarde, &QPushButton::clicked, this, Handler(&TFMain::BSauvegardeClick));
    connect(BPresse, &QPushButton::clicked, this, Handler(&TFMain::BPresseClick));
    connect(BMail, &QPushButton::clicked, this, Handler(&TFMain::BMailClick));
    connect(BExporter, &QPushButton::clicked, this, Handler(&TFMain::BExporterClick));
    connect(BLivrer, &QPushButton::clicked, this, Handler(&TFMain::BLivrerClick));
    connect(CBProblemes, &QCheckBox::toggled, this, Handler(&TFMain::CBProblemesClick));
    connect(CBSysteme, &QCheckBox::toggled, this, Handler(&TFMain::CBSystemeClick));
    // Like a click handler, it also runs when the state is set from code.
    connect(CBRecursif, &QCheckBox::toggled, this, Handler(&TFMain::CBRecursifClick));
    connect(CBFonctions, &QCheckBox::toggled, this, Handler(&TFMain::CBFonctionsClick));
    connect(CBDifferes, &QCheckBox::toggled, this, Handler(&TFMain::CBDifferesClick));
    connect(CBAssemblages, &QCheckBox::toggled, this, Handler(&TFMain::CBAssemblagesClick));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        TApplication::Run([this] {
            if (PageControl1->currentWidget() == TSListe2) TSListe2Show();
            else if (PageControl1->currentWidget() == TSTexte) TSTexteShow();
            else if (PageControl1->currentWidget() == TSArbre) TSArbreShow();
        });
    });
    LB->installEventFilter(this);
    LB->viewport()->installEventFilter(this);
    LBFloat->installEventFilter(this);
    LBFloat->viewport()->installEventFilter(this);
    SG2->OnKeyPress = [this](TKRVGrid*, QChar& key) { TApplication::Run([&] { SG2KeyPress(key); }); };
    connect(SG2, &TKRVGrid::MouseDown, this, [this](Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
        TApplication::Run([&] { SG2MouseDown(b, s, x, y); });
    });
    SG2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(SG2, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { Popup->popup(SG2->viewport()->mapToGlobal(pos)); });
    // The title row is the grid's header: it opens the same menu.
    QHeaderView* titles = SG2->horizontalHeader();
    titles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(titles, &QWidget::customContextMenuRequested, this,
            [this, titles](const QPoint& pos) { Popup->popup(titles->viewport()->mapToGlobal(pos)); });
    connect(Popup, &QMenu::aboutToShow, this, Handler(&TFMain::PopupPopup));
    connect(Ajouter1, &QAction::triggered, this, Handler(&TFMain::Ajouter1Click));
    connect(Suivre1, &QAction::triggered, this, Handler(&TFMain::Suivre1Click));
    connect(Pourquoi1, &QAction::triggered, this, Handler(&TFMain::Pourquoi1Click));
    connect(PourquoiArbre, &QAction::triggered, this, Handler(&TFMain::PourquoiArbreClick));
    TVArbre->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(TVArbre, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex at = TVArbre->indexAt(pos);
        if (!at.isValid()) return;
        TVArbre->setCurrentIndex(at);
        PourquoiArbre->setEnabled(!DllDuNoeud(at).isEmpty());
        PopupArbre->popup(TVArbre->viewport()->mapToGlobal(pos));
    });
    TVArbre->installEventFilter(this);
    // The user's own widths: those set while a button is down on the titles.
    titles->viewport()->installEventFilter(this);
    connect(titles, &QHeaderView::sectionResized, this, [this](int col, int, int) {
        if (FTitresPresses && col >= 0 && col < analysis::kColumnCount && col != analysis::kPath)
            FLargeurUtilisateur[static_cast<std::size_t>(col)] = true;
    });
    SG2->viewport()->installEventFilter(this);

}

// What the suites replace: the dialogs and the beep.
void TFMain::CreateSeams() {
    ExecuteOD = [this](QStringList& files) {
        if (OD->exec() != QDialog::Accepted) return false;
        files = OD->selectedFiles();
        return true;
    };
    Confirmer = [this](const QString& question) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"), question, QMessageBox::NoButton, this);
        QPushButton* oui = box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
        QPushButton* non = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
        box.setDefaultButton(oui);
        box.setEscapeButton(non);
        box.exec();
        return box.clickedButton() == oui;
    };
    Avertir = [](const QString& text) {
        QMessageBox::information(QApplication::activeWindow(), TApplication::Title(), text, QMessageBox::Ok);
    };
    Beep = [] { QApplication::beep(); };
    ExecuteExport = [this](bool& json) {
        QFileDialog dialog(this, QStringLiteral("Exporter les lignes"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        const QString csv = QStringLiteral("CSV (*.csv)"), js = QStringLiteral("JSON (*.json)");
        dialog.setNameFilters({csv, js});
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        dialog.selectFile(QStringLiteral("Imports.csv"));
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, js](const QString& f) {
            dialog.setDefaultSuffix(f == js ? QStringLiteral("json") : QStringLiteral("csv"));
        });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        const QString file = dialog.selectedFiles().front();
        // The name's extension decides, else the filter chosen.
        json = file.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive) ||
               (!file.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) && dialog.selectedNameFilter() == js);
        return QDir::toNativeSeparators(file);
    };
    CreateOutputDialogs();

}

QPrintDialog* TFMain::PD() {
    if (!FPD) {
        static QPrinter printer;
        FPD = new QPrintDialog(&printer, this);
        FPD->setObjectName(QStringLiteral("PD"));
        FPD->setOption(QAbstractPrintDialog::PrintToFile, false);
        FPD->setOption(QAbstractPrintDialog::PrintSelection, false);
        FPD->setOption(QAbstractPrintDialog::PrintPageRange, false);
    }
    return FPD;
}

// ---------------------------------------------------------------------------
// Geometry. The store keeps outer bounds (frame included) of the normal
// state; Qt sizes the client area, so the frame is added and taken off here.
// Under X the window manager frames the window only when it maps it: until
// then the frame counts as nothing, and once known the client area is placed
// again so that the outer bounds stay what they were meant to be.

QMargins TFMain::FrameMargins() const {
    const QWindow* w = windowHandle();
    return w ? w->frameMargins() : QMargins();
}

void TFMain::ApplyMinimumSize() {
    const QMargins m = FrameMargins();
    setMinimumSize(qMax(0, MinWidth - m.left() - m.right()), qMax(0, MinHeight - m.top() - m.bottom()));
    FUsedMargins = m;
}

QRect TFMain::OuterBounds() const {
    QRect client = geometry();
    if (isMaximized() || isFullScreen()) {
        const QRect normal = normalGeometry();  // Qt keeps it while maximized
        if (normal.isValid()) client = normal;
    } else if (isMinimized() && FNormalBounds.isValid()) {
        return FNormalBounds;  // some platforms report the icon's geometry
    }
    // The margins the client area was placed with: a frame that came since
    // (a window opened maximized) has not changed the normal bounds yet.
    return client.marginsAdded(FClientMargins);
}

void TFMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    FitFrame();
    if (windowState() == Qt::WindowNoState) FNormalBounds = OuterBounds();
}

void TFMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FitFrame();
    if (windowState() == Qt::WindowNoState) FNormalBounds = OuterBounds();
}

void TFMain::SetOuterBounds(const QRect& b) {
    const QMargins m = FrameMargins();
    FClientMargins = m;
    setGeometry(b.marginsRemoved(m));  // kept above the minimum
    FNormalBounds = geometry().marginsAdded(m);
    FOuterRestored = true;
}

// A stored position off every screen (a screen since removed) would leave the
// window out of reach: bring it back to the designed place on the main screen.
void TFMain::BringIntoView() {
    const QRect b = OuterBounds();
    for (const QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().intersects(b)) return;
    if (const QScreen* s = QGuiApplication::primaryScreen())
        SetOuterBounds(QRect(s->availableGeometry().topLeft() + QPoint(DefaultLeft, DefaultTop), b.size()));
}

void TFMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FFramed) {
        FFramed = true;
        // Where the platform frames the window as it shows it.
        QTimer::singleShot(0, this, Handler(&TFMain::FitFrame));
    }
}

// Places the client area again when the frame becomes known or changes: the
// frame keeps its place, and its size when the bounds came from the store
// (the designed size is the client area's). The minimum size stays an outer one.
void TFMain::FitFrame() {
    if (!FFramed) return;
    const QMargins m = FrameMargins();
    if (m != FUsedMargins) ApplyMinimumSize();
    // A maximized or minimized window keeps its normal bounds as they were
    // placed; they are fitted when it comes back to the normal state.
    if (m == FClientMargins || windowState() != Qt::WindowNoState) return;
    const QRect outer = geometry().marginsAdded(FClientMargins);
    FClientMargins = m;
    const QPoint client = outer.topLeft() + QPoint(m.left(), m.top());
    setGeometry(FOuterRestored ? outer.marginsRemoved(m) : QRect(client, size()));
}

// ---------------------------------------------------------------------------
// Start and stop

void TFMain::DoCreate(const QStringList& Fichiers) {
    TApplication::Run([this] { FormCreate(); });
    // Opening a listed file again from the file manager does not list it twice.
    if (!Fichiers.isEmpty()) TApplication::Run([&] { AjouterFichiers(Fichiers, true); });
}

std::function<void()> TFMain::Handler(void (TFMain::*handler)()) {
    return [this, handler] { TApplication::Run([&] { (this->*handler)(); }); };
}

void TFMain::FormCreate() {
    OD->setDirectory(FromUtf8(platform::directoryPart(platform::executablePath())));

    const analysis::Cells& titles = analysis::columnTitles();
    for (int c = 0; c < analysis::kColumnCount; ++c) SG2->SetCells(c, 0, FromUtf8(titles[static_cast<std::size_t>(c)]));
    SG2->Clear(4, 2);
    VLab->Clothed = false;

    // Attached after the restore so that restoring "Unique" runs no handler,
    // and also when the restore fails half-way: the box must work anyway.
    struct AttachUnique {
        TFMain* w;
        ~AttachUnique() { connect(w->CBUnique, &QCheckBox::toggled, w, w->Handler(&TFMain::TSTexteShow)); }
    } attachUnique{this};
    // Nothing stored, or a store that cannot be read: no folders of the user's,
    // and the options as their boxes show them.
    FDossiers.clear();
    FWindows.clear();
    FDotnet.clear();
    FAcceptees.clear();
    FSeulement = false;

    platform::Settings reg;
    if (reg.OpenKey(Cle, false)) {
        for (const std::string& name : reg.GetValueNames())
            LB->addItem(FromUtf8(platform::listPath(reg.ReadString(name))));
        reg.CloseKey();
    }
    if (reg.OpenKey(CleParams, false)) {
        struct Close {
            platform::Settings& reg;
            ~Close() {
                try {
                    reg.CloseKey();
                } catch (...) {
                }  // the read error already on its way is the one to show
            }
        } close{reg};
        QRect b = OuterBounds();
        b.moveTop(reg.ReadInteger("Top"));
        SetOuterBounds(b);
        b.moveLeft(reg.ReadInteger("Left"));
        SetOuterBounds(b);
        b.setWidth(reg.ReadInteger("Width"));
        SetOuterBounds(b);
        b.setHeight(reg.ReadInteger("Height"));
        SetOuterBounds(b);
        BringIntoView();
        switch (reg.ReadInteger("State")) {
            case 1: setWindowState(Qt::WindowMinimized); break;
            case 2: setWindowState(Qt::WindowMaximized); break;
            default: setWindowState(Qt::WindowNoState); break;  // other values: a normal window
        }
        EAdresse->setText(FromUtf8(reg.ReadString("Adresse")));
        CBUnique->setChecked(reg.ReadBool("Unique"));
        CBRecursif->setChecked(reg.ReadBool("Recursif"));
        // Folders that do not exist stay: the user may mount them later.
        SetDossiers(platform::splitList(reg.ReadString("Dossiers"), TFDossiers::Separateur));
        // Stores written before these options lack them: unticked.
        if (reg.ValueExists("Fonctions")) CBFonctions->setChecked(reg.ReadBool("Fonctions"));
        if (reg.ValueExists("Differes")) CBDifferes->setChecked(reg.ReadBool("Differes"));
        if (reg.ValueExists("Assemblages")) CBAssemblages->setChecked(reg.ReadBool("Assemblages"));
        if (reg.ValueExists("Windows")) FWindows = reg.ReadString("Windows");
        if (reg.ValueExists("Dotnet")) FDotnet = reg.ReadString("Dotnet");
        if (reg.ValueExists("Acceptees"))
            SetAcceptees(platform::splitList(reg.ReadString("Acceptees"), TFDossiers::Separateur));
        if (reg.ValueExists("Seulement")) FSeulement = reg.ReadBool("Seulement");
    }
}

void TFMain::closeEvent(QCloseEvent* event) {
    // Until the store has taken everything, the window stays open.
    bool stored = false;
    TApplication::Run([&] {
        FormClose();
        stored = true;
    });
    event->setAccepted(stored);
}

namespace {

// A store that cannot be read was reported at start: closing leaves it alone.
bool OpenForClose(platform::Settings& reg, const char* key) {
    try {
        return reg.OpenKey(key, true);
    } catch (const platform::SettingsUnreadable&) {
        return false;
    }
}

}  // namespace

void TFMain::FormClose() {
    if (LB->count() == 0) return;
    if (CBNotSave->isChecked()) return;

    platform::Settings reg;
    if (OpenForClose(reg, Cle)) {
        for (const std::string& name : reg.GetValueNames()) reg.DeleteValue(name);
        for (int i = 0; i < LB->count(); ++i) reg.WriteString(std::to_string(i), ToUtf8(LB->item(i)->text()));
        reg.CloseKey();
    }
    if (OpenForClose(reg, CleParams)) {
        const Qt::WindowStates state = windowState();
        reg.WriteInteger("State", state & Qt::WindowMinimized ? 1 : state & Qt::WindowMaximized ? 2 : 0);
        const QRect b = OuterBounds();  // those of the normal state, whatever the state
        if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
            setWindowState(Qt::WindowNoState);
        reg.WriteInteger("Top", b.top());
        reg.WriteInteger("Left", b.left());
        reg.WriteInteger("Width", b.width());
        reg.WriteInteger("Height", b.height());
        reg.WriteString("Adresse", ToUtf8(EAdresse->text()));
        reg.WriteBool("Unique", CBUnique->isChecked());
        reg.WriteBool("Recursif", CBRecursif->isChecked());
        reg.WriteBool("Fonctions", CBFonctions->isChecked());
        reg.WriteBool("Differes", CBDifferes->isChecked());
        std::string folders;
        for (const std::string& f : FDossiers)
            folders += (folders.empty() ? "" : std::string(1, TFDossiers::Separateur)) + f;
        reg.WriteString("Dossiers", folders);
        reg.WriteBool("Assemblages", CBAssemblages->isChecked());
        reg.WriteString("Windows", FWindows);
        reg.WriteString("Dotnet", FDotnet);
        std::string accepted;
        for (const std::string& a : FAcceptees)
            accepted += (accepted.empty() ? "" : std::string(1, TFDossiers::Separateur)) + a;
        reg.WriteString("Acceptees", accepted);
        reg.WriteBool("Seulement", FSeulement);
        reg.CloseKey();
    }
}

void TFMain::BQuitterClick() { close(); }

void TFMain::SetAJour(bool Value) {
    if (Value == FAJour) return;
    FAJour = Value;
    if (!Value) {
        if (PageControl1->currentWidget() == TSListe2) TSListe2Show();
        else if (PageControl1->currentWidget() == TSTexte) TSTexteShow();
        else if (PageControl1->currentWidget() == TSArbre) TSArbreShow();
    }
}

// ---------------------------------------------------------------------------
// The list of executables

void TFMain::BAjoutClick() {
    QStringList files;
    if (!ExecuteOD(files)) return;
    SetAJour(false);
    for (const QString& f : files) LB->addItem(FromUtf8(platform::listPath(ToUtf8(QDir::toNativeSeparators(f)))));
}

void TFMain::BEffacerClick() {
    // Downwards, so the rows still to visit keep their index.
    for (int i = LB->count() - 1; i >= 0; --i)
        if (LB->item(i)->isSelected()) delete LB->takeItem(i);
    SetAJour(false);
}

void TFMain::BViderClick() {
    if (!Confirmer(QStringLiteral("On efface tout?"))) return;
    LB->clear();
    SetAJour(false);
}

void TFMain::BDossiersClick() {
    QStringList before, after;
    for (const std::string& f : FDossiers) before << FromUtf8(f);
    for (const std::string& f : platform::systemDllFolders()) after << FromUtf8(f);
    TFDossiers dialog(this, before, after, platform::SearchOptions::fromEnvironment().folders.has_value(),
                      FromUtf8(FWindows));
    if (ChoisirDossier) dialog.ChoisirDossier = ChoisirDossier;
    dialog.Avertir = Avertir;
    QStringList acceptedBefore;
    for (const std::string& a : FAcceptees) acceptedBefore << FromUtf8(a);
    dialog.SetAcceptees(acceptedBefore);
    dialog.SetSeulement(FSeulement);
    dialog.SetDotnet(FromUtf8(FDotnet));
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList chosen = dialog.Dossiers(), accepted = dialog.Acceptees();
    const std::string windows = ToUtf8(dialog.Windows());
    const std::string dotnet = ToUtf8(dialog.Dotnet());
    if (chosen == before && windows == FWindows && dotnet == FDotnet && accepted == acceptedBefore &&
        dialog.Seulement() == FSeulement)
        return;
    std::vector<std::string> folders, patterns;
    for (const QString& f : chosen) folders.push_back(ToUtf8(f));
    for (const QString& a : accepted) patterns.push_back(ToUtf8(a));
    SetDossiers(folders);
    SetAcceptees(patterns);
    FSeulement = dialog.Seulement();
    FWindows = windows;
    FDotnet = dotnet;
    SetAJour(false);
}

void TFMain::SetAcceptees(const std::vector<std::string>& Patterns) {
    FAcceptees.clear();
    for (const std::string& p : Patterns)
        if (p.find_first_not_of(" \t") != std::string::npos) FAcceptees.push_back(p);
}

analysis::IgnoreList TFMain::ListeAcceptees() const {
    analysis::IgnoreList list;
    std::string why;
    for (const std::string& p : FAcceptees) list.add(p, why);
    return list;
}

void TFMain::SetDossiers(const std::vector<std::string>& Folders) {
    FDossiers.clear();
    for (const std::string& f : Folders)
        if (!f.empty()) FDossiers.push_back(platform::absolutePath(f));
}

RunOptions TFMain::OptionsAnalyse() const {
    RunOptions options;
    options.recursive = PEFile::Recursive;  // follows "Récursif" (CBRecursifClick)
    options.functions = CBFonctions->isChecked();
    options.delayLoad = CBDifferes->isChecked();
    options.assemblies = CBAssemblages->isChecked();
    options.search.windowsFolder = FWindows;
    if (!FDotnet.empty()) options.dotnetFolder = platform::absolutePath(FDotnet);
    options.search.userFolders = FDossiers;
    // TAVELIN_DLL_PATH, where set, replaces the list for the session all the same.
    if (FSeulement && !options.search.folders) options.search.folders = FDossiers;
    return options;
}

namespace {

QString ListedPath(const QString& path) {
    return FromUtf8(platform::listPath(platform::absolutePath(ToUtf8(QDir::toNativeSeparators(path)))));
}

}  // namespace

void TFMain::AjouterFichiers(const QStringList& Chemins, bool SansDoublon) {
    QStringList items, unreadable, empty;
    for (const QString& chemin : Chemins) {
        if (chemin.isEmpty()) continue;
        const QFileInfo info(chemin);
        if (!info.isDir()) {
            items << ListedPath(chemin);
            continue;
        }
        // The PE files of a folder as the command line takes them.
        const std::string folder = ToUtf8(QDir::toNativeSeparators(info.absoluteFilePath()));
        const platform::FolderFiles found = platform::peFilesOf(folder, false);
        if (!found.unreadable.empty()) {
            unreadable << FromUtf8(folder);
            continue;
        }
        if (found.files.empty()) empty << FromUtf8(folder);
        for (const std::string& f : found.files) items << ListedPath(FromUtf8(f));
    }
    if (SansDoublon) {
        // As DansLaListe compares, with one pass over the list.
        std::unordered_set<std::string> listed;
        for (int i = 0; i < LB->count(); ++i) listed.insert(platform::toLower(ToUtf8(LB->item(i)->text())));
        QStringList kept;
        for (const QString& item : items)
            if (listed.insert(platform::toLower(ToUtf8(item))).second) kept << item;
        items = kept;
    }
    if (!items.isEmpty()) {
        LB->addItems(items);
        SetAJour(false);
    }
    QStringList warnings;
    if (!empty.isEmpty())
        warnings << (empty.size() == 1 ? QStringLiteral("Ce dossier ne contient aucun fichier PE (%1) à son premier niveau, rien n'a été ajouté : ")
                                       : QStringLiteral("Ces dossiers ne contiennent aucun fichier PE (%1) à leur premier niveau, rien n'a été ajouté : "))
                            .arg(QString::fromLatin1(platform::peExtensionList())) +
                        empty.join(QStringLiteral(", "));
    if (!unreadable.isEmpty())
        warnings << ((unreadable.size() == 1 ? QStringLiteral("Ce dossier ne peut être lu, ses fichiers n'ont pas été ajoutés : ")
                                        : QStringLiteral("Ces dossiers ne peuvent être lus, leurs fichiers n'ont pas été "
                                                         "ajoutés : ")) +
                unreadable.join(QStringLiteral(", ")));
    if (!warnings.isEmpty()) Avertir(warnings.join(QStringLiteral("\n")));
}

namespace {

QStringList LocalFiles(const QMimeData* mime) {
    QStringList out;
    if (mime && mime->hasUrls())
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile() && !url.toLocalFile().isEmpty()) out << url.toLocalFile();
    return out;
}

}  // namespace

bool TFMain::LBDragOver(QDropEvent* Event) {
    // A copy, never a move: the file manager would delete what it moved.
    const Qt::DropActions possible = Event->possibleActions();
    const Qt::DropAction action = possible & Qt::CopyAction   ? Qt::CopyAction
                                  : possible & Qt::LinkAction ? Qt::LinkAction
                                                              : Qt::IgnoreAction;
    if (action == Qt::IgnoreAction || LocalFiles(Event->mimeData()).isEmpty()) {
        Event->ignore();
        return false;
    }
    Event->setDropAction(action);
    Event->accept();
    return true;
}

void TFMain::LBDragDrop(QDropEvent* Event) {
    if (!LBDragOver(Event)) return;
    AjouterFichiers(LocalFiles(Event->mimeData()));
}

void TFMain::SGKeyDown(QKeyEvent* Key) {
    switch (Key->key()) {
        case Qt::Key_Insert: BAjoutClick(); break;
        case Qt::Key_Delete: BEffacerClick(); break;
        default: break;
    }
}

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
    // A window manager frames the window before it first shows it, and
    // nothing but the frame's own query tells the widget so.
    if (watched == windowHandle() && event->type() == QEvent::Expose)
        QTimer::singleShot(0, this, Handler(&TFMain::FitFrame));
    if (watched == SG2->horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            FTitresPresses = true;
        else if (event->type() == QEvent::MouseButtonRelease)
            FTitresPresses = false;
    }
    if (watched == SG2->viewport() && event->type() == QEvent::Resize)
        TApplication::Run([&] { AjusterColonnes(); });
    if (watched == TVArbre && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text == QLatin1String("p") || text == QLatin1String("P") || text == QLatin1String("?")) {
            TApplication::Run([&] { PourquoiArbreClick(); });
            return true;
        }
    }
    if (watched == LB && event->type() == QEvent::KeyPress) {
        TApplication::Run([&] { SGKeyDown(static_cast<QKeyEvent*>(event)); });
        return false;  // the list box still handles the key
    }
    if (watched == LB->viewport()) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                TApplication::Run([&] { LBDragOver(static_cast<QDropEvent*>(event)); });
                return true;
            }
            case QEvent::Drop:
                TApplication::Run([&] { LBDragDrop(static_cast<QDropEvent*>(event)); });
                return true;
            default: break;
        }
    }
    // What the handlers take goes no further: the list box would act on it too.
    if (watched == LBFloat && event->type() == QEvent::KeyPress) {
        bool handled = true;
        TApplication::Run([&] { handled = LBFloatKeyDown(static_cast<QKeyEvent*>(event)); });
        if (handled) return true;
    }
    // The second press of a double click comes as a double click.
    if (watched == LBFloat->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        bool handled = true;
        TApplication::Run([&] { handled = LBFloatMouseDown(static_cast<QMouseEvent*>(event)); });
        if (handled) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
