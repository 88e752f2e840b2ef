#include "LanguageFile.h"

#include "SystemCodePage.h"

#include <QStringList>

std::optional<quint16> ParseLanguageId(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    uint value = 0;
    if (t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toUInt(&ok, 16);
    else if (t.startsWith(u'$'))
        value = t.mid(1).toUInt(&ok, 16);
    else if (!t.isEmpty() && t[0].isDigit())
        value = t.toUInt(&ok, 10);
    if (!ok || value == 0 || value > 0xFFFF)
        return std::nullopt;
    return quint16(value);
}

QString EscapeLanguageText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\r')
            continue; // a line break is "\n" alone
        else
            out += c;
    }
    return out;
}

QString UnescapeLanguageText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar n = text[i + 1];
        if (n == u'n')
            out += u'\n';
        else if (n == u't')
            out += u'\t';
        else if (n == u'\\')
            out += u'\\';
        else {
            out += c; // not an escape: the backslash stays, as in a typed path
            continue;
        }
        ++i;
    }
    return out;
}

std::optional<TLanguageFileContent> ParseLanguageFile(const QByteArray& bytes) {
    if (bytes.size() > MaxLanguageFileSize || !IsValidUtf8(bytes))
        return std::nullopt;
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    TLanguageFileContent content;
    enum class Section { Top, Constants, Window } section = Section::Top;
    QString window;
    const QStringList lines = text.split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#'))
            continue;
        if (trimmed.startsWith(u'[')) {
            if (!trimmed.endsWith(u']'))
                return std::nullopt;
            const QString name = trimmed.mid(1, trimmed.size() - 2).trimmed();
            if (name.isEmpty())
                return std::nullopt;
            if (name.compare(QStringLiteral("Constants"), Qt::CaseInsensitive) == 0) {
                section = Section::Constants;
            } else {
                section = Section::Window;
                window = name;
                content.Windows[window]; // a window may have an empty section
            }
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            return std::nullopt;
        const QString key = line.left(eq).trimmed();
        if (key.isEmpty())
            return std::nullopt;
        const QString value = UnescapeLanguageText(line.mid(eq + 1));
        switch (section) {
        case Section::Top:
            if (key.compare(QStringLiteral("LANGID"), Qt::CaseInsensitive) == 0) {
                content.LanguageId = ParseLanguageId(value);
            } else if (key.compare(QStringLiteral("Name"), Qt::CaseInsensitive) == 0) {
                content.Name = value.trimmed();
            }
            // Other keys before the first section are left for later versions.
            break;
        case Section::Constants:
            content.Constants.insert(key, value);
            break;
        case Section::Window:
            content.Windows[window].insert(key, value);
            break;
        }
    }
    return content;
}
