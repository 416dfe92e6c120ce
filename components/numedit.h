// TNuMedit: a one-line edit holding one number with a fixed count of
// decimals and an optional unit ("12,50 kg"), optionally a small integer
// adding machine. The decimal separator is always the comma, whatever the
// user's locale: numbers are formatted and read here, not by QLocale.
#pragma once

#include <QLineEdit>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

// Raised when a text that must be a number is not one.
class EConvertError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class TNuMedit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString Unite READ Unite WRITE SetUnite)
    Q_PROPERTY(double Valeur READ GetValeur WRITE SetValeur STORED true)
    Q_PROPERTY(int Decimales READ Decimales WRITE SetDecimales)
    Q_PROPERTY(bool Calculatrice MEMBER Calculatrice)
    // The raw text is the control's own business.
    Q_PROPERTY(QString text READ text WRITE setText DESIGNABLE false STORED false)

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

    bool Calculatrice = false;
    std::int32_t Accumulateur() const { return accumulateur_; }

    // Reads a number written with a decimal comma ("-12,5", "1,5E-7");
    // nullopt when the text is not one.
    static std::optional<double> LireNombre(const QString& text);

    // Shows the adding machine's messages; tests replace it to capture them
    // instead of blocking on a modal box.
    static std::function<void(QWidget* parent, const QString& text)> Message;

signals:
    // Fired once the text has been made a number again after a change.
    void OnChange();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool KeyDown(QKeyEvent* event);
    bool KeyPress(QChar key);
    void Change();
    void Click();
    double valeurDe(const QString& number) const;
    int finNombre() const { return int(text().size()) - suffixe_; }

    bool dansChange_ = false;
    bool operateurApplique_ = false;
    int suffixe_ = 0;
    int decimales_ = 0;
    int caretSauve_ = 0;
    QString unite_;
    QString textePrecedent_;
    std::int32_t accumulateur_ = 0;
};
