// A Designer form holding every component, compiled by uic in the build as a
// program using the palette compiles its forms: the generated calls must
// exist, and each set value must arrive.
#include "ui_personnel_form.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

TEST(PersonnelForm, GeneratedCodeSetsEveryChangedProperty) {
    QWidget form;
    Ui::FormPersonnel ui;
    ui.setupUi(&form);
    QCoreApplication::processEvents();

    TKRVGrid& g = *ui.SG;
    EXPECT_EQ(g.ColCount(), 4);
    EXPECT_EQ(g.RowCount(), 4);
    EXPECT_EQ(g.FixedCols(), 0);
    EXPECT_EQ(g.FixedRows(), 2);
    EXPECT_EQ(g.DefaultColWidth(), 80);
    EXPECT_EQ(g.DefaultRowHeight(), 18);
    EXPECT_FALSE(g.GridLines());
    EXPECT_TRUE(g.ColResizing());
    EXPECT_TRUE(g.RowMoving());
    EXPECT_TRUE(g.RowSelect());
    EXPECT_FALSE(g.HeadClickSort);
    EXPECT_EQ(g.DeadKeyAction, tmCopie);
    EXPECT_EQ(g.DeadKey(), ttmShift);
    EXPECT_EQ(g.DeadKeyCode(), 16);

    EXPECT_FALSE(ui.VLab->Clothed);
    EXPECT_EQ(ui.VLab->toolTip(), "Version du programme");
    EXPECT_EQ(ui.VLab->alignment(), Qt::AlignRight | Qt::AlignVCenter);

    EXPECT_EQ(ui.URLLabel1->text(), "Mon site");
    EXPECT_FALSE(ui.URLLabel1->Adresse);
    EXPECT_EQ(ui.URLLabel1->Cible, "https://morvane.example/");

    EXPECT_EQ(ui.NE->Unite(), "kg");
    EXPECT_EQ(ui.NE->Decimales(), 3);
    EXPECT_EQ(ui.NE->text(), "12,345 kg");
    EXPECT_TRUE(ui.NE->Calculatrice);

    EXPECT_FALSE(ui.CB->Sorted());
    EXPECT_FALSE(ui.CB->CaseIndiferent);
    ASSERT_EQ(ui.CB->count(), 2);
    EXPECT_EQ(ui.CB->itemText(0), QString::fromUtf8("zèbre"));

    EXPECT_EQ(ui.MsgLab->Adresse, "moi@example.org");
    EXPECT_FALSE(ui.MsgLab->Complete);
    EXPECT_FALSE(ui.MsgLab->Verbous);
    EXPECT_EQ(ui.MsgLab->GetCaption(), QString::fromUtf8("M'écrire"));
}
