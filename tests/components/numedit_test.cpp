#include "numedit.h"

#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

#include <clocale>

namespace {

// Captures the adding machine's messages instead of showing a modal box.
class NumEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = TNuMedit::Message;
        TNuMedit::Message = [this](QWidget*, const QString& text) { messages << text; };
    }
    void TearDown() override { TNuMedit::Message = saved_; }

    QStringList messages;

private:
    std::function<void(QWidget*, const QString&)> saved_;
};

void type(TNuMedit& e, const QString& keys) {
    for (QChar k : keys) {
        if (k == QLatin1Char('\r'))
            QTest::keyClick(&e, Qt::Key_Return);
        else
            QTest::keyClick(&e, k.toLatin1());
    }
}

}  // namespace

TEST_F(NumEditTest, FreshControlShowsZeroWithTwoDecimalsAndItsUnit) {
    TNuMedit e;
    EXPECT_EQ(e.text(), "0,00");
    EXPECT_EQ(e.Decimales(), 2);
    EXPECT_EQ(e.GetValeur(), 0.0);
    EXPECT_FALSE(e.Calculatrice);
    e.SetUnite("kg");
    EXPECT_EQ(e.text(), "0,00 kg");
    EXPECT_EQ(e.Desuniter(e.text()), "0,00");
    e.SetValeur(12.5);
    e.SetUnite("tonnes");
    EXPECT_EQ(e.text(), "12,50 tonnes");
    e.SetUnite("");
    EXPECT_EQ(e.text(), "12,50");
}

TEST_F(NumEditTest, FormatsWithACommaCuttingDecimalsDownward) {
    // Whatever the user's locale says about separators.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    std::setlocale(LC_NUMERIC, "C");
    TNuMedit e;
    e.SetValeur(2.999);
    EXPECT_EQ(e.text(), "2,99");
    e.SetValeur(-1.234);
    EXPECT_EQ(e.text(), "-1,24");
    e.SetValeur(0.29);  // binary 0.28999… must not turn into 0,28
    EXPECT_EQ(e.text(), "0,29");
    e.SetValeur(1.15);
    EXPECT_EQ(e.text(), "1,15");
    e.SetValeur(-2.0);
    EXPECT_EQ(e.text(), "-2,00");
    e.SetValeur(99999.999);
    EXPECT_EQ(e.text(), "99999,99");

    e.SetDecimales(0);
    e.SetValeur(2.6);
    EXPECT_EQ(e.text(), "3");
    e.SetValeur(2.5);
    EXPECT_EQ(e.text(), "3");
    e.SetDecimales(-5);
    EXPECT_EQ(e.Decimales(), -1);
    e.SetValeur(1234.5678);
    EXPECT_EQ(e.text(), "1234,5678");
    e.SetValeur(1e20);
    EXPECT_EQ(e.text(), "1E20");
    e.SetValeur(0.00001);
    EXPECT_EQ(e.text(), "0,00001");
    e.SetValeur(-1.5e-7);
    EXPECT_EQ(e.text(), "-1,5E-7");
    EXPECT_DOUBLE_EQ(e.GetValeur(), -1.5e-7);
    e.SetDecimales(3);
    EXPECT_EQ(e.text(), "-0,001");
    QLocale::setDefault(QLocale::system());
}

TEST(NumEditRead, ReadsOnlyCommaNumbers) {
    EXPECT_EQ(TNuMedit::LireNombre("12,5"), 12.5);
    EXPECT_EQ(TNuMedit::LireNombre(" -0,25 "), -0.25);
    EXPECT_EQ(TNuMedit::LireNombre(",5"), 0.5);
    EXPECT_EQ(TNuMedit::LireNombre("1,5E3"), 1500.0);
    for (const char* bad : {"", "-", ",", "12.5", "1 000", "abc", "1,2,3", "1E", "1E999", "0x10", "١٢"})
        EXPECT_FALSE(TNuMedit::LireNombre(QString::fromUtf8(bad)).has_value()) << bad;
}

TEST_F(NumEditTest, TypingKeepsANumberAndTheCaretOutOfTheUnit) {
    TNuMedit e;
    e.SetUnite("kg");
    e.setCursorPosition(0);
    type(e, "5");
    EXPECT_EQ(e.text(), "5,00 kg");
    EXPECT_EQ(e.cursorPosition(), 1);
    type(e, "2");
    EXPECT_EQ(e.text(), "52,00 kg");

    // "." and "," only jump after the comma.
    e.setCursorPosition(0);
    type(e, ".");
    EXPECT_EQ(e.text(), "52,00 kg");
    EXPECT_EQ(e.cursorPosition(), 3);
    e.setCursorPosition(1);
    type(e, ",");
    EXPECT_EQ(e.cursorPosition(), 3);
    type(e, "7");
    EXPECT_EQ(e.text(), "52,70 kg");

    // A letter changes nothing, caret included.
    e.setCursorPosition(2);
    type(e, "x");
    EXPECT_EQ(e.text(), "52,70 kg");
    EXPECT_EQ(e.cursorPosition(), 2);

    // Right, Down and Delete stop before the unit; End goes there.
    e.setCursorPosition(0);
    QTest::keyClick(&e, Qt::Key_End);
    EXPECT_EQ(e.cursorPosition(), 5);
    for (Qt::Key k : {Qt::Key_Right, Qt::Key_Down, Qt::Key_Delete}) {
        QTest::keyClick(&e, k);
        EXPECT_EQ(e.text(), "52,70 kg");
        EXPECT_EQ(e.cursorPosition(), 5);
    }

    // Backspace after the comma removes the digit before it.
    e.setCursorPosition(3);
    QTest::keyClick(&e, Qt::Key_Backspace);
    EXPECT_EQ(e.text(), "5,70 kg");
    EXPECT_EQ(e.cursorPosition(), 1);

    // A leading minus sign is kept while the digits follow.
    e.SetValeur(0);
    e.setCursorPosition(0);
    type(e, "-");
    EXPECT_EQ(e.text(), "-0,00 kg");
    type(e, "4");
    EXPECT_EQ(e.text(), "-4,00 kg");
    EXPECT_EQ(e.GetValeur(), -4.0);
}

TEST_F(NumEditTest, GarbageNeverStays) {
    TNuMedit e;
    int changes = 0;
    QObject::connect(&e, &TNuMedit::OnChange, [&] { ++changes; });
    e.SetValeur(3);
    EXPECT_EQ(changes, 1);
    QTest::keyClick(&e, Qt::Key_End);  // the previous text is taken at each key
    e.setText("n'importe quoi");
    EXPECT_EQ(e.text(), "3,00");
    e.insert("12abc");
    EXPECT_EQ(e.text(), "3,00");
    e.setText("");
    EXPECT_EQ(e.text(), "0,00");
    EXPECT_EQ(e.GetValeur(), 0.0);
}

TEST_F(NumEditTest, AddingMachineWorksOnTheAccumulator) {
    TNuMedit e;
    e.Calculatrice = true;
    e.setCursorPosition(0);
    type(e, "12\r5-");
    EXPECT_EQ(e.text(), "7,00");
    EXPECT_EQ(e.Accumulateur(), 7);
    type(e, "*");
    EXPECT_EQ(e.text(), "49,00");
    type(e, "7\r2/");
    EXPECT_EQ(e.text(), "3,00");
    type(e, "1+");
    EXPECT_EQ(e.text(), "4,00");
    EXPECT_TRUE(messages.isEmpty());

    // Division by zero: the message, and nothing else changes.
    type(e, "0");
    EXPECT_EQ(e.text(), "0,00");
    type(e, "/");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QString::fromUtf8("Grrr!\n\nDivision par zéro interdite pour l'instant!"));
    EXPECT_EQ(e.text(), "0,00");
    EXPECT_EQ(e.Accumulateur(), 4);

    // Too large for the arithmetic: the other message.
    e.SetValeur(1e20);
    type(e, "\r");
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[1], "Nombre trop grand! Hihihi!");
    EXPECT_EQ(e.Accumulateur(), 4);

    // Wrapping to 32 bits is not "too large": the low bits are kept.
    e.SetValeur(65536);
    type(e, "\r");
    type(e, "*");
    EXPECT_EQ(e.Accumulateur(), 0);
    EXPECT_EQ(messages.size(), 2);
}

// Each key reaches the edit as one edit of the finished number, so the
// edit's own undo (Ctrl+Z, the context menu) works.
TEST_F(NumEditTest, OneTextChangePerKeyAndUndoWorks) {
    TNuMedit e;
    e.SetUnite("kg");
    QStringList changes;
    QObject::connect(&e, &QLineEdit::textChanged, [&](const QString& t) { changes << t; });
    e.setCursorPosition(0);
    type(e, "5");
    type(e, "x");  // refused: no change at all
    type(e, "2");
    EXPECT_EQ(changes, QStringList({"5,00 kg", "52,00 kg"}));
    EXPECT_TRUE(e.isUndoAvailable());
    QTest::keyClick(&e, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(e.text(), "0,00 kg");
    e.redo();
    EXPECT_EQ(e.text(), "52,00 kg");

    // Typing over the whole text, unit included, starts a new number.
    e.selectAll();
    type(e, "7");
    EXPECT_EQ(e.text(), "7,00 kg");
    EXPECT_EQ(e.cursorPosition(), 1);
    e.undo();
    EXPECT_EQ(e.text(), "52,00 kg");
}
