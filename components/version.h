// TVersion: a label showing the file version read from a file's version
// resource; by default the running program's own.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>

class TVersion : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool Clothed MEMBER Clothed WRITE setClothed)
    // The caption always comes from the version query, so it is not stored,
    // and it is shown as plain text whatever a version string holds.
    Q_PROPERTY(QString text READ text WRITE setText DESIGNABLE false STORED false)
    Q_PROPERTY(Qt::TextFormat textFormat READ textFormat WRITE setTextFormat DESIGNABLE false STORED false)
    Q_PROPERTY(QPixmap pixmap READ pixmap WRITE setPixmap DESIGNABLE false STORED false)
    Q_PROPERTY(bool openExternalLinks READ openExternalLinks WRITE setOpenExternalLinks DESIGNABLE false STORED false)

public:
    explicit TVersion(QWidget* parent = nullptr);
    ~TVersion() override;

    const QString& Fichier() const { return fichier_; }
    // Recomputes the caption only when the name differs (case-sensitive).
    virtual void SetFichier(const QString& name);
    // "V " + FileVersion of the first translation, or "V: ???" when there is
    // none; without the prefixes when Clothed is false.
    QString VersionFichier(const QString& name) const;

    bool Clothed = true;
    // Shows from the next computation of the caption.
    void setClothed(bool on) { Clothed = on; }

private:
    QString fichier_;
};
