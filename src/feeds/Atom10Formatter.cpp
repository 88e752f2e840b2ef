#include "feeds/Atom10Formatter.h"

#include "feeds/AtomElements.h"
#include "feeds/HTMLUtils.h"
#include "feeds/ISOLanguages.h"
#include "feeds/InternetDateTime.h"
#include "feeds/NodeNames.h"

using NodeNames::IsLower;

namespace {

std::unique_ptr<TFeedFormatter> CreateAtom10Formatter() {
    return std::make_unique<TAtom10Formatter>();
}

bool IsBlank(const QString& text) {
    return text.trimmed().isEmpty();
}

// An entry's link to its article: rel "alternate" (or none) of no type or "text/html".
bool IsEntryAlternate(const xmlNode* link) {
    const QByteArray rel = Atom::AttributeValue(link, "rel");
    const QByteArray type = Atom::AttributeValue(link, "type");
    return (rel.isEmpty() || rel == "alternate") &&
           (type.isEmpty() || Atom::EqualsIgnoringCase(type, "text/html"));
}

} // namespace

const TFeedFormatterClass TAtom10Formatter::Class{"TAtom10Formatter", ".atom",
                                                  &CreateAtom10Formatter};

TAtom10Formatter::TAtom10Formatter() {
    NamespaceUri = QString::fromLatin1(Atom10Namespace);
}

// --- Reading ---

bool TAtom10Formatter::CanRead() {
    const xmlNode* root = Root();
    return IsLower(root, "feed") &&
           TXmlHost::AttributeText(root, "xmlns", QString()) == QLatin1String(Atom10Namespace);
}

void TAtom10Formatter::ReadChannel(TChannelInfo& channel) {
    const xmlNode* root = Root();
    QString language = TXmlHost::AttributeText(root, "xml:lang", QString());
    if (!TXmlHost::HasAttribute(root, "xml:lang"))
        language = TXmlHost::AttributeText(root, "lang", QStringLiteral("en-US"));
    channel.Language = TISOLanguages::CodeOf(language);

    Atom::TAuthors authors;
    // A channel may link to its page in several renderings (an HTML page, the same feed
    // in RSS); the alternate links are chosen from once all are known, and the links not
    // taken are kept for writing.
    QList<const xmlNode*> alternates;
    const xmlNode* self = nullptr;
    for (const xmlNode* child = root->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || IsLower(child, "entry"))
            continue;
        if (IsLower(child, "title")) {
            channel.Title = Atom::ReadTextConstruct(child).Text;
        } else if (IsLower(child, "link")) {
            const QByteArray rel = Atom::AttributeValue(child, "rel");
            if (rel.isEmpty() || rel == "alternate")
                alternates.append(child);
            else if (rel == "self" && !self)
                self = child;
            else
                channel.KeepUnresolved(child);
        } else if (IsLower(child, "subtitle")) {
            channel.Description = Atom::ReadTextConstruct(child).Text;
        } else if (IsLower(child, "rights")) {
            channel.Rights = Atom::ReadTextConstruct(child).Text;
        } else if (IsLower(child, "logo")) {
            channel.ImageUrl = Atom::ResolvedAddress(child, TXmlHost::NodeText(child));
        } else if (IsLower(child, "author")) {
            authors.Add(Atom::ReadPerson(child, "uri"));
        } else if (IsLower(child, "id")) {
            channel.Id = TXmlHost::NodeText(child).toUtf8();
        } else if (IsLower(child, "updated")) {
            channel.Date = Atom::ReadDate(child);
        } else if (TiTunesRSS::IsCommonElement(child)) {
            channel.ITunes.Read(child);
        } else if (TiTunesRSS::IsChannelElement(child)) {
            channel.ITunesFeed.Read(child);
        } else {
            channel.KeepUnresolved(child);
        }
    }

    const xmlNode* page = Atom::ChoosePageLink(alternates);
    for (const xmlNode* link : alternates) {
        if (link != page)
            channel.KeepUnresolved(link);
    }
    if (page)
        channel.Link = Atom::LinkAddress(page, true);
    if (self)
        channel.SelfLink = Atom::LinkAddress(self, true);
    if (!authors.IsEmpty())
        channel.Author = authors.Text();
}

void TAtom10Formatter::FirstTopic() {
    CurrentTopicNode = nullptr;
    FirstTopicNode = TXmlHost::FindChild(Root(), "entry");
}

bool TAtom10Formatter::NextTopic() {
    return FindNextTopicNode("entry");
}

void TAtom10Formatter::ReadTopic(FeedDoc::TTopic& topic) {
    if (!CurrentTopicNode)
        throw EFeedTopicsExceeded();
    topic.Date = Now();
    Atom::TEntryReader entry(*this, topic, "scheme");
    for (const xmlNode* child = CurrentTopicNode->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (IsLower(child, "title")) {
            topic.Title = Atom::ReadTextConstruct(child).Text;
        } else if (IsLower(child, "link")) {
            entry.ReadLink(child, IsEntryAlternate(child));
        } else if (IsLower(child, "content")) {
            // Content published elsewhere ("src") has no text here; the summary stands
            // for it.
            if (!Atom::FindAttribute(child, "src"))
                entry.Description.SetContent(Atom::ReadTextConstruct(child).AsHtml());
        } else if (IsLower(child, "summary")) {
            entry.Description.SetSummary(Atom::ReadTextConstruct(child).AsHtml());
            topic.KeepUnresolved(child);
        } else if (IsLower(child, "published") || IsLower(child, "updated")) {
            topic.Date = Atom::ReadDate(child);
        } else if (IsLower(child, "author")) {
            entry.Authors.Add(Atom::ReadPerson(child, "uri"));
        } else {
            entry.ReadOther(child);
        }
    }
    entry.Finish();
}

// --- Writing ---

xmlNode* TAtom10Formatter::WriteRoot(TFeed& feed) {
    xmlNode* root = TXmlHost::CreateElement(Document.get(), "feed", NamespaceUri);
    TXmlHost::SetDocumentElement(Document.get(), root);
    // Where the reader looks for the language, or a written feed would come back in
    // English.
    if (!feed.Channel.Language.isEmpty())
        TXmlHost::SetAttribute(root, "xml:lang", feed.Channel.Language);
    return root;
}

xmlNode* TAtom10Formatter::WriteChannel(xmlNode* root, TChannelInfo& channel) {
    xmlDoc* document = Document.get();
    AppendTextElement(root, "title", channel.Title);
    AppendTextElement(root, "subtitle", channel.Description);
    Atom::AppendLink(document, root, NamespaceUri, QStringLiteral("alternate"), {}, channel.Link);
    Atom::AppendLink(document, root, NamespaceUri, QStringLiteral("self"), {}, channel.SelfLink);
    if (!IsBlank(channel.Author))
        Atom::AppendAuthor(document, root, NamespaceUri, channel.Author);
    if (!IsBlank(channel.Rights))
        AppendTextElement(root, "rights", channel.Rights);
    AppendTextElement(root, "updated", QString::fromLatin1(FormatW3CDateTime(channel.Date)));
    if (!IsBlank(channel.ImageUrl))
        AppendTextElement(root, "logo", channel.ImageUrl);
    AppendTextElement(root, "id", QString::fromUtf8(channel.Id));
    return root;
}

xmlNode* TAtom10Formatter::WriteTopic(xmlNode* channelNode, FeedDoc::TTopic& topic) {
    xmlDoc* document = Document.get();
    xmlNode* entry = AppendElement(channelNode, "entry");
    AppendTextElement(entry, "title", topic.Title);
    xmlNode* content = AppendTextElement(entry, "content", topic.Description);
    TXmlHost::SetAttribute(content, "type", QStringLiteral("html"));
    Atom::AppendLink(document, entry, NamespaceUri, QStringLiteral("alternate"), {}, topic.Link);
    Atom::AppendAuthor(document, entry, NamespaceUri, topic.Author);
    AppendTextElement(entry, "updated", QString::fromLatin1(FormatW3CDateTime(topic.Date)));
    AppendTextElement(entry, "id", TrimControls(QString::fromUtf8(topic.Id)));
    for (const auto& category : topic.Categories) {
        xmlNode* element = AppendElement(entry, "category");
        TXmlHost::SetAttribute(element, "term", category->Name);
        if (!category->Domain.isEmpty())
            TXmlHost::SetAttribute(element, "scheme", category->Domain);
    }
    Atom::AppendEnclosureLink(document, entry, NamespaceUri, topic.Enclosure);
    return entry;
}
