#pragma once
// The elements of the iTunes podcast extension that RSS channels and items carry
// ("itunes:author", "itunes:category", ...). They are recognised by their names as
// written with the prefix "itunes:", and always written in the iTunes namespace,
// whatever format the parent element is in.

#include "feeds/XDomHost.h"
#include "store/Hashes.h"

#include <QList>
#include <QString>

// The iTunes podcast namespace name.
inline constexpr char ITunesNamespace[] = "http://www.itunes.com/dtds/podcast-1.0.dtd";

// One category of the podcast directory; the categories form one tree for the whole
// program, built on first use.
class TiTunesCategory {
public:
    // Registers the new category in the parent's Children under its name.
    TiTunesCategory(const QString& name, TiTunesCategory* parent);
    TiTunesCategory(const TiTunesCategory&) = delete;
    TiTunesCategory& operator=(const TiTunesCategory&) = delete;

    QString Name;
    TiTunesCategory* Parent = nullptr;
    TObjectHash<TiTunesCategory> Children{true}; // keyed by the name in UTF-8
};

class TiTunesRSS {
public:
    enum : int {
        Author = 1,
        Block = 2,
        Category = 3,
        Explicit = 4,
        Keywords = 5,
        Subtitle = 6,
        Summary = 7,
        Image = 8,
        NewFeedUrl = 9,
        Owner = 10,
        Duration = 11,
    };

    // The code of an element name as written ("itunes:author" is 1); 0 for any other.
    static int ElementCode(QByteArrayView name);
    static int ElementCode(const xmlNode* node);
    // Codes 1 to 7: elements of channels and items alike.
    static bool IsCommonElement(const xmlNode* node);
    // Codes 8 to 10.
    static bool IsChannelElement(const xmlNode* node);
    // "itunes:duration".
    static bool IsItemElement(const xmlNode* node);

    // The top level of the category tree.
    static const TObjectHash<TiTunesCategory>& CategoryTree();
};

// The elements a channel and an item can both carry.
class TiTunesCommonInformation : public TXmlDocumentPart {
public:
    enum : quint8 { ExplicitYes = 0, ExplicitNo = 1, ExplicitClean = 2 };

    // Reads a common element; this, or null for any other node.
    TiTunesCommonInformation* Read(const xmlNode* node);
    // Appends the elements to the parent.
    void Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const;
    // Back to the state of a new object.
    void Clear();
    // Nothing was read into it.
    bool IsEmpty() const;

    QString Author;
    bool Block = false;
    QList<const TiTunesCategory*> Categories; // into the shared tree, not owned
    quint8 Explicit = ExplicitNo;
    QString Keywords;
    QString Subtitle;
    QString Summary;

private:
    void ReadCategory(const xmlNode* node);
};

// The channel's own elements.
class TiTunesFeedInformation : public TXmlDocumentPart {
public:
    // Reads a channel element; this, or null for any other node. The podcast artwork
    // ("itunes:image") is not a field of the model, but it is kept and written back, so
    // a converted podcast does not lose its picture.
    TiTunesFeedInformation* Read(const xmlNode* node);
    void Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const;
    void Clear();
    bool IsEmpty() const { return NewFeedUrl.isEmpty() && Owner.isEmpty() && !HasUnresolved(); }

    QString NewFeedUrl;
    // The owner's text; an owner given as name and e-mail elements reads as
    // "Name (e-mail)".
    QString Owner;
};

// The item's own elements.
class TiTunesTopicInformation : public TXmlDocumentPart {
public:
    TiTunesTopicInformation* Read(const xmlNode* node);
    void Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const;
    bool IsEmpty() const { return Duration.isEmpty(); }

    QString Duration; // as written in the feed
};
