#include "feeds/AtomElements.h"

#include "feeds/Formatters.h"
#include "feeds/HTMLSanitizer.h"
#include "feeds/HTMLUtils.h"
#include "feeds/InternetDateTime.h"
#include "feeds/MediaRSS.h"
#include "feeds/NodeNames.h"
#include "feeds/XDomFormatter.h"
#include "feeds/iTunesRSS.h"

#include <libxml/uri.h>

namespace Atom {

namespace {

bool IsAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// "http:", "mailto:", "urn:": an address that needs no base.
bool HasScheme(const QString& address) {
    if (address.isEmpty() || !IsAsciiLetter(address[0]))
        return false;
    for (qsizetype i = 1; i < address.size(); ++i) {
        const QChar c = address[i];
        if (c == u':')
            return true;
        if (!IsAsciiLetter(c) && !c.isDigit() && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return false;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "2024-03-01...", "2024-03", "2024": no RFC 822 date starts with four digits.
bool LooksLikeW3CDate(QByteArrayView text) {
    return text.size() >= 4 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]) &&
           IsDigit(text[3]) && (text.size() == 4 || text[4] == '-');
}

// The name of an element split into prefix and local name. An element whose prefix is
// declared nowhere keeps "prefix:local" as its name; it is split all the same.
struct SplitName {
    QByteArrayView prefix;
    QByteArrayView local;
};

SplitName NameOf(const xmlNode* node) {
    const QByteArrayView name = NodeNames::View(node->name);
    if (node->ns && node->ns->prefix)
        return {NodeNames::View(node->ns->prefix), name};
    const qsizetype colon = name.indexOf(':');
    if (!node->ns && colon > 0)
        return {name.first(colon), name.sliced(colon + 1)};
    return {{}, name};
}

// The element's first child element that is a "div", by its local name: "xhtml:div"
// counts, "divider" or "x:division" do not.
const xmlNode* FindDiv(const xmlNode* element) {
    for (const xmlNode* child = element->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE &&
            NodeNames::EqualsIgnoringCase(NameOf(child).local, "div"))
            return child;
    }
    return nullptr;
}

bool StartsWithIgnoringCase(QByteArrayView text, qsizetype at, QByteArrayView lowerPrefix) {
    return at + lowerPrefix.size() <= text.size() &&
           NodeNames::EqualsIgnoringCase(text.sliced(at, lowerPrefix.size()), lowerPrefix);
}

// Copies markup from `at` up to and including the terminator (or to the end).
qsizetype CopyThrough(QByteArray& out, QByteArrayView markup, qsizetype at,
                      QByteArrayView terminator) {
    const qsizetype found = markup.indexOf(terminator, at);
    const qsizetype end = found < 0 ? markup.size() : found + terminator.size();
    out += markup.sliced(at, end - at);
    return end;
}

// Takes "prefix:" off every start and end tag of serialized markup ("<xhtml:p>" becomes
// "<p>"), ignoring letter case. Text and attribute values are escaped in the markup, so
// every other "<" opens a comment, a CDATA section or a processing instruction, whose
// content is left as it is.
QByteArray RemoveTagPrefix(QByteArrayView markup, QByteArrayView prefix) {
    const QByteArray lowerPrefix = prefix.toByteArray().toLower() + ':';
    QByteArray out;
    out.reserve(markup.size());
    qsizetype at = 0;
    while (at < markup.size()) {
        const char c = markup[at];
        if (c != '<') {
            out += c;
            ++at;
            continue;
        }
        const QByteArrayView rest = markup.sliced(at);
        if (rest.startsWith("<!--")) {
            at = CopyThrough(out, markup, at, "-->");
        } else if (rest.startsWith("<![CDATA[")) {
            at = CopyThrough(out, markup, at, "]]>");
        } else if (rest.startsWith("<?")) {
            at = CopyThrough(out, markup, at, "?>");
        } else {
            const qsizetype nameAt = rest.startsWith("</") ? at + 2 : at + 1;
            out += markup.sliced(at, nameAt - at);
            at = nameAt;
            if (StartsWithIgnoringCase(markup, at, lowerPrefix))
                at += lowerPrefix.size();
        }
    }
    return out;
}

} // namespace

// --- Persons ---

TAtomPerson ReadPerson(const xmlNode* person, QByteArrayView uriElement) {
    TAtomPerson result;
    for (const xmlNode* child = person->children; child; child = child->next) {
        if (NodeNames::IsLower(child, "name"))
            result.Name = TXmlHost::NodeText(child).toUtf8();
        else if (NodeNames::IsLower(child, uriElement))
            result.Uri = DecodeHtmlEntities(TXmlHost::NodeText(child)).toUtf8();
        else if (NodeNames::IsLower(child, "email"))
            result.Email = TXmlHost::NodeText(child).toUtf8();
    }
    return result;
}

void TAuthors::Add(const TAtomPerson& person) {
    // A person given by address alone is still somebody the reader can tell apart.
    QString name = QString::fromUtf8(person.Name).trimmed();
    if (name.isEmpty())
        name = QString::fromUtf8(person.Email).trimmed();
    if (!name.isEmpty())
        m_names.append(name);
}

// --- Text constructs ---

QString TAtomText::AsHtml() const {
    switch (Type) {
    case TTextType::Text:
        return EscapeHtml(Text);
    case TTextType::Html:
    case TTextType::Xhtml:
        return Text;
    case TTextType::Unreadable:
        break;
    }
    return {};
}

TAtomText ReadTextConstruct(const xmlNode* element) {
    const QByteArray type = AttributeValue(element, "type");
    // Entities of the XML itself are resolved by the parser; what is left is the text as
    // published. Decoding character references once more would turn markup a feed
    // escaped to show it ("&amp;lt;script&amp;gt;") into live markup.
    if (type.isEmpty() || EqualsIgnoringCase(type, "text") ||
        EqualsIgnoringCase(type, "text/plain"))
        return {TTextType::Text, TXmlHost::NodeText(element)};
    if (EqualsIgnoringCase(type, "html") || EqualsIgnoringCase(type, "text/html"))
        return {TTextType::Html, TXmlHost::NodeText(element)};
    if (EqualsIgnoringCase(type, "xhtml") || EqualsIgnoringCase(type, "application/xhtml+xml"))
        return {TTextType::Xhtml, XhtmlContent(element)};
    return {};
}

QString XhtmlContent(const xmlNode* element) {
    if (!element)
        return {};
    // The markup of the div's children is the text: the div's own tags never enter it,
    // whatever the div looks like (self-closed, with attributes, prefixed).
    const xmlNode* div = FindDiv(element);
    const xmlNode* container = div ? div : element;
    QByteArray markup;
    for (const xmlNode* child = container->children; child; child = child->next)
        AppendNodeMarkup(markup, child, EmptyElementStyle::HtmlFriendly);
    if (div) {
        const QByteArrayView prefix = NameOf(div).prefix;
        if (!prefix.isEmpty())
            markup = RemoveTagPrefix(markup, prefix);
    }
    // Line breaks of old Mac and Windows files, which the serializer writes as
    // references, are spaces to HTML.
    markup.replace('\r', ' ');
    markup.replace("&#13;", " ");
    return TrimControls(QString::fromUtf8(markup));
}

// --- Addresses ---

const xmlNode* ChoosePageLink(const QList<const xmlNode*>& alternates) {
    for (const xmlNode* link : alternates) {
        const QByteArray type = AttributeValue(link, "type");
        if (type.isEmpty() || EqualsIgnoringCase(type, "text/html") ||
            EqualsIgnoringCase(type, "application/xhtml+xml"))
            return link;
    }
    return alternates.isEmpty() ? nullptr : alternates.front();
}

const xmlAttr* FindAttribute(const xmlNode* node, QByteArrayView name) {
    if (!TXmlHost::IsElement(node))
        return nullptr;
    for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
        const bool prefixed = attribute->ns && attribute->ns->prefix;
        if (!prefixed && NodeNames::View(attribute->name) == name)
            return attribute;
    }
    return nullptr;
}

QByteArray AttributeValue(const xmlNode* node, QByteArrayView name) {
    const xmlAttr* attribute = FindAttribute(node, name);
    if (!attribute)
        return {};
    const xmlNode* only = attribute->children;
    if (only && !only->next && only->type == XML_TEXT_NODE) {
        const QByteArrayView value = TrimControls(NodeNames::View(only->content));
        // The document outlives every use of the value.
        return QByteArray::fromRawData(value.data(), value.size());
    }
    // Several pieces (references the host expanded): joined.
    QByteArray value;
    for (const xmlNode* part = attribute->children; part; part = part->next) {
        if (part->type == XML_TEXT_NODE)
            value += NodeNames::View(part->content);
    }
    return TrimControls(QByteArrayView(value)).toByteArray();
}

QString TrimmedAttribute(const xmlNode* node, QByteArrayView name) {
    return QString::fromUtf8(AttributeValue(node, name));
}

bool EqualsIgnoringCase(const QByteArray& value, QByteArrayView lowerText) {
    return NodeNames::EqualsIgnoringCase(value, lowerText);
}

QString ResolvedAddress(const xmlNode* node, const QString& address) {
    // An empty address would resolve to the base itself: a link to nothing stays one.
    if (!node || address.isEmpty() || HasScheme(address))
        return address;
    xmlChar* base = xmlNodeGetBase(node->doc, node);
    if (!base)
        return address;
    const QByteArrayView baseText(reinterpret_cast<const char*>(base));
    // Only a web address is a base: resolving against "javascript:..." or "file:..."
    // would make an address of that kind out of an innocent relative one.
    const bool webBase = StartsWithIgnoringCase(baseText, 0, "http://") ||
                         StartsWithIgnoringCase(baseText, 0, "https://");
    xmlChar* resolved = nullptr;
    if (webBase) {
        const QByteArray relative = address.toUtf8();
        resolved = xmlBuildURI(reinterpret_cast<const xmlChar*>(relative.constData()), base);
    }
    xmlFree(base);
    if (!resolved)
        return address; // no usable base, or not an address the resolver reads: as published
    const QString result = QString::fromUtf8(reinterpret_cast<const char*>(resolved));
    xmlFree(resolved);
    return result;
}

QString LinkAddress(const xmlNode* link, bool decodeReferences) {
    QString href = TrimmedAttribute(link, "href");
    if (decodeReferences)
        href = DecodeHtmlEntities(href);
    return ResolvedAddress(link, href);
}

bool ReadEnclosureLink(const xmlNode* link, TEnclosure& enclosure, QByteArrayView formatName) {
    const QString address = LinkAddress(link, false);
    if (address.isEmpty())
        return false;
    enclosure.SourceFormat = formatName.toByteArray();
    enclosure.Url = address;
    enclosure.ContentType = TrimmedAttribute(link, "type");
    enclosure.Length = TEnclosure::ReadLength(link, "length");
    return true;
}

TEntryReader::TEntryReader(TFeedFormatter& formatter, FeedDoc::TTopic& topic,
                           QByteArrayView schemeAttribute)
    : m_formatter(formatter), m_topic(topic), m_schemeAttribute(schemeAttribute) {}

void TEntryReader::ReadLink(const xmlNode* link, bool alternate) {
    if (!m_linkTaken && alternate) {
        m_topic.Link = LinkAddress(link, false);
        m_linkTaken = true;
    } else if (!m_enclosureTaken && AttributeValue(link, "rel") == "enclosure" &&
               ReadEnclosureLink(link, m_topic.Enclosure, m_formatter.FormatName())) {
        m_enclosureTaken = true;
    } else {
        m_topic.KeepUnresolved(link);
    }
}

void TEntryReader::ReadOther(const xmlNode* child) {
    if (NodeNames::IsLower(child, "id")) {
        m_topic.Id = TXmlHost::NodeText(child).toUtf8();
    } else if (NodeNames::IsLower(child, "category")) {
        m_topic.AddCategory(TrimmedAttribute(child, "term"),
                            TrimmedAttribute(child, m_schemeAttribute));
    } else if (MediaRSS::IsMediaElement(child)) {
        m_formatter.ReadMediaElement(child, m_topic);
    } else if (TiTunesRSS::IsCommonElement(child)) {
        m_topic.ITunes.Read(child);
    } else if (TiTunesRSS::IsItemElement(child)) {
        m_topic.ITunesTopic.Read(child);
    } else {
        m_topic.KeepUnresolved(child);
    }
}

void TEntryReader::Finish() {
    m_topic.Description = Description.Text();
    if (!Authors.IsEmpty())
        m_topic.Author = Authors.Text();
}

double ReadDate(const xmlNode* node) {
    // The text is read in place when it is one piece, as nearly every date is.
    const xmlNode* only = node->children;
    QByteArray copy;
    QByteArrayView text;
    if (only && !only->next && only->type == XML_TEXT_NODE) {
        text = TrimControls(NodeNames::View(only->content));
    } else {
        copy = TXmlHost::NodeText(node).toUtf8();
        text = copy;
    }
    return LooksLikeW3CDate(text) ? ParseW3CDateTime(text) : ParseRfc822DateTime(text);
}

// --- Writing ---

xmlNode* AppendElement(xmlDoc* document, xmlNode* parent, QByteArrayView name,
                       const QString& namespaceUri) {
    return TXmlHost::AppendChild(parent, TXmlHost::CreateElement(document, name, namespaceUri));
}

xmlNode* AppendTextElement(xmlDoc* document, xmlNode* parent, QByteArrayView name,
                           const QString& text, const QString& namespaceUri) {
    return TXmlHost::AppendChild(parent,
                                 TXmlHost::CreateTextElement(document, name, text, namespaceUri));
}

xmlNode* AppendLink(xmlDoc* document, xmlNode* parent, const QString& namespaceUri,
                    const QString& rel, const QString& type, const QString& href) {
    xmlNode* link = AppendElement(document, parent, "link", namespaceUri);
    TXmlHost::SetAttribute(link, "rel", rel);
    if (!type.isEmpty())
        TXmlHost::SetAttribute(link, "type", type);
    TXmlHost::SetAttribute(link, "href", href);
    return link;
}

xmlNode* AppendAuthor(xmlDoc* document, xmlNode* parent, const QString& namespaceUri,
                      const QString& name) {
    xmlNode* author = AppendElement(document, parent, "author", namespaceUri);
    AppendTextElement(document, author, "name", name, namespaceUri);
    return author;
}

void AppendEnclosureLink(xmlDoc* document, xmlNode* parent, const QString& namespaceUri,
                         const TEnclosure& enclosure) {
    if (enclosure.Url.isEmpty())
        return;
    xmlNode* link = AppendLink(document, parent, namespaceUri, QStringLiteral("enclosure"),
                               enclosure.ContentType, enclosure.Url);
    if (enclosure.Length >= 0)
        TXmlHost::SetAttribute(link, "length", QString::number(enclosure.Length));
}

} // namespace Atom
