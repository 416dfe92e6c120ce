// "Pourquoi ?": the chains of imports that lead from the listed files to one
// DLL, as --why gives them, in a small window the user can copy from.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TFPourquoi : public QDialog {
    Q_OBJECT

public:
    explicit TFPourquoi(QWidget* parent);

    // Shows the chains to `Dll`, one a line, and the notes below them.
    void Montrer(const QString& Dll, const QStringList& Chaines, const QStringList& Notes);
    // The chains as shown, one a line.
    QString Texte() const;
    void BCopierClick();

    QLabel* LTitre;
    QPlainTextEdit* RETexte;
    QLabel* LNotes;
    QPushButton* BCopier;
    QPushButton* BFermer;
};
