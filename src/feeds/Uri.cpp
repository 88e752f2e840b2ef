#include "Uri.h"

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void AppendPercentEscape(QByteArray& out, char c) {
    static const char digits[] = "0123456789ABCDEF";
    const quint8 byte = quint8(c);
    out.append('%');
    out.append(digits[byte >> 4]);
    out.append(digits[byte & 0x0F]);
}

// Lower-cases ASCII letters only: other bytes belong to UTF-8 sequences.
QByteArray AsciiLower(const QByteArray& text) {
    QByteArray out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

// Decodes "%XX" escapes; a "+" is a space only in form-style text.
QByteArray DecodeEscapes(const QByteArray& text, bool plusIsSpace) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                const int byte = high * 16 + low;
                // A NUL would cut the text short wherever it is later handed on.
                if (byte == 0)
                    out.append(text.constData() + i, 3);
                else
                    out.append(char(byte));
                i += 2;
                continue;
            }
        }
        out.append(plusIsSpace && c == '+' ? ' ' : c);
    }
    return out;
}

bool IsValidScheme(const QByteArray& scheme) {
    if (scheme.isEmpty() || !IsAsciiLetter(scheme[0]))
        return false;
    for (const char c : scheme)
        if (!IsAsciiLetter(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.')
            return false;
    return true;
}

bool IsValidHost(const QByteArray& host) {
    for (const char c : host)
        if (quint8(c) <= 0x20 || quint8(c) == 0x7F)
            return false;
    return true;
}

// An empty port means the scheme's default, as in "http://host:/".
bool ParsePort(const QByteArray& text, const QByteArray& scheme, quint16& port) {
    if (text.isEmpty()) {
        port = TUri::DefaultPort(scheme);
        return true;
    }
    if (text.size() > 5)
        return false;
    quint32 value = 0;
    for (const char c : text) {
        if (!IsDigit(c))
            return false;
        value = value * 10 + quint32(c - '0');
    }
    if (value > 0xFFFF)
        return false;
    port = quint16(value);
    return true;
}

bool IsBlank(const QByteArray& text) {
    for (const char c : text)
        if (quint8(c) > 0x20)
            return false;
    return true;
}

} // namespace

TUri::TUri(const QByteArray& address) : m_address(address) {
    if (address.isEmpty() || address.contains('\0'))
        return;
    const qsizetype colon = address.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArray scheme = address.left(colon);
    if (!IsValidScheme(scheme) || address.mid(colon + 1, 2) != "//")
        return;

    const qsizetype authorityStart = colon + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < address.size() && address[authorityEnd] != '/' &&
           address[authorityEnd] != '?' && address[authorityEnd] != '#')
        ++authorityEnd;
    const QByteArray authority = address.mid(authorityStart, authorityEnd - authorityStart);

    // The last "@" ends the user information, so a user name typed as a mail address
    // still leaves the right host.
    const qsizetype at = authority.lastIndexOf('@');
    QByteArray userName;
    QByteArray password;
    if (at >= 0) {
        const QByteArray userInfo = authority.left(at);
        const qsizetype separator = userInfo.indexOf(':');
        userName = separator >= 0 ? userInfo.left(separator) : userInfo;
        password = separator >= 0 ? userInfo.mid(separator + 1) : QByteArray();
    }
    const QByteArray hostAndPort = authority.mid(at + 1);

    QByteArray host;
    QByteArray portText;
    if (hostAndPort.startsWith('[')) {
        const qsizetype close = hostAndPort.indexOf(']');
        if (close < 0)
            return;
        host = hostAndPort.left(close + 1);
        const QByteArray rest = hostAndPort.mid(close + 1);
        if (!rest.isEmpty()) {
            if (rest[0] != ':')
                return;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype portColon = hostAndPort.indexOf(':');
        host = portColon >= 0 ? hostAndPort.left(portColon) : hostAndPort;
        portText = portColon >= 0 ? hostAndPort.mid(portColon + 1) : QByteArray();
    }
    if (!IsValidHost(host))
        return;
    const QByteArray lowerScheme = AsciiLower(scheme);
    quint16 port = 0;
    if (!ParsePort(portText, lowerScheme, port))
        return;

    qsizetype extraStart = authorityEnd;
    while (extraStart < address.size() && address[extraStart] != '?' && address[extraStart] != '#')
        ++extraStart;

    Scheme = lowerScheme;
    HostName = AsciiLower(host);
    Port = port;
    UserName = DecodeUserInfoPart(userName);
    Password = DecodeUserInfoPart(password);
    UrlPath = address.mid(authorityEnd, extraStart - authorityEnd);
    ExtraInfo = address.mid(extraStart);
    m_split = true;
}

bool TUri::HasCredentials() const {
    return !IsBlank(UserName) && !IsBlank(Password);
}

QByteArray TUri::Compose(bool withCredentials) const {
    // An address we could not take apart is passed on as it came rather than as an
    // empty shell like "://:0".
    if (!m_split)
        return m_address;
    QByteArray out = Scheme + "://";
    if (withCredentials && HasCredentials())
        out += EncodeUserInfoPart(UserName) + ':' + EncodeUserInfoPart(Password) + '@';
    out += HostName;
    // Only the scheme's own default port goes without saying: "https://host:80/" needs
    // its port to reach the same server.
    if (Port != DefaultPort(Scheme))
        out += ':' + QByteArray::number(Port);
    out += UrlPath;
    out += ExtraInfo;
    return out;
}

quint16 TUri::DefaultPort(const QByteArray& scheme) {
    if (scheme == "http")
        return 80;
    if (scheme == "https")
        return 443;
    if (scheme == "ftp")
        return 21;
    if (scheme == "gopher")
        return 70;
    return 0;
}

QByteArray TUri::PercentEncode(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        if (c == ' ')
            out.append('+');
        else if (IsAsciiLetter(c) || IsDigit(c))
            out.append(c);
        else
            AppendPercentEscape(out, c);
    }
    return out;
}

QByteArray TUri::PercentDecode(const QByteArray& text) {
    return DecodeEscapes(text, true);
}

QByteArray DecodeUserInfoPart(const QByteArray& part) {
    return DecodeEscapes(part, false);
}

QByteArray EncodeUserInfoPart(const QByteArray& part) {
    static const QByteArray kept = "-._~!$&'()*+,;=";
    QByteArray out;
    out.reserve(part.size() * 3);
    for (const char c : part) {
        if (IsAsciiLetter(c) || IsDigit(c) || kept.contains(c))
            out.append(c);
        else
            AppendPercentEscape(out, c);
    }
    return out;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
