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

// The code value of an HTML 4.01 character entity name (or "apos"), compared
// case-sensitively; 0 for a name that is not one.
char16_t HtmlEntityValue(QByteArrayView name);
