#include "feeds/AtomFormatter.h"

#include "feeds/AtomElements.h"
#include "feeds/HTMLUtils.h"
#include "feeds/ISOLanguages.h"
#include "feeds/InternetDateTime.h"
#include "feeds/NodeNames.h"

using NodeNames::IsLower;

namespace {

std::unique_ptr<TFeedFormatter> CreateAtomFormatter() {
    return std::make_unique<TAtomFormatter>();
}

bool IsBlank(const QString& text) {
    return text.trimmed().isEmpty();
}

// The text of an Atom 0.3 content construct. Its "mode" says how the text is carried:
// "xml" (the default) as the document's own markup, "escaped" as text, "base64" encoded.
QString ConstructText(const xmlNode* element) {
    if (Atom::EqualsIgnoringCase(Atom::AttributeValue(element, "mode"), "base64")) {
        const QByteArray encoded = TXmlHost::NodeText(element).toLatin1();
        return TrimControls(QString::fromUtf8(QByteArray::fromBase64(encoded)));
    }
    return TXmlHost::NodeText(element);
}

// An entry's content or summary by its MIME type, "text/plain" when it has none.
Atom::TAtomText ReadContent(const xmlNode* element) {
    const QByteArray type = Atom::AttributeValue(element, "type");
    if (Atom::EqualsIgnoringCase(type, "text/html") ||
        Atom::EqualsIgnoringCase(type, "application/xhtml+xml") ||
        Atom::EqualsIgnoringCase(type, "application/xhtml"))
        return {Atom::TTextType::Html, ConstructText(element)};
    if (type.isEmpty() || Atom::EqualsIgnoringCase(type, "text/plain"))
        return {Atom::TTextType::Text, ConstructText(element)};
    return {};
}

} // namespace

const TFeedFormatterClass TAtomFormatter::Class{"TAtomFormatter", ".xml", &CreateAtomFormatter};

TAtomFormatter::TAtomFormatter() {
    NamespaceUri = QString::fromLatin1(Atom03Namespace);
}

// --- Reading ---

bool TAtomFormatter::CanRead() {
    const xmlNode* root = Root();
    return IsLower(root, "feed") &&
           TXmlHost::AttributeText(root, "xmlns", QString()) == QLatin1String(Atom03Namespace);
}

void TAtomFormatter::ReadChannel(TChannelInfo& channel) {
    const xmlNode* root = Root();
    channel.Language =
        TISOLanguages::CodeOf(TXmlHost::AttributeText(root, "xml:lang", QStringLiteral("en-US")));

    Atom::TAuthors authors;
    QList<const xmlNode*> alternates;
    const xmlNode* icon = nullptr;
    for (const xmlNode* child = root->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || IsLower(child, "entry"))
            continue;
        if (IsLower(child, "title")) {
            channel.Title = ConstructText(child);
        } else if (IsLower(child, "link")) {
            // Atom 0.3 links always name their relation.
            const QString rel = TXmlHost::AttributeText(child, "rel", QString());
            if (rel == QLatin1String("alternate"))
                alternates.append(child);
            else if (rel == QLatin1String("icon") && !icon)
                icon = child;
            else
                channel.KeepUnresolved(child);
        } else if (IsLower(child, "tagline")) {
            channel.Description = ConstructText(child);
        } else if (IsLower(child, "copyright")) {
            channel.Rights = ConstructText(child);
        } else if (IsLower(child, "author")) {
            authors.Add(Atom::ReadPerson(child, "url"));
        } else if (IsLower(child, "modified")) {
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
    if (icon) {
        channel.ImageUrl = Atom::LinkAddress(icon, true);
        if (TXmlHost::HasAttribute(icon, "title"))
            channel.ImageTitle = TXmlHost::AttributeText(icon, "title", QString());
    }
    if (!authors.IsEmpty())
        channel.Author = authors.Text();
}

void TAtomFormatter::FirstTopic() {
    CurrentTopicNode = nullptr;
    FirstTopicNode = TXmlHost::FindChild(Root(), "entry");
}

bool TAtomFormatter::NextTopic() {
    return FindNextTopicNode("entry");
}

void TAtomFormatter::ReadTopic(FeedDoc::TTopic& topic) {
    if (!CurrentTopicNode)
        throw EFeedTopicsExceeded();
    topic.Date = Now();
    Atom::TEntryReader entry(*this, topic, "domain");
    bool modifiedSeen = false;
    for (const xmlNode* child = CurrentTopicNode->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (IsLower(child, "title")) {
            topic.Title = ConstructText(child);
        } else if (IsLower(child, "link")) {
            // Atom 0.3 links always name their relation.
            entry.ReadLink(child, Atom::AttributeValue(child, "rel") == "alternate");
        } else if (IsLower(child, "content")) {
            entry.Description.SetContent(ReadContent(child).AsHtml());
        } else if (IsLower(child, "summary")) {
            entry.Description.SetSummary(ReadContent(child).AsHtml());
            topic.KeepUnresolved(child);
        } else if (IsLower(child, "modified")) {
            // The modification date is the topic's date, wherever it stands.
            topic.Date = Atom::ReadDate(child);
            modifiedSeen = true;
        } else if (IsLower(child, "issued") || IsLower(child, "published") ||
                   IsLower(child, "updated")) {
            if (!modifiedSeen)
                topic.Date = Atom::ReadDate(child);
        } else if (IsLower(child, "author")) {
            entry.Authors.Add(Atom::ReadPerson(child, "url"));
        } else {
            entry.ReadOther(child);
        }
    }
    entry.Finish();
}

// --- Writing ---

xmlNode* TAtomFormatter::WriteRoot(TFeed& feed) {
    xmlNode* root = TXmlHost::CreateElement(Document.get(), "feed", NamespaceUri);
    TXmlHost::SetDocumentElement(Document.get(), root);
    TXmlHost::SetAttribute(root, "version", QStringLiteral("0.3"));
    // "xml:lang", where the reader looks for it.
    TXmlHost::SetAttribute(root, "xml:lang", feed.Channel.Language);
    return root;
}

xmlNode* TAtomFormatter::WriteChannel(xmlNode* root, TChannelInfo& channel) {
    xmlDoc* document = Document.get();
    AppendTextElement(root, "title", channel.Title);
    AppendTextElement(root, "tagline", channel.Description);
    Atom::AppendLink(document, root, NamespaceUri, QStringLiteral("alternate"),
                     QStringLiteral("text/html"), channel.Link);
    if (!IsBlank(channel.Author))
        Atom::AppendAuthor(document, root, NamespaceUri, channel.Author);
    if (!IsBlank(channel.Rights))
        AppendTextElement(root, "copyright", channel.Rights);
    AppendTextElement(root, "modified", QString::fromLatin1(FormatW3CDateTime(channel.Date)));
    if (!IsBlank(channel.ImageUrl)) {
        xmlNode* icon = Atom::AppendLink(document, root, NamespaceUri, QStringLiteral("icon"),
                                         QStringLiteral("image/*"), channel.ImageUrl);
        if (!channel.ImageTitle.isEmpty())
            TXmlHost::SetAttribute(icon, "title", channel.ImageTitle);
    }
    return root;
}

xmlNode* TAtomFormatter::WriteTopic(xmlNode* channelNode, FeedDoc::TTopic& topic) {
    xmlDoc* document = Document.get();
    xmlNode* entry = AppendElement(channelNode, "entry");
    AppendTextElement(entry, "title", topic.Title);
    xmlNode* content = AppendTextElement(entry, "content", topic.Description);
    TXmlHost::SetAttribute(content, "type", QStringLiteral("text/html"));
    TXmlHost::SetAttribute(content, "mode", QStringLiteral("escaped"));
    TXmlHost::SetAttribute(content, "base", topic.Link);
    Atom::AppendLink(document, entry, NamespaceUri, QStringLiteral("alternate"),
                     QStringLiteral("text/html"), topic.Link);
    Atom::AppendAuthor(document, entry, NamespaceUri, topic.Author);
    const QString date = QString::fromLatin1(FormatW3CDateTime(topic.Date));
    AppendTextElement(entry, "modified", date);
    AppendTextElement(entry, "issued", date);
    AppendTextElement(entry, "id", TrimControls(QString::fromUtf8(topic.Id)));
    Atom::AppendEnclosureLink(document, entry, NamespaceUri, topic.Enclosure);
    // The reader takes categories from Atom 0.3 entries, so they are written too.
    for (const auto& category : topic.Categories) {
        xmlNode* element = AppendElement(entry, "category");
        TXmlHost::SetAttribute(element, "term", category->Name);
        if (!category->Domain.isEmpty())
            TXmlHost::SetAttribute(element, "domain", category->Domain);
    }
    return entry;
}
