// "Livrer…": the DLLs that go beside the listed programs (as --ship gives
// them), the redistributables the target must install, what refuses the
// set, and its copy into a folder, whole or not at all (as --copy-to).
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "inspect/bundle.h"
#include "inspect/refusals.h"
#include "inspect/ship.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;

class TFLivrer : public QDialog {
    Q_OBJECT

public:
    // `Listes`: the listed files, which a copy never replaces.
    TFLivrer(QWidget* parent, shipping::ShipSet Set, std::vector<shipping::Refusal> Refus,
             std::vector<std::string> Listes);
    ~TFLivrer() override;

    enum Colonne { ColDll, ColVersion, ColDossier, ColOrigine, ColPour, Colonnes };

    QLabel* LListe;
    QTreeWidget* TVListe;
    QLabel* LRedist;
    QListWidget* LBRedist;
    QLabel* LRefus;
    QListWidget* LBRefus;
    QProgressBar* PBCopie;
    QLabel* LResume;
    QPushButton* BCopier;
    QPushButton* BFermer;

    // The folder chooser of "Copier dans…"; an empty answer copies nothing.
    std::function<QString(QWidget* Parent, const QString& Depart)> ChoisirDossier;

    void BCopierClick();
    // Copies the set into `Dossier` on a thread of its own; the dialog stays
    // responsive, shows its progress when the copy takes long, and tells
    // the outcome when it ends (CopieTerminee).
    void Copier(const QString& Dossier);
    bool EnCours() const { return FThread != nullptr; }
    // The outcome of the last copy.
    const shipping::BundleResult& Resultat() const { return FResultat; }
    const shipping::ShipSet& Set() const { return FSet; }
    // How long a copy runs before its progress bar shows.
    static constexpr int DelaiProgres = 400;

signals:
    void CopieTerminee();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void RemplirListe();
    void RemplirRefus();
    void Fini();
    void Progres(int fait, int total);

    shipping::ShipSet FSet;
    std::vector<shipping::Refusal> FRefus;
    std::vector<std::string> FListes;
    QString FDossier;
    QThread* FThread = nullptr;
    std::shared_ptr<shipping::BundleResult> FEnCours;
    shipping::BundleResult FResultat;
};
