#pragma once
// Character references in feed texts. Publishers put HTML references even where plain
// text belongs (titles with "&amp;", image addresses with "&amp;" in their query), so
// the readers and the store decode them; markup itself is left alone.

#include <QByteArrayView>
#include <QString>

// Replaces named (&eacute;), decimal (&#233;) and hexadecimal (&#xE9;) character
// references by their characters in one left-to-right pass; everything else, including
// references that are unknown, malformed or lack their ";", is copied unchanged.
// A reference that decodes to "&" never starts another one: "&amp;lt;" gives "&lt;".
QString DecodeHtmlEntities(const QString& text);

// The text without the characters of code 32 or below at either end: the readers and
// the store trim feed texts so, as a wider whitespace than Unicode's.
QString TrimControls(const QString& text);
QByteArrayView TrimControls(QByteArrayView text);
inline QByteArrayView TrimControls(const QByteArray& text) {
    return TrimControls(QByteArrayView(text));
}

// The code value of an HTML 4.01 character entity name (or "apos"), compared
// case-sensitively; 0 for a name that is not one.
char16_t HtmlEntityValue(QByteArrayView name);
