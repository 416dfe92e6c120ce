#include "urllabel.h"

#include <QDesktopServices>
#include <QDir>
#include <QMouseEvent>
#include <QPalette>
#include <QUrl>

TURLLabel::TURLLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(pal);
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    Adresse = true;
}

TURLLabel::~TURLLabel() = default;

void TURLLabel::Click() {
    emit clicked();
    QString target = Cible.isEmpty() ? text() : Cible;
    if (Adresse)
        target.prepend(QStringLiteral("mailto:"));
    derniereCible_ = target;
    // Like the shell's open call: web addresses, mailto: and paths, a
    // relative one from the current folder.
    QDesktopServices::openUrl(QUrl::fromUserInput(target, QDir::currentPath()));
}

void TURLLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        Click();
}
