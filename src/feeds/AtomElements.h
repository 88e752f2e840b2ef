#pragma once
// What the two Atom versions (0.3 in AtomFormatter, 1.0 in Atom10Formatter) share:
// persons, link addresses, enclosure links, dates, the text constructs of Atom 1.0 with
// their XHTML rule, the choice between an entry's content and its summary, and the
// small pieces a written Atom document is made of.

#include "feeds/XDomHost.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class TEnclosure;
class TFeedFormatter;
namespace FeedDoc {
class TTopic;
}

namespace Atom {

// --- Reading ---

// An "author" (or other person) element. Only the name is used; the rest is read so
// that the person is complete.
struct TAtomPerson {
    QByteArray Name;
    QByteArray Uri; // character references decoded
    QByteArray Email;
};

// Reads a person child by child; uriElement is "url" in Atom 0.3, "uri" in Atom 1.0.
TAtomPerson ReadPerson(const xmlNode* person, QByteArrayView uriElement);

// The authors of a channel or an entry. Atom allows several; they read "Ann, Bo", as
// established readers show them, rather than leaving only the last.
class TAuthors {
public:
    void Add(const TAtomPerson& person);
    bool IsEmpty() const { return m_names.isEmpty(); }
    QString Text() const { return m_names.join(QStringLiteral(", ")); }

private:
    QStringList m_names;
};

// How a text is to be taken.
enum class TTextType {
    Text,      // plain text
    Html,      // HTML, as the XML parser gave it (escaped markup stays escaped)
    Xhtml,     // markup taken from the document's own elements
    Unreadable // a type this program cannot show; no text
};

struct TAtomText {
    TTextType Type = TTextType::Unreadable;
    QString Text;

    // The text for a field that pages show as HTML: plain text escaped, so that a "<"
    // in it is shown rather than parsed; HTML and XHTML as they are.
    QString AsHtml() const;
};

// An Atom 1.0 text construct (title, subtitle, rights, summary, content) by its "type"
// attribute, "text" when it has none, as Atom defines. The MIME types publishers put
// there by mistake are taken for what they mean: "text/plain", "text/html" and
// "application/xhtml+xml". Any other type is unreadable.
TAtomText ReadTextConstruct(const xmlNode* element);

// The markup inside the element's XHTML "div": the div's content with the div's own
// prefix taken off the tags, trimmed; empty for an empty or self-closed div. Without a
// div child the whole content of the element is taken.
QString XhtmlContent(const xmlNode* element);

// An entry's description: its content when that gave any text, else its summary
// (feeds that publish only summaries are common).
class TEntryDescription {
public:
    void SetContent(const QString& html) { m_content = html; }
    void SetSummary(const QString& html) { m_summary = html; }
    QString Text() const { return m_content.isEmpty() ? m_summary : m_content; }

private:
    QString m_content;
    QString m_summary;
};

// What both versions do with an entry's children besides the elements each reads its
// own way: the first alternate link is the topic's page and the first readable
// enclosure link its attachment, as established readers take them; the id, categories
// (their scheme in schemeAttribute: "scheme" in 1.0, "domain" in 0.3), Media RSS and
// iTunes elements are read; anything else is kept for writing. Finish puts the
// description and the authors into the topic.
class TEntryReader {
public:
    TEntryReader(TFeedFormatter& formatter, FeedDoc::TTopic& topic, QByteArrayView schemeAttribute);
    void ReadLink(const xmlNode* link, bool alternate);
    void ReadOther(const xmlNode* child);
    void Finish();

    TEntryDescription Description;
    TAuthors Authors;

private:
    TFeedFormatter& m_formatter;
    FeedDoc::TTopic& m_topic;
    QByteArrayView m_schemeAttribute;
    bool m_linkTaken = false;
    bool m_enclosureTaken = false;
};

// The link's "href", trimmed, made absolute against the xml:base in force at the link
// when it is relative. With decodeReferences, character references left in the
// address ("&amp;" escaped twice) are decoded first.
QString LinkAddress(const xmlNode* link, bool decodeReferences);
// An address read from an element's text (the Atom 1.0 "logo"), resolved the same way.
QString ResolvedAddress(const xmlNode* node, const QString& address);
// An attribute without prefix ("rel", "type", "href"), or null when the element has
// none of that name.
const xmlAttr* FindAttribute(const xmlNode* node, QByteArrayView name);
// Its value in UTF-8 with characters of code 32 or below trimmed; empty when missing.
// Read in place when libxml2 holds the value in one piece: a feed asks this several
// times for every entry.
QByteArray AttributeValue(const xmlNode* node, QByteArrayView name);
// The same as text.
QString TrimmedAttribute(const xmlNode* node, QByteArrayView name);
// Whether the value equals lowerText ignoring ASCII letter case ("text/HTML").
bool EqualsIgnoringCase(const QByteArray& value, QByteArrayView lowerText);

// Of a channel's alternate links (in document order), the one to its page: the first of
// no type or an HTML type, else the first. Null when there is none.
const xmlNode* ChoosePageLink(const QList<const xmlNode*>& alternates);

// Fills the enclosure from a link of rel "enclosure": address, type, and the length,
// which is -1 when missing or not a number (a length that is not known must never pass
// for an empty file). False, and nothing changed, when the link has no address.
bool ReadEnclosureLink(const xmlNode* link, TEnclosure& enclosure, QByteArrayView formatName);

// A date element's text: the W3C form Atom prescribes, or, since some publishers write
// RFC 822 dates into Atom, that form too. An unreadable date gives the current time.
double ReadDate(const xmlNode* node);

// --- Writing ---

// Elements are created in the given namespace and appended as the parent's last child.
xmlNode* AppendElement(xmlDoc* document, xmlNode* parent, QByteArrayView name,
                       const QString& namespaceUri);
xmlNode* AppendTextElement(xmlDoc* document, xmlNode* parent, QByteArrayView name,
                           const QString& text, const QString& namespaceUri);
// "link" with "rel", then "type" when given, then "href".
xmlNode* AppendLink(xmlDoc* document, xmlNode* parent, const QString& namespaceUri,
                    const QString& rel, const QString& type, const QString& href);
// "author" with one child "name".
xmlNode* AppendAuthor(xmlDoc* document, xmlNode* parent, const QString& namespaceUri,
                      const QString& name);
// The enclosure link, when the enclosure has an address: rel "enclosure", its type when
// known, and "length" whenever the length is known (0 included, so that it reads back
// the same).
void AppendEnclosureLink(xmlDoc* document, xmlNode* parent, const QString& namespaceUri,
                         const TEnclosure& enclosure);

} // namespace Atom
