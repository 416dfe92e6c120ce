// TNuMedit: a one-line edit holding one number with a fixed count of
// decimals and an optional unit ("12,50 kg"), optionally a small integer
// adding machine. The decimal separator is always the comma, whatever the
// user's locale: numbers are formatted and read here, not by QLocale.
//
// Every change of the text goes through the edit's validator, which makes it
// a number again. A key is first worked out on a copy of the text and then
// reaches the edit as one edit of the finished number: undo keeps working and
// textChanged fires once per key.
#pragma once

#include <QLineEdit>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

// Raised when a text that must be a number is not one.
class EConvertError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class TNuMedit : public QLineEdit {
    Q_OBJECT
    // Decimales comes before Valeur, so a form sets the count of decimals
    // before the value that is shown with them.
    Q_PROPERTY(QString Unite READ Unite WRITE setUnite)
    Q_PROPERTY(int Decimales READ Decimales WRITE setDecimales)
    Q_PROPERTY(double Valeur READ GetValeur WRITE setValeur STORED true)
    Q_PROPERTY(bool Calculatrice MEMBER Calculatrice WRITE setCalculatrice)
    // The raw text is the control's own business, and these would break the
    // number-and-unit rule.
    Q_PROPERTY(QString text READ text WRITE setText DESIGNABLE false STORED false)
    Q_PROPERTY(QString inputMask READ inputMask WRITE setInputMask DESIGNABLE false STORED false)
    Q_PROPERTY(int maxLength READ maxLength WRITE setMaxLength DESIGNABLE false STORED false)
    Q_PROPERTY(EchoMode echoMode READ echoMode WRITE setEchoMode DESIGNABLE false STORED false)
    Q_PROPERTY(QString placeholderText READ placeholderText WRITE setPlaceholderText DESIGNABLE false STORED false)
    Q_PROPERTY(bool clearButtonEnabled READ isClearButtonEnabled WRITE setClearButtonEnabled DESIGNABLE false
                   STORED false)
    Q_PROPERTY(int cursorPosition READ cursorPosition WRITE setCursorPosition DESIGNABLE false STORED false)

public:
    explicit TNuMedit(QWidget* parent = nullptr);
    ~TNuMedit() override;

    QString Formater(double x) const;
    QString Uniter(const QString& number) const;
    QString Desuniter(const QString& text) const;

    double GetValeur();
    void SetValeur(double x);
    int Decimales() const { return decimales_; }
    void SetDecimales(int d);
    const QString& Unite() const { return unite_; }
    void SetUnite(const QString& u);
    // The conventional setters, as uic writes them.
    void setUnite(const QString& u) { SetUnite(u); }
    void setDecimales(int d) { SetDecimales(d); }
    void setValeur(double x) { SetValeur(x); }
    void setCalculatrice(bool on) { Calculatrice = on; }

    bool Calculatrice = false;
    std::int32_t Accumulateur() const { return accumulateur_; }

    // Reads a number written with a decimal comma ("-12,5", "1,5E-7");
    // nullopt when the text is not one.
    static std::optional<double> LireNombre(const QString& text);

    // Shows the adding machine's messages; tests replace it to capture them
    // instead of blocking on a modal box.
    static std::function<void(QWidget* parent, const QString& text)> Message;

    // The rewrite that makes any text a number with its unit again (what
    // the edit's validator applies); `caret` follows it.
    void Normaliser(QString& text, int& caret) const;

signals:
    // Fired once the text has been made a number again after a change.
    void OnChange();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool KeyDown(QKeyEvent* event);
    // The key's rules, applied to the working copy `e` of the edit.
    bool KeyPress(QLineEdit& e, QChar key);
    void Change();
    void Click();
    double valeurDe(const QString& number) const;
    double lireValeur(QLineEdit& e);
    int finNombre(const QLineEdit& e) const { return int(e.text().size()) - suffixe_; }
    int finNombre() const { return finNombre(*this); }
    // A program write into the working copy, made a number at once.
    void ecrire(QLineEdit& e, const QString& texte) const;
    // Turns the text into `texte` as one undoable edit, caret at `caret`.
    void remplacer(const QString& texte, int caret);

    std::unique_ptr<QLineEdit> brouillon_;  // the working copy of the text for a key
    bool operateurApplique_ = false;
    int suffixe_ = 0;
    int decimales_ = 0;
    int caretSauve_ = 0;
    QString unite_;
    QString textePrecedent_;
    std::int32_t accumulateur_ = 0;
};
