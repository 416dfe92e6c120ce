#include "version.h"

#include "platform/platform.h"
#include "platform/versioninfo.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

TVersion::TVersion(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    SetFichier(QString());
    Clothed = true;
    setText(VersionFichier(QString::fromStdString(platform::executablePath())));
}

TVersion::~TVersion() = default;

void TVersion::SetFichier(const QString& name) {
    if (name == fichier_)
        return;
    fichier_ = name;
    setText(VersionFichier(name));
}

QString TVersion::VersionFichier(const QString& name) const {
    const QString failed = Clothed ? QStringLiteral("V: ???") : QStringLiteral("???");
    std::string fileVersion;
    if (!platform::versionString(platform::fileVersionBlock(name.toStdString()), "FileVersion", fileVersion))
        return failed;
    const QString text = QString::fromStdString(fileVersion);
    return Clothed ? QStringLiteral("V ") + text : text;
}
