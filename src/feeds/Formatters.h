#pragma once
// The formatters: one class per feed format that reads a feed document into the model
// (TFeed) and writes the model back as a document of its format. TFeedFormatter holds
// what every format shares: the reading and writing sequence, the walk over items or
// entries, the namespaces of a written feed. Each format supplies its own file pair
// (RSSFormatter, AtomFormatter, Atom10Formatter) and one entry of the formatter list.

#include "feeds/FeedDoc.h"
#include "feeds/XDomHost.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

class QIODevice;
class TFeedFormatter;

// Namespace names of the formats and modules the formatters read and write.
inline constexpr char Rss10Namespace[] = "http://purl.org/rss/1.0/";
inline constexpr char ContentNamespace[] = "http://purl.org/rss/1.0/modules/content/";
inline constexpr char DublinCoreNamespace[] = "http://purl.org/dc/elements/1.1/";
inline constexpr char Atom03Namespace[] = "http://purl.org/atom/ns#";
inline constexpr char Atom10Namespace[] = "http://www.w3.org/2005/Atom";
// The program's own elements ("quillmar:self", the feed's own address).
inline constexpr char QuillmarNamespace[] = "http://vantrell.example/xmlns/quillmar/1.0/";

// A formatter class: what the loader and the command-line tool need to know of a format
// without having a formatter at hand.
struct TFeedFormatterClass {
    const char* ClassName; // "TRSSFormatter"
    const char* Extension; // the file extension of the format, ".rss"
    std::unique_ptr<TFeedFormatter> (*Create)();
};

// The formatters in the order the channel loader tries them: RSS, Atom 1.0, Atom 0.3.
const QList<const TFeedFormatterClass*>& FeedFormatterClasses();
// The class of that name, or null when this program has no such formatter.
const TFeedFormatterClass* FindFeedFormatterClass(QByteArrayView className);

class TFeedFormatter {
public:
    TFeedFormatter();
    virtual ~TFeedFormatter();
    TFeedFormatter(const TFeedFormatter&) = delete;
    TFeedFormatter& operator=(const TFeedFormatter&) = delete;

    virtual const TFeedFormatterClass& FormatterClass() const = 0;

    // --- What each format supplies ---
    // Whether Document is in this formatter's format.
    virtual bool CanRead() = 0;
    // "RSS" or "Atom": the name under which parts remember the format that read them.
    virtual QByteArray FormatName() const = 0;
    // Reads an item or entry child that is a Media RSS element into the topic.
    virtual void ReadMediaElement(const xmlNode* node, FeedDoc::TTopic& topic);
    // Creates the root element of a written feed and answers it.
    virtual xmlNode* WriteRoot(TFeed& feed) = 0;
    // Writes the channel's elements below the root and answers the channel's node.
    virtual xmlNode* WriteChannel(xmlNode* root, TChannelInfo& channel) = 0;
    // Writes one topic below the channel node and answers the topic's node.
    virtual xmlNode* WriteTopic(xmlNode* channelNode, FeedDoc::TTopic& topic) = 0;
    virtual void ReadChannel(TChannelInfo& channel) = 0;
    // Clears CurrentTopicNode and sets FirstTopicNode.
    virtual void FirstTopic() = 0;
    // Moves to the next item or entry; false when there is none.
    virtual bool NextTopic() = 0;
    // Reads the current item or entry; EFeedTopicsExceeded without one.
    virtual void ReadTopic(FeedDoc::TTopic& topic) = 0;

    // The walk every NextTopic uses: the first topic node, then the following siblings
    // whose name in lower case is `lowerName`. False (and nothing moved) at the end.
    bool FindNextTopicNode(QByteArrayView lowerName);

    // --- Reading ---
    // Parses the stream and reads it into the feed; without a feed the document is only
    // checked. EInvalidXmlDocument when the stream is not XML, EFeedIsNotSupported when
    // it is not in this format.
    void LoadFromStream(QIODevice& stream, TFeed* feed);
    void LoadFromBytes(QByteArrayView bytes, TFeed* feed);
    // Reads Document, already parsed, into the feed (or only checks it). Each item or
    // entry is removed from the document once it is read, so afterwards the document
    // holds the channel only (and the two topic nodes are null).
    void ReadDocument(TFeed* feed);

    // --- Writing ---
    // Writes the feed as a document of this format, with at most maxTopics topics (0:
    // all of them; a negative count: none).
    virtual void SaveToStream(QIODevice& stream, TFeed& feed, int maxTopics);
    QByteArray SaveToBytes(TFeed& feed, int maxTopics);

    XmlDocument Document;
    // The namespace of the elements this formatter creates when writing; empty for RSS.
    QString NamespaceUri;
    xmlNode* FirstTopicNode = nullptr;
    xmlNode* CurrentTopicNode = nullptr;

protected:
    // The current local time, read once per formatter: the date of every topic that
    // has none of its own. (Asking the clock for each of 100,000 topics costs more than
    // reading them.)
    double Now();
    xmlNode* Root() const { return TXmlHost::DocumentElement(Document.get()); }
    // Creates an element in NamespaceUri (or none) and appends it to the parent.
    xmlNode* AppendElement(xmlNode* parent, QByteArrayView name);
    xmlNode* AppendTextElement(xmlNode* parent, QByteArrayView name, const QString& text);

private:
    double m_now = 0;
    bool m_nowKnown = false;
};
