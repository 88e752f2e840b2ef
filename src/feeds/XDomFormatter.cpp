#include "feeds/XDomFormatter.h"

#include "shell/Errors.h"

#include <QIODevice>

namespace {

QByteArrayView Text(const xmlChar* text) {
    return text ? QByteArrayView(reinterpret_cast<const char*>(text)) : QByteArrayView();
}

void AppendQualifiedName(QByteArray& out, const xmlNs* ns, const xmlChar* name) {
    if (ns && ns->prefix) {
        out += Text(ns->prefix);
        out += ':';
    }
    out += Text(name);
}

void AppendEscapedText(QByteArray& out, QByteArrayView text) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        // A raw CR would come back as LF: line-end normalisation of the next reader.
        case '\r':
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
}

void AppendEscapedAttributeValue(QByteArray& out, QByteArrayView text) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        // Attribute-value normalisation would turn these into spaces on reading.
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
}

void AppendAttributeValue(QByteArray& out, const xmlAttr* attribute) {
    for (const xmlNode* part = attribute->children; part; part = part->next) {
        if (part->type == XML_TEXT_NODE)
            AppendEscapedAttributeValue(out, Text(part->content));
        else if (part->type == XML_ENTITY_REF_NODE)
            out += '&' + Text(part->name).toByteArray() + ';';
    }
}

void AppendStartTag(QByteArray& out, const xmlNode* element, bool selfClosing) {
    out += '<';
    AppendQualifiedName(out, element->ns, element->name);
    for (const xmlNs* ns = element->nsDef; ns; ns = ns->next) {
        out += " xmlns";
        if (ns->prefix) {
            out += ':';
            out += Text(ns->prefix);
        }
        out += "=\"";
        AppendEscapedAttributeValue(out, Text(ns->href));
        out += '"';
    }
    for (const xmlAttr* attribute = element->properties; attribute; attribute = attribute->next) {
        out += ' ';
        AppendQualifiedName(out, attribute->ns, attribute->name);
        out += "=\"";
        AppendAttributeValue(out, attribute);
        out += '"';
    }
    out += selfClosing ? "/>" : ">";
}

void AppendEndTag(QByteArray& out, const xmlNode* element) {
    out += "</";
    AppendQualifiedName(out, element->ns, element->name);
    out += '>';
}

bool IsHtmlVoidElement(const xmlNode* element) {
    static const QByteArrayView kVoidElements[] = {"area",  "base",   "br",    "col",  "embed",
                                                   "hr",    "img",    "input", "link", "meta",
                                                   "param", "source", "track", "wbr"};
    const QByteArray name = Text(element->name).toByteArray().toLower();
    for (const QByteArrayView voidName : kVoidElements) {
        if (name == voidName)
            return true;
    }
    return false;
}

// Everything but an element with children: those are opened and closed by the walk.
void AppendLeafMarkup(QByteArray& out, const xmlNode* node, EmptyElementStyle style) {
    switch (node->type) {
    case XML_ELEMENT_NODE:
        if (style == EmptyElementStyle::SelfClosing || IsHtmlVoidElement(node)) {
            AppendStartTag(out, node, true);
        } else {
            AppendStartTag(out, node, false);
            AppendEndTag(out, node);
        }
        break;
    case XML_TEXT_NODE:
        AppendEscapedText(out, Text(node->content));
        break;
    case XML_CDATA_SECTION_NODE: {
        // A CDATA section cannot hold its own terminator; split it where one occurs.
        QByteArray content = Text(node->content).toByteArray();
        content.replace("]]>", "]]]]><![CDATA[>");
        out += "<![CDATA[" + content + "]]>";
        break;
    }
    case XML_COMMENT_NODE:
        out += "<!--" + Text(node->content).toByteArray() + "-->";
        break;
    case XML_PI_NODE:
        out += "<?" + Text(node->name).toByteArray();
        if (node->content && *node->content)
            out += ' ' + Text(node->content).toByteArray();
        out += "?>";
        break;
    case XML_ENTITY_REF_NODE:
        out += '&' + Text(node->name).toByteArray() + ';';
        break;
    default:
        break;
    }
}

bool IsBlankText(const xmlNode* node) {
    if (node->type != XML_TEXT_NODE)
        return false;
    for (const char c : Text(node->content)) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return false;
    }
    return true;
}

// An element laid out with its children on lines of their own: it has child elements
// and nothing else but comments and whitespace between them.
bool HasElementLayout(const xmlNode* element) {
    bool hasElement = false;
    for (const xmlNode* child = element->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            hasElement = true;
        else if (child->type != XML_COMMENT_NODE && !IsBlankText(child))
            return false;
    }
    return hasElement;
}

const xmlNode* SkipBlanks(const xmlNode* node) {
    while (node && IsBlankText(node))
        node = node->next;
    return node;
}

} // namespace

void AppendNodeMarkup(QByteArray& out, const xmlNode* node, EmptyElementStyle style) {
    if (!node)
        return;
    // Iterative: the depth of a tree is not ours to trust.
    const xmlNode* current = node;
    for (;;) {
        if (current->type == XML_ELEMENT_NODE && current->children) {
            AppendStartTag(out, current, false);
            current = current->children;
            continue;
        }
        AppendLeafMarkup(out, current, style);
        for (;;) {
            if (current == node)
                return;
            if (current->next) {
                current = current->next;
                break;
            }
            current = current->parent;
            AppendEndTag(out, current);
        }
    }
}

QString TNodeFormatter::NodeXml(const xmlNode* node) {
    QByteArray markup;
    AppendNodeMarkup(markup, node, EmptyElementStyle::HtmlFriendly);
    return QString::fromUtf8(markup);
}

void TXmlFormatter::BeforeWrite(Piece piece, QByteArray& out) {
    if (piece == Piece::EndTag)
        --Depth;
    out.append(qsizetype(qMax(Depth, 0)) * 4, ' ');
}

void TXmlFormatter::AfterWrite(Piece piece, QByteArray& out) {
    if (piece == Piece::StartTag)
        ++Depth;
    out += '\n';
}

QByteArray TXmlFormatter::WriteDocument(const xmlDoc* document) {
    Depth = 0;
    QByteArray out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    if (!document)
        return out;
    for (const xmlNode* top = document->children; top; top = top->next) {
        if (top->type != XML_ELEMENT_NODE && top->type != XML_COMMENT_NODE &&
            top->type != XML_PI_NODE)
            continue;
        const xmlNode* current = top;
        for (;;) {
            if (current->type == XML_ELEMENT_NODE && HasElementLayout(current)) {
                BeforeWrite(Piece::StartTag, out);
                AppendStartTag(out, current, false);
                AfterWrite(Piece::StartTag, out);
                current = SkipBlanks(current->children);
                continue;
            }
            BeforeWrite(Piece::Other, out);
            AppendNodeMarkup(out, current, EmptyElementStyle::SelfClosing);
            AfterWrite(Piece::Other, out);
            for (;;) {
                if (current == top)
                    break;
                if (const xmlNode* next = SkipBlanks(current->next)) {
                    current = next;
                    break;
                }
                current = current->parent;
                BeforeWrite(Piece::EndTag, out);
                AppendEndTag(out, current);
                AfterWrite(Piece::EndTag, out);
            }
            if (current == top)
                break;
        }
    }
    return out;
}

void TXmlFormatter::WriteDocument(const xmlDoc* document, QIODevice& stream) {
    const QByteArray bytes = WriteDocument(document);
    if (stream.write(bytes) != bytes.size())
        throw Exception(QStringLiteral("Cannot write the document: %1").arg(stream.errorString()));
}
