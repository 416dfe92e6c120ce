#include "msglblbob.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <cstdlib>
#include <deque>
#include <new>
#include <stdexcept>

#include "msglabel.h"

// ---------------------------------------------------------------------------
// Calls from a worker into the GUI thread. The hand-over goes through our own
// mutex and condition variable rather than a blocking queued connection: the
// worker waits for exactly its call, and the hand-over is visible to thread
// checkers, which cannot see inside Qt's own locks.
//
// The workers hold the hand-over jointly, so it outlives the application
// object. When the application goes (a mail composer may stay open long
// after the program quits), the hand-over closes: calls waiting and calls
// made later are dropped, and their workers end without touching it.

struct Appel {
    std::function<void()> f;
    bool fait = false;
};

struct TGuichet {
    std::mutex m;
    std::condition_variable faits;
    std::deque<std::shared_ptr<Appel>> appels;
    QObject* passerelle = nullptr;  // null once the application has gone
};

namespace {

class TPasserelle : public QObject {
    Q_OBJECT

public:
    TPasserelle(QObject* parent) : QObject(parent), guichet_(std::make_shared<TGuichet>()) {
        guichet_->passerelle = this;
    }
    ~TPasserelle() override {
        {
            std::lock_guard<std::mutex> l(guichet_->m);
            guichet_->passerelle = nullptr;
            guichet_->appels.clear();
        }
        guichet_->faits.notify_all();
    }
    const std::shared_ptr<TGuichet>& guichet() const { return guichet_; }

public slots:
    void Servir() {
        for (;;) {
            std::shared_ptr<Appel> a;
            {
                std::lock_guard<std::mutex> l(guichet_->m);
                if (guichet_->appels.empty()) return;
                a = guichet_->appels.front();
                guichet_->appels.pop_front();
            }
            try {
                a->f();
            } catch (...) {
                // A worker must never be left waiting; the call has no one to report to.
            }
            {
                std::lock_guard<std::mutex> l(guichet_->m);
                a->fait = true;
            }
            guichet_->faits.notify_all();
        }
    }

private:
    std::shared_ptr<TGuichet> guichet_;
};

// Lives in the GUI thread, a child of the application object; made by the
// first worker of each application, which is made there.
QPointer<TPasserelle> g_passerelle;

}  // namespace

// ---------------------------------------------------------------------------

std::atomic<bool> TBobine::RapportParDefaut{false};
void* (*TBobine::Allouer)(std::size_t) = std::malloc;
std::atomic<int> TBobine::vivantes_{0};
std::atomic<int> TBobine::enCours_{0};

TBobine::TBobine(TMsgLabel* label) : rapport_(RapportParDefaut.load()), label_(label->resultat_) {
    if (!g_passerelle) g_passerelle = new TPasserelle(QCoreApplication::instance());
    guichet_ = g_passerelle->guichet();
    // The window that owns the mail client's dialog; 0 until it has a native window.
    parent_ = static_cast<std::uintptr_t>(label->window()->internalWinId());
    vivantes_.fetch_add(1);
    // Free on terminate.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TBobine::~TBobine() {
    wait();
    { std::lock_guard<std::mutex> l(fin_); }
    LibererEnregistrements();
    vivantes_.fetch_sub(1);
}

void TBobine::Preparer(const QString& adresse, const QString& texte, const QString& sujet,
                       const QString* pieces, qint32 nPieces) {
    auto reserver = [](std::size_t size) {
        void* p = Allouer(size);
        if (!p) throw std::bad_alloc();
        TMsgLabel::ClrMem(p, static_cast<qint64>(size));
        return p;
    };

    if (!adresse.isEmpty()) {
        destinataire_ = static_cast<MapiRecipDesc*>(reserver(sizeof(MapiRecipDesc)));
        destinataire_->ulRecipClass = MAPI_TO;
        adresse_ = platform::toMailText(TMsgLabel::GetAdresseComplt(adresse).toStdString());
        destinataire_->lpszAddress = adresse_.data();
    }

    std::uint32_t nFichiers = 0;
    if (pieces && nPieces > 0) {
        fichiers_ = static_cast<MapiFileDesc*>(reserver(sizeof(MapiFileDesc) * static_cast<std::size_t>(nPieces)));
        // Reserved up front: the records point into these strings.
        chemins_.reserve(static_cast<std::size_t>(nPieces));
        for (qint32 i = 0; i < nPieces; ++i) {
            chemins_.push_back(platform::toMailText(pieces[i].toStdString()));
            fichiers_[i].lpszPathName = chemins_.back().data();
            fichiers_[i].nPosition = static_cast<decltype(fichiers_[i].nPosition)>(-1);
        }
        nFichiers = static_cast<std::uint32_t>(nPieces);
    }

    message_ = static_cast<MapiMessage*>(reserver(sizeof(MapiMessage)));
    // At most 255 characters (code points, not bytes or UTF-16 units).
    std::u32string s = sujet.toStdU32String();
    if (s.size() >= 256) s.resize(255);
    sujet_ = platform::toMailText(QString::fromStdU32String(s).toStdString());
    texte_ = platform::toMailText(texte.toStdString());
    TMsgLabel::ClrMem(message_, sizeof(MapiMessage));
    message_->lpszSubject = sujet_.data();
    message_->lpszNoteText = texte_.data();
    if (!adresse_.empty()) {
        message_->nRecipCount = 1;
        message_->lpRecips = destinataire_;
    }
    message_->nFileCount = nFichiers;
    message_->lpFiles = fichiers_;
}

void TBobine::Resume() {
    enCours_.fetch_add(1);
    start();
}

void TBobine::Synchroniser(std::function<void()> f) {
    auto appel = std::make_shared<Appel>();
    appel->f = std::move(f);
    std::unique_lock<std::mutex> l(guichet_->m);
    if (!guichet_->passerelle) return;  // the application has gone
    guichet_->appels.push_back(appel);
    QMetaObject::invokeMethod(guichet_->passerelle, "Servir", Qt::QueuedConnection);
    guichet_->faits.wait(l, [&] { return appel->fait || !guichet_->passerelle; });
}

void TBobine::ResultatInvalide() { label_->Valide = false; }

void TBobine::ResultatValide() {
    label_->Valide = true;
    label_->Code = retour_;
}

void TBobine::Resulter(const QString& nom) {
    if (rapport_) Synchroniser([nom] { TMsgLabel::Message(nullptr, QStringLiteral("MAPI: ") + nom); });
}

QString TBobine::NomResultat(qint32 code, FLAGS flags) {
    static const char* const noms[] = {
        nullptr,                       // 0: by MAPI_SENT
        "USER_ABORT",                  // 1
        "FAILURE",                     // 2
        "LOGON_FAILURE",               // 3
        "DISK_FULL",                   // 4
        "INSUFFICIENT_MEMORY",         // 5
        "ACCESS_DENIED",               // 6
        nullptr,                       // 7: none
        "TOO_MANY_SESSIONS",           // 8
        "TOO_MANY_FILES",              // 9
        "TOO_MANY_RECIPIENTS",         // 10
        "ATTACHMENT_NOT_FOUND",        // 11
        "ATTACHMENT_OPEN_FAILURE",     // 12
        "ATTACHMENT_WRITE_FAILURE",    // 13
        "UNKNOWN_RECIPIENT",           // 14
        "BAD_RECIPTYPE",               // 15
        "NO_MESSAGES",                 // 16
        "INVALID_MESSAGE",             // 17
        "TEXT_TOO_LARGE",              // 18
        "INVALID_SESSION",             // 19
        "TYPE_NOT_SUPPORTED",          // 20
        "AMBIGUOUS_RECIPIENT",         // 21
        "MESSAGE_IN_USE",              // 22
        "NETWORK_FAILURE",             // 23
        "INVALID_EDITFIELDS",          // 24
        "INVALID_RECIPS",              // 25
        "NOT_SUPPORTED",               // 26
        "Erreur de chargement de MAPI",            // 27
        "MAPI non déchargée la fois d'avant?",     // 28
        "Thread annulé",                           // 29
        "Impossible de trouver la fonction d'envoi",  // 30
    };
    if (code == 0) return QString::fromUtf8((flags & MAPI_SENT) ? "SUCCESS_SUCCESS" : "Mail annulé.");
    if (code > 0 && code <= 30 && noms[code]) return QString::fromUtf8(noms[code]);
    return QStringLiteral("Erreur MAPI inconnue");
}

QString TBobine::MessageEchec(qint32 code) {
    static const char* const raisons[] = {
        nullptr,                                                    // 0: handed over
        nullptr,                                                    // 1: the user cancelled
        "le logiciel de messagerie a signalé un échec",             // 2
        "la connexion au logiciel de messagerie a échoué",          // 3
        "le disque est plein",                                      // 4
        "la mémoire manque",                                        // 5
        "l'accès est refusé",                                       // 6
        nullptr,                                                    // 7: none
        "trop de sessions sont ouvertes",                           // 8
        "trop de pièces jointes",                                   // 9
        "trop de destinataires",                                    // 10
        "une pièce jointe est introuvable",                         // 11
        "une pièce jointe ne peut être ouverte",                    // 12
        "une pièce jointe ne peut être écrite",                     // 13
        "destinataire inconnu",                                     // 14
        "type de destinataire incorrect",                           // 15
        "aucun message",                                            // 16
        "message incorrect",                                        // 17
        "le texte est trop long",                                   // 18
        "session incorrecte",                                       // 19
        "type de message non pris en charge",                       // 20
        "destinataire ambigu",                                      // 21
        "message déjà en cours d'utilisation",                      // 22
        "erreur du réseau",                                         // 23
        "champs de saisie incorrects",                              // 24
        "destinataires incorrects",                                 // 25
        "aucun logiciel de messagerie n'est installé ou configuré pour le recevoir",  // 26
        "erreur de chargement de MAPI",                             // 27
        "MAPI non déchargée la fois d'avant",                       // 28
        nullptr,                                                    // 29: cancelled before sending
        "le logiciel de messagerie est introuvable",                // 30
    };
    if (code == SUCCESS_SUCCESS || code == MAPI_USER_ABORT || code == 29) return QString();
    const char* raison = code > 0 && code <= 30 && raisons[code] ? raisons[code] : "erreur MAPI inconnue";
    return QString::fromUtf8("Le courrier n'a pas pu être remis au logiciel de messagerie : %1 (code %2).")
        .arg(QString::fromUtf8(raison))
        .arg(code);
}

void TBobine::LibererEnregistrements() {
    std::free(fichiers_);
    std::free(destinataire_);
    std::free(message_);
    fichiers_ = nullptr;
    destinataire_ = nullptr;
    message_ = nullptr;
}

void TBobine::run() {
    const platform::MailSystem& mail = platform::mailSystem();
    Synchroniser([this] { ResultatInvalide(); });
    // The errors that end the worker ("Thread annulé", "Envoi impossible")
    // end it only: its result code already says what happened.
    try {
        retour_ = 29;
        if (Terminated()) throw std::runtime_error("Thread annulé");
        retour_ = 30;
        bibliotheque_ = mail.load();
        if (!bibliotheque_) throw std::runtime_error("Envoi impossible");
        if (!envoi_) envoi_ = mail.sendEntry(bibliotheque_);
        if (!envoi_) throw std::runtime_error("Envoi impossible");
        retour_ = static_cast<qint32>(
            envoi_(0, parent_, message_, MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG, 0));
    } catch (const std::exception&) {
    }

    Resulter(NomResultat(retour_, message_ ? message_->flFlags : 0));
    // The user hears of a mail that never reached the mail client.
    const QString echec = MessageEchec(retour_);
    if (!echec.isEmpty()) Synchroniser([echec] { TMsgLabel::Message(nullptr, echec); });
    LibererEnregistrements();
    if (bibliotheque_ && !mail.unload(bibliotheque_))
        Synchroniser([] { TMsgLabel::Message(nullptr, QStringLiteral("Erreur de libération de MAPI")); });
    bibliotheque_ = nullptr;
    Synchroniser([this] { ResultatValide(); });
    std::lock_guard<std::mutex> l(fin_);
    enCours_.fetch_sub(1);
}

#include "msglblbob.moc"
