#include "app/ulivrer.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/application.h"
#include "inspect/lines.h"
#include "platform/platform.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

const QColor kRefus(0x80, 0, 0);

// "prog.exe, other.exe": the listed files by their names.
QString Noms(const std::vector<std::string>& paths) {
    QStringList names;
    for (const std::string& p : paths) names << qs(platform::fileNamePart(p));
    return names.join(QStringLiteral(", "));
}

QString Pluriel(std::size_t n, const char* un, const char* plusieurs) {
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n <= 1 ? un : plusieurs));
}

}  // namespace

TFLivrer::TFLivrer(QWidget* parent, shipping::ShipSet Set, std::vector<shipping::Refusal> Refus,
                   std::vector<std::string> Listes)
    : QDialog(parent), FSet(std::move(Set)), FRefus(std::move(Refus)), FListes(std::move(Listes)) {
    setObjectName(QStringLiteral("FLivrer"));
    if (parent) setFont(parent->font());
    setWindowTitle(QStringLiteral("Livrer"));
    setModal(true);

    LListe = new QLabel(this);
    LListe->setWordWrap(true);
    TVListe = new QTreeWidget(this);
    TVListe->setObjectName(QStringLiteral("TVListe"));
    TVListe->setRootIsDecorated(false);
    TVListe->setHeaderLabels({QStringLiteral("DLL"), QStringLiteral("Version"), QStringLiteral("Dossier"),
                              QStringLiteral("Origine"), QStringLiteral("Pour")});
    LRedist = new QLabel(QStringLiteral("À installer sur la cible :"), this);
    LBRedist = new QListWidget(this);
    LBRedist->setObjectName(QStringLiteral("LBRedist"));
    LRefus = new QLabel(this);
    LRefus->setWordWrap(true);
    LBRefus = new QListWidget(this);
    LBRefus->setObjectName(QStringLiteral("LBRefus"));
    LBRefus->setWordWrap(true);
    PBCopie = new QProgressBar(this);
    PBCopie->setObjectName(QStringLiteral("PBCopie"));
    PBCopie->hide();
    LResume = new QLabel(this);
    LResume->setObjectName(QStringLiteral("LResume"));
    LResume->setWordWrap(true);
    LResume->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LResume->hide();
    BCopier = new QPushButton(QStringLiteral("&Copier dans…"), this);
    BCopier->setObjectName(QStringLiteral("BCopier"));
    BCopier->setAutoDefault(false);
    BFermer = new QPushButton(QStringLiteral("&Fermer"), this);
    BFermer->setObjectName(QStringLiteral("BFermer"));
    BFermer->setAutoDefault(false);

    auto* bas = new QHBoxLayout;
    bas->addWidget(PBCopie, 1);
    bas->addStretch();
    bas->addWidget(BCopier);
    bas->addWidget(BFermer);
    auto* page = new QVBoxLayout(this);
    page->addWidget(LListe);
    page->addWidget(TVListe, 3);
    page->addWidget(LRedist);
    page->addWidget(LBRedist, 1);
    page->addWidget(LRefus);
    page->addWidget(LBRefus, 1);
    page->addWidget(LResume);
    page->addLayout(bas);
    resize(900, 520);

    RemplirListe();
    RemplirRefus();
    ChoisirDossier = [](QWidget* parent, const QString& depart) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Copier dans le dossier"), depart);
    };
    connect(BCopier, &QPushButton::clicked, this, [this] { TApplication::Run([this] { BCopierClick(); }); });
    connect(BFermer, &QPushButton::clicked, this, &QDialog::reject);
}

TFLivrer::~TFLivrer() {
    // The copy finishes first: it writes into the folder whole or not at all.
    if (FThread) {
        FThread->wait();
        delete FThread;
    }
}

void TFLivrer::RemplirListe() {
    LListe->setText(FSet.dlls.empty()
                        ? QStringLiteral("Aucune DLL n'est à mettre à côté des programmes : le système cible fournit "
                                         "toutes celles qu'ils importent.")
                        : QStringLiteral("%1 à mettre à côté des programmes :")
                              .arg(Pluriel(FSet.dlls.size(), "DLL", "DLL")));
    for (const shipping::ShipDll& d : FSet.dlls) {
        auto* item = new QTreeWidgetItem(TVListe);
        item->setText(ColDll, qs(platform::fileNamePart(d.path())));
        QString version = d.version.empty() ? QStringLiteral("V: ???") : qs(d.version);
        if (!d.fileVersion.empty() && d.fileVersion != d.version)
            version += QStringLiteral("  (binaire %1)").arg(qs(d.fileVersion));
        item->setText(ColVersion, version);
        item->setText(ColDossier, qs(platform::directoryPart(d.path())));
        item->setText(ColOrigine, qs(lines::origin(d.location->origin, d.location->detail)));
        item->setText(ColPour, Noms(d.neededBy));
        item->setToolTip(ColPour, qs([&] {
                             std::string all;
                             for (const std::string& n : d.neededBy) all += (all.empty() ? "" : "\n") + n;
                             return all;
                         }()));
    }
    for (int c = 0; c < Colonnes; ++c) TVListe->resizeColumnToContents(c);
    for (const std::string& n : FSet.notices) LBRedist->addItem(qs(n));
    LRedist->setVisible(!FSet.notices.empty());
    LBRedist->setVisible(!FSet.notices.empty());
}

void TFLivrer::RemplirRefus() {
    for (const shipping::Refusal& r : FRefus) {
        QString text = qs(r.line);
        if (r.kind == shipping::Refusal::Kind::TwoFiles) {
            for (const shipping::ShipDll& f : r.files)
                text += QStringLiteral("\n    %1 : pour %2").arg(qs(f.path()), Noms(f.neededBy));
        } else {
            text += QStringLiteral(" — pour %1").arg(Noms(r.neededBy));
        }
        auto* item = new QListWidgetItem(text, LBRefus);
        item->setForeground(kRefus);
    }
    const bool refuse = !FRefus.empty();
    LRefus->setText(QStringLiteral("Rien ne sera copié tant que ceci reste :"));
    LRefus->setVisible(refuse);
    LBRefus->setVisible(refuse);
    BCopier->setEnabled(!refuse && !FSet.dlls.empty());
    if (refuse)
        BCopier->setToolTip(QStringLiteral("La liste est refusée : une DLL introuvable, une bibliothèque de débogage "
                                           "ou deux fichiers sous un même nom"));
}

void TFLivrer::BCopierClick() {
    if (EnCours()) return;
    const QString folder = ChoisirDossier(this, FDossier);
    if (folder.isEmpty()) return;
    Copier(QDir::toNativeSeparators(folder));
}

void TFLivrer::Copier(const QString& Dossier) {
    if (EnCours()) return;
    FDossier = Dossier;
    BCopier->setEnabled(false);
    BFermer->setEnabled(false);
    LResume->hide();
    PBCopie->setRange(0, 0);
    // The worker reads only its own copies: the set, the folder, the list.
    FEnCours = std::make_shared<shipping::BundleResult>();
    FThread = QThread::create([this, out = FEnCours, set = FSet, folder = Dossier.toStdString(), listed = FListes] {
        *out = shipping::copyBundle(set, folder, listed, [this](std::size_t done, std::size_t total) {
            QMetaObject::invokeMethod(
                this, [this, done, total] { Progres(static_cast<int>(done), static_cast<int>(total)); },
                Qt::QueuedConnection);
        });
    });
    connect(FThread, &QThread::finished, this, [this] { Fini(); });
    FThread->start();
    QTimer::singleShot(DelaiProgres, this, [this] {
        if (EnCours()) PBCopie->show();
    });
}

void TFLivrer::Progres(int fait, int total) {
    PBCopie->setRange(0, total);
    PBCopie->setValue(fait);
}

void TFLivrer::Fini() {
    FThread->wait();
    delete FThread;
    FThread = nullptr;
    FResultat = std::move(*FEnCours);
    FEnCours.reset();
    PBCopie->hide();
    BFermer->setEnabled(true);
    BCopier->setEnabled(FRefus.empty() && !FSet.dlls.empty());

    const std::string folder = platform::absolutePath(FDossier.toStdString());
    QStringList texte;
    if (FResultat.ok)
        texte << QStringLiteral("%1 dans %2, %3.")
                     .arg(Pluriel(FResultat.copied.size(), "fichier copié", "fichiers copiés"), qs(folder),
                          Pluriel(FResultat.unchanged, "déjà là", "déjà là"));
    else
        texte << QStringLiteral("Rien n'a été copié dans %1.").arg(qs(folder));
    for (const shipping::BundleNote& n : FResultat.notes) texte << qs(lines::bundleNote(n));
    LResume->setText(texte.join(QLatin1Char('\n')));
    LResume->show();
    emit CopieTerminee();
}

void TFLivrer::reject() {
    if (!EnCours()) QDialog::reject();
}

void TFLivrer::closeEvent(QCloseEvent* event) {
    if (EnCours()) event->ignore();
    else QDialog::closeEvent(event);
}
