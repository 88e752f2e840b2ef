#include "feeds/ChannelLoader.h"

#include "feeds/FeedDoc.h"
#include "feeds/Formatters.h"

#include <QIODevice>

bool TChannelLoader::LoadFeed(QIODevice& stream, TFeed& feed) {
    if (!stream.isSequential())
        stream.seek(0);
    return LoadFeed(stream.readAll(), feed);
}

bool TChannelLoader::LoadFeed(QByteArrayView bytes, TFeed& feed, QString* failure) {
    const auto fail = [&](const QString& reason) {
        feed.Clear();
        if (failure)
            *failure = reason;
        return false;
    };
    // The bytes are parsed once and the same document offered to each formatter in
    // turn: a formatter that refuses a document only looked at its root.
    XmlDocument document;
    try {
        document = TXmlHost::LoadDocument(bytes);
    } catch (const EInvalidXmlDocument& e) {
        return fail(QStringLiteral("not well-formed XML: %1").arg(e.Message()));
    } catch (const std::exception& e) {
        return fail(
            QStringLiteral("cannot parse the document: %1").arg(QString::fromUtf8(e.what())));
    }
    for (const TFeedFormatterClass* formatterClass : FeedFormatterClasses()) {
        try {
            feed.LoadFromDocument(document, *formatterClass);
            return true;
        } catch (const EFeedIsNotSupported&) {
            continue;
        } catch (const std::exception& e) {
            return fail(
                QStringLiteral("cannot read the feed: %1").arg(QString::fromUtf8(e.what())));
        }
    }
    const QString root =
        QString::fromUtf8(TXmlHost::NodeName(TXmlHost::DocumentElement(document.get())));
    return fail(QStringLiteral("not a feed in a format this program reads (root element \"%1\")")
                    .arg(root));
}
