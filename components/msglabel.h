// TMsgLabel: a clickable label that sends mail through Simple MAPI. Clicked
// (with no clicked() handler connected), it mails the program's version to
// Adresse; Envoyer mails any text, subject and attachments. Each send runs on
// its own TBobine worker; the label returns at once.
#pragma once

#include <QLabel>
#include <QString>

#include <functional>
#include <memory>

#include "msglblbob.h"

// The send operation: address (without "SMTP:", may be empty), body,
// subject, attachment paths (may be null) and their count.
using TEnvoyer = std::function<void(const QString& Address, const QString& Texte, const QString& Sujet,
                                    const QString* TableauPieces, qint32 n_pieces)>;

class TMsgLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString Adresse MEMBER Adresse WRITE setAdresse STORED true)
    Q_PROPERTY(bool Complete MEMBER Complete WRITE setComplete)
    Q_PROPERTY(bool Verbous MEMBER Verbous WRITE setVerbous)
    Q_PROPERTY(QString Caption READ GetCaption WRITE setCaption)
    Q_PROPERTY(QString text READ text WRITE setText DESIGNABLE false STORED false)

public:
    explicit TMsgLabel(QWidget* parent = nullptr);
    ~TMsgLabel() override;

    virtual void SetCaption(const QString& text);
    virtual QString GetCaption() const;
    void setCaption(const QString& text) { SetCaption(text); }
    // Version text of the running program's own executable.
    virtual QString GetVersion();

    // Renames the label; a caption and an address equal to the old name follow it.
    void SetName(const QString& name);
    static QString GetAdresseComplt(const QString& address) { return QStringLiteral("SMTP:") + address; }
    // "V1.3 sv0.81" and its shorter forms (Verbous, Complete); "???" when the
    // file has no version resource.
    QString VersionFichier(const QString& path);

    // The click: clicked() first; without a handler connected, the version
    // text goes to Adresse with the application's title as subject.
    virtual void Click();
    void Envoyer(const QString& Address, const QString& Texte, const QString& Sujet, const QString* TableauPieces,
                 qint32 n_pieces);
    void EnvoyerVrai(const QString& Address, const QString& Texte, const QString& Sujet, const QString* TableauPieces,
                     qint32 n_pieces);

    static void ClrMem(void* p, qint64 count);
    // Unloads the process-wide MAPI library.
    static void Liberer();

    // Set while the label's properties are being read from a stored form:
    // Adresse and Caption are then taken as stored, without following each other.
    void SetLoading(bool loading) { loading_ = loading; }

    // The outcome of the latest send.
    bool ResultatValide() const { return resultat_->Valide; }
    qint32 DernierResultat() const { return resultat_->Code; }
    quint16 Majeur() const { return version_[0]; }
    quint16 Mineur() const { return version_[1]; }
    quint16 Release() const { return version_[2]; }
    quint16 Build() const { return version_[3]; }

    // Every message box of the label and its workers (tests replace it).
    static std::function<void(QWidget* parent, const QString& text)> Message;

    QString Adresse;
    bool Complete = true;
    bool Verbous = true;
    void setAdresse(const QString& address) { Adresse = address; }
    void setComplete(bool on) { Complete = on; }
    void setVerbous(bool on) { Verbous = on; }

signals:
    void clicked();  // OnClick

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    friend class TBobine;

    TEnvoyer envoi_;
    quint16 version_[4] = {0, 0, 0, 0};
    std::shared_ptr<TResultatEnvoi> resultat_ = std::make_shared<TResultatEnvoi>();
    bool loading_ = false;
    bool pressed_ = false;
};
