#pragma once
// Fills a message text's format specifiers with values, in the style the message table
// is written in:
//
//   %s a text, %d a decimal integer, %u unsigned, %x hexadecimal (upper case),
//   %f fixed (2 decimals unless a precision is given), %e scientific, %g shortest,
//   %n fixed with thousands separators, %% a percent sign.
//   General form: % [index ":"] ["-"] [width] ["." precision] type
//   ("%1:s" takes the second value, and the next specifier the third; "-" pads on the
//   right; a precision on %d is the least number of digits, on %s the most characters).
//
// The texts come from language files, so the formatter never fails: a specifier it
// cannot fill (no value left, an unknown type, an absurd width) stays as it is written,
// and a value of another kind than the specifier asks for is shown as its own text.
// Values are inserted once and never scanned again, so a feed title that contains
// "%s" stays "%s".

#include <QByteArray>
#include <QString>
#include <initializer_list>
#include <variant>

class TFormatArg {
public:
    TFormatArg(int v) : m_value(qint64(v)) {}
    TFormatArg(unsigned v) : m_value(qint64(v)) {}
    TFormatArg(long v) : m_value(qint64(v)) {}
    TFormatArg(long long v) : m_value(qint64(v)) {}
    TFormatArg(unsigned long v) : m_value(qint64(v)) {}
    TFormatArg(unsigned long long v) : m_value(qint64(v)) {}
    TFormatArg(double v) : m_value(v) {}
    TFormatArg(const QString& v) : m_value(v) {}
    TFormatArg(const char* utf8) : m_value(QString::fromUtf8(utf8)) {}
    TFormatArg(const QByteArray& eightBit); // an 8-bit text in the system code page

    bool IsInteger() const { return std::holds_alternative<qint64>(m_value); }
    bool IsNumber() const { return !std::holds_alternative<QString>(m_value); }
    qint64 Integer() const;
    double Number() const;
    QString Text() const; // the value as it reads on its own

private:
    std::variant<qint64, double, QString> m_value;
};

QString FormatMessage(const QString& format, std::initializer_list<TFormatArg> args = {});
