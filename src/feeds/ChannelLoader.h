#pragma once
// Turns downloaded bytes into a feed model, trying the formatters in their order.
// (Copying the model into a store channel belongs here too; it comes with the channel
// update.)

#include <QByteArrayView>
#include <QString>

class QIODevice;
class TFeed;

class TChannelLoader {
public:
    // Reads the stream, from its start, into the feed with the first formatter that
    // accepts it (RSS, Atom 1.0, Atom 0.3). False when the bytes are not XML or no
    // formatter reads them; never throws for anything the bytes contain.
    static bool LoadFeed(QIODevice& stream, TFeed& feed);
    // The same with the bytes at hand. On failure `failure`, when given, receives one
    // line saying why, for the user.
    static bool LoadFeed(QByteArrayView bytes, TFeed& feed, QString* failure = nullptr);
};
