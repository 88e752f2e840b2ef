#include "feeds/HTMLTemplateParser.h"

#include <QFile>
#include <cstring>

namespace {

QByteArray AsciiLower(QByteArray text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Templates end at their first zero byte, wherever they came from.
QByteArray UpToFirstZero(QByteArray text) {
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return text;
}

QByteArray ReadTemplateFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() > TTemplateParser::MaxTemplateFileSize)
        return {};
    // Read in pieces: the reported size may be 0 (a pipe or a special file), and a
    // buffer of the full limit would cost that much memory at every read.
    QByteArray text;
    while (text.size() <= TTemplateParser::MaxTemplateFileSize) {
        const QByteArray piece = file.read(64 * 1024);
        if (piece.isEmpty())
            break;
        text += piece;
    }
    if (text.size() > TTemplateParser::MaxTemplateFileSize)
        return {};
    return text;
}

// Pairs of surrogates become one four-byte sequence; a surrogate without its partner has
// no UTF-8 form and becomes U+FFFD (QString::toUtf8 would write "?").
QByteArray ToUtf8(const QString& text) {
    const qsizetype size = text.size();
    bool lone = false;
    for (qsizetype i = 0; i < size && !lone; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            lone = true;
    }
    if (!lone)
        return text.toUtf8();
    QString repaired;
    repaired.reserve(size);
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            repaired.append(c);
            repaired.append(text.at(++i));
        } else {
            repaired.append(c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c);
        }
    }
    return repaired.toUtf8();
}

} // namespace

QByteArray LoadResourceText(const QString& name) {
    if (name.isEmpty())
        return {};
    QFile resource(QStringLiteral(":/templates/") + name.toUpper());
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    return UpToFirstZero(resource.readAll());
}

void TTemplateParser::SetResourceName(const QString& name) {
    m_templateName = name;
    m_templateText.clear();
}

void TTemplateParser::SetFileName(const QString& path) {
    SetResourceName(path);
    m_fromFile = true;
}

TTemplateParser::TTemplateItem& TTemplateParser::itemFor(const QByteArray& name) {
    const QByteArray key = AsciiLower(name);
    for (TTemplateItem& item : m_items) {
        if (item.Name == key)
            return item;
    }
    m_items.push_back(TTemplateItem{key, {}, std::nullopt});
    return m_items.back();
}

void TTemplateParser::SetValue(const QByteArray& name, const QByteArray& value) {
    itemFor(name).Value = value;
}

void TTemplateParser::SetWideValue(const QByteArray& name, const QString& value) {
    SetValue(name, ToUtf8(value));
}

void TTemplateParser::SetStream(const QByteArray& name, const QByteArray& content) {
    itemFor(name).Stream = content;
}

const TTemplateParser::TTemplateItem* TTemplateParser::findItem(const char* name,
                                                                qsizetype length) const {
    // Names are short and few: compare in place instead of building a lowered copy.
    for (const TTemplateItem& item : m_items) {
        if (item.Name.size() != length)
            continue;
        qsizetype i = 0;
        while (i < length && AsciiLower(name[i]) == item.Name[i])
            ++i;
        if (i == length)
            return &item;
    }
    return nullptr;
}

void TTemplateParser::loadTemplate() {
    if (!m_templateText.isEmpty())
        return;
    m_templateText = m_fromFile ? UpToFirstZero(ReadTemplateFile(m_templateName))
                                : LoadResourceText(m_templateName);
}

bool TTemplateParser::Render(QByteArray& target) {
    loadTemplate();
    if (m_templateText.isEmpty())
        return false;

    const char* text = m_templateText.constData();
    const qsizetype end = m_templateText.size();
    qsizetype i = 0;
    while (i < end) {
        // Copy the run of ordinary bytes up to the next "$" in one go.
        const char* dollar = static_cast<const char*>(memchr(text + i, '$', size_t(end - i)));
        const qsizetype at = dollar ? qsizetype(dollar - text) : end;
        target.append(text + i, at - i);
        if (at == end)
            break;

        // Look for the closing "$" within the next MaxNameLength + 1 bytes.
        const qsizetype nameStart = at + 1;
        qsizetype closing = -1;
        for (qsizetype j = nameStart; j < end && j <= nameStart + MaxNameLength; ++j) {
            if (text[j] == '$') {
                closing = j;
                break;
            }
        }
        const TTemplateItem* item =
            closing >= 0 ? findItem(text + nameStart, closing - nameStart) : nullptr;
        if (item) {
            target.append(item->Stream ? *item->Stream : item->Value);
            i = closing + 1;
        } else {
            // Not a placeholder: the "$" is text, and the scan goes on after it, so the
            // closing "$" of an unknown name may still open a known one.
            target.append('$');
            i = nameStart;
        }
    }
    return true;
}
