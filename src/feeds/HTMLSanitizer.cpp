#include "feeds/HTMLSanitizer.h"

#include <QByteArray>
#include <QHash>
#include <QUrl>
#include <cstring>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>

namespace {

// --- Addresses ---

bool IsAsciiAlpha(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsSchemeChar(QChar c) {
    return IsAsciiAlpha(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

// What a browser looks at: no tab or line break anywhere (the URL parser removes them,
// so "java\tscript:" is "javascript:"), no C0 control or space at either end.
QString CleanAddress(const QString& address) {
    QString cleaned;
    cleaned.reserve(address.size());
    for (QChar c : address) {
        if (c != u'\t' && c != u'\n' && c != u'\r')
            cleaned.append(c);
    }
    qsizetype from = 0;
    qsizetype to = cleaned.size();
    while (from < to && cleaned.at(from).unicode() <= 0x20)
        ++from;
    while (to > from && cleaned.at(to - 1).unicode() <= 0x20)
        --to;
    return cleaned.mid(from, to - from);
}

// The scheme in lower case, or empty when the address has none (it is relative).
QString SchemeOf(const QString& address) {
    if (address.isEmpty() || !IsAsciiAlpha(address.at(0)))
        return {};
    for (qsizetype i = 1; i < address.size(); ++i) {
        const QChar c = address.at(i);
        if (c == u':')
            return address.left(i).toLower();
        if (!IsSchemeChar(c))
            return {};
    }
    return {};
}

bool IsWebScheme(const QString& scheme) {
    return scheme == u"http" || scheme == u"https";
}

bool SchemeFitsUse(const QString& scheme, const QString& address, TLinkUse use) {
    if (IsWebScheme(scheme))
        return true;
    switch (use) {
    case TLinkUse::Link:
        return scheme == u"mailto";
    case TLinkUse::Image:
        return scheme == u"data" && address.startsWith(u"data:image/", Qt::CaseInsensitive);
    case TLinkUse::Media:
        return false;
    }
    return false;
}

// --- Escaping into UTF-8 output ---

void AppendEscaped(QByteArray& out, const char* text, bool inAttribute) {
    if (!text)
        return;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '"':
            out.append(inAttribute ? "&quot;" : "\"");
            break;
        case '\'':
            out.append(inAttribute ? "&#39;" : "'");
            break;
        default:
            out.append(*p);
        }
    }
}

// --- The allow-list ---

enum class TAction {
    Keep,   // the element and its allowed attributes
    Unwrap, // only its content
    Drop,   // neither
};

enum class TAttrKind {
    Plain,
    LinkAddress,  // href, cite
    ImageAddress, // img src, video poster
    MediaAddress, // audio, video and source src
    Style,
};

struct TElementRule {
    TAction Action = TAction::Unwrap;
    bool Void = false; // has no content and no end tag
    QHash<QByteArray, TAttrKind> Attributes;
};

using TRules = QHash<QByteArray, TElementRule>;

const TRules& Rules() {
    static const TRules rules = [] {
        TRules r;
        const auto keep = [&r](std::initializer_list<const char*> names,
                               std::initializer_list<std::pair<const char*, TAttrKind>> attributes,
                               bool isVoid = false) {
            for (const char* name : names) {
                TElementRule& rule = r[QByteArray(name)];
                rule.Action = TAction::Keep;
                rule.Void = isVoid;
                for (const auto& [attribute, kind] : attributes)
                    rule.Attributes.insert(QByteArray(attribute), kind);
                for (const char* global : {"title", "lang", "dir"})
                    rule.Attributes.insert(QByteArray(global), TAttrKind::Plain);
                rule.Attributes.insert(QByteArrayLiteral("style"), TAttrKind::Style);
            }
        };
        constexpr TAttrKind P = TAttrKind::Plain;
        keep({"abbr",    "acronym",    "address", "article", "aside",   "b",    "bdi",     "bdo",
              "big",     "cite",       "code",    "dd",      "details", "dfn",  "dl",      "dt",
              "em",      "figcaption", "figure",  "footer",  "header",  "i",    "kbd",     "main",
              "mark",    "nav",        "pre",     "rp",      "rt",      "ruby", "s",       "samp",
              "section", "small",      "span",    "strike",  "strong",  "sub",  "summary", "sup",
              "tt",      "u",          "var"},
             {});
        keep({"br", "wbr"}, {}, true);
        keep({"p", "div", "center", "h1", "h2", "h3", "h4", "h5", "h6"}, {{"align", P}});
        keep({"hr"}, {{"align", P}, {"width", P}, {"size", P}, {"noshade", P}}, true);
        keep({"a"}, {{"href", TAttrKind::LinkAddress}, {"name", P}});
        keep({"img"},
             {{"src", TAttrKind::ImageAddress},
              {"alt", P},
              {"width", P},
              {"height", P},
              {"align", P},
              {"border", P},
              {"hspace", P},
              {"vspace", P}},
             true);
        keep({"font"}, {{"color", P}, {"face", P}, {"size", P}});
        keep({"blockquote", "q"}, {{"cite", TAttrKind::LinkAddress}});
        keep({"del", "ins"}, {{"cite", TAttrKind::LinkAddress}, {"datetime", P}});
        keep({"time"}, {{"datetime", P}});
        keep({"ol"}, {{"start", P}, {"type", P}, {"reversed", P}});
        keep({"ul"}, {{"type", P}});
        keep({"li"}, {{"value", P}, {"type", P}});
        keep({"table"}, {{"border", P},
                         {"cellpadding", P},
                         {"cellspacing", P},
                         {"width", P},
                         {"align", P},
                         {"summary", P}});
        keep({"caption"}, {{"align", P}});
        keep({"thead", "tbody", "tfoot", "tr"}, {{"align", P}, {"valign", P}});
        keep({"td", "th"}, {{"colspan", P},
                            {"rowspan", P},
                            {"align", P},
                            {"valign", P},
                            {"width", P},
                            {"height", P},
                            {"nowrap", P},
                            {"abbr", P},
                            {"scope", P}});
        keep({"colgroup"}, {{"span", P}, {"width", P}, {"align", P}, {"valign", P}});
        keep({"col"}, {{"span", P}, {"width", P}, {"align", P}, {"valign", P}}, true);
        // Media play only when the reader asks: no autoplay.
        keep({"audio"}, {{"src", TAttrKind::MediaAddress},
                         {"controls", P},
                         {"loop", P},
                         {"muted", P},
                         {"preload", P}});
        keep({"video"}, {{"src", TAttrKind::MediaAddress},
                         {"poster", TAttrKind::ImageAddress},
                         {"controls", P},
                         {"loop", P},
                         {"muted", P},
                         {"preload", P},
                         {"width", P},
                         {"height", P}});
        keep({"source"}, {{"src", TAttrKind::MediaAddress}, {"type", P}}, true);

        for (const char* name :
             {"script", "style",   "iframe",  "frame",  "frameset", "noframes", "object",
              "embed",  "applet",  "param",   "meta",   "base",     "link",     "form",
              "input",  "button",  "select",  "option", "optgroup", "textarea", "datalist",
              "keygen", "output",  "isindex", "svg",    "math",     "template", "head",
              "title",  "noembed", "canvas",  "dialog", "portal"})
            r[QByteArray(name)].Action = TAction::Drop;
        return r;
    }();
    return rules;
}

const TElementRule& RuleFor(const xmlNode* element) {
    static const TElementRule unwrap;
    const TRules& rules = Rules();
    const auto it = rules.constFind(
        QByteArray::fromRawData(reinterpret_cast<const char*>(element->name),
                                qsizetype(strlen(reinterpret_cast<const char*>(element->name)))));
    return it == rules.constEnd() ? unwrap : *it;
}

// Old engines ran script from style sheets, and any engine loads what url() names; a
// style attribute that could do either goes whole. A backslash or a comment could hide
// the words from this check, so those go too.
bool IsHarmlessStyle(const QByteArray& value) {
    const QByteArray lower = value.toLower();
    for (const char* word : {"url(", "image(", "image-set(", "expression", "script", "behavior",
                             "binding", "@", "\\", "/*", "&#"}) {
        if (lower.contains(word))
            return false;
    }
    return true;
}

QByteArray AttributeText(const xmlAttr* attribute) {
    QByteArray value;
    for (const xmlNode* part = attribute->children; part; part = part->next) {
        if (part->content)
            value += reinterpret_cast<const char*>(part->content);
    }
    return value;
}

class TSanitizer {
public:
    explicit TSanitizer(const QString& base) : m_base(base) {}

    QByteArray Run(const xmlNode* top) {
        // Walk the tree with its own links instead of recursing: the depth of a feed's
        // markup is the feed's choice.
        const xmlNode* node = top->children;
        int depth = 0;
        while (node) {
            bool descend = false;
            if (node->type == XML_ELEMENT_NODE) {
                const TAction action = actionFor(node, depth);
                if (action != TAction::Drop) {
                    if (action == TAction::Keep)
                        openTag(node);
                    if (node->children && !RuleFor(node).Void) {
                        descend = true;
                    } else {
                        closeTag(node, depth);
                    }
                }
            } else if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                AppendEscaped(m_out, reinterpret_cast<const char*>(node->content), false);
            }
            // Comments, processing instructions and the document type go.

            if (descend) {
                depth += LevelOf(node);
                node = node->children;
                continue;
            }
            while (node && !node->next) {
                node = node->parent;
                if (!node || node == top)
                    return m_out;
                depth -= LevelOf(node);
                closeTag(node, depth);
            }
            if (node)
                node = node->next;
        }
        return m_out;
    }

private:
    // The document's frame (the html and body elements the parser adds, and the ones a
    // description may bring after its end) is no level of the feed's markup.
    static int LevelOf(const xmlNode* element) {
        return xmlStrEqual(element->name, BAD_CAST "html") ||
                       xmlStrEqual(element->name, BAD_CAST "body")
                   ? 0
                   : 1;
    }

    static TAction actionFor(const xmlNode* element, int depth) {
        const TAction action = RuleFor(element).Action;
        if (action == TAction::Keep && depth >= MaxSanitizedDepth)
            return TAction::Unwrap;
        return action;
    }

    void openTag(const xmlNode* element) {
        const TElementRule& rule = RuleFor(element);
        m_out.append('<');
        m_out.append(reinterpret_cast<const char*>(element->name));
        for (const xmlAttr* attribute = element->properties; attribute;
             attribute = attribute->next) {
            // The HTML parser gives names in lower case.
            const char* rawName = reinterpret_cast<const char*>(attribute->name);
            const QByteArray name = QByteArray::fromRawData(rawName, qsizetype(strlen(rawName)));
            const auto kind = rule.Attributes.constFind(name);
            if (kind == rule.Attributes.constEnd())
                continue;
            QByteArray value = AttributeText(attribute);
            switch (*kind) {
            case TAttrKind::Plain:
                break;
            case TAttrKind::Style:
                if (!IsHarmlessStyle(value))
                    continue;
                break;
            case TAttrKind::LinkAddress:
            case TAttrKind::ImageAddress:
            case TAttrKind::MediaAddress: {
                const TLinkUse use = *kind == TAttrKind::LinkAddress    ? TLinkUse::Link
                                     : *kind == TAttrKind::ImageAddress ? TLinkUse::Image
                                                                        : TLinkUse::Media;
                const QString safe = SafeLinkAddress(QString::fromUtf8(value), use, m_base);
                if (safe.isEmpty())
                    continue;
                value = safe.toUtf8();
                break;
            }
            }
            m_out.append(' ');
            m_out.append(name);
            m_out.append("=\"");
            AppendEscaped(m_out, value.constData(), true);
            m_out.append('"');
        }
        m_out.append('>');
    }

    void closeTag(const xmlNode* element, int depth) {
        if (actionFor(element, depth) != TAction::Keep || RuleFor(element).Void)
            return;
        m_out.append("</");
        m_out.append(reinterpret_cast<const char*>(element->name));
        m_out.append('>');
    }

    QString m_base;
    QByteArray m_out;
};

struct DocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};

void EnsureParserReady() {
    static const bool ready = [] {
        xmlInitParser();
        return true;
    }();
    Q_UNUSED(ready);
}

} // namespace

QString EscapeHtml(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString SafeLinkAddress(const QString& address, TLinkUse use, const QString& base) {
    const QString cleaned = CleanAddress(address);
    if (cleaned.isEmpty())
        return {};
    const QString scheme = SchemeOf(cleaned);
    if (!scheme.isEmpty())
        return SchemeFitsUse(scheme, cleaned, use) ? cleaned : QString();

    // Relative: only against a web address, and the result must be one too.
    const QString cleanedBase = CleanAddress(base);
    if (!IsWebScheme(SchemeOf(cleanedBase)))
        return {};
    const QUrl baseUrl(cleanedBase);
    if (!baseUrl.isValid())
        return {};
    const QUrl resolved = baseUrl.resolved(QUrl(cleaned));
    if (!resolved.isValid() || !IsWebScheme(resolved.scheme().toLower()))
        return {};
    return resolved.toString();
}

QString SanitizeHtml(const QString& html, const QString& baseAddress) {
    if (html.isEmpty())
        return {};
    EnsureParserReady();
    // The explicit body keeps the parser from wrapping leading text in a paragraph of
    // its own. A NUL would end the parser's input early.
    QByteArray source = QByteArrayLiteral("<html><body>") + html.toUtf8();
    if (source.contains('\0'))
        source.replace('\0', "");
    std::unique_ptr<xmlDoc, DocumentDeleter> document(htmlReadMemory(
        source.constData(), int(qMin<qsizetype>(source.size(), INT_MAX)), nullptr, "UTF-8",
        HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_IGNORE_ENC |
            HTML_PARSE_NODEFDTD));
    if (!document)
        return EscapeHtml(html);
    // Text after an "</html>" of the description lands in a second html element, so
    // the walk covers the whole document rather than the first body.
    return QString::fromUtf8(
        TSanitizer(baseAddress).Run(reinterpret_cast<const xmlNode*>(document.get())));
}
