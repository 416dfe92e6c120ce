// TURLLabel: a link label; a click hands its target to the desktop's
// default program (browser, mail composer, file manager).
#pragma once

#include <QLabel>
#include <QString>

class TURLLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool Adresse MEMBER Adresse)
    Q_PROPERTY(QString Cible MEMBER Cible)

public:
    explicit TURLLabel(QWidget* parent = nullptr);
    ~TURLLabel() override;

    // Fires clicked(), then opens Cible (or the caption when Cible is
    // empty), with "mailto:" in front when Adresse is true.
    virtual void Click();
    // The last target handed to the desktop.
    const QString& DerniereCible() const { return derniereCible_; }

    bool Adresse = true;
    QString Cible;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString derniereCible_;
    bool pressed_ = false;
};
