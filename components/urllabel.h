// TURLLabel: a link label; a click hands its target to the desktop's
// default program (browser, mail composer, file manager).
#pragma once

#include <QLabel>
#include <QString>

class TURLLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool Adresse MEMBER Adresse WRITE setAdresse)
    Q_PROPERTY(QString Cible MEMBER Cible WRITE setCible)
    // The caption is plain text; the label opens its target itself.
    Q_PROPERTY(Qt::TextFormat textFormat READ textFormat WRITE setTextFormat DESIGNABLE false STORED false)
    Q_PROPERTY(bool openExternalLinks READ openExternalLinks WRITE setOpenExternalLinks DESIGNABLE false STORED false)

public:
    explicit TURLLabel(QWidget* parent = nullptr);
    ~TURLLabel() override;

    // Fires clicked(), then opens Cible (or the caption when Cible is
    // empty), with "mailto:" in front when Adresse is true. A target without
    // a scheme that names a file, relative to the current folder or not, is
    // opened as that local file.
    virtual void Click();
    // The last target handed to the desktop.
    const QString& DerniereCible() const { return derniereCible_; }

    bool Adresse = true;
    QString Cible;
    void setAdresse(bool on) { Adresse = on; }
    void setCible(const QString& target) { Cible = target; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString derniereCible_;
    bool pressed_ = false;
};
