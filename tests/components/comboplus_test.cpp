#include "comboplus.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QStandardItemModel>
#include <QStringListModel>

#include <gtest/gtest.h>

namespace {

QStringList items(const QComboBox& c) {
    QStringList l;
    for (int i = 0; i < c.count(); ++i)
        l << c.itemText(i);
    return l;
}

}  // namespace

TEST(ComboPlus, ListerSelectsAnEqualEntryOrFilesTheText) {
    TComboPlus c;
    EXPECT_TRUE(c.Sorted());
    EXPECT_TRUE(c.CaseIndiferent);
    EXPECT_FALSE(c.Lister());  // empty text
    EXPECT_EQ(c.count(), 0);

    c.setEditText("zèbre");
    EXPECT_TRUE(c.Lister());
    EXPECT_EQ(c.currentText(), "zèbre");
    c.setEditText("abc");
    EXPECT_TRUE(c.Lister());
    EXPECT_FALSE(c.Lister());  // twice: filed once
    c.setEditText("Émile");
    EXPECT_TRUE(c.Lister());
    EXPECT_EQ(c.count(), 3);
    EXPECT_EQ(c.itemText(0), "abc");  // sorted: a comes first in any collation

    c.setEditText("ABC");
    EXPECT_FALSE(c.Lister());
    EXPECT_EQ(c.currentIndex(), 0);
    EXPECT_EQ(c.currentText(), "abc");
    c.setEditText("éMILE");  // accented capitals lower too
    EXPECT_FALSE(c.Lister());
    EXPECT_EQ(c.currentText(), "Émile");

    const int emile = c.currentIndex();
    c.CaseIndiferent = false;
    c.setEditText("Abc");
    EXPECT_TRUE(c.Lister());
    EXPECT_EQ(c.count(), 4);
    EXPECT_EQ(c.itemText(1), "Abc");     // after its equal, ignoring case
    EXPECT_EQ(c.currentText(), "Abc");  // the edit text and selection stay
    EXPECT_EQ(c.currentIndex(), emile + 1);
    EXPECT_EQ(c.itemText(c.currentIndex()), "Émile");
}

TEST(ComboPlus, LowestEqualEntryWinsAndUnsortedAppends) {
    TComboPlus c;
    c.SetSorted(false);
    c.addItems({"b", "a", "A", "a"});
    QCoreApplication::processEvents();
    EXPECT_EQ(items(c), QStringList({"b", "a", "A", "a"}));
    c.setEditText("a");
    EXPECT_FALSE(c.Lister());
    EXPECT_EQ(c.currentIndex(), 1);
    c.CaseIndiferent = false;
    c.setEditText("A");
    EXPECT_FALSE(c.Lister());
    EXPECT_EQ(c.currentIndex(), 2);
    c.setEditText("0");
    EXPECT_TRUE(c.Lister());
    EXPECT_EQ(items(c).last(), "0");

    // Sorting again puts every item in place, keeping the current one.
    c.SetSorted(true);
    EXPECT_EQ(items(c), QStringList({"0", "a", "A", "a", "b"}));
    EXPECT_EQ(c.currentText(), "0");
}

TEST(ComboPlus, ItemsAddedByAFormEndUpSorted) {
    TComboPlus c;
    // What generated form code does: blank items, then their texts.
    c.addItem(QString());
    c.addItem(QString());
    c.setItemText(0, "zoé");
    c.setItemText(1, "alpha");
    QCoreApplication::processEvents();
    EXPECT_EQ(items(c), QStringList({"alpha", "zoé"}));
}

// Sorting moves whole items: icons, tool tips, data and the current item go
// with their texts, and nothing announces a new current index.
TEST(ComboPlus, SortingMovesWholeItemsOnAnyModel) {
    TComboPlus c;
    c.SetSorted(false);
    QPixmap red(4, 4);
    red.fill(Qt::red);
    c.addItem(QIcon(red), "zèbre", 26);
    c.addItem("abeille", 1);
    c.addItem("moineau", 13);
    for (int i = 0; i < c.count(); ++i)
        c.setItemData(i, "bulle " + c.itemText(i), Qt::ToolTipRole);
    c.setCurrentIndex(0);
    c.setEditText("en cours");
    int changes = 0;
    QObject::connect(&c, &QComboBox::currentIndexChanged, [&] { ++changes; });
    c.SetSorted(true);
    EXPECT_EQ(items(c), QStringList({"abeille", "moineau", "zèbre"}));
    for (int i = 0; i < c.count(); ++i)
        EXPECT_EQ(c.itemData(i, Qt::ToolTipRole).toString(), "bulle " + c.itemText(i));
    EXPECT_EQ(c.itemData(2).toInt(), 26);
    EXPECT_FALSE(c.itemIcon(2).isNull());
    EXPECT_TRUE(c.itemIcon(0).isNull());
    EXPECT_EQ(c.currentIndex(), 2);
    EXPECT_EQ(c.currentText(), "en cours");
    EXPECT_EQ(changes, 0);

    // Models set afterwards sort too, and so do rows they gain later.
    auto* standard = new QStandardItemModel(&c);
    for (const char* t : {"b", "a"}) {
        auto* item = new QStandardItem(QString::fromLatin1(t));
        item->setToolTip(QString::fromLatin1(t));
        standard->appendRow(item);
    }
    c.setModel(standard);
    EXPECT_EQ(items(c), QStringList({"a", "b"}));
    EXPECT_EQ(c.itemData(0, Qt::ToolTipRole).toString(), "a");

    auto* list = new QStringListModel({"zz", "aa", "mm"}, &c);
    c.setModel(list);
    EXPECT_EQ(items(c), QStringList({"aa", "mm", "zz"}));
    list->insertRows(0, 1);
    list->setData(list->index(0), "nn");
    QCoreApplication::processEvents();
    EXPECT_EQ(items(c), QStringList({"aa", "mm", "nn", "zz"}));
}
