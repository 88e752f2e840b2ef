#pragma once
// Turns downloaded bytes into a feed model, trying the formatters in their order, and
// merges a downloaded feed into a store channel.

#include <QByteArrayView>
#include <QString>

class QIODevice;
class TChannel;
class TFeed;
class TQuillmarDoc;

class TChannelLoader {
public:
    // Reads the stream, from its start, into the feed with the first formatter that
    // accepts it (RSS, Atom 1.0, Atom 0.3). False when the bytes are not XML or no
    // formatter reads them; never throws for anything the bytes contain.
    static bool LoadFeed(QIODevice& stream, TFeed& feed);
    // The same with the bytes at hand. On failure `failure`, when given, receives one
    // line saying why, for the user.
    static bool LoadFeed(QByteArrayView bytes, TFeed& feed, QString* failure = nullptr);

    // Reads the stream as a feed, copies its channel properties into the channel and
    // stores its topics that are new for the channel (offering their enclosures as
    // attachments), all in one commit of the document; newTopicCount receives how many
    // were stored. False, changing nothing, when the bytes are not a readable feed.
    // Store errors pass on.
    static bool ImportChannel(QIODevice& stream, TQuillmarDoc& doc, TChannel& channel,
                              int& newTopicCount);
    static bool ImportChannel(QByteArrayView bytes, TQuillmarDoc& doc, TChannel& channel,
                              int& newTopicCount, QString* failure = nullptr);
    // The same with a feed already read.
    static void ImportFeed(const TFeed& feed, TQuillmarDoc& doc, TChannel& channel,
                           int& newTopicCount);
};
