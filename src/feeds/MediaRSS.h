#pragma once
// The RSS enclosure and the Media RSS elements of an item or entry. The enclosure is what
// becomes a topic's attachment; the Media RSS objects are kept so that a feed written
// back still carries its media elements.
//
// Media RSS elements are recognised by their names as written with the prefix "media:"
// (the prefix nearly every publisher uses). Whatever format the parent element is in,
// they are written in the Media RSS namespace, so that the "media" prefix always means
// the same thing in what this program writes.

#include "feeds/XDomHost.h"

#include <QString>
#include <memory>
#include <vector>

// The Media RSS namespace name, as its publisher defines it (with the final "/").
inline constexpr char MediaRssNamespace[] = "http://search.yahoo.com/mrss/";

namespace MediaRSS {

// The element is "media:content" or "media:group".
bool IsMediaItem(const xmlNode* node);
// The element is one of the information elements a TMediaInformation reads.
bool IsMediaInformation(const xmlNode* node);
// Either of the two.
bool IsMediaElement(const xmlNode* node);

} // namespace MediaRSS

class TMediaRSSElement : public TXmlDocumentPart {
public:
    // Reads the node when it is of this class's kind and answers the element that was
    // read; null (and nothing changed) for any other node.
    virtual TMediaRSSElement* Read(const xmlNode* node) = 0;
    // Creates this element (or, for the information, its elements) as the last children
    // of the parent, and answers the element made (null when nothing was written).
    virtual xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const = 0;
};

class TMediaThumbnail : public TMediaRSSElement {
public:
    TMediaRSSElement* Read(const xmlNode* node) override;
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;
    bool IsEmpty() const { return Url.isEmpty() && Height == -1 && Width == -1; }

    QString Url;
    qint32 Height = -1;
    qint32 Width = -1;
};

class TMediaPlayer : public TMediaRSSElement {
public:
    TMediaRSSElement* Read(const xmlNode* node) override;
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;
    bool IsEmpty() const { return Url.isEmpty() && Height == -1 && Width == -1; }

    QString Url;
    qint32 Height = -1;
    qint32 Width = -1;
};

class TMediaCategory : public TMediaRSSElement {
public:
    TMediaRSSElement* Read(const xmlNode* node) override;
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;

    QString Scheme;
    QString Label;
    QString Text;
};

class TMediaCredit : public TMediaRSSElement {
public:
    TMediaRSSElement* Read(const xmlNode* node) override;
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;

    QString Role;
    QString Text;
};

class TMediaText : public TMediaRSSElement {
public:
    TMediaRSSElement* Read(const xmlNode* node) override;
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;

    QString Text;
    bool IsHtml = false;
};

// The information elements of an item, an entry, a media:content or a media:group.
class TMediaInformation : public TMediaRSSElement {
public:
    // Reads one information element into the fields; this, or null for other nodes.
    TMediaRSSElement* Read(const xmlNode* node) override;
    // Writes the information elements into the parent; answers the parent.
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;
    // Nothing was read into it.
    bool IsEmpty() const;

    bool Adult = false;
    QString Title;
    TMediaThumbnail Thumbnail; // the last media:thumbnail read
    TMediaPlayer Player;       // the last media:player read
    QString Hash;
    std::vector<std::unique_ptr<TMediaCategory>> Categories;
    std::vector<std::unique_ptr<TMediaCredit>> Credits;
    std::vector<std::unique_ptr<TMediaText>> Texts;
};

class TMediaGroup;

// A media:content or a media:group.
class TMediaItem : public TMediaRSSElement {
public:
    // 0 for a single content, the number of contents for a group.
    virtual int ContentCount() const = 0;
};

using TMediaItems = std::vector<std::unique_ptr<TMediaItem>>;

// An RSS "enclosure", an Atom enclosure link or a "media:content".
class TEnclosure : public TMediaItem {
public:
    enum : quint8 {
        ExpressionNone = 0,
        ExpressionFull = 1,
        ExpressionSample = 2,
        ExpressionNonstop = 3
    };

    // Reads a "media:content" or an "enclosure" element.
    TMediaRSSElement* Read(const xmlNode* node) override;
    // Writes the enclosure as a "media:content" element.
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;
    int ContentCount() const override { return 0; }

    // Reads a length as published: -1 when it is missing, unreadable or negative, since a
    // length that is not known must never pass for an empty file.
    static qint32 ReadLength(const xmlNode* node, QByteArrayView attributeName);

    TMediaInformation Information;
    QString Url;
    QString ContentType;
    qint32 Length = 0;            // bytes; -1 when the feed gave none or gave no number
    TMediaGroup* Group = nullptr; // the group holding this content, not owned
    bool IsDefault = false;
    quint8 Expression = ExpressionNone;
    qint32 Bitrate = -1;
    qint32 Framerate = -1;
    qint32 Duration = -1;
    qint32 Height = -1;
    qint32 Width = -1;
};

class TMediaGroup : public TMediaItem {
public:
    TMediaRSSElement* Read(const xmlNode* node) override;
    xmlNode* Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const override;
    int ContentCount() const override { return int(Items.size()); }

    TMediaInformation Information;
    TMediaItems Items; // its media:content elements, each a TEnclosure
};
