#include "comboplus.h"
#include "krvgrid.h"
#include "numedit.h"
#include "urllabel.h"
#include "version.h"

#include <QMetaProperty>
#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <gtest/gtest.h>

#include <memory>

TEST(Personnel, PaletteOffersEveryComponent) {
    QPluginLoader loader(QStringLiteral(TAVELIN_DESIGNER_PLUGIN));
    QObject* root = loader.instance();
    ASSERT_NE(root, nullptr) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(root);
    ASSERT_NE(collection, nullptr);

    QStringList names;
    for (QDesignerCustomWidgetInterface* w : collection->customWidgets()) {
        names << w->name();
        EXPECT_EQ(w->group(), "Personnel") << w->name().toStdString();
        EXPECT_EQ(w->includeFile(), w->name().mid(1).toLower() + ".h");
        EXPECT_TRUE(w->domXml().contains("class=\"" + w->name() + "\""));
        std::unique_ptr<QWidget> made(w->createWidget(nullptr));
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->metaObject()->className(), w->name());
    }
    for (const char* expected : {"TKRVGrid", "TVersion", "TURLLabel", "TNuMedit", "TComboPlus"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(expected))) << expected;
}

// Published properties start at their declared defaults, so a form stores
// only what differs from them.
TEST(Personnel, PublishedPropertiesStartAtTheirDefaults) {
    TKRVGrid g;
    EXPECT_EQ(g.property("HeadClickSort").toBool(), true);
    EXPECT_EQ(g.property("DeadKeyAction").value<TKRVGrid::TtmAction>(), tmDeplace);
    EXPECT_EQ(g.property("DeadKey").value<TKRVGrid::TDeadKey>(), ttmCtrl);
    EXPECT_TRUE(g.setProperty("DeadKey", QVariant::fromValue(ttmShift)));
    EXPECT_EQ(g.DeadKeyCode(), 16);  // written through SetDeadKey

    TVersion v;
    EXPECT_EQ(v.property("Clothed").toBool(), true);
    const QMetaProperty caption = v.metaObject()->property(v.metaObject()->indexOfProperty("text"));
    EXPECT_FALSE(caption.isStored());

    TURLLabel u;
    EXPECT_EQ(u.property("Adresse").toBool(), true);
    EXPECT_EQ(u.property("Cible").toString(), "");

    TNuMedit n;
    EXPECT_EQ(n.property("Unite").toString(), "");
    EXPECT_EQ(n.property("Valeur").toDouble(), 0.0);
    EXPECT_EQ(n.property("Decimales").toInt(), 2);
    EXPECT_EQ(n.property("Calculatrice").toBool(), false);
    EXPECT_TRUE(n.setProperty("Decimales", 1));
    EXPECT_EQ(n.text(), "0,0");

    TComboPlus c;
    EXPECT_EQ(c.property("Sorted").toBool(), true);
    EXPECT_EQ(c.property("CaseIndiferent").toBool(), true);
}

// Designer shows the most derived declaration of a property only: the
// inherited ones that would break a component's rules are declared again,
// not designable.
TEST(Personnel, InheritedPropertiesThatBreakTheRulesStayOutOfDesigner) {
    const auto designable = [](const QMetaObject& m, const char* name) {
        const QMetaProperty p = m.property(m.indexOfProperty(name));
        return p.isValid() && p.isDesignable();
    };
    for (const char* name : {"text", "inputMask", "maxLength", "echoMode", "cursorPosition"})
        EXPECT_FALSE(designable(TNuMedit::staticMetaObject, name)) << name;
    for (const char* name : {"text", "textFormat", "pixmap"})
        EXPECT_FALSE(designable(TVersion::staticMetaObject, name)) << name;
    EXPECT_FALSE(designable(TURLLabel::staticMetaObject, "textFormat"));
    EXPECT_TRUE(designable(TURLLabel::staticMetaObject, "text"));
    for (const char* name : {"showGrid", "selectionBehavior", "editTriggers", "dragDropMode"})
        EXPECT_FALSE(designable(TKRVGrid::staticMetaObject, name)) << name;
    EXPECT_TRUE(designable(TNuMedit::staticMetaObject, "Decimales"));
    EXPECT_TRUE(designable(TKRVGrid::staticMetaObject, "GridLines"));
}
