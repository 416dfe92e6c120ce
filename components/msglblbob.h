// TBobine: the worker thread that hands one mail to Simple MAPI, so that the
// GUI thread never waits for the mail client. It records its outcome in the
// result fields of the label that started it, through calls run on the GUI
// thread, then frees itself.
#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mail.h"

class TMsgLabel;
struct TGuichet;

// The result fields of a mail label. The label and each of its workers hold
// them jointly, so a worker that outlives its label writes into live memory.
// Touched on the GUI thread only.
struct TResultatEnvoi {
    bool Valide = false;  // false while a send is under way
    qint32 Code = 0;      // result code of the latest finished send
};

class TBobine : public QThread {
    Q_OBJECT

public:
    // Created suspended (not started), freeing itself once it has run.
    explicit TBobine(TMsgLabel* label);
    ~TBobine() override;

    // Fills the records from the send's arguments (GUI thread, before
    // Resume). Throws std::bad_alloc when a record cannot be reserved.
    void Preparer(const QString& adresse, const QString& texte, const QString& sujet, const QString* pieces,
                  qint32 nPieces);

    void Resume();
    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }
    qint32 ReturnValue() const { return retour_; }

    // The name reported for a result code (0 depends on MAPI_SENT in `flags`).
    static QString NomResultat(qint32 code, FLAGS flags);
    // What the user is told when the mail did not reach the mail client,
    // with the reason; empty for a mail handed over, for the user's own
    // cancel and for a worker cancelled before sending (its caller said why).
    static QString MessageEchec(qint32 code);

    // The report switch of workers created from now on: with it, each worker
    // shows "MAPI: " and its result's name. Nothing in the program sets it.
    static std::atomic<bool> RapportParDefaut;
    // How records are reserved (tests make it fail).
    static void* (*Allouer)(std::size_t size);
    // Workers alive at the moment (tests wait for them to be gone).
    static int Vivantes() { return vivantes_.load(); }
    // Workers started whose body has not returned yet. A worker that ends
    // after the application object is gone is never freed: nothing is left
    // to run its deletion; it only leaves this count.
    static int EnCours() { return enCours_.load(); }

protected:
    void run() override;  // Execute

private:
    void ResultatInvalide();
    void ResultatValide();
    void Resulter(const QString& nom);
    // Runs `f` on the GUI thread and waits until it has run; once the
    // application has gone, returns without running it.
    void Synchroniser(std::function<void()> f);
    void LibererEnregistrements();

    bool rapport_;                               // report switch
    LPMAPISENDMAIL envoi_ = nullptr;             // MAPISendMail
    platform::MailLibrary bibliotheque_ = nullptr;  // the worker's own load
    MapiMessage* message_ = nullptr;
    MapiFileDesc* fichiers_ = nullptr;
    MapiRecipDesc* destinataire_ = nullptr;
    std::string sujet_;
    std::string texte_;
    std::string adresse_;                  // "SMTP:" + address
    std::vector<std::string> chemins_;     // attachment paths
    std::shared_ptr<TResultatEnvoi> label_;  // the starting label's result fields
    std::uintptr_t parent_ = 0;            // window handle of the dialog's parent
    std::shared_ptr<TGuichet> guichet_;    // the hand-over with the GUI thread

    std::atomic<bool> terminated_{false};
    qint32 retour_ = 0;
    // Orders the worker's last writes before the destructor on the GUI thread.
    std::mutex fin_;

    static std::atomic<int> vivantes_;
    static std::atomic<int> enCours_;
};
