// The settings store as the main window uses it; the same suite runs against
// the .reg file on Linux and the real registry (under Wine) on Windows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "platform/settings.h"
#include "tests/platform/settings_scratch.h"

using platform::Settings;
using platform::SettingsError;
using testing::UnorderedElementsAre;

namespace {

class SettingsTest : public testing::Test {
protected:
    testutil::ScratchStore store;
    std::string params() const { return store.key() + "\\Params"; }

    template <typename F>
    static std::string errorOf(F&& f) {
        try {
            f();
        } catch (const SettingsError& e) {
            return e.what();
        }
        return "(no error)";
    }
};

TEST_F(SettingsTest, KeysOpenOnlyWhenPresentUnlessCreated) {
    Settings s;
    EXPECT_FALSE(s.OpenKey(store.key(), false));
    EXPECT_FALSE(s.OpenKey(params(), false));
    ASSERT_TRUE(s.OpenKey(params(), true));
    s.WriteInteger("Top", 10);
    s.CloseKey();

    Settings again;
    EXPECT_TRUE(again.OpenKey(params(), false));
    // The parent of a created key exists too, empty.
    EXPECT_TRUE(again.OpenKey(store.key(), false));
    EXPECT_TRUE(again.GetValueNames().empty());
    // A relative path goes from the current key.
    EXPECT_TRUE(again.OpenKey("Params", false));
    EXPECT_EQ(again.ReadInteger("Top"), 10);
}

TEST_F(SettingsTest, ValuesRoundTripAcrossStoreObjects) {
    const std::string awkward = "c:\\program files\\\"cité\"\\é€漢.dll";
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(params(), true));
        s.WriteString("Adresse", "bêta@example.org");
        s.WriteString("Vide", "");
        s.WriteString("Chemin", awkward);
        s.WriteString("Lignes", "un\r\ndeux\nfin");
        s.WriteInteger("Left", -32000);
        s.WriteInteger("Min", INT32_MIN);
        s.WriteInteger("Max", INT32_MAX);
        s.WriteBool("Unique", true);
        s.WriteBool("Recursif", false);
    }
    Settings s;
    ASSERT_TRUE(s.OpenKey(params(), false));
    EXPECT_EQ(s.ReadString("Adresse"), "bêta@example.org");
    EXPECT_EQ(s.ReadString("Vide"), "");
    EXPECT_TRUE(s.ValueExists("Vide"));
    EXPECT_EQ(s.ReadString("Chemin"), awkward);
    EXPECT_EQ(s.ReadString("Lignes"), "un\r\ndeux\nfin");
    EXPECT_EQ(s.ReadInteger("Left"), -32000);
    EXPECT_EQ(s.ReadInteger("Min"), INT32_MIN);
    EXPECT_EQ(s.ReadInteger("Max"), INT32_MAX);
    EXPECT_TRUE(s.ReadBool("Unique"));
    EXPECT_FALSE(s.ReadBool("Recursif"));
    EXPECT_EQ(s.ReadInteger("Unique"), 1);  // bools are the integers 1 and 0
    EXPECT_EQ(s.ReadInteger("Recursif"), 0);
}

TEST_F(SettingsTest, WrongTypesAndMissingValuesGiveTheStoreMessages) {
    Settings s;
    ASSERT_TRUE(s.OpenKey(params(), true));
    s.WriteString("Top", "107");
    s.WriteInteger("0", 3);
    s.WriteInteger("State", 7);

    EXPECT_EQ(errorOf([&] { s.ReadInteger("Top"); }), "Type de données incorrect pour 'Top'");
    EXPECT_EQ(errorOf([&] { s.ReadBool("Top"); }), "Type de données incorrect pour 'Top'");
    EXPECT_EQ(errorOf([&] { s.ReadString("0"); }), "Type de données incorrect pour '0'");
    EXPECT_EQ(errorOf([&] { s.ReadInteger("Height"); }), "Erreur à l'obtention des données pour 'Height'");
    EXPECT_EQ(errorOf([&] { s.ReadBool("Recursif"); }), "Erreur à l'obtention des données pour 'Recursif'");
    EXPECT_EQ(s.ReadString("Adresse"), "");  // a missing text is empty, no error
    EXPECT_FALSE(s.ValueExists("Adresse"));
    EXPECT_TRUE(s.ReadBool("State"));  // any non-zero value

    // A value keeps one type at a time: rewriting it changes it.
    s.WriteInteger("Top", 107);
    EXPECT_EQ(s.ReadInteger("Top"), 107);
}

TEST_F(SettingsTest, WithoutACurrentKeyReadsAndWritesFail) {
    Settings s;
    EXPECT_TRUE(s.GetValueNames().empty());
    EXPECT_EQ(errorOf([&] { s.ReadString("0"); }), "Erreur à l'obtention des données pour '0'");
    EXPECT_EQ(errorOf([&] { s.ReadInteger("Top"); }), "Erreur à l'obtention des données pour 'Top'");
    EXPECT_EQ(errorOf([&] { s.WriteString("0", "x"); }), "Erreur à la définition des données pour '0'");
    EXPECT_EQ(errorOf([&] { s.WriteInteger("Top", 1); }), "Erreur à la définition des données pour 'Top'");
    EXPECT_FALSE(s.DeleteValue("0"));

    ASSERT_TRUE(s.OpenKey(params(), true));
    s.CloseKey();
    EXPECT_EQ(errorOf([&] { s.WriteBool("Unique", true); }), "Erreur à la définition des données pour 'Unique'");
}

TEST_F(SettingsTest, NamesIgnoreCaseAsInTheRegistry) {
    Settings s;
    ASSERT_TRUE(s.OpenKey(params(), true));
    s.WriteInteger("State", 1);
    s.WriteInteger("STATE", 2);
    EXPECT_EQ(s.ReadInteger("state"), 2);
    EXPECT_EQ(s.GetValueNames(), std::vector<std::string>{"State"});
    std::string shouted = params();
    shouted.replace(1, 8, "SOFTWARE");
    EXPECT_TRUE(s.OpenKey(shouted, false));
    EXPECT_TRUE(s.DeleteValue("sTaTe"));
    EXPECT_TRUE(s.GetValueNames().empty());
}

TEST_F(SettingsTest, ShrinkingListLeavesExactlyTheNewValues) {
    // What closing the window does: delete every value, then write the list.
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        for (int i = 0; i < 5; ++i) s.WriteString(std::to_string(i), std::string("f").append(std::to_string(i)).append(".exe"));
        s.WriteString("ajout à la main", "x.dll");
    }
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        for (const std::string& name : s.GetValueNames()) EXPECT_TRUE(s.DeleteValue(name));
        EXPECT_FALSE(s.DeleteValue("0"));  // already gone
        for (int i = 0; i < 3; ++i) s.WriteString(std::to_string(i), std::string("g").append(std::to_string(i)).append(".exe"));
        s.CloseKey();
    }
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), false));
    EXPECT_THAT(s.GetValueNames(), UnorderedElementsAre("0", "1", "2"));
    EXPECT_EQ(s.ReadString("2"), "g2.exe");
}

TEST_F(SettingsTest, DeletionsLastWithoutAnyLaterWrite) {
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), true));
        s.WriteString("0", "a.exe");
        s.WriteString("1", "b.exe");
    }
    {
        Settings s;
        ASSERT_TRUE(s.OpenKey(store.key(), false));
        EXPECT_TRUE(s.DeleteValue("0"));
    }  // destroyed without CloseKey
    Settings s;
    ASSERT_TRUE(s.OpenKey(store.key(), false));
    EXPECT_EQ(s.GetValueNames(), std::vector<std::string>{"1"});
}

}  // namespace
