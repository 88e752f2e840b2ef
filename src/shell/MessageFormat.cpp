#include "MessageFormat.h"

#include "SystemCodePage.h"

#include <QLocale>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Widths and precisions beyond this are a damaged text, not a layout wish: they would
// only make the formatter allocate.
constexpr int MaxFieldSize = 1024;

struct Spec {
    int index = -1; // explicit "%N:" or -1
    bool left = false;
    int width = 0;
    int precision = -1;
    QChar type;
    qsizetype end = 0; // the position after the type letter
};

// Reads up to MaxFieldSize; -1 when there are no digits, -2 when the number is too big.
int ReadNumber(const QString& s, qsizetype& i) {
    const qsizetype start = i;
    qint64 v = 0;
    while (i < s.size() && s[i].isDigit() && s[i].unicode() < 0x80) {
        v = v * 10 + (s[i].unicode() - u'0');
        if (v > MaxFieldSize)
            v = MaxFieldSize + 1;
        ++i;
    }
    if (i == start)
        return -1;
    return v > MaxFieldSize ? -2 : int(v);
}

// Parses the specifier after the "%" at position i; false when it is not one.
bool ParseSpec(const QString& s, qsizetype i, Spec& spec) {
    qsizetype j = i;
    const int first = ReadNumber(s, j);
    if (first == -2)
        return false;
    if (first >= 0 && j < s.size() && s[j] == u':') {
        spec.index = first;
        ++j;
    } else {
        j = i;
    }
    if (j < s.size() && s[j] == u'-') {
        spec.left = true;
        ++j;
    }
    const int width = ReadNumber(s, j);
    if (width == -2)
        return false;
    spec.width = std::max(width, 0);
    if (j < s.size() && s[j] == u'.') {
        ++j;
        const int precision = ReadNumber(s, j);
        if (precision == -2)
            return false;
        spec.precision = std::max(precision, 0);
    }
    if (j >= s.size())
        return false;
    spec.type = s[j].toLower();
    if (!QStringLiteral("sduxfeng").contains(spec.type))
        return false;
    spec.end = j + 1;
    return true;
}

QString Digits(quint64 magnitude, int base, int minDigits) {
    QString digits = QString::number(magnitude, base).toUpper();
    if (digits.size() < minDigits)
        digits.prepend(QString(minDigits - digits.size(), u'0'));
    return digits;
}

QString FormatValue(const Spec& spec, const TFormatArg& arg) {
    if (spec.type == u's') {
        QString text = arg.Text();
        if (spec.precision >= 0 && text.size() > spec.precision)
            text.truncate(spec.precision);
        return text;
    }
    if (!arg.IsNumber())
        return arg.Text(); // a text where a number belongs: shown as it is
    const int minDigits = std::max(spec.precision, 0);
    switch (spec.type.unicode()) {
    case u'd': {
        const qint64 v = arg.Integer();
        const quint64 magnitude = v < 0 ? quint64(0) - quint64(v) : quint64(v);
        return (v < 0 ? QStringLiteral("-") : QString()) + Digits(magnitude, 10, minDigits);
    }
    case u'u':
        return Digits(quint64(arg.Integer()), 10, minDigits);
    case u'x':
        return Digits(quint64(arg.Integer()), 16, minDigits);
    case u'f':
        return QString::number(arg.Number(), 'f', spec.precision >= 0 ? spec.precision : 2);
    case u'e':
        return QString::number(arg.Number(), 'E', spec.precision >= 0 ? spec.precision : 6);
    case u'g':
        return QString::number(arg.Number(), 'g', spec.precision > 0 ? spec.precision : 15);
    case u'n': {
        QLocale c = QLocale::c();
        c.setNumberOptions({});
        return c.toString(arg.Number(), 'f', spec.precision >= 0 ? spec.precision : 2);
    }
    }
    return arg.Text();
}

} // namespace

TFormatArg::TFormatArg(const QByteArray& eightBit) : m_value(FromSystemCodePage(eightBit)) {}

qint64 TFormatArg::Integer() const {
    if (const auto* i = std::get_if<qint64>(&m_value))
        return *i;
    if (const auto* d = std::get_if<double>(&m_value)) {
        if (std::isnan(*d))
            return 0;
        if (*d >= 9.2e18)
            return std::numeric_limits<qint64>::max();
        if (*d <= -9.2e18)
            return std::numeric_limits<qint64>::min();
        return qint64(*d);
    }
    return 0;
}

double TFormatArg::Number() const {
    if (const auto* i = std::get_if<qint64>(&m_value))
        return double(*i);
    if (const auto* d = std::get_if<double>(&m_value))
        return *d;
    return 0;
}

QString TFormatArg::Text() const {
    if (const auto* s = std::get_if<QString>(&m_value))
        return *s;
    if (const auto* i = std::get_if<qint64>(&m_value))
        return QString::number(*i);
    return QString::number(std::get<double>(m_value), 'g', 15);
}

QString FormatMessage(const QString& format, std::initializer_list<TFormatArg> args) {
    const std::vector<TFormatArg> values(args);
    QString out;
    out.reserve(format.size());
    std::size_t next = 0;
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format[i];
        if (c != u'%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == u'%') {
            out += u'%';
            i += 2;
            continue;
        }
        Spec spec;
        if (!ParseSpec(format, i + 1, spec)) {
            out += u'%'; // not a specifier: the rest is copied as plain text
            ++i;
            continue;
        }
        const std::size_t index = spec.index >= 0 ? std::size_t(spec.index) : next;
        if (index >= values.size()) {
            out += format.mid(i, spec.end - i); // nothing to fill it with
            i = spec.end;
            continue;
        }
        next = index + 1;
        const QString value = FormatValue(spec, values[index]);
        if (value.size() < spec.width) {
            const QString pad(spec.width - value.size(), u' ');
            out += spec.left ? value + pad : pad + value;
        } else {
            out += value;
        }
        i = spec.end;
    }
    return out;
}
