#pragma once
// Readable Qt values in GoogleTest's failure messages.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    if (bytes.size() > 200)
        *os << '"' << bytes.left(200).toStdString() << "\"... (" << bytes.size() << " bytes)";
    else
        *os << '"' << bytes.toStdString() << '"';
}
