#include "feeds/XDomHost.h"

#include "feeds/HTMLUtils.h"
#include "feeds/XDomFormatter.h"

#include <QHash>
#include <QIODevice>
#include <QStringDecoder>
#include <climits>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <optional>

namespace {

// --- Small conversions ---

QByteArrayView Text(const xmlChar* text) {
    return text ? QByteArrayView(reinterpret_cast<const char*>(text)) : QByteArrayView();
}

const xmlChar* Chars(const QByteArray& bytes) {
    return reinterpret_cast<const xmlChar*>(bytes.constData());
}

// Whether "prefix:name" (or "name" without a prefix) is `wanted`, without building it:
// the readers look names up for every element of every item.
bool QualifiedNameIs(const xmlNs* ns, const xmlChar* name, QByteArrayView wanted) {
    const QByteArrayView local = Text(name);
    const QByteArrayView prefix = ns ? Text(ns->prefix) : QByteArrayView();
    if (prefix.isEmpty())
        return local == wanted;
    return wanted.size() == prefix.size() + 1 + local.size() && wanted.startsWith(prefix) &&
           wanted[prefix.size()] == ':' && wanted.endsWith(local);
}

QByteArray QualifiedName(const xmlNs* ns, const xmlChar* name) {
    if (ns && ns->prefix)
        return Text(ns->prefix).toByteArray() + ':' + Text(name).toByteArray();
    return Text(name).toByteArray();
}

QByteArray AttributeValue(const xmlAttr* attribute) {
    QByteArray value;
    for (const xmlNode* part = attribute->children; part; part = part->next) {
        if (part->type == XML_TEXT_NODE || part->type == XML_CDATA_SECTION_NODE)
            value += Text(part->content);
    }
    return value;
}

void EnsureParserReady() {
    // libxml2 wants its global tables set up once before any thread parses.
    static const bool ready = [] {
        xmlInitParser();
        return true;
    }();
    Q_UNUSED(ready);
}

// --- Error routing ---

// What the parser said during one parse: the first error for the message, and whether
// it met entity names that nothing declares.
struct ParseLog {
    QString firstError;
    bool undeclaredEntity = false;

    void Record(const xmlError* error) {
        if (!error)
            return;
        if (error->code == XML_WAR_UNDECLARED_ENTITY || error->code == XML_ERR_UNDECLARED_ENTITY)
            undeclaredEntity = true;
        if (error->level >= XML_ERR_ERROR && firstError.isEmpty()) {
            const QString message = QString::fromUtf8(error->message).trimmed();
            firstError = error->line > 0
                             ? QStringLiteral("line %1: %2").arg(error->line).arg(message)
                             : message;
        }
    }
};

thread_local ParseLog* tCurrentLog = nullptr;

void RecordStructuredError(void* /*context*/, xmlErrorPtr error) {
    if (tCurrentLog)
        tCurrentLog->Record(error);
}

void IgnoreGenericError(void* /*context*/, const char* /*format*/, ...) {}

// While a parse runs, every message libxml2 raises on this thread comes to the log
// instead of stderr: those of the parser context through its own structured handler,
// the few raised without a context (encoding converters, I/O) through the handlers
// libxml2 keeps per thread. The previous handlers come back afterwards.
class ErrorRouting {
public:
    ErrorRouting(xmlParserCtxt* context, ParseLog& log)
        : m_previousLog(tCurrentLog), m_structured(xmlStructuredError),
          m_structuredContext(xmlStructuredErrorContext), m_generic(xmlGenericError),
          m_genericContext(xmlGenericErrorContext) {
        tCurrentLog = &log;
        context->sax->serror = &RecordStructuredError;
        xmlSetStructuredErrorFunc(nullptr, &RecordStructuredError);
        xmlSetGenericErrorFunc(nullptr, &IgnoreGenericError);
    }
    ~ErrorRouting() {
        xmlSetGenericErrorFunc(m_genericContext, m_generic);
        xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
        tCurrentLog = m_previousLog;
    }
    ErrorRouting(const ErrorRouting&) = delete;
    ErrorRouting& operator=(const ErrorRouting&) = delete;

private:
    ParseLog* m_previousLog;
    xmlStructuredErrorFunc m_structured;
    void* m_structuredContext;
    xmlGenericErrorFunc m_generic;
    void* m_genericContext;
};

// --- Strict parsing ---

struct ParserContextDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

// Network off; no DTD loaded, no entity substituted by the parser (so no external entity
// is ever read); libxml2's default limits on depth, text size and entity amplification
// stay on (no XML_PARSE_HUGE); no recovery: a fault fails the parse.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_COMPACT;

// The parser reads the bytes in small pieces from here rather than from one copy of
// the whole document: a copy would double the memory a large feed needs, and allocating
// it for every document makes the allocator work harder than the parse.
struct MemoryReader {
    QByteArrayView bytes;
    qsizetype position = 0;

    static int Read(void* context, char* buffer, int length) {
        auto* reader = static_cast<MemoryReader*>(context);
        const qsizetype count =
            qMin(qsizetype(qMax(length, 0)), reader->bytes.size() - reader->position);
        memcpy(buffer, reader->bytes.data() + reader->position, size_t(count));
        reader->position += count;
        return int(count);
    }
    static int Close(void*) { return 0; }
};

XmlDocument ParseStrictly(QByteArrayView bytes, const char* encoding, int extraOptions,
                          ParseLog& log) {
    std::unique_ptr<xmlParserCtxt, ParserContextDeleter> context(xmlNewParserCtxt());
    if (!context)
        throw EInvalidXmlDocument(QStringLiteral("Out of memory while parsing XML"));
    ErrorRouting routing(context.get(), log);
    MemoryReader reader{bytes};
    XmlDocument document(xmlCtxtReadIO(context.get(), &MemoryReader::Read, &MemoryReader::Close,
                                       &reader, nullptr, encoding, kParseOptions | extraOptions));
    if (!context->wellFormed)
        document.reset();
    return document;
}

// --- Repairing the two common publisher faults ---

struct RepairedDocument {
    QByteArray bytes;
    const char* encoding = nullptr;
    int options = 0;
};

// UTF-16 and UTF-32 documents, recognised by their byte-order mark or by the zero bytes
// around the leading "<"; the repair works on an ASCII-compatible text.
std::optional<QStringConverter::Encoding> WideEncoding(QByteArrayView bytes) {
    const auto at = [&](qsizetype i) { return i < bytes.size() ? quint8(bytes[i]) : 0xFFu; };
    if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0)
        return QStringConverter::Utf32LE;
    if (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF)
        return QStringConverter::Utf32BE;
    if (at(0) == 0xFF && at(1) == 0xFE)
        return QStringConverter::Utf16LE;
    if (at(0) == 0xFE && at(1) == 0xFF)
        return QStringConverter::Utf16BE;
    if (at(0) == '<' && at(1) == 0 && at(2) == 0 && at(3) == 0)
        return QStringConverter::Utf32LE;
    if (at(0) == 0 && at(1) == 0 && at(2) == 0 && at(3) == '<')
        return QStringConverter::Utf32BE;
    if (at(0) == '<' && at(1) == 0)
        return QStringConverter::Utf16LE;
    if (at(0) == 0 && at(1) == '<')
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameChar(char c) {
    return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.';
}

// The end (one past) of a construct in which "&" is not markup, or -1 when `pos` does
// not start one. An unterminated construct runs to the end of the text.
qsizetype EndOfVerbatim(QByteArrayView text, qsizetype pos) {
    const auto skipTo = [&](QByteArrayView terminator, qsizetype from) {
        const qsizetype found = text.indexOf(terminator, from);
        return found < 0 ? text.size() : found + terminator.size();
    };
    const QByteArrayView rest = text.sliced(pos);
    if (rest.startsWith("<![CDATA["))
        return skipTo("]]>", pos + 9);
    if (rest.startsWith("<!--"))
        return skipTo("-->", pos + 4);
    if (rest.startsWith("<?"))
        return skipTo("?>", pos + 2);
    if (rest.startsWith("<!DOCTYPE")) {
        // Entity values in the internal subset may hold references of their own.
        char quote = 0;
        int brackets = 0;
        for (qsizetype i = pos + 9; i < text.size(); ++i) {
            const char c = text[i];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == '>' && brackets <= 0) {
                return i + 1;
            }
        }
        return text.size();
    }
    return -1;
}

// The length of a well-formed reference at `pos` ("&amp;", "&#38;", "&#x26;"), with the
// name of a named one; 0 when the "&" starts no reference.
qsizetype ReferenceLength(QByteArrayView text, qsizetype pos, QByteArrayView* name) {
    qsizetype i = pos + 1;
    const qsizetype size = text.size();
    if (i < size && text[i] == '#') {
        ++i;
        const bool hex = i < size && (text[i] == 'x' || text[i] == 'X');
        if (hex)
            ++i;
        const qsizetype digitsStart = i;
        while (i < size && (hex ? IsHexDigit(text[i]) : IsDigit(text[i])))
            ++i;
        return i > digitsStart && i < size && text[i] == ';' ? i + 1 - pos : 0;
    }
    if (i >= size || !IsNameStart(text[i]))
        return 0;
    while (i < size && IsNameChar(text[i]))
        ++i;
    if (i >= size || text[i] != ';')
        return 0;
    *name = text.sliced(pos + 1, i - pos - 1);
    return i + 1 - pos;
}

// Turns HTML entity names into character references and bare "&" into "&amp;", outside
// CDATA sections, comments, processing instructions and the document type declaration.
// Nothing when there was nothing to repair (or the text cannot be decoded).
std::optional<RepairedDocument> RepairPublisherFaults(QByteArrayView bytes) {
    RepairedDocument result;
    QByteArray transcoded;
    QByteArrayView text = bytes;
    if (const auto wide = WideEncoding(bytes)) {
        QStringDecoder decoder(*wide);
        const QString decoded = decoder.decode(bytes);
        if (decoder.hasError())
            return std::nullopt;
        transcoded = decoded.toUtf8();
        text = transcoded;
        result.encoding = "UTF-8";
        result.options = XML_PARSE_IGNORE_ENC;
    }

    QByteArray& out = result.bytes;
    out.reserve(text.size() + text.size() / 16);
    bool changed = false;
    qsizetype pos = 0;
    const qsizetype size = text.size();
    while (pos < size) {
        const char c = text[pos];
        if (c == '<') {
            const qsizetype end = EndOfVerbatim(text, pos);
            if (end > pos) {
                out += text.sliced(pos, end - pos);
                pos = end;
                continue;
            }
        } else if (c == '&') {
            QByteArrayView name;
            const qsizetype length = ReferenceLength(text, pos, &name);
            if (length == 0) {
                out += "&amp;";
                changed = true;
                ++pos;
                continue;
            }
            const bool predefined =
                name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
            if (!name.isEmpty() && !predefined) {
                if (const char16_t value = HtmlEntityValue(name)) {
                    out += "&#" + QByteArray::number(value) + ';';
                    changed = true;
                    pos += length;
                    continue;
                }
            }
            out += text.sliced(pos, length);
            pos += length;
            continue;
        }
        out += c;
        ++pos;
    }
    if (!changed)
        return std::nullopt;
    return result;
}

// --- Entities declared in the document itself ---

// The parser leaves references to entities of the document's internal subset in the
// tree. They are replaced by copies of the entity's content here, within a budget in
// proportion to the document, so that no reader meets a reference node and a few
// kilobytes of declarations cannot grow into gigabytes. References to external or
// undeclared entities are dropped: their content is never fetched.
class EntityExpander {
public:
    EntityExpander(xmlDoc* document, qint64 budget) : m_document(document), m_budget(budget) {}

    void ExpandIn(xmlNode* container) {
        xmlNode* current = container->children;
        while (current) {
            if (current->type == XML_ENTITY_REF_NODE) {
                xmlNode* parent = current->parent;
                xmlNode* after = current->next;
                xmlNode* inserted = Replace(current);
                current = inserted ? inserted : after ? after : NextAfter(parent, container);
                continue;
            }
            if (current->type == XML_ELEMENT_NODE) {
                for (xmlAttr* attribute = current->properties; attribute;
                     attribute = attribute->next)
                    ExpandIn(reinterpret_cast<xmlNode*>(attribute));
                if (current->children) {
                    current = current->children;
                    continue;
                }
            }
            current = NextAfter(current, container);
        }
    }

private:
    static xmlNode* NextAfter(xmlNode* node, const xmlNode* container) {
        while (node && node != container) {
            if (node->next)
                return node->next;
            node = node->parent;
        }
        return nullptr;
    }

    // The cost of one copy of the entity's content: its characters and its nodes.
    qint64 CostOf(const xmlEntity* entity) {
        if (const auto known = m_costs.constFind(entity); known != m_costs.cend())
            return *known;
        qint64 cost = 0;
        const xmlNode* node = entity->children;
        while (node) {
            cost += 64 + Text(node->content).size();
            if (node->type == XML_ELEMENT_NODE) {
                for (const xmlAttr* attribute = node->properties; attribute;
                     attribute = attribute->next)
                    cost += 64 + AttributeValue(attribute).size();
                if (node->children) {
                    node = node->children;
                    continue;
                }
            }
            // The content's top nodes have the entity (or nothing) as their parent.
            while (node && !node->next) {
                node = node->parent;
                if (node == reinterpret_cast<const xmlNode*>(entity))
                    node = nullptr;
            }
            if (node)
                node = node->next;
        }
        m_costs.insert(entity, cost);
        return cost;
    }

    static void InsertBefore(xmlNode* reference, xmlNode* first) {
        xmlNode* parent = reference->parent;
        xmlNode* last = first;
        for (xmlNode* node = first; node; node = node->next) {
            node->parent = parent;
            last = node;
        }
        first->prev = reference->prev;
        if (reference->prev)
            reference->prev->next = first;
        else
            parent->children = first;
        last->next = reference;
        reference->prev = last;
    }

    // Replaces the reference by a copy of its content; the first node put in its place,
    // or null when nothing replaced it.
    xmlNode* Replace(xmlNode* reference) {
        xmlNode* replacement = nullptr;
        const xmlEntity* entity = xmlGetDocEntity(m_document, reference->name);
        if (entity && entity->etype == XML_INTERNAL_PREDEFINED_ENTITY) {
            replacement = xmlNewDocText(m_document, entity->content);
        } else if (entity && entity->etype == XML_INTERNAL_GENERAL_ENTITY && entity->children) {
            m_budget -= CostOf(entity);
            if (m_budget < 0)
                throw EInvalidXmlDocument(
                    QStringLiteral("The document's entities expand far beyond its size"));
            replacement = xmlDocCopyNodeList(m_document, entity->children);
        }
        if (replacement)
            InsertBefore(reference, replacement);
        xmlUnlinkNode(reference);
        xmlFreeNode(reference);
        return replacement;
    }

    xmlDoc* m_document;
    qint64 m_budget;
    QHash<const xmlEntity*, qint64> m_costs;
};

void ExpandDeclaredEntities(xmlDoc* document, qsizetype inputSize) {
    // Without a document type declaration the parser leaves no reference behind.
    if (!document->intSubset && !document->extSubset)
        return;
    EntityExpander expander(document, 4 * qint64(inputSize) + 1024 * 1024);
    expander.ExpandIn(reinterpret_cast<xmlNode*>(document));
}

// --- Namespaces of appended nodes ---

void RebindNamespace(xmlNode* top, const xmlNs* from, xmlNs* to) {
    for (xmlNode* node = top; node;) {
        if (node->type == XML_ELEMENT_NODE) {
            if (node->ns == from)
                node->ns = to;
            for (xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
                if (attribute->ns == from)
                    attribute->ns = to;
            }
            if (node->children) {
                node = node->children;
                continue;
            }
        }
        while (node && node != top && !node->next)
            node = node->parent;
        node = node && node != top ? node->next : nullptr;
    }
}

void FitIntoScope(xmlNode* element) {
    xmlNode* parent = element->parent;
    const bool parentIsElement = parent && parent->type == XML_ELEMENT_NODE;
    // A prefixed name built without a namespace takes the binding its prefix has here.
    if (!element->ns) {
        const QByteArrayView name = Text(element->name);
        if (const qsizetype colon = name.indexOf(':'); colon > 0 && colon + 1 < name.size()) {
            const QByteArray prefix = name.first(colon).toByteArray();
            if (xmlNs* ns = xmlSearchNs(element->doc, element, Chars(prefix))) {
                const QByteArray local = name.sliced(colon + 1).toByteArray();
                xmlNodeSetName(element, Chars(local));
                element->ns = ns;
            }
        }
    }
    if (!parentIsElement)
        return;
    // A declaration the parent already has in scope is only noise.
    xmlNs** link = &element->nsDef;
    while (*link) {
        xmlNs* ns = *link;
        xmlNs* inScope = xmlSearchNs(element->doc, parent, ns->prefix);
        if (inScope && xmlStrEqual(inScope->href, ns->href)) {
            RebindNamespace(element, ns, inScope);
            *link = ns->next;
            ns->next = nullptr;
            xmlFreeNs(ns);
        } else {
            link = &ns->next;
        }
    }
}

bool IsXmlCharacter(char16_t c) {
    return c >= 0x20 ? c != 0xFFFE && c != 0xFFFF : c == 0x09 || c == 0x0A || c == 0x0D;
}

// The text as UTF-8 without the characters XML 1.0 cannot carry (control characters
// other than tab and line ends, U+FFFE and U+FFFF): texts reach the model from decoded
// content and references too, and a document this program writes must always load
// again.
QByteArray XmlText(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && IsXmlCharacter(text[i].unicode()))
        ++i;
    if (i == text.size())
        return text.toUtf8();
    QString kept;
    kept.reserve(text.size());
    kept.append(QStringView(text).first(i));
    for (; i < text.size(); ++i) {
        if (IsXmlCharacter(text[i].unicode()))
            kept.append(text[i]);
    }
    return kept.toUtf8();
}

xmlNode* NewTextElement(xmlDoc* document, QByteArrayView name, const QString& text,
                        const QString& namespaceUri) {
    xmlNode* element = TXmlHost::CreateElement(document, name, namespaceUri);
    const QByteArray utf8 = XmlText(text);
    xmlAddChild(element, xmlNewDocText(document, Chars(utf8)));
    return element;
}

} // namespace

void XmlDocumentDeleter::operator()(xmlDoc* document) const {
    xmlFreeDoc(document);
}

// --- The host ---

TXmlHost::TXmlHost() {
    throw Exception(QStringLiteral("There can be only one... Please use Instance()"));
}

TXmlHost::TXmlHost(Token) {
    EnsureParserReady();
}

TXmlHost& TXmlHost::Instance() {
    static TXmlHost host{Token{}};
    return host;
}

XmlDocument TXmlHost::CreateDocument() {
    EnsureParserReady();
    XmlDocument document(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    if (!document)
        throw Exception(QStringLiteral("Out of memory while creating an XML document"));
    return document;
}

XmlDocument TXmlHost::LoadDocument(QByteArrayView bytes) {
    EnsureParserReady();
    if (bytes.isEmpty())
        throw EInvalidXmlDocument(QStringLiteral("The document is empty"));
    if (bytes.size() > INT_MAX)
        throw EInvalidXmlDocument(QStringLiteral("The document is too large"));

    ParseLog strictLog;
    XmlDocument document = ParseStrictly(bytes, nullptr, 0, strictLog);
    // References to undeclared entities pass the parser when the document names an
    // external DTD; the repair gives HTML names their characters before they are lost.
    if (!document || strictLog.undeclaredEntity) {
        if (const auto repaired = RepairPublisherFaults(bytes)) {
            ParseLog repairedLog;
            if (XmlDocument second = ParseStrictly(repaired->bytes, repaired->encoding,
                                                   repaired->options, repairedLog)) {
                ExpandDeclaredEntities(second.get(), repaired->bytes.size());
                return second;
            }
        }
    }
    if (!document) {
        throw EInvalidXmlDocument(strictLog.firstError.isEmpty()
                                      ? QStringLiteral("The document is not well-formed XML")
                                      : strictLog.firstError);
    }
    ExpandDeclaredEntities(document.get(), bytes.size());
    return document;
}

XmlDocument TXmlHost::LoadDocument(QIODevice& stream) {
    return LoadDocument(stream.readAll());
}

QByteArray TXmlHost::SaveDocument(const xmlDoc* document) {
    xmlChar* memory = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(const_cast<xmlDoc*>(document), &memory, &size, "UTF-8", 1);
    QByteArray bytes(reinterpret_cast<const char*>(memory), size);
    xmlFree(memory);
    return bytes;
}

xmlNode* TXmlHost::DocumentElement(const xmlDoc* document) {
    return document ? xmlDocGetRootElement(document) : nullptr;
}

void TXmlHost::SetDocumentElement(xmlDoc* document, xmlNode* element) {
    if (xmlNode* previous = xmlDocSetRootElement(document, element))
        xmlFreeNode(previous);
}

xmlNode* TXmlHost::CreateElement(xmlDoc* document, QByteArrayView name,
                                 const QString& namespaceUri) {
    QByteArray localName = name.toByteArray();
    QByteArray prefix;
    const qsizetype colon = name.indexOf(':');
    if (!namespaceUri.isEmpty() && colon > 0) {
        prefix = name.first(colon).toByteArray();
        localName = name.sliced(colon + 1).toByteArray();
    }
    xmlNode* element = xmlNewDocNode(document, nullptr, Chars(localName), nullptr);
    if (!element)
        throw Exception(QStringLiteral("Out of memory while creating an XML element"));
    if (!namespaceUri.isEmpty()) {
        const QByteArray uri = namespaceUri.toUtf8();
        xmlSetNs(element,
                 xmlNewNs(element, Chars(uri), prefix.isEmpty() ? nullptr : Chars(prefix)));
    }
    return element;
}

xmlNode* TXmlHost::CreateTextElement(xmlDoc* document, QByteArrayView name, const QString& text,
                                     const QString& namespaceUri) {
    return NewTextElement(document, name, text, namespaceUri);
}

xmlNode* TXmlHost::CreateIntegerElement(xmlDoc* document, QByteArrayView name, qint32 value) {
    return NewTextElement(document, name, QString::number(value), QString());
}

xmlNode* TXmlHost::AppendChild(xmlNode* parent, xmlNode* child) {
    xmlNode* added = xmlAddChild(parent, child);
    if (!added)
        throw Exception(QStringLiteral("Cannot append an XML node here"));
    if (added->type == XML_ELEMENT_NODE)
        FitIntoScope(added);
    return added;
}

xmlNode* TXmlHost::AppendCopy(xmlNode* parent, const xmlNode* node) {
    xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(node), parent->doc, 1);
    if (!copy)
        throw Exception(QStringLiteral("Cannot copy an XML node"));
    return AppendChild(parent, copy);
}

void TXmlHost::SetAttribute(xmlNode* element, QByteArrayView name, const QString& value) {
    if (name == "xmlns") {
        DeclareNamespace(element, {}, value);
        return;
    }
    if (name.startsWith("xmlns:")) {
        DeclareNamespace(element, name.sliced(6), value);
        return;
    }
    // libxml2 binds a prefixed name to the prefix's namespace in scope, and keeps the
    // value as given (it is escaped when written).
    const QByteArray attributeName = name.toByteArray();
    const QByteArray utf8 = XmlText(value);
    if (!xmlSetProp(element, Chars(attributeName), Chars(utf8)))
        throw Exception(QStringLiteral("Cannot set the XML attribute %1")
                            .arg(QString::fromUtf8(attributeName)));
}

void TXmlHost::DeclareNamespace(xmlNode* element, QByteArrayView prefix,
                                const QString& namespaceUri) {
    const QByteArray prefixBytes = prefix.toByteArray();
    const xmlChar* prefixChars = prefix.isEmpty() ? nullptr : Chars(prefixBytes);
    const QByteArray uri = namespaceUri.toUtf8();
    for (xmlNs* ns = element->nsDef; ns; ns = ns->next) {
        if (xmlStrEqual(ns->prefix, prefixChars)) {
            xmlFree(const_cast<xmlChar*>(ns->href));
            ns->href = xmlStrdup(Chars(uri));
            return;
        }
    }
    if (!xmlNewNs(element, Chars(uri), prefixChars))
        throw Exception(QStringLiteral("Cannot declare the XML namespace %1")
                            .arg(QString::fromUtf8(prefixBytes)));
}

QByteArray TXmlHost::NodeName(const xmlNode* node) {
    if (!node)
        return {};
    switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
        return QualifiedName(node->ns, node->name);
    case XML_TEXT_NODE:
        return "#text";
    case XML_CDATA_SECTION_NODE:
        return "#cdata-section";
    case XML_COMMENT_NODE:
        return "#comment";
    default:
        return Text(node->name).toByteArray();
    }
}

QString TXmlHost::NodeText(const xmlNode* node) {
    if (!node)
        return {};
    switch (node->type) {
    case XML_ELEMENT_NODE: {
        const xmlNode* only = node->children;
        if (only && !only->next &&
            (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE))
            return QString::fromUtf8(TrimControls(Text(only->content)));
        QByteArray content;
        for (const xmlNode* child = node->children; child; child = child->next) {
            if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
                content += Text(child->content);
            else if (child->type == XML_ELEMENT_NODE)
                AppendNodeMarkup(content, child, EmptyElementStyle::HtmlFriendly);
        }
        return QString::fromUtf8(TrimControls(content));
    }
    case XML_ATTRIBUTE_NODE:
        return QString::fromUtf8(
            TrimControls(AttributeValue(reinterpret_cast<const xmlAttr*>(node))));
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
        return QString::fromUtf8(TrimControls(Text(node->content)));
    default:
        return {};
    }
}

xmlNode* TXmlHost::FindChild(const xmlNode* node, QByteArrayView name) {
    if (!node)
        return nullptr;
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && QualifiedNameIs(child->ns, child->name, name))
            return child;
    }
    return nullptr;
}

QList<xmlNode*> TXmlHost::ChildElements(const xmlNode* node) {
    QList<xmlNode*> elements;
    if (!node)
        return elements;
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            elements.append(child);
    }
    return elements;
}

namespace {

const xmlNs* FindDeclaration(const xmlNode* node, QByteArrayView name) {
    if (name != "xmlns" && !name.startsWith("xmlns:"))
        return nullptr;
    const QByteArrayView prefix = name == "xmlns" ? QByteArrayView() : name.sliced(6);
    for (const xmlNs* ns = node->nsDef; ns; ns = ns->next) {
        if (prefix.isNull() ? ns->prefix == nullptr : Text(ns->prefix) == prefix)
            return ns;
    }
    return nullptr;
}

const xmlAttr* FindProperty(const xmlNode* node, QByteArrayView name) {
    for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
        if (QualifiedNameIs(attribute->ns, attribute->name, name))
            return attribute;
    }
    return nullptr;
}

} // namespace

QString TXmlHost::AttributeText(const xmlNode* node, QByteArrayView name,
                                const QString& defaultText) {
    if (!IsElement(node))
        return defaultText;
    if (const xmlNs* ns = FindDeclaration(node, name))
        return QString::fromUtf8(Text(ns->href));
    if (const xmlAttr* attribute = FindProperty(node, name)) {
        // Nearly every value is one piece of text, read without an intermediate copy.
        const xmlNode* only = attribute->children;
        if (only && !only->next && only->type == XML_TEXT_NODE)
            return QString::fromUtf8(Text(only->content));
        return QString::fromUtf8(AttributeValue(attribute));
    }
    return defaultText;
}

qint32 TXmlHost::AttributeInteger(const xmlNode* node, QByteArrayView name, qint32 defaultValue) {
    bool ok = false;
    const qint32 value = AttributeText(node, name, QStringLiteral("-1")).trimmed().toInt(&ok, 10);
    return ok ? value : defaultValue;
}

bool TXmlHost::HasAttribute(const xmlNode* node, QByteArrayView name) {
    return IsElement(node) && (FindDeclaration(node, name) || FindProperty(node, name));
}

XmlAttributeList TXmlHost::Attributes(const xmlNode* node) {
    XmlAttributeList attributes;
    if (!IsElement(node))
        return attributes;
    for (const xmlNs* ns = node->nsDef; ns; ns = ns->next) {
        const QByteArray name =
            ns->prefix ? "xmlns:" + Text(ns->prefix).toByteArray() : QByteArray("xmlns");
        attributes.append({name, QString::fromUtf8(Text(ns->href))});
    }
    for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
        attributes.append({QualifiedName(attribute->ns, attribute->name),
                           QString::fromUtf8(AttributeValue(attribute))});
    }
    return attributes;
}

const XmlAttribute* TXmlHost::FindAttribute(const XmlAttributeList& attributes,
                                            QByteArrayView name) {
    const XmlAttribute* found = nullptr;
    for (const XmlAttribute& attribute : attributes) {
        if (attribute.Name == name)
            found = &attribute;
    }
    return found;
}

xmlAttr* TXmlHost::CreateDomAttribute(xmlDoc* document, QByteArrayView name, const QString& value) {
    const QByteArray attributeName = name.toByteArray();
    // Created empty and filled with a plain text node: xmlNewDocProp would read "&" in
    // the value as the start of a reference.
    xmlAttr* attribute = xmlNewDocProp(document, Chars(attributeName), nullptr);
    if (!attribute)
        throw Exception(QStringLiteral("Out of memory while creating an XML attribute"));
    const QByteArray utf8 = XmlText(value);
    xmlNode* text = xmlNewDocText(document, Chars(utf8));
    text->parent = reinterpret_cast<xmlNode*>(attribute);
    attribute->children = text;
    attribute->last = text;
    return attribute;
}

xmlNode* TXmlHost::CreateDomTextElement(xmlDoc* document, QByteArrayView name,
                                        const QString& text) {
    return NewTextElement(document, name, text, QString());
}

// --- Document parts ---

TXmlDocumentPart::TXmlDocumentPart() = default;

TXmlDocumentPart::~TXmlDocumentPart() = default;

void TXmlDocumentPart::ResetUnresolved() {
    UnresolvedPrefixed.reset();
    UnresolvedPlain.reset();
}

void TXmlDocumentPart::KeepUnresolved(const xmlNode* node) {
    if (!TXmlHost::IsElement(node))
        return;
    XmlDocument& keeper =
        TXmlHost::NodeName(node).contains(':') ? UnresolvedPrefixed : UnresolvedPlain;
    // Made on first use: a feed of many topics has several parts per topic, and most of
    // them never meet an element they do not know.
    if (!keeper) {
        keeper = TXmlHost::CreateDocument();
        TXmlHost::SetDocumentElement(keeper.get(),
                                     TXmlHost::CreateElement(keeper.get(), "unresolved", {}));
    }
    TXmlHost::AppendCopy(TXmlHost::DocumentElement(keeper.get()), node);
}

bool TXmlDocumentPart::HasUnresolved() const {
    return UnresolvedPrefixed || UnresolvedPlain;
}

void TXmlDocumentPart::WriteUnresolved(xmlNode* destination, QByteArrayView formatName) const {
    const auto writeAll = [destination](const XmlDocument& keeper) {
        if (!keeper)
            return;
        const xmlNode* root = TXmlHost::DocumentElement(keeper.get());
        for (const xmlNode* child = root->children; child; child = child->next)
            TXmlHost::AppendCopy(destination, child);
    };
    writeAll(UnresolvedPrefixed);
    if (formatName == SourceFormat)
        writeAll(UnresolvedPlain);
}
