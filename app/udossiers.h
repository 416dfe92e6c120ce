// The "Dossiers de recherche" dialog: the user's own DLL folders, in the order
// the search takes them, and what the search takes after them.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QCheckBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPushButton;

class TFDossiers : public QDialog {
    Q_OBJECT

public:
    // `Dossiers`: the list to edit. `Suite`: the folders the search takes
    // after them (empty: the system's own order). `Remplace`: the search
    // takes TAVELIN_DLL_PATH instead of the list for this run. `Windows`:
    // the Windows folder checked against (empty: the default one).
    TFDossiers(QWidget* parent, const QStringList& Dossiers, const QStringList& Suite, bool Remplace,
               const QString& Windows = QString());

    // The list as edited.
    QStringList Dossiers() const;
    // The Windows folder as edited, empty for the default one.
    QString Windows() const;
    // "Seulement ces dossiers": the list replaces the default folders (as
    // --dll-path does).
    bool Seulement() const;
    void SetSeulement(bool On);
    // ".NET" : the dotnet folder .NET 5+ programs' frameworks are chosen
    // from (as --dotnet), empty for the Windows folder's.
    QString Dotnet() const;
    void SetDotnet(const QString& Folder);
    // "DLL acceptées": the patterns of accepted absences (as --ignore
    // takes them), in the order given.
    QStringList Acceptees() const;
    void SetAcceptees(const QStringList& Motifs);

    // The folder chooser; an empty answer adds nothing.
    std::function<QString(QWidget* Parent, const QString& Depart)> ChoisirDossier;
    // Tells why a folder is refused.
    std::function<void(const QString& Text)> Avertir;

    // Separator of the stored list: a folder holding it cannot be kept.
    static constexpr char Separateur = ';';

    QListWidget* LBDossiers;
    QPushButton* BAjouter;
    QPushButton* BRetirer;
    QPushButton* BMonter;
    QPushButton* BDescendre;
    QPushButton* BOK;
    QPushButton* BAnnuler;
    QLabel* LRemplace;
    QListWidget* LBSuite;
    QLineEdit* EWindows;
    QPushButton* BWindows;
    QLineEdit* EDotnet;
    QCheckBox* CBSeulement;
    QListWidget* LBAcceptees;
    QLineEdit* EAcceptee;
    QPushButton* BAccepter;
    QPushButton* BRetirerAcceptee;

    void BAjouterClick();
    void BRetirerClick();
    void BMonterClick();
    void BDescendreClick();
    void BWindowsClick();
    // Adds the pattern typed in EAcceptee (once, ignoring case).
    void BAccepterClick();
    void BRetirerAccepteeClick();
    // OK: a Windows folder that holds no System32 is refused with a word why.
    void BOKClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLayout* CreateListeDossiers(const QStringList& Dossiers);
    void CreateSuite(const QStringList& Suite, bool Remplace);
    QLayout* CreateWindows(const QString& Windows);
    QLayout* CreateBoutons();
    QLayout* CreateAcceptees();
    void ConnectHandlers();
    void Deplacer(int Sens);
    void MettreAJourBoutons();
    int IndexDe(const QString& Dossier) const;
};
