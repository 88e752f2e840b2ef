#pragma once
// Element names as the feed readers compare them: the name as written in the document,
// prefix and all ("dc:date", "media:content"), either exactly or ignoring ASCII letter
// case. A feed of many items asks this for every child of every item, so the
// comparisons work on libxml2's own strings without building a name first.

#include <QByteArrayView>
#include <libxml/tree.h>

namespace NodeNames {

inline QByteArrayView View(const xmlChar* text) {
    return text ? QByteArrayView(reinterpret_cast<const char*>(text)) : QByteArrayView();
}

// The prefix the element was written with; empty without one. An element whose prefix
// is declared nowhere keeps the whole "prefix:local" text as its name instead.
inline QByteArrayView Prefix(const xmlNode* node) {
    return node->ns ? View(node->ns->prefix) : QByteArrayView();
}

inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringCase(QByteArrayView text, QByteArrayView lower) {
    if (text.size() != lower.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (LowerAscii(text[i]) != lower[i])
            return false;
    }
    return true;
}

// Whether an element's name as written equals `name`: exactly, or (ignoringCase) in
// lower case, `name` being given in lower case.
inline bool NameIs(const xmlNode* node, QByteArrayView name, bool ignoringCase) {
    if (!node || node->type != XML_ELEMENT_NODE)
        return false;
    const QByteArrayView prefix = Prefix(node);
    const QByteArrayView local = View(node->name);
    const auto equal = [ignoringCase](QByteArrayView a, QByteArrayView b) {
        return ignoringCase ? EqualsIgnoringCase(a, b) : a == b;
    };
    if (prefix.isEmpty())
        return equal(local, name);
    return name.size() == prefix.size() + 1 + local.size() && name[prefix.size()] == ':' &&
           equal(prefix, name.first(prefix.size())) && equal(local, name.sliced(prefix.size() + 1));
}

// The element's name is `name` exactly.
inline bool Is(const xmlNode* node, QByteArrayView name) {
    return NameIs(node, name, false);
}

// The element's name in lower case is `lowerName`.
inline bool IsLower(const xmlNode* node, QByteArrayView lowerName) {
    return NameIs(node, lowerName, true);
}

// Whether the element's name as written starts with `prefix` followed by ":".
inline bool HasPrefix(const xmlNode* node, QByteArrayView prefix) {
    if (!node || node->type != XML_ELEMENT_NODE)
        return false;
    if (node->ns && node->ns->prefix)
        return View(node->ns->prefix) == prefix;
    const QByteArrayView name = View(node->name);
    return name.size() > prefix.size() && name.startsWith(prefix) && name[prefix.size()] == ':';
}

} // namespace NodeNames
