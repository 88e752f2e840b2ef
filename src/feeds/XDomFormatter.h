#pragma once
// Writing libxml2 trees out as markup: the node serializer the feed readers use for
// XHTML content, and the pretty-printer that writes OPML subscription lists.

#include <QByteArray>
#include <QString>
#include <libxml/tree.h>

class QIODevice;

// How an element without content is written. Markup that ends up in a browser's HTML
// parser must not self-close a <div> or a <script>, which that parser would read as a
// start tag only.
enum class EmptyElementStyle {
    SelfClosing,  // <outline text="x"/>
    HtmlFriendly, // <br/> for HTML's void elements, <div></div> for everything else
};

// Appends the UTF-8 markup of the node and everything below it to `out`. Text and
// attribute values are escaped exactly once. Namespace declarations are written where
// the tree has them; a prefix declared above the node stays undeclared in the output.
void AppendNodeMarkup(QByteArray& out, const xmlNode* node, EmptyElementStyle style);

class TNodeFormatter {
public:
    // The node's markup as it would appear in the document (used for XHTML content).
    static QString NodeXml(const xmlNode* node);
};

// Writes a document as UTF-8 without byte-order mark, with LF line ends and 4 spaces
// of indentation per nesting level: an element whose children are all elements gets its
// start and end tag on lines of their own; any other element (empty, text, mixed
// content) is written whole on one line, so that no text gains or loses whitespace.
class TXmlFormatter {
public:
    // Throws Exception when the stream refuses the bytes.
    void WriteDocument(const xmlDoc* document, QIODevice& stream);
    QByteArray WriteDocument(const xmlDoc* document);

    // Nesting depth of the piece being written.
    qint32 Depth = 0;

private:
    enum class Piece { StartTag, EndTag, Other };
    void BeforeWrite(Piece piece, QByteArray& out);
    void AfterWrite(Piece piece, QByteArray& out);
};
