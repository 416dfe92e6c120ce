#include "version.h"

#include "platform/platform.h"

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
    const std::string path = name.toStdString();
    std::uint32_t handle = 0;
    const std::uint32_t size = platform::fileVersionInfoSize(path, handle);
    if (size == 0)
        return failed;
    std::vector<std::uint8_t> block(size);
    if (!platform::fileVersionInfo(path, handle, size, block.data()))
        return failed;

    // Only the first translation is tried: language in the high half of the
    // key, code page in the low half.
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!platform::verQueryValue(block.data(), "\\VarFileInfo\\Translation", value, length) || length < 4 || !value)
        return failed;
    std::uint32_t translation;
    std::memcpy(&translation, value, 4);
    char key[9];
    std::snprintf(key, sizeof key, "%04X%04X", unsigned(translation & 0xFFFF), unsigned(translation >> 16));

    std::string fileVersion;
    if (!platform::verQueryString(block.data(), std::string("\\StringFileInfo\\") + key + "\\FileVersion", fileVersion))
        return failed;
    const QString text = QString::fromStdString(fileVersion);
    return Clothed ? QStringLiteral("V ") + text : text;
}
