#include "comboplus.h"

#include <QCoreApplication>
#include <QLineEdit>

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
