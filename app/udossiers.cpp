#include "app/udossiers.h"

#include <algorithm>

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/application.h"
#include "platform/searchplaces.h"
#include "platform/platform.h"

namespace {

QPushButton* Bouton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

}  // namespace

TFDossiers::TFDossiers(QWidget* parent, const QStringList& Dossiers, const QStringList& Suite, bool Remplace,
                       const QString& Windows)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FDossiers"));
    // A window does not take its parent's font by itself: the window's own, for one look.
    if (parent) setFont(parent->font());
    setWindowTitle(QStringLiteral("Dossiers de recherche"));
    setModal(true);

    auto* intro = new QLabel(
        QStringLiteral("Après le dossier du programme, les DLL sont cherchées dans ces dossiers, "
                       "dans cet ordre :"),
        this);
    intro->setWordWrap(true);

    QLayout* actions = CreateListeDossiers(Dossiers);
    CreateSuite(Suite, Remplace);
    QLayout* windows = CreateWindows(Windows);
    QLayout* acceptees = CreateAcceptees();
    QLayout* bas = CreateBoutons();

    auto* grid = new QGridLayout(this);
    grid->addWidget(intro, 0, 0, 1, 2);
    grid->addWidget(LBDossiers, 1, 0);
    grid->addLayout(actions, 1, 1);
    grid->addWidget(CBSeulement, 2, 0, 1, 2);
    grid->addWidget(LRemplace, 3, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Puis :"), this), 4, 0, 1, 2);
    grid->addWidget(LBSuite, 5, 0);
    grid->addLayout(windows, 6, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("DLL acceptées : leur absence n'est pas un problème (des noms, ou "
                                              "des motifs comme api-ms-win-*) :"),
                               this),
                    7, 0, 1, 2);
    grid->addWidget(LBAcceptees, 8, 0);
    grid->addLayout(acceptees, 8, 1);
    grid->addLayout(bas, 9, 0, 1, 2);
    grid->setRowStretch(1, 1);
    resize(560, 460);

    ConnectHandlers();
    ChoisirDossier = [](QWidget* parent, const QString& depart) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Dossier de DLL"), depart);
    };
    Avertir = [this](const QString& text) {
        QMessageBox::information(this, TApplication::Title(), text, QMessageBox::Ok);
    };
}

// The user's folders, and the buttons that edit them.
QLayout* TFDossiers::CreateListeDossiers(const QStringList& Dossiers) {
    LBDossiers = new QListWidget(this);
    LBDossiers->setObjectName(QStringLiteral("LBDossiers"));
    LBDossiers->setSelectionMode(QAbstractItemView::SingleSelection);
    LBDossiers->addItems(Dossiers);
    LBDossiers->installEventFilter(this);

    BAjouter = Bouton(this, "BAjouter", QStringLiteral("&Ajouter…"));
    BRetirer = Bouton(this, "BRetirer", QStringLiteral("&Retirer"));
    BMonter = Bouton(this, "BMonter", QStringLiteral("&Monter"));
    BDescendre = Bouton(this, "BDescendre", QStringLiteral("&Descendre"));
    auto* actions = new QVBoxLayout;
    for (QPushButton* b : {BAjouter, BRetirer, BMonter, BDescendre}) actions->addWidget(b);
    actions->addStretch();

    return actions;
}

// What is searched after them: the defaults, or the note that the
// environment replaces them.
void TFDossiers::CreateSuite(const QStringList& Suite, bool Remplace) {
    LRemplace = new QLabel(
        QStringLiteral("TAVELIN_DLL_PATH est défini : pour cette session, la recherche prend ses dossiers à la "
                       "place de cette liste et des dossiers ci-dessous. La liste reste gardée pour les sessions "
                       "suivantes."),
        this);
    LRemplace->setObjectName(QStringLiteral("LRemplace"));
    LRemplace->setWordWrap(true);
    LRemplace->setVisible(Remplace);
    {
        QFont f = LRemplace->font();
        f.setBold(true);
        LRemplace->setFont(f);
    }

    CBSeulement = new QCheckBox(QStringLiteral("&Seulement ces dossiers"), this);
    CBSeulement->setObjectName(QStringLiteral("CBSeulement"));
    CBSeulement->setToolTip(QStringLiteral("Ne pas chercher dans les dossiers ci-dessous : seulement dans ceux de la "
                                           "liste et dans le dossier Windows donné (comme --dll-path)"));
    LBSuite = new QListWidget(this);
    LBSuite->setObjectName(QStringLiteral("LBSuite"));
    LBSuite->setSelectionMode(QAbstractItemView::NoSelection);
    LBSuite->setFocusPolicy(Qt::NoFocus);
    if (Suite.isEmpty())
        LBSuite->addItem(QStringLiteral("ordre de recherche du système"));
    else
        LBSuite->addItems(Suite);
    {
        // Shown, not edited: the colours of a disabled list, the text readable.
        QPalette p = LBSuite->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Window));
        LBSuite->setPalette(p);
    }
    // Up to five whole lines, then a scroll bar.
    const int rows = std::min(static_cast<int>(LBSuite->count()), 5);
    LBSuite->setFixedHeight(rows * LBSuite->sizeHintForRow(0) + 2 * LBSuite->frameWidth());

}

// The system checked against: a mounted Windows or a Wine prefix.
QLayout* TFDossiers::CreateWindows(const QString& Windows) {
    auto* windowsLabel = new QLabel(QStringLiteral("&Windows :"), this);
    EWindows = new QLineEdit(Windows, this);
    EWindows->setObjectName(QStringLiteral("EWindows"));
    EWindows->setPlaceholderText(QStringLiteral("celui de Wine, ou d'un préfixe Wine (WINEPREFIX, ~/.wine)"));
    EWindows->setToolTip(QStringLiteral("Dossier Windows à qui comparer : un Windows monté, ou le drive_c/windows "
                                        "d'un préfixe Wine (System32, SysWOW64, WinSxS)"));
    windowsLabel->setBuddy(EWindows);
    BWindows = Bouton(this, "BWindows", QStringLiteral("&Choisir…"));
    auto* windows = new QHBoxLayout;
    windows->addWidget(windowsLabel);
    windows->addWidget(EWindows, 1);
    windows->addWidget(BWindows);

    auto* dotnetLabel = new QLabel(QStringLiteral(".&NET :"), this);
    EDotnet = new QLineEdit(this);
    EDotnet->setObjectName(QStringLiteral("EDotnet"));
    EDotnet->setPlaceholderText(QStringLiteral("Program Files\\dotnet du disque du dossier Windows"));
    EDotnet->setToolTip(QStringLiteral("Dossier dotnet (qui contient shared) où choisir les frameworks des "
                                       "programmes .NET 5 et suivants, avec les assemblages"));
    dotnetLabel->setBuddy(EDotnet);
    auto* both = new QGridLayout;
    both->addWidget(windowsLabel, 0, 0);
    both->addWidget(EWindows, 0, 1);
    both->addWidget(BWindows, 0, 2);
    both->addWidget(dotnetLabel, 1, 0);
    both->addWidget(EDotnet, 1, 1, 1, 2);
    both->setColumnStretch(1, 1);
    delete windows;
    return both;
}

// The absences the user accepts: what --ignore leaves out.
QLayout* TFDossiers::CreateAcceptees() {
    LBAcceptees = new QListWidget(this);
    LBAcceptees->setObjectName(QStringLiteral("LBAcceptees"));
    LBAcceptees->setSelectionMode(QAbstractItemView::SingleSelection);
    LBAcceptees->setMaximumHeight(5 * LBAcceptees->fontMetrics().height() + 12);
    LBAcceptees->installEventFilter(this);
    EAcceptee = new QLineEdit(this);
    EAcceptee->setObjectName(QStringLiteral("EAcceptee"));
    EAcceptee->setPlaceholderText(QStringLiteral("node.exe"));
    // Enter accepts the name typed, not the dialog.
    EAcceptee->installEventFilter(this);
    BAccepter = Bouton(this, "BAccepter", QStringLiteral("Acce&pter"));
    BRetirerAcceptee = Bouton(this, "BRetirerAcceptee", QStringLiteral("Re&tirer"));
    auto* actions = new QVBoxLayout;
    actions->addWidget(EAcceptee);
    actions->addWidget(BAccepter);
    actions->addWidget(BRetirerAcceptee);
    actions->addStretch();
    return actions;
}

QLayout* TFDossiers::CreateBoutons() {
    BOK = Bouton(this, "BOK", QStringLiteral("OK"));
    BOK->setDefault(true);
    BAnnuler = Bouton(this, "BAnnuler", QStringLiteral("Annuler"));
    auto* bas = new QHBoxLayout;
    bas->addStretch();
    bas->addWidget(BOK);
    bas->addWidget(BAnnuler);

    return bas;
}

void TFDossiers::ConnectHandlers() {
    const auto handler = [this](void (TFDossiers::*h)()) {
        return [this, h] { TApplication::Run([&] { (this->*h)(); }); };
    };
    connect(BAjouter, &QPushButton::clicked, this, handler(&TFDossiers::BAjouterClick));
    connect(BRetirer, &QPushButton::clicked, this, handler(&TFDossiers::BRetirerClick));
    connect(BMonter, &QPushButton::clicked, this, handler(&TFDossiers::BMonterClick));
    connect(BDescendre, &QPushButton::clicked, this, handler(&TFDossiers::BDescendreClick));
    connect(BWindows, &QPushButton::clicked, this, handler(&TFDossiers::BWindowsClick));
    connect(BAccepter, &QPushButton::clicked, this, handler(&TFDossiers::BAccepterClick));
    connect(BRetirerAcceptee, &QPushButton::clicked, this, handler(&TFDossiers::BRetirerAccepteeClick));
    connect(CBSeulement, &QCheckBox::toggled, LBSuite, [this](bool on) { LBSuite->setEnabled(!on); });
    connect(LBAcceptees, &QListWidget::currentRowChanged, this, [this] { MettreAJourBoutons(); });
    connect(BOK, &QPushButton::clicked, this, handler(&TFDossiers::BOKClick));
    connect(BAnnuler, &QPushButton::clicked, this, &QDialog::reject);
    connect(LBDossiers, &QListWidget::currentRowChanged, this, [this] { MettreAJourBoutons(); });
    if (LBDossiers->count() > 0) LBDossiers->setCurrentRow(0);
    MettreAJourBoutons();
    LBDossiers->setFocus();

}

QStringList TFDossiers::Dossiers() const {
    QStringList out;
    for (int i = 0; i < LBDossiers->count(); ++i) out << LBDossiers->item(i)->text();
    return out;
}

QString TFDossiers::Windows() const { return EWindows->text().trimmed(); }

bool TFDossiers::Seulement() const { return CBSeulement->isChecked(); }
void TFDossiers::SetSeulement(bool On) { CBSeulement->setChecked(On); }
QString TFDossiers::Dotnet() const { return EDotnet->text().trimmed(); }
void TFDossiers::SetDotnet(const QString& Folder) { EDotnet->setText(Folder); }

QStringList TFDossiers::Acceptees() const {
    QStringList out;
    for (int i = 0; i < LBAcceptees->count(); ++i) out << LBAcceptees->item(i)->text();
    return out;
}

void TFDossiers::SetAcceptees(const QStringList& Motifs) {
    LBAcceptees->clear();
    LBAcceptees->addItems(Motifs);
    if (LBAcceptees->count() > 0) LBAcceptees->setCurrentRow(0);
    MettreAJourBoutons();
}

void TFDossiers::BAccepterClick() {
    const QString motif = EAcceptee->text().trimmed();
    if (motif.isEmpty()) return;
    if (motif.contains(QLatin1Char(Separateur))) {
        Avertir(QStringLiteral("« %1 » ne peut pas être gardé : « ; » sépare les noms de la liste.").arg(motif));
        return;
    }
    for (int i = 0; i < LBAcceptees->count(); ++i)
        if (LBAcceptees->item(i)->text().compare(motif, Qt::CaseInsensitive) == 0) {
            LBAcceptees->setCurrentRow(i);
            EAcceptee->clear();
            return;
        }
    LBAcceptees->addItem(motif);
    LBAcceptees->setCurrentRow(LBAcceptees->count() - 1);
    EAcceptee->clear();
    MettreAJourBoutons();
}

void TFDossiers::BRetirerAccepteeClick() {
    const int row = LBAcceptees->currentRow();
    if (row < 0) return;
    delete LBAcceptees->takeItem(row);
    LBAcceptees->setCurrentRow(std::min(row, LBAcceptees->count() - 1));
    MettreAJourBoutons();
}

void TFDossiers::BWindowsClick() {
    const QString chosen = ChoisirDossier(this, Windows());
    if (!chosen.isEmpty()) EWindows->setText(QDir::toNativeSeparators(QDir::cleanPath(chosen)));
}

void TFDossiers::BOKClick() {
    if (!Windows().isEmpty() && !platform::isWindowsFolder(Windows().toStdString())) {
        Avertir(QStringLiteral("Le dossier « %1 » ne contient pas de dossier System32 : ce n'est pas un dossier "
                               "Windows (un Windows monté, ou le drive_c/windows d'un préfixe Wine).")
                    .arg(Windows()));
        EWindows->setFocus();
        return;
    }
    accept();
}

int TFDossiers::IndexDe(const QString& Dossier) const {
    // Compared as the platform compares paths: ignoring case on Windows.
    const std::string key = platform::listPath(Dossier.toStdString());
    for (int i = 0; i < LBDossiers->count(); ++i)
        if (platform::listPath(LBDossiers->item(i)->text().toStdString()) == key) return i;
    return -1;
}

void TFDossiers::BAjouterClick() {
    QListWidgetItem* current = LBDossiers->currentItem();
    const QString chosen = ChoisirDossier(this, current ? current->text() : QString());
    if (chosen.isEmpty()) return;
    const QString folder = QDir::toNativeSeparators(QDir::cleanPath(chosen));
    if (folder.contains(QLatin1Char(Separateur))) {
        Avertir(QStringLiteral("Le dossier « %1 » ne peut pas être gardé : son nom contient « ; », qui sépare les "
                               "dossiers de la liste.")
                    .arg(folder));
        return;
    }
    int row = IndexDe(folder);
    if (row < 0) {
        LBDossiers->addItem(folder);
        row = LBDossiers->count() - 1;
    }
    LBDossiers->setCurrentRow(row);
}

void TFDossiers::BRetirerClick() {
    const int row = LBDossiers->currentRow();
    if (row < 0) return;
    delete LBDossiers->takeItem(row);
    LBDossiers->setCurrentRow(std::min(row, LBDossiers->count() - 1));
    MettreAJourBoutons();
}

void TFDossiers::Deplacer(int Sens) {
    const int row = LBDossiers->currentRow(), to = row + Sens;
    if (row < 0 || to < 0 || to >= LBDossiers->count()) return;
    LBDossiers->insertItem(to, LBDossiers->takeItem(row));
    LBDossiers->setCurrentRow(to);
}

void TFDossiers::BMonterClick() { Deplacer(-1); }
void TFDossiers::BDescendreClick() { Deplacer(+1); }

void TFDossiers::MettreAJourBoutons() {
    const int row = LBDossiers->currentRow(), n = LBDossiers->count();
    BRetirer->setEnabled(row >= 0);
    BMonter->setEnabled(row > 0);
    BDescendre->setEnabled(row >= 0 && row + 1 < n);
    BRetirerAcceptee->setEnabled(LBAcceptees->currentRow() >= 0);
}

// Insert and Delete act on the list as they do on the list of executables.
bool TFDossiers::eventFilter(QObject* watched, QEvent* event) {
    if (watched == EAcceptee && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            TApplication::Run([&] { BAccepterClick(); });
            return true;
        }
    }
    if (watched == LBAcceptees && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        TApplication::Run([&] { BRetirerAccepteeClick(); });
        return true;
    }
    if (watched == LBDossiers && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Insert || key == Qt::Key_Delete) {
            TApplication::Run([&] { key == Qt::Key_Insert ? BAjouterClick() : BRetirerClick(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
