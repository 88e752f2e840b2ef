#pragma once
// Feed addresses taken apart and put back together, with or without the user name and
// password an address may carry, and the form-style percent-encoding used for search
// words in query strings. Everything here is 8-bit text.
//
// The splitter is our own rather than QUrl: the path and the query must come back
// exactly as they were written (QUrl re-encodes and normalises them), and an address
// QUrl would reject must still be kept and shown as it is.

#include <QByteArray>

class TUri {
public:
    TUri() = default;
    // Splits the address. One that cannot be split (no "scheme://", a bad port, a host
    // with spaces or control characters, a NUL anywhere) leaves every part empty and
    // Port 0, and composes back as the original text.
    explicit TUri(const QByteArray& address);

    // The port written in the address, else the scheme's own default (0 for a scheme
    // without one).
    quint16 Port = 0;
    // Percent-decoded; callers may assign it before composing.
    QByteArray Password;
    // In lower case (ASCII letters only); an IPv6 literal keeps its brackets.
    QByteArray HostName;
    // Percent-decoded; callers may assign it before composing.
    QByteArray UserName;
    // As written, not decoded; empty when the address has no path.
    QByteArray UrlPath;
    // In lower case, without "://".
    QByteArray Scheme;
    // The query and fragment as written, with their leading "?" or "#".
    QByteArray ExtraInfo;

    bool IsSplit() const { return m_split; }
    // Both a user name and a password that are not blank (ignoring codes 32 and below).
    bool HasCredentials() const;
    QByteArray PathAndQuery() const { return UrlPath + ExtraInfo; }
    QByteArray UrlWithoutCredentials() const { return Compose(false); }
    // With "user:password@" only when HasCredentials.
    QByteArray UrlWithCredentials() const { return Compose(true); }

    // Form-style: a space becomes "+", ASCII letters and digits stay, every other byte
    // becomes "%" and two upper-case hexadecimal digits.
    static QByteArray PercentEncode(const QByteArray& text);
    // "%" and two hexadecimal digits become that byte, "+" becomes a space. "%00" stays
    // as written: a text never gets a NUL from outside.
    static QByteArray PercentDecode(const QByteArray& text);
    // 80, 443, 21 and 70 for http, https, ftp and gopher; 0 for any other scheme.
    static quint16 DefaultPort(const QByteArray& scheme);

private:
    QByteArray Compose(bool withCredentials) const;

    QByteArray m_address;
    bool m_split = false;
};

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);

// A user name or password as it stands in an address: "%" and two hexadecimal digits
// become that byte ("%00" stays as written); "+" stays "+".
QByteArray DecodeUserInfoPart(const QByteArray& part);
// The reverse: unreserved characters and sub-delimiters stay, everything else
// (":" and "@" included) becomes "%" and two upper-case hexadecimal digits.
QByteArray EncodeUserInfoPart(const QByteArray& part);
