#include "feeds/RSSFormatter.h"

#include "feeds/HTMLUtils.h"
#include "feeds/ISOLanguages.h"
#include "feeds/InternetDateTime.h"
#include "feeds/NodeNames.h"

using NodeNames::Is;
using NodeNames::IsLower;

namespace {

std::unique_ptr<TFeedFormatter> CreateRssFormatter() {
    return std::make_unique<TRSSFormatter>();
}

QString Text(const xmlNode* node) {
    return TXmlHost::NodeText(node);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Without characters of code 32 or below at either end, as element texts are read.
QByteArrayView TrimmedText(QByteArrayView text) {
    while (!text.isEmpty() && static_cast<unsigned char>(text.front()) <= 32)
        text = text.sliced(1);
    while (!text.isEmpty() && static_cast<unsigned char>(text.back()) <= 32)
        text.chop(1);
    return text;
}

// "2024-03-01...", "2024-03", "2024": the W3C profile of ISO 8601, which no RFC 822
// date resembles (those start with a day name or a day number of at most two digits).
bool LooksLikeW3CDate(QByteArrayView text) {
    return text.size() >= 4 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]) &&
           IsDigit(text[3]) && (text.size() == 4 || text[4] == '-');
}

// Dates of "pubDate" and "lastBuildDate" are RFC 822 by the format's rules, those of
// "dc:date" W3C; publishers mix them up often enough that established readers take
// either form in either place, and so does this reader.
double ReadDate(const xmlNode* node) {
    // A date is one piece of text nearly always; it is handed to the parser as the
    // document has it, without a trip to UTF-16 and back.
    const xmlNode* only = node->children;
    QByteArray converted;
    QByteArrayView text;
    if (only && !only->next &&
        (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE)) {
        text = NodeNames::View(only->content);
    } else {
        converted = Text(node).toUtf8();
        text = converted;
    }
    text = TrimmedText(text);
    return LooksLikeW3CDate(text) ? ParseW3CDateTime(text) : ParseRfc822DateTime(text);
}

} // namespace

const TFeedFormatterClass TRSSFormatter::Class{"TRSSFormatter", ".rss", &CreateRssFormatter};

QByteArray TRSSFormatter::FormatName() const {
    // Shared, not built anew for each of the parts that remember it.
    static const QByteArray name("RSS");
    return name;
}

// --- Reading ---

bool TRSSFormatter::CanRead() {
    const xmlNode* root = Root();
    if (IsLower(root, "rdf:rdf"))
        return TXmlHost::AttributeText(root, "xmlns", QString()) == QLatin1String(Rss10Namespace);
    return IsLower(root, "rss");
}

bool TRSSFormatter::IsRdf() const {
    return IsLower(Root(), "rdf:rdf");
}

void TRSSFormatter::ReadChannel(TChannelInfo& channel) {
    const xmlNode* channelNode = TXmlHost::FindChild(Root(), "channel");
    if (!channelNode)
        throw EFeedIsNotSupported();
    const bool rdf = IsRdf();
    for (const xmlNode* child = channelNode->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || IsLower(child, "item"))
            continue;
        if (IsLower(child, "quillmar:self")) {
            channel.SelfLink = Text(child);
        } else if (IsLower(child, "title")) {
            channel.Title = Text(child);
        } else if (IsLower(child, "link")) {
            channel.Link = Text(child);
        } else if (IsLower(child, "description")) {
            channel.Description = Text(child);
        } else if (IsLower(child, "copyright")) {
            channel.Rights = Text(child);
        } else if (IsLower(child, "language") || IsLower(child, "dc:language")) {
            channel.Language = TISOLanguages::CodeOf(Text(child));
        } else if (IsLower(child, "webmaster") || IsLower(child, "dc:creator")) {
            channel.Author = Text(child);
        } else if (IsLower(child, "pubdate") || IsLower(child, "lastbuilddate")) {
            channel.Date = ReadDate(child);
        } else if (!rdf && IsLower(child, "image")) {
            ReadImage(child, channel);
        } else if (TiTunesRSS::IsCommonElement(child)) {
            channel.ITunes.Read(child);
        } else if (TiTunesRSS::IsChannelElement(child)) {
            channel.ITunesFeed.Read(child);
        } else if (rdf && (IsLower(child, "items") || IsLower(child, "textinput"))) {
            channel.KeepUnresolved(child);
        }
        // Anything else in an RSS channel (generator, ttl, docs, ...) is dropped.
    }
    if (rdf) {
        if (const xmlNode* image = TXmlHost::FindChild(Root(), "image"))
            ReadImage(image, channel);
    }
}

void TRSSFormatter::ReadImage(const xmlNode* image, TChannelInfo& channel) {
    for (const xmlNode* child = image->children; child; child = child->next) {
        if (IsLower(child, "title"))
            channel.ImageTitle = Text(child);
        else if (IsLower(child, "link"))
            channel.ImageLink = Text(child);
        else if (IsLower(child, "url"))
            channel.ImageUrl = DecodeHtmlEntities(Text(child));
    }
}

void TRSSFormatter::FirstTopic() {
    CurrentTopicNode = nullptr;
    if (IsRdf()) {
        FirstTopicNode = TXmlHost::FindChild(Root(), "item");
        return;
    }
    const xmlNode* channelNode = TXmlHost::FindChild(Root(), "channel");
    if (!channelNode)
        throw EFeedIsNotSupported();
    FirstTopicNode = TXmlHost::FindChild(channelNode, "item");
}

bool TRSSFormatter::NextTopic() {
    return FindNextTopicNode("item");
}

void TRSSFormatter::ReadTopic(FeedDoc::TTopic& topic) {
    if (!CurrentTopicNode)
        throw EFeedTopicsExceeded();
    topic.Date = Now();
    bool fullContentSeen = false;
    for (const xmlNode* child = CurrentTopicNode->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (IsLower(child, "title")) {
            topic.Title = Text(child);
        } else if (IsLower(child, "link")) {
            topic.Link = Text(child);
        } else if (IsLower(child, "content:encoded")) {
            topic.Description = Text(child);
            fullContentSeen = true;
        } else if (IsLower(child, "description")) {
            if (!fullContentSeen)
                topic.Description = Text(child);
        } else if (IsLower(child, "pubdate")) {
            topic.Date = ReadDate(child);
        } else if (IsLower(child, "dc:date")) {
            topic.Date = ReadDate(child);
        } else if (IsLower(child, "author") || IsLower(child, "dc:creator")) {
            topic.Author = Text(child);
        } else if (IsLower(child, "guid")) {
            topic.Id = Text(child).toUtf8();
        } else if (IsLower(child, "category")) {
            topic.AddCategory(Text(child),
                              TXmlHost::AttributeText(child, "domain", QString()).trimmed());
        } else if (TiTunesRSS::IsCommonElement(child)) {
            topic.ITunes.Read(child);
        } else if (TiTunesRSS::IsItemElement(child)) {
            topic.ITunesTopic.Read(child);
        } else if (Is(child, "enclosure")) {
            topic.Enclosure.SourceFormat = topic.SourceFormat;
            topic.Enclosure.Read(child);
        } else if (MediaRSS::IsMediaElement(child)) {
            ReadMediaElement(child, topic);
        } else {
            topic.KeepUnresolved(child);
        }
    }
}

// --- Writing ---

namespace {

bool IsBlank(const QString& text) {
    return text.trimmed().isEmpty();
}

} // namespace

void TRSSFormatter::SaveToStream(QIODevice& stream, TFeed& feed, int maxTopics) {
    feed.Namespaces.SetItem("xmlns:content", ContentNamespace);
    // "quillmar:self" needs its prefix declared like any other, or namespace-aware
    // readers refuse the whole document.
    feed.Namespaces.SetItem("xmlns:quillmar", QuillmarNamespace);
    TFeedFormatter::SaveToStream(stream, feed, maxTopics);
}

xmlNode* TRSSFormatter::WriteRoot(TFeed&) {
    xmlNode* root = TXmlHost::CreateElement(Document.get(), "rss", {});
    TXmlHost::SetDocumentElement(Document.get(), root);
    TXmlHost::SetAttribute(root, "version", QStringLiteral("2.0"));
    return root;
}

xmlNode* TRSSFormatter::WriteChannel(xmlNode* root, TChannelInfo& channel) {
    xmlNode* node = AppendElement(root, "channel");
    AppendTextElement(node, "quillmar:self", channel.SelfLink);
    AppendTextElement(node, "title", channel.Title);
    AppendTextElement(node, "description", channel.Description);
    AppendTextElement(node, "link", channel.Link);
    AppendTextElement(node, "language", channel.Language);
    if (!IsBlank(channel.Author))
        AppendTextElement(node, "dc:creator", channel.Author);
    if (!IsBlank(channel.Rights))
        AppendTextElement(node, "copyright", channel.Rights);
    AppendTextElement(node, "pubDate", QString::fromLatin1(FormatRfc822DateTime(channel.Date)));
    if (!IsBlank(channel.ImageUrl)) {
        xmlNode* image = AppendElement(node, "image");
        AppendTextElement(image, "link", channel.ImageLink);
        AppendTextElement(image, "url", channel.ImageUrl);
        AppendTextElement(image, "title", channel.ImageTitle);
    }
    return node;
}

xmlNode* TRSSFormatter::WriteTopic(xmlNode* channelNode, FeedDoc::TTopic& topic) {
    xmlNode* node = AppendElement(channelNode, "item");
    AppendTextElement(node, "title", topic.Title);
    AppendTextElement(node, "description", topic.Description);
    if (!topic.Link.isEmpty())
        AppendTextElement(node, "link", topic.Link);
    if (!topic.Author.isEmpty())
        AppendTextElement(node, "dc:creator", topic.Author);
    AppendTextElement(node, "pubDate", QString::fromLatin1(FormatRfc822DateTime(topic.Date)));
    const TEnclosure& enclosure = topic.Enclosure;
    if (!enclosure.Url.isEmpty()) {
        xmlNode* element = AppendElement(node, "enclosure");
        TXmlHost::SetAttribute(element, "url", enclosure.Url);
        // A length of 0 is written as such; only an unknown length (-1) is left out, so
        // reading the feed again gives the same length.
        if (enclosure.Length >= 0)
            TXmlHost::SetAttribute(element, "length", QString::number(enclosure.Length));
        if (!enclosure.ContentType.isEmpty())
            TXmlHost::SetAttribute(element, "type", enclosure.ContentType);
    }
    xmlNode* guid = AppendTextElement(node, "guid", TrimControls(QString::fromUtf8(topic.Id)));
    TXmlHost::SetAttribute(guid, "isPermaLink", QStringLiteral("false"));
    for (const auto& category : topic.Categories) {
        xmlNode* element = AppendTextElement(node, "category", category->Name);
        if (!category->Domain.isEmpty())
            TXmlHost::SetAttribute(element, "domain", category->Domain);
    }
    return node;
}
