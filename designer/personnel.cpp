#include "personnel.h"

#include "comboplus.h"
#include "krvgrid.h"
#include "msglabel.h"
#include "numedit.h"
#include "urllabel.h"
#include "version.h"

PersonnelEntry::PersonnelEntry(QString className, QString header, QString toolTip, QSize size,
                               std::function<QWidget*(QWidget*)> create, QObject* parent)
    : QObject(parent), className_(std::move(className)), header_(std::move(header)), toolTip_(std::move(toolTip)),
      size_(size), create_(std::move(create)) {}

QString PersonnelEntry::domXml() const {
    // Only the initial size: every published property keeps its default, so
    // a form stores nothing else until the developer changes it.
    return QStringLiteral(
               "<ui language=\"c++\"><widget class=\"%1\" name=\"%2\">"
               "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>%3</width><height>%4</height></rect>"
               "</property></widget></ui>")
        .arg(className_, className_.mid(1))
        .arg(size_.width())
        .arg(size_.height());
}

template <class T>
void Personnel::add(const char* className, const char* header, const char* toolTip, QSize size) {
    entries_.append(new PersonnelEntry(QString::fromLatin1(className), QString::fromLatin1(header),
                                       QString::fromUtf8(toolTip), size,
                                       [](QWidget* parent) { return new T(parent); }, this));
}

Personnel::Personnel(QObject* parent) : QObject(parent) {
    add<TKRVGrid>("TKRVGrid", "krvgrid.h", "Grille de textes triable par clic sur les entêtes", {320, 120});
    add<TVersion>("TVersion", "version.h", "Version d'un fichier (par défaut, du programme)", {80, 16});
    add<TURLLabel>("TURLLabel", "urllabel.h", "Lien vers une adresse, une page ou un fichier", {80, 16});
    add<TNuMedit>("TNuMedit", "numedit.h", "Zone de saisie d'un nombre, avec unité et calculette", {100, 22});
    add<TComboPlus>("TComboPlus", "comboplus.h", "Liste déroulante qui garde les textes saisis", {140, 22});
    add<TMsgLabel>("TMsgLabel", "msglabel.h", "Étiquette qui envoie un mail par le client MAPI simple", {60, 16});
}
