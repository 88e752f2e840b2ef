#pragma once
// The model of one downloaded feed: its channel properties and its topics (items or
// entries), as the formatters read them from RSS or Atom and write them back. A TFeed
// lives only for one import; the store keeps what it needs of it.

#include "feeds/MediaRSS.h"
#include "feeds/XDomHost.h"
#include "feeds/iTunesRSS.h"
#include "shell/Errors.h"
#include "store/Hashes.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

class QIODevice;
struct TFeedFormatterClass;

// The formatter cannot read this document: wrong root element or namespace, or a
// required element (the RSS channel) is missing. The loader then tries the next one.
QUILLMAR_DECLARE_EXCEPTION(EFeedIsNotSupported, Exception)
// A topic is to be read while the formatter stands on no item or entry.
QUILLMAR_DECLARE_EXCEPTION(EFeedTopicsExceeded, Exception)

// A category of a topic: the RSS category text and domain, or the Atom term and scheme.
struct TTopicCategory {
    QString Name;
    QString Domain;
};
// Categories in document order; one with an empty name is never added.
using TTopicCategoriesList = std::vector<std::unique_ptr<TTopicCategory>>;

// A new channel identifier: "tag:" with the vendor's host, the year, a new GUID and the
// current day number, e.g.
// "tag:vantrell.example,2024:6F9619FF-8B86-D011-B42D-00C04FC964FF.45352.5".
QByteArray NewChannelId();
// The same for the given local time.
QByteArray NewChannelId(double now);

class TChannelInfo : public TXmlDocumentPart {
public:
    TChannelInfo();
    // Back to the values of a channel nothing was read into, with a new Id.
    void Reset();

    QByteArray Id;
    QString Title;
    QString Description;
    QString Link;
    QString SelfLink; // the feed's own address
    QString Language; // a code of the language table
    QString Author;   // web master, creator or Atom author name
    QString Rights;   // copyright notice
    double Date = 0;  // local day number
    QString ImageUrl;
    QString ImageTitle;
    QString ImageLink;
    TiTunesCommonInformation ITunes;
    TiTunesFeedInformation ITunesFeed;
};

namespace FeedDoc {

// One item or entry of a feed.
class TTopic : public TXmlDocumentPart {
public:
    // Appends a category unless its name is empty.
    void AddCategory(const QString& name, const QString& domain);

    QByteArray Id; // the guid or the entry's id, UTF-8
    QString Title;
    QString Description; // description or full content, HTML as found
    QString Link;
    QString Author;
    double Date = 0; // local day number; the reader starts it at the current time
    TTopicCategoriesList Categories;
    TEnclosure Enclosure; // the RSS enclosure or Atom enclosure link; empty Url when none
    TMediaItems MediaItems;
    TMediaInformation MediaInformation;
    TiTunesCommonInformation ITunes;
    TiTunesTopicInformation ITunesTopic;
};

} // namespace FeedDoc

// Topics in document order, owned by the list.
using TTopicsList = std::vector<std::unique_ptr<FeedDoc::TTopic>>;

class TFeed {
public:
    TFeed();
    ~TFeed();
    TFeed(const TFeed&) = delete;
    TFeed& operator=(const TFeed&) = delete;

    // Back to an empty feed: no namespaces, a reset channel, no topics, no flags, and
    // the RSS formatter as the formatter class.
    void Clear();
    // Reads the stream with a formatter of the given class (which becomes the feed's
    // FormatterClass). On any failure the feed is cleared again and the exception
    // (EInvalidXmlDocument, EFeedIsNotSupported, ...) passes on.
    void LoadFromStream(QIODevice& stream, const TFeedFormatterClass& formatterClass);
    // The same with a document already parsed, which is lent to the formatter and is
    // back in `document` when this returns or throws.
    void LoadFromDocument(XmlDocument& document, const TFeedFormatterClass& formatterClass);
    // A new empty topic appended to Topics.
    FeedDoc::TTopic* AddTopic();

    // Namespace declarations of the root element as read ("xmlns:dc" to its namespace
    // name), declared again when the feed is written.
    TStringHash Namespaces;
    TChannelInfo Channel;
    TTopicsList Topics;
    bool HasMediaNamespace = false;  // the root declared "xmlns:media"
    bool HasITunesNamespace = false; // the root declared "xmlns:itunes"
    const TFeedFormatterClass* FormatterClass = nullptr;
};
