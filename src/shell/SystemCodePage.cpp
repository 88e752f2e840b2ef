#include "SystemCodePage.h"

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

bool IsAscii(QByteArrayView bytes) {
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool IsValidUtf8(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int follow;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            follow = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            follow = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            follow = 3;
            cp = c & 0x07;
        } else {
            return false; // a continuation byte, an overlong lead (C0, C1) or F5..FF
        }
        if (n - i <= follow)
            return false;
        for (int k = 1; k <= follow; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((follow == 2 && cp < 0x800) || (follow == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += follow + 1;
    }
    return true;
}

QString FromWindows1252(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        out[i] = (c >= 0x80 && c <= 0x9F) ? QChar(Cp1252High[c - 0x80]) : QChar(c);
    }
    return text;
}

QString FromSystemCodePage(QByteArrayView bytes) {
    if (IsValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    return FromWindows1252(bytes);
}

QByteArray ToSystemCodePage(const QString& text) {
    return text.toUtf8();
}

QByteArray NormalizeSystemCodePage(const QByteArray& bytes) {
    if (IsValidUtf8(bytes))
        return bytes;
    return FromWindows1252(bytes).toUtf8();
}
