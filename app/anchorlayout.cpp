#include "app/anchorlayout.h"

#include <QWidget>
#include <QWidgetItem>

TAnchorLayout::TAnchorLayout(QWidget* parent, QSize design) : QLayout(parent), design_(design) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

TAnchorLayout::~TAnchorLayout() {
    for (const Entry& e : entries_) delete e.item;
}

void TAnchorLayout::add(QWidget* widget, QRect bounds, int anchors) {
    addChildWidget(widget);
    entries_.append({new QWidgetItem(widget), bounds, anchors});
    widget->setGeometry(bounds);
    invalidate();
}

void TAnchorLayout::yieldTo(QWidget* widget, QWidget* obstacle, int gap) {
    for (Entry& e : entries_)
        if (e.item->widget() == widget) {
            e.obstacle = obstacle;
            e.gap = gap;
        }
    invalidate();
}

void TAnchorLayout::addItem(QLayoutItem* item) { entries_.append({item, QRect(QPoint(0, 0), item->sizeHint()), akLeft | akTop}); }

int TAnchorLayout::count() const { return static_cast<int>(entries_.size()); }

QLayoutItem* TAnchorLayout::itemAt(int index) const {
    return index >= 0 && index < entries_.size() ? entries_[index].item : nullptr;
}

QLayoutItem* TAnchorLayout::takeAt(int index) {
    if (index < 0 || index >= entries_.size()) return nullptr;
    QLayoutItem* item = entries_[index].item;
    entries_.removeAt(index);
    return item;
}

QSize TAnchorLayout::sizeHint() const { return design_; }

// The window sets its own minimum; the children shrink with it.
QSize TAnchorLayout::minimumSize() const { return QSize(0, 0); }

QRect TAnchorLayout::place(QRect b, int anchors, QSize design, QSize actual) {
    const int dx = actual.width() - design.width();
    const int dy = actual.height() - design.height();
    int x = b.x(), w = b.width(), y = b.y(), h = b.height();
    if (anchors & akRight) {
        if (anchors & akLeft) w += dx; else x += dx;
    } else if (!(anchors & akLeft)) {
        x += dx / 2;
    }
    if (anchors & akBottom) {
        if (anchors & akTop) h += dy; else y += dy;
    } else if (!(anchors & akTop)) {
        y += dy / 2;
    }
    return QRect(x, y, qMax(0, w), qMax(0, h));
}

void TAnchorLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    for (const Entry& e : entries_) {
        const QRect r = place(e.bounds, e.anchors, design_, rect.size()).translated(rect.topLeft());
        // Straight to the widget: designed bounds win over size policies.
        if (QWidget* w = e.item->widget()) w->setGeometry(r);
        else e.item->setGeometry(r);
    }
    for (const Entry& e : entries_) {
        if (!e.obstacle || !e.item->widget()) continue;
        const QRect near = e.obstacle->geometry().adjusted(-e.gap, 0, e.gap, 0);
        e.item->widget()->setVisible(!e.item->widget()->geometry().intersects(near));
    }
}
