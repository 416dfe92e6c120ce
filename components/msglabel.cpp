#include "msglabel.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPalette>

#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/platform.h"
#include "platform/versioninfo.h"

namespace {

// Process-wide, GUI thread only.
platform::MailLibrary g_mapi = nullptr;
QString g_sujetClic;  // the application's title when the latest label was made

}  // namespace

std::function<void(QWidget*, const QString&)> TMsgLabel::Message = [](QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
};

TMsgLabel::TMsgLabel(QWidget* parent) : QLabel(parent) {
    if (platform::mailSystem().clientDeclared())
        envoi_ = [this](const QString& a, const QString& t, const QString& s, const QString* p, qint32 n) {
            EnvoyerVrai(a, t, s, p, n);
        };
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(pal);
    QFont f = font();
    f.setBold(false);
    f.setItalic(false);
    f.setStrikeOut(false);
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
    g_sujetClic = QApplication::applicationDisplayName();
    Verbous = true;
    Complete = true;
}

TMsgLabel::~TMsgLabel() {
    // Running workers keep the result fields (shared) and their own load of
    // the library, so neither unloading nor our destruction harms them.
    Liberer();
}

void TMsgLabel::SetName(const QString& name) {
    const QString old = objectName();
    if (!loading_ && Adresse == old && GetCaption() == old) Adresse = name;
    const bool captionFollows = !loading_ && text() == old;
    setObjectName(name);
    if (captionFollows) setText(name);
}

QString TMsgLabel::GetCaption() const { return text(); }

void TMsgLabel::SetCaption(const QString& caption) {
    if (caption == text()) return;
    if (!loading_ && text() == Adresse) Adresse = caption;
    setText(caption);
}

QString TMsgLabel::VersionFichier(const QString& path) {
    platform::BinaryVersion v;
    if (!platform::fixedFileVersion(platform::fileVersionBlock(path.toStdString()), v)) return QStringLiteral("???");
    for (int i = 0; i < 4; ++i) version_[i] = v[i];

    QString text = QString::number(version_[0]) + QLatin1Char('.') + QString::number(version_[1]);
    if (Verbous) text.prepend(QLatin1Char('V'));
    if (Complete) {
        text += Verbous ? QStringLiteral(" sv") : QStringLiteral(".");
        text += QString::number(version_[2]) + QLatin1Char('.') + QString::number(version_[3]);
    }
    return text;
}

QString TMsgLabel::GetVersion() { return VersionFichier(QString::fromStdString(platform::executablePath())); }

void TMsgLabel::Click() {
    emit clicked();
    if (isSignalConnected(QMetaMethod::fromSignal(&TMsgLabel::clicked))) return;
    Envoyer(Adresse, GetVersion(), g_sujetClic, nullptr, 0);
}

void TMsgLabel::Envoyer(const QString& Address, const QString& Texte, const QString& Sujet,
                        const QString* TableauPieces, qint32 n_pieces) {
    if (envoi_) {
        envoi_(Address, Texte, Sujet, TableauPieces, n_pieces);
        return;
    }
    Message(this, QString::fromUtf8("Vous n'avez pas déclaré votre \"mailer\" comme \"client MAPI simple\". "
                                    "Veuillez vérifier les options de votre mailer!"));
}

void TMsgLabel::EnvoyerVrai(const QString& Address, const QString& Texte, const QString& Sujet,
                            const QString* TableauPieces, qint32 n_pieces) {
    if (!g_mapi) g_mapi = platform::mailSystem().load();
    if (!g_mapi) {
        Message(this, QStringLiteral("Chargement de MAPI impossible!"));
        return;
    }
    auto* bobine = new TBobine(this);
    try {
        bobine->Preparer(Address, Texte, Sujet, TableauPieces, n_pieces);
    } catch (const std::bad_alloc&) {
        // The worker releases what was made, records 29 and frees itself.
        bobine->Terminate();
        bobine->Resume();
        throw std::runtime_error("Pas assez de mémoire...");
    }
    bobine->Resume();
}

void TMsgLabel::ClrMem(void* p, qint64 count) {
    if (p && count > 0) std::memset(p, 0, static_cast<std::size_t>(count));
}

void TMsgLabel::Liberer() {
    if (!g_mapi) return;
    if (platform::mailSystem().unload(g_mapi))
        g_mapi = nullptr;
    else
        Message(nullptr, QStringLiteral("Impossible de libérer MAPI!"));
}

void TMsgLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TMsgLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click) Click();
}
