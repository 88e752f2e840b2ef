#pragma once
// The XML ground every feed element stands on: loading untrusted documents safely into
// libxml2 trees, the small helpers the feed readers and writers call (node text, child
// and attribute lookup, element creation), and TXmlDocumentPart, which keeps the
// elements a reader did not recognise so that writing the part again loses nothing.
//
// Feeds and OPML lists come from anywhere, so loading never touches the network or the
// file system (external entities and DTDs are neither fetched nor expanded), keeps
// libxml2's limits on entity amplification, nesting and text size, and reports errors
// to us instead of stderr. A document is either loaded whole or rejected: never half.

#include "shell/Errors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <libxml/tree.h>
#include <memory>

class QIODevice;

// The bytes are not a well-formed XML document (even after the usual publisher faults
// were repaired). The message tells where the parser gave up.
QUILLMAR_DECLARE_EXCEPTION(EInvalidXmlDocument, Exception)

struct XmlDocumentDeleter {
    void operator()(xmlDoc* document) const;
};
// A libxml2 document with a single owner.
using XmlDocument = std::unique_ptr<xmlDoc, XmlDocumentDeleter>;

// One attribute as the feed readers see it. Namespace declarations count as attributes
// ("xmlns", "xmlns:dc"), as they do for a reader looking at the markup.
struct XmlAttribute {
    QByteArray Name; // as written, with its prefix
    QString Value;
};
using XmlAttributeList = QList<XmlAttribute>;

class TXmlHost {
public:
    // The host is a process-wide singleton; constructing another one fails with
    // "There can be only one... Please use Instance()".
    TXmlHost();
    static TXmlHost& Instance();

    // --- Documents ---
    // A new empty document (no root yet), ready to be built.
    static XmlDocument CreateDocument();
    // Parses a document with its encoding taken from the byte-order mark and the XML
    // declaration. When the strict parse fails, the two faults publishers commit most
    // (HTML entity names XML does not know, bare "&") are repaired and the document is
    // parsed strictly once more. Throws EInvalidXmlDocument when it is still not
    // well-formed.
    static XmlDocument LoadDocument(QByteArrayView bytes);
    static XmlDocument LoadDocument(QIODevice& stream);
    // The document as indented UTF-8 with an XML declaration.
    static QByteArray SaveDocument(const xmlDoc* document);
    static xmlNode* DocumentElement(const xmlDoc* document);
    // Makes the element the document's root (replacing any previous one).
    static void SetDocumentElement(xmlDoc* document, xmlNode* element);

    // --- Building ---
    // A new element, not yet attached. A prefixed name ("itunes:author") with a
    // namespace is bound to that prefix; an unprefixed one with a namespace to the
    // default namespace; an empty namespace means none.
    static xmlNode* CreateElement(xmlDoc* document, QByteArrayView name,
                                  const QString& namespaceUri);
    static xmlNode* CreateTextElement(xmlDoc* document, QByteArrayView name, const QString& text,
                                      const QString& namespaceUri = {});
    static xmlNode* CreateIntegerElement(xmlDoc* document, QByteArrayView name, qint32 value);
    // Appends the node (element, text or attribute) as the parent's last child. A namespace
    // declaration of the appended element that the parent already has in scope is dropped,
    // and a prefixed name created without a namespace takes the prefix's binding in scope.
    static xmlNode* AppendChild(xmlNode* parent, xmlNode* child);
    // Appends a deep copy of a node of any document to the parent.
    static xmlNode* AppendCopy(xmlNode* parent, const xmlNode* node);
    // Sets an attribute (created or replaced); the value is escaped when written out.
    static void SetAttribute(xmlNode* element, QByteArrayView name, const QString& value);
    // Declares a namespace on the element ("" prefix: the default namespace).
    static void DeclareNamespace(xmlNode* element, QByteArrayView prefix,
                                 const QString& namespaceUri);

    // --- Reading ---
    // The node's name as written, with its prefix ("dc:date"); empty for a null node.
    static QByteArray NodeName(const xmlNode* node);
    static bool IsElement(const xmlNode* node) { return node && node->type == XML_ELEMENT_NODE; }
    // The text of a node with characters of code 32 or below trimmed at both ends. For an
    // element that is all of its content: text and CDATA sections as they are, child
    // elements as markup. Empty for a null or empty node.
    static QString NodeText(const xmlNode* node);
    // The first child element of exactly this name, or null.
    static xmlNode* FindChild(const xmlNode* node, QByteArrayView name);
    // The child elements in document order.
    static QList<xmlNode*> ChildElements(const xmlNode* node);
    // The attribute's value when the node has it, else the default.
    static QString AttributeText(const xmlNode* node, QByteArrayView name,
                                 const QString& defaultText);
    // The attribute as a signed 32-bit whole number. A missing attribute reads as -1; a
    // text that is not such a number gives the default.
    static qint32 AttributeInteger(const xmlNode* node, QByteArrayView name, qint32 defaultValue);
    static bool HasAttribute(const xmlNode* node, QByteArrayView name);
    // The namespace declarations, then the attributes, of an element.
    static XmlAttributeList Attributes(const xmlNode* node);
    // The last attribute of the list with exactly this name, or null.
    static const XmlAttribute* FindAttribute(const XmlAttributeList& attributes,
                                             QByteArrayView name);

    // --- Documents built for writing only (OPML) ---
    // A new attribute, not yet attached (attach it with AppendChild). The value is kept as
    // given and escaped once, when the document is written.
    static xmlAttr* CreateDomAttribute(xmlDoc* document, QByteArrayView name, const QString& value);
    // A new element with one text child holding the text.
    static xmlNode* CreateDomTextElement(xmlDoc* document, QByteArrayView name,
                                         const QString& text);

private:
    struct Token {};
    explicit TXmlHost(Token);
};

// The base of every feed element class (channel, topic, Media RSS and iTunes parts). A
// reader hands it the elements it does not understand; the writer puts them back, so
// extensions survive a round trip. Prefixed elements are written into any format;
// unprefixed ones belong to the vocabulary of the format that was read and are written
// back only into that same format.
class TXmlDocumentPart {
public:
    TXmlDocumentPart();
    virtual ~TXmlDocumentPart();
    TXmlDocumentPart(const TXmlDocumentPart&) = delete;
    TXmlDocumentPart& operator=(const TXmlDocumentPart&) = delete;

    // Forgets every retained element.
    void ResetUnresolved();
    // Whether any element is retained.
    bool HasUnresolved() const;
    // Retains a copy of an unrecognised element; other nodes are ignored.
    void KeepUnresolved(const xmlNode* node);
    // Appends copies of the retained elements to the destination: the prefixed ones
    // always, the unprefixed ones only when the format is the one that read the part.
    void WriteUnresolved(xmlNode* destination, QByteArrayView formatName) const;

    QString AttributeText(const xmlNode* node, QByteArrayView name) const {
        return TXmlHost::AttributeText(node, name, QString());
    }
    qint32 AttributeInteger(const xmlNode* node, QByteArrayView name) const {
        return TXmlHost::AttributeInteger(node, name, -1);
    }

    // The name of the format that read the part ("RSS", "Atom"); empty on a new part.
    QByteArray SourceFormat;
    // Documents whose root "unresolved" holds the retained elements, in reading order;
    // each is made when its first element is retained (null until then).
    XmlDocument UnresolvedPrefixed;
    XmlDocument UnresolvedPlain;
};
