#include "feeds/Formatters.h"

#include "feeds/Atom10Formatter.h"
#include "feeds/AtomFormatter.h"
#include "feeds/NodeNames.h"
#include "feeds/RSSFormatter.h"
#include "shell/Clock.h"

#include <QBuffer>
#include <QIODevice>
#include <utility>

// --- The formatter list ---

const QList<const TFeedFormatterClass*>& FeedFormatterClasses() {
    // The order is the order of trying: an RSS document is recognised by its root alone,
    // the Atom versions by the root's namespace. A new format adds its class here.
    static const QList<const TFeedFormatterClass*> classes{
        &TRSSFormatter::Class,
        &TAtom10Formatter::Class,
        &TAtomFormatter::Class,
    };
    return classes;
}

const TFeedFormatterClass* FindFeedFormatterClass(QByteArrayView className) {
    for (const TFeedFormatterClass* formatterClass : FeedFormatterClasses()) {
        if (className == formatterClass->ClassName)
            return formatterClass;
    }
    return nullptr;
}

// --- The formatter ---

TFeedFormatter::TFeedFormatter() = default;

TFeedFormatter::~TFeedFormatter() = default;

void TFeedFormatter::ReadMediaElement(const xmlNode* node, FeedDoc::TTopic& topic) {
    if (NodeNames::Is(node, "media:content")) {
        auto content = std::make_unique<TEnclosure>();
        content->SourceFormat = FormatName();
        content->Read(node);
        topic.MediaItems.push_back(std::move(content));
    } else if (NodeNames::Is(node, "media:group")) {
        auto group = std::make_unique<TMediaGroup>();
        group->SourceFormat = FormatName();
        group->Read(node);
        topic.MediaItems.push_back(std::move(group));
    } else {
        topic.MediaInformation.Read(node);
    }
}

bool TFeedFormatter::FindNextTopicNode(QByteArrayView lowerName) {
    if (!CurrentTopicNode && FirstTopicNode) {
        CurrentTopicNode = FirstTopicNode;
        return true;
    }
    if (!CurrentTopicNode)
        return false;
    for (xmlNode* node = CurrentTopicNode->next; node; node = node->next) {
        if (NodeNames::IsLower(node, lowerName)) {
            CurrentTopicNode = node;
            return true;
        }
    }
    return false;
}

void TFeedFormatter::LoadFromStream(QIODevice& stream, TFeed* feed) {
    LoadFromBytes(stream.readAll(), feed);
}

void TFeedFormatter::LoadFromBytes(QByteArrayView bytes, TFeed* feed) {
    try {
        Document = TXmlHost::LoadDocument(bytes);
    } catch (const EInvalidXmlDocument&) {
        Document.reset();
        throw;
    } catch (const std::exception& e) {
        Document.reset();
        throw EInvalidXmlDocument(QString::fromUtf8(e.what()));
    }
    ReadDocument(feed);
}

void TFeedFormatter::ReadDocument(TFeed* feed) {
    if (!Document || !Root() || !CanRead())
        throw EFeedIsNotSupported();
    const QByteArray formatName = FormatName();

    if (feed) {
        for (const XmlAttribute& attribute : TXmlHost::Attributes(Root())) {
            if (!attribute.Name.contains("xmlns:"))
                continue;
            feed->Namespaces.SetItem(attribute.Name, attribute.Value.toUtf8());
            if (attribute.Name == "xmlns:media")
                feed->HasMediaNamespace = true;
            else if (attribute.Name == "xmlns:itunes")
                feed->HasITunesNamespace = true;
        }
    }

    std::unique_ptr<TChannelInfo> scratchChannel;
    TChannelInfo* channel = feed ? &feed->Channel : nullptr;
    if (!channel) {
        scratchChannel = std::make_unique<TChannelInfo>();
        channel = scratchChannel.get();
    }
    channel->SourceFormat = formatName;
    ReadChannel(*channel);

    // Without a feed one topic is read over and over: the document is only checked.
    std::unique_ptr<FeedDoc::TTopic> scratchTopic;
    // A topic's elements are not needed once it is read, so each is freed as soon as
    // the walk has moved past it: the memory goes straight to the topics being built,
    // and a large feed never needs its document and its model in full at once.
    const auto release = [](xmlNode* node) {
        if (node) {
            xmlUnlinkNode(node);
            xmlFreeNode(node);
        }
    };
    xmlNode* readNode = nullptr;
    FirstTopic();
    while (NextTopic()) {
        release(std::exchange(readNode, nullptr));
        FeedDoc::TTopic* topic = nullptr;
        if (feed) {
            topic = feed->AddTopic();
        } else {
            if (!scratchTopic)
                scratchTopic = std::make_unique<FeedDoc::TTopic>();
            topic = scratchTopic.get();
        }
        topic->SourceFormat = formatName;
        ReadTopic(*topic);
        if (feed) {
            if (topic->Author.isEmpty())
                topic->Author = feed->Channel.Author;
            if (topic->Title.isEmpty())
                topic->Title = feed->Channel.Title;
        }
        readNode = CurrentTopicNode;
    }
    release(readNode);
    FirstTopicNode = nullptr;
    CurrentTopicNode = nullptr;
}

// --- Writing ---

namespace {

bool HasMediaContent(const TFeed& feed) {
    for (const auto& topic : feed.Topics) {
        if (!topic->MediaItems.empty() || !topic->MediaInformation.IsEmpty())
            return true;
    }
    return false;
}

bool HasITunesContent(const TFeed& feed) {
    if (!feed.Channel.ITunes.IsEmpty() || !feed.Channel.ITunesFeed.IsEmpty())
        return true;
    for (const auto& topic : feed.Topics) {
        if (!topic->ITunes.IsEmpty() || !topic->ITunesTopic.IsEmpty())
            return true;
    }
    return false;
}

void SetOrRemove(TStringHash& table, const QByteArray& key, bool set, const char* value) {
    if (set)
        table.SetItem(key, value);
    else if (table.Exists(key))
        table.Delete(key);
}

// The prefixes a document may not declare, or not as an ordinary prefix.
bool IsDeclarablePrefix(QByteArrayView prefix) {
    return !prefix.isEmpty() && prefix != "xml" && prefix != "xmlns";
}

// The namespace a prefix usually stands for, for feeds that use it without declaring it.
QByteArray UsualNamespace(QByteArrayView prefix) {
    static const struct {
        const char* prefix;
        const char* name;
    } usual[] = {{"content", ContentNamespace},
                 {"dc", DublinCoreNamespace},
                 {"atom", Atom10Namespace},
                 {"media", MediaRssNamespace},
                 {"itunes", ITunesNamespace},
                 {"slash", "http://purl.org/rss/1.0/modules/slash/"},
                 {"wfw", "http://wellformedweb.org/CommentAPI/"},
                 {"sy", "http://purl.org/rss/1.0/modules/syndication/"},
                 {"georss", "http://www.georss.org/georss"},
                 {"geo", "http://www.w3.org/2003/01/geo/wgs84_pos#"},
                 {"feedburner", "http://rssnamespace.org/feedburner/ext/1.0"}};
    for (const auto& entry : usual) {
        if (prefix == entry.prefix)
            return entry.name;
    }
    return QByteArray(QuillmarNamespace) + "undeclared/" + prefix.toByteArray();
}

// An element or attribute read with a prefix its feed never declared keeps
// "prefix:name" as its name and is written back so. Declaring each such prefix on the
// root keeps the written feed readable for namespace-aware readers, and reading it again
// gives the same names.
void DeclareUndeclaredPrefixes(xmlDoc* document, xmlNode* root) {
    const auto declare = [&](xmlNode* scope, const xmlChar* name) {
        const QByteArrayView text = NodeNames::View(name);
        const qsizetype colon = text.indexOf(':');
        if (colon <= 0)
            return;
        const QByteArray prefix = text.first(colon).toByteArray();
        if (!IsDeclarablePrefix(prefix) ||
            xmlSearchNs(document, scope, reinterpret_cast<const xmlChar*>(prefix.constData())))
            return;
        TXmlHost::DeclareNamespace(root, prefix, QString::fromUtf8(UsualNamespace(prefix)));
    };
    // Depth first without recursion: kept elements nest as deeply as their feed did.
    for (xmlNode* node = root; node;) {
        if (node->type == XML_ELEMENT_NODE) {
            if (!node->ns)
                declare(node, node->name);
            for (xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
                if (!attribute->ns)
                    declare(node, attribute->name);
            }
            if (node->children) {
                node = node->children;
                continue;
            }
        }
        while (node && node != root && !node->next)
            node = node->parent;
        node = node && node != root ? node->next : nullptr;
    }
}

} // namespace

void TFeedFormatter::SaveToStream(QIODevice& stream, TFeed& feed, int maxTopics) {
    // The media and iTunes elements are written when the feed declared their namespace,
    // and also when it holds them without having declared it on the root (a publisher
    // may declare it lower down): what was read is never dropped on the way out.
    const bool writeMedia = feed.HasMediaNamespace || HasMediaContent(feed);
    const bool writeITunes = feed.HasITunesNamespace || HasITunesContent(feed);
    feed.Namespaces.SetItem("xmlns:dc", DublinCoreNamespace);
    SetOrRemove(feed.Namespaces, "xmlns:media", writeMedia, MediaRssNamespace);
    SetOrRemove(feed.Namespaces, "xmlns:itunes", writeITunes, ITunesNamespace);

    Document = TXmlHost::CreateDocument();
    FirstTopicNode = nullptr;
    CurrentTopicNode = nullptr;
    const QByteArray formatName = FormatName();

    xmlNode* root = WriteRoot(feed);
    feed.Namespaces.Restart();
    while (feed.Namespaces.Next()) {
        const QByteArray key = feed.Namespaces.CurrentKey();
        const qsizetype colon = key.indexOf(':');
        const QByteArray prefix = colon < 0 ? key : key.mid(colon + 1);
        const QByteArray name = feed.Namespaces.Items(key);
        if (IsDeclarablePrefix(prefix) && !name.isEmpty())
            TXmlHost::DeclareNamespace(root, prefix, QString::fromUtf8(name));
    }

    xmlNode* channelNode = WriteChannel(root, feed.Channel);
    if (writeITunes) {
        feed.Channel.ITunes.Write(Document.get(), channelNode, formatName);
        feed.Channel.ITunesFeed.Write(Document.get(), channelNode, formatName);
    }
    feed.Channel.WriteUnresolved(channelNode, formatName);

    const qsizetype available = qsizetype(feed.Topics.size());
    const qsizetype count = maxTopics == 0  ? available
                            : maxTopics < 0 ? 0
                                            : qMin(available, qsizetype(maxTopics));
    for (qsizetype i = 0; i < count; ++i) {
        FeedDoc::TTopic& topic = *feed.Topics[size_t(i)];
        xmlNode* topicNode = WriteTopic(channelNode, topic);
        if (writeMedia) {
            for (const auto& item : topic.MediaItems)
                item->Write(Document.get(), topicNode, formatName);
            topic.MediaInformation.Write(Document.get(), topicNode, formatName);
        }
        if (writeITunes) {
            topic.ITunes.Write(Document.get(), topicNode, formatName);
            topic.ITunesTopic.Write(Document.get(), topicNode, formatName);
        }
        topic.WriteUnresolved(topicNode, formatName);
    }
    DeclareUndeclaredPrefixes(Document.get(), root);

    const QByteArray bytes = TXmlHost::SaveDocument(Document.get());
    if (stream.write(bytes) != bytes.size())
        throw Exception(QStringLiteral("Cannot write the feed: %1").arg(stream.errorString()));
}

QByteArray TFeedFormatter::SaveToBytes(TFeed& feed, int maxTopics) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    SaveToStream(buffer, feed, maxTopics);
    return bytes;
}

double TFeedFormatter::Now() {
    if (!m_nowKnown) {
        m_now = NowLocal();
        m_nowKnown = true;
    }
    return m_now;
}

xmlNode* TFeedFormatter::AppendElement(xmlNode* parent, QByteArrayView name) {
    return TXmlHost::AppendChild(parent,
                                 TXmlHost::CreateElement(Document.get(), name, NamespaceUri));
}

xmlNode* TFeedFormatter::AppendTextElement(xmlNode* parent, QByteArrayView name,
                                           const QString& text) {
    return TXmlHost::AppendChild(
        parent, TXmlHost::CreateTextElement(Document.get(), name, text, NamespaceUri));
}
