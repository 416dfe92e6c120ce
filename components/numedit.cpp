#include "numedit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QValidator>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

const QString kDivisionParZero = QStringLiteral("Grrr!\n\nDivision par zéro interdite pour l'instant!");
const QString kTropGrand = QStringLiteral("Nombre trop grand! Hihihi!");

// Shortest text of |x| in plain decimal notation ("0.29", "100000").
std::string plainDigits(double x) {
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::fixed);
    return std::string(buf, res.ptr);
}

// Adds one unit of the last digit to a string of decimal digits.
void incrementDigits(std::string& digits) {
    for (auto i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// x cut downward to n decimals. The cut is made on the decimal text of x,
// not on x × 10^n in binary, which would turn 0.29 into 0,28.
QString floorDecimals(double x, int n) {
    const std::string plain = plainDigits(x);
    const auto dot = plain.find('.');
    std::string ip = plain.substr(0, dot);
    std::string fp = dot == std::string::npos ? std::string() : plain.substr(dot + 1);
    std::string kept = fp.substr(0, std::min<std::size_t>(fp.size(), std::size_t(n)));
    kept.resize(std::size_t(n), '0');
    const bool negative = std::signbit(x);
    const bool dropped = fp.size() > std::size_t(n) && fp.find_first_not_of('0', std::size_t(n)) != std::string::npos;
    if (negative && dropped) {
        std::string all = ip + kept;
        incrementDigits(all);
        ip = all.substr(0, all.size() - kept.size());
        kept = all.substr(all.size() - kept.size());
    }
    return QString::fromStdString((negative ? "-" : "") + ip + "," + kept);
}

// The general format with 15 significant digits: plain notation unless the
// number has more than 15 integer digits or is below 0.00001.
QString generalText(double x) {
    if (x == 0)
        return QStringLiteral("0");
    if (!std::isfinite(x))
        return QString::fromStdString(plainDigits(x));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
    const std::string s = buf;
    std::string digits = s.substr(0, 1) + s.substr(2, 14);
    const int exp = std::stoi(s.substr(s.find('e') + 1));
    digits.erase(digits.find_last_not_of('0') + 1);
    std::string out = x < 0 ? "-" : "";
    if (exp >= 15 || exp < -5) {
        out += digits.substr(0, 1);
        if (digits.size() > 1)
            out += "," + digits.substr(1);
        out += "E" + std::to_string(exp);
    } else if (exp < 0) {
        out += "0," + std::string(std::size_t(-exp - 1), '0') + digits;
    } else {
        if (digits.size() <= std::size_t(exp) + 1) {
            out += digits + std::string(std::size_t(exp) + 1 - digits.size(), '0');
        } else {
            out += digits.substr(0, std::size_t(exp) + 1) + "," + digits.substr(std::size_t(exp) + 1);
        }
    }
    return QString::fromStdString(out);
}

}  // namespace

std::function<void(QWidget*, const QString&)> TNuMedit::Message = [](QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
};

namespace {

// Any change of the text, typed, pasted, dropped or written by a program,
// comes out a number with its unit.
class NombreValidator : public QValidator {
public:
    explicit NombreValidator(TNuMedit* edit) : QValidator(edit), edit_(edit) {}

    State validate(QString& input, int& pos) const override {
        QString texte = input;
        int caret = pos;
        edit_->Normaliser(texte, caret);
        if (texte != input) {
            input = texte;
            pos = caret;
        }
        return Acceptable;
    }
    void fixup(QString& input) const override {
        int caret = 0;
        edit_->Normaliser(input, caret);
    }

private:
    TNuMedit* edit_;
};

}  // namespace

TNuMedit::TNuMedit(QWidget* parent) : QLineEdit(parent), brouillon_(std::make_unique<QLineEdit>()) {
    setValidator(new NombreValidator(this));
    connect(this, &QLineEdit::textChanged, this, [this] { Change(); });
    SetValeur(0);
    SetDecimales(2);
    SetUnite(QString());
    Calculatrice = false;
    textePrecedent_ = QStringLiteral("0");
    caretSauve_ = cursorPosition();
}

TNuMedit::~TNuMedit() = default;

// --- text layout ------------------------------------------------------------

QString TNuMedit::Formater(double x) const {
    if (decimales_ == -1)
        return generalText(x);
    if (!std::isfinite(x))
        return QString::fromStdString(plainDigits(x));
    if (decimales_ == 0) {
        const double r = std::round(x);
        return QString::fromStdString((std::signbit(r) ? "-" : "") + plainDigits(r));
    }
    return floorDecimals(x, decimales_);
}

QString TNuMedit::Uniter(const QString& number) const {
    return suffixe_ != 0 ? number + QLatin1Char(' ') + unite_ : number;
}

QString TNuMedit::Desuniter(const QString& text) const { return text.left(std::max<qsizetype>(text.size() - suffixe_, 0)); }

std::optional<double> TNuMedit::LireNombre(const QString& text) {
    const QString t = text.trimmed();
    std::string s;
    qsizetype i = 0;
    const auto at = [&](qsizetype k) { return k < t.size() ? t[k] : QChar(); };
    if (at(i) == QLatin1Char('-') || at(i) == QLatin1Char('+')) {
        if (at(i) == QLatin1Char('-'))
            s += '-';
        ++i;
    }
    int digits = 0;
    while (at(i).isDigit() && at(i).unicode() < 128) {
        s += char(at(i++).unicode());
        ++digits;
    }
    if (at(i) == QLatin1Char(',')) {
        s += '.';
        ++i;
        while (at(i).isDigit() && at(i).unicode() < 128) {
            s += char(at(i++).unicode());
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (at(i) == QLatin1Char('e') || at(i) == QLatin1Char('E')) {
        s += 'e';
        ++i;
        if (at(i) == QLatin1Char('-') || at(i) == QLatin1Char('+'))
            s += char(at(i++).unicode());
        int expDigits = 0;
        while (at(i).isDigit() && at(i).unicode() < 128) {
            s += char(at(i++).unicode());
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != t.size())
        return std::nullopt;
    double value = 0;
    const char* begin = s.data();
    if (*begin == '.' || (begin[0] == '-' && begin[1] == '.')) {
        // from_chars wants a digit before the point.
        s.insert(s.find('.'), "0");
        begin = s.data();
    }
    const auto res = std::from_chars(begin, begin + s.size(), value);
    if (res.ec != std::errc() || res.ptr != begin + s.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double TNuMedit::valeurDe(const QString& number) const {
    const auto v = LireNombre(number);
    if (!v)
        throw EConvertError("\"" + number.toStdString() + "\" n'est pas un nombre valide");
    return *v;
}

// --- properties -------------------------------------------------------------

double TNuMedit::GetValeur() { return lireValeur(*this); }

double TNuMedit::lireValeur(QLineEdit& e) {
    if (const auto v = LireNombre(Desuniter(e.text())))
        return *v;
    QApplication::beep();
    e.setText(textePrecedent_);
    return LireNombre(Desuniter(textePrecedent_)).value_or(0.0);
}

void TNuMedit::SetValeur(double x) { setText(Uniter(Formater(x))); }

void TNuMedit::SetDecimales(int d) {
    if (d == decimales_)
        return;
    // Read before changing anything, so a failure leaves the control as it was.
    const double value = valeurDe(Desuniter(text()));
    decimales_ = std::max(d, -1);
    setText(Uniter(Formater(value)));
}

void TNuMedit::SetUnite(const QString& u) {
    if (u == unite_)
        return;
    const QString number = Desuniter(text());
    suffixe_ = u.isEmpty() ? 0 : int(u.size()) + 1;
    unite_ = u;
    setText(Uniter(number));
}

// --- keys -------------------------------------------------------------------

void TNuMedit::keyPressEvent(QKeyEvent* event) {
    if (!KeyDown(event)) {
        event->accept();
        return;
    }
    if (isReadOnly() || event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QLineEdit& b = *brouillon_;
    b.setText(text());
    if (hasSelectedText()) {
        const int start = selectionStart(), length = selectionLength();
        if (cursorPosition() == start)
            b.setSelection(start + length, -length);
        else
            b.setSelection(start, length);
    } else {
        b.setCursorPosition(cursorPosition());
    }
    const QString t = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool character =
        !command && t.size() == 1 && (t[0].isPrint() || t[0] == QLatin1Char('\r') || t[0] == QLatin1Char('\b'));
    const bool dropped = character && !KeyPress(b, t[0]);
    if (!dropped)
        QCoreApplication::sendEvent(&b, event);
    if (b.text() == text()) {
        // No edit: moves, selections, copies, Enter go to the edit itself.
        if (dropped) {
            setCursorPosition(b.cursorPosition());
            event->accept();
        } else {
            QLineEdit::keyPressEvent(event);
        }
        return;
    }
    QString texte = b.text();
    int caret = b.cursorPosition();
    Normaliser(texte, caret);
    remplacer(texte, caret);
    event->accept();
}

void TNuMedit::remplacer(const QString& texte, int caret) {
    const QString avant = text();
    if (texte != avant) {
        // Only the part that differs is replaced, as typing would.
        const qsizetype n = std::min(avant.size(), texte.size());
        qsizetype debut = 0, fin = 0;
        while (debut < n && avant[debut] == texte[debut])
            ++debut;
        while (fin < n - debut && avant[avant.size() - 1 - fin] == texte[texte.size() - 1 - fin])
            ++fin;
        const int retire = int(avant.size() - debut - fin);
        if (retire > 0)
            setSelection(int(debut), retire);
        else
            setCursorPosition(int(debut));
        insert(texte.mid(debut, texte.size() - debut - fin));
    }
    setCursorPosition(caret);
}

bool TNuMedit::KeyDown(QKeyEvent* event) {
    caretSauve_ = cursorPosition();
    textePrecedent_ = text();
    switch (event->key()) {
    case Qt::Key_End:
        // Before the unit, never inside it.
        setCursorPosition(finNombre());
        return false;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Delete:
        return cursorPosition() != finNombre() || hasSelectedText();
    default:
        return true;
    }
}

bool TNuMedit::KeyPress(QLineEdit& e, QChar key) {
    const QString t = e.text();
    if (t.startsWith(QLatin1Char('0')) && e.cursorPosition() == 0 && key != QLatin1Char('-'))
        e.setCursorPosition(1);
    if (t.startsWith(QLatin1String("-0")) && e.cursorPosition() == 1)
        e.setCursorPosition(2);

    if (Calculatrice) {
        const QString operators = QStringLiteral("\r*+-/");
        if (operateurApplique_ && !operators.contains(key)) {
            operateurApplique_ = false;
            ecrire(e, Uniter(QStringLiteral("0")));
            e.setCursorPosition(1);
        }
        const char16_t k = key.unicode();
        const bool isOperator = k == '\r' || k == '+' || k == '*' || k == '/' || (k == '-' && e.cursorPosition() != 0);
        if (isOperator) {
            const double value = lireValeur(e);
            const double acc = accumulateur_;
            double result = 0;
            bool divisionByZero = false;
            switch (k) {
            case '\r': result = value; break;
            case '+': result = value + acc; break;
            case '-': result = acc - value; break;
            case '*': result = value * acc; break;
            case '/':
                divisionByZero = value == 0;
                result = divisionByZero ? 0 : acc / value;
                break;
            }
            const double truncated = std::trunc(result);
            if (divisionByZero) {
                Message(this, kDivisionParZero);
            } else if (!std::isfinite(truncated) || std::fabs(truncated) >= 9223372036854775808.0) {
                Message(this, kTropGrand);
            } else {
                // The low 32 bits of the whole result, as a signed integer.
                accumulateur_ = std::int32_t(std::uint32_t(std::uint64_t(std::int64_t(truncated))));
                if (k != '\r')
                    ecrire(e, Uniter(Formater(accumulateur_)));
                operateurApplique_ = true;
                return false;
            }
        }
    }

    if (key == QLatin1Char('\b')) {
        const auto comma = e.text().indexOf(QLatin1Char(','));
        if (comma >= 0 && e.cursorPosition() == comma + 1)
            e.setCursorPosition(int(comma));
        return true;
    }
    if (key == QLatin1Char('.') || key == QLatin1Char(',')) {
        const auto comma = e.text().indexOf(QLatin1Char(','));
        if (comma >= 0)
            e.setCursorPosition(int(comma) + 1);
        return false;
    }
    return true;
}

void TNuMedit::Normaliser(QString& texte, int& caret) const {
    // A unit damaged by the edit is not cut off as if it were whole.
    const QString suffixe = suffixe_ ? QLatin1Char(' ') + unite_ : QString();
    QString number = texte.endsWith(suffixe) ? texte.left(texte.size() - suffixe.size()) : texte;
    if (number.isEmpty())
        number = QStringLiteral("0");
    if ((number.startsWith(QLatin1Char('0')) && caret == 2) || (number.startsWith(QLatin1String("-0")) && caret == 3))
        --caret;
    QString reading = number;
    if (reading.endsWith(QLatin1Char(',')))
        reading += QLatin1Char('0');
    auto value = LireNombre(reading);
    if (!value) {
        number = Desuniter(textePrecedent_);
        value = LireNombre(number);
        if (!value) {
            // Only a program write can get here (the previous text is always
            // a number once a key was pressed): show zero, never garbage.
            number = QStringLiteral("0");
            value = 0.0;
        }
    }
    texte = Uniter(decimales_ != -1 ? Formater(*value) : number);
    if (texte == textePrecedent_)
        caret = caretSauve_;
    caret = std::clamp(caret, 0, int(texte.size()) - suffixe_);
}

void TNuMedit::ecrire(QLineEdit& e, const QString& texte) const {
    QString t = texte;
    int caret = int(t.size());
    Normaliser(t, caret);
    e.setText(t);
    e.setCursorPosition(caret);
}

void TNuMedit::Change() { emit OnChange(); }

void TNuMedit::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    Click();
}

void TNuMedit::Click() {
    if (cursorPosition() > finNombre())
        setCursorPosition(finNombre());
}
