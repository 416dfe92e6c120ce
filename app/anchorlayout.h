// Places child widgets at their designed bounds and keeps the anchored sides
// at their designed distance from the parent's edges when it is resized.
#pragma once

#include <QLayout>
#include <QList>
#include <QRect>
#include <QSize>

enum Anchor { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8, akAll = akLeft | akTop | akRight | akBottom };

class TAnchorLayout : public QLayout {
public:
    // `design` is the client size of the parent the bounds were designed in.
    TAnchorLayout(QWidget* parent, QSize design);
    ~TAnchorLayout() override;

    void add(QWidget* widget, QRect bounds, int anchors);
    // `widget` is hidden while its place would come within `gap` pixels of
    // `obstacle`'s (both in this layout): a right-anchored label of a narrowed
    // window never covers a left-anchored control.
    void yieldTo(QWidget* widget, QWidget* obstacle, int gap);

    // QLayout
    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

    // Bounds of a designed rectangle inside a parent of size `actual`.
    static QRect place(QRect bounds, int anchors, QSize design, QSize actual);

private:
    struct Entry {
        QLayoutItem* item;
        QRect bounds;
        int anchors;
        QWidget* obstacle = nullptr;
        int gap = 0;
    };
    QSize design_;
    QList<Entry> entries_;
};
