#include "app/upourquoi.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/application.h"

TFPourquoi::TFPourquoi(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FPourquoi"));
    if (parent) setFont(parent->font());
    setWindowTitle(QStringLiteral("Pourquoi ?"));
    LTitre = new QLabel(this);
    LTitre->setObjectName(QStringLiteral("LTitre"));
    LTitre->setWordWrap(true);
    RETexte = new QPlainTextEdit(this);
    RETexte->setObjectName(QStringLiteral("RETexte"));
    RETexte->setReadOnly(true);
    RETexte->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Selectable by keys too, so that a part of it can be copied.
    RETexte->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    LNotes = new QLabel(this);
    LNotes->setObjectName(QStringLiteral("LNotes"));
    LNotes->setWordWrap(true);
    BCopier = new QPushButton(QStringLiteral("&Copier"), this);
    BCopier->setObjectName(QStringLiteral("BCopier"));
    BCopier->setAutoDefault(false);
    BFermer = new QPushButton(QStringLiteral("&Fermer"), this);
    BFermer->setObjectName(QStringLiteral("BFermer"));
    BFermer->setDefault(true);

    auto* bas = new QHBoxLayout;
    bas->addStretch();
    bas->addWidget(BCopier);
    bas->addWidget(BFermer);
    auto* page = new QVBoxLayout(this);
    page->addWidget(LTitre);
    page->addWidget(RETexte, 1);
    page->addWidget(LNotes);
    page->addLayout(bas);
    resize(560, 260);

    connect(BCopier, &QPushButton::clicked, this, [this] { TApplication::Run([this] { BCopierClick(); }); });
    connect(BFermer, &QPushButton::clicked, this, &QDialog::close);
}

void TFPourquoi::Montrer(const QString& Dll, const QStringList& Chaines, const QStringList& Notes) {
    setWindowTitle(QStringLiteral("Pourquoi %1 ?").arg(Dll));
    LTitre->setText(Chaines.isEmpty() ? QStringLiteral("Aucun fichier de la liste n'a besoin de %1.").arg(Dll)
                                      : QStringLiteral("Les chaînes d'imports qui mènent à %1, les plus courtes "
                                                       "d'abord :")
                                            .arg(Dll));
    RETexte->setPlainText(Chaines.join(QLatin1Char('\n')));
    RETexte->setVisible(!Chaines.isEmpty());
    LNotes->setText(Notes.join(QLatin1Char('\n')));
    LNotes->setVisible(!Notes.isEmpty());
    BCopier->setEnabled(!Chaines.isEmpty());
}

QString TFPourquoi::Texte() const { return RETexte->toPlainText(); }

void TFPourquoi::BCopierClick() {
    QGuiApplication::clipboard()->setText(Texte().isEmpty() ? QString() : Texte() + QLatin1Char('\n'));
}
