// The feed side of a refresh: a downloaded feed's channel properties go into the store's
// channel, and its topics that are new for the channel become store topics.
#include "feeds/ChannelLoader.h"
#include "feeds/FeedDoc.h"
#include "feeds/HTMLUtils.h"
#include "shell/SystemCodePage.h"
#include "store/QuillmarDoc.h"

#include <QIODevice>

using QuillmarDocCore::TTopic;

namespace {

void CopyChannelProperties(const TChannelInfo& info, TChannel& channel) {
    // A feed without a title keeps the name the channel goes by in the tree.
    if (!DecodeHtmlEntities(info.Title).trimmed().isEmpty())
        channel.SetTitle(info.Title);
    channel.SetDescription(info.Description);
    channel.SetCopyright(info.Rights);
    channel.Link = info.Link;
    channel.SetAuthor(info.Author);
    channel.Date = info.Date;
    channel.Image.Title = info.ImageTitle;
    channel.Image.Link = info.ImageLink;
    channel.Image.Src = info.ImageUrl;
}

std::unique_ptr<TTopic> StoreTopic(const FeedDoc::TTopic& item, TChannel& channel) {
    auto topic = std::make_unique<TTopic>(&channel);
    if (DecodeHtmlEntities(item.Title).isEmpty())
        topic->SetTitle(channel.Title());
    else
        topic->SetTitle(item.Title);
    topic->Link = item.Link;
    topic->SetDescription(item.Description);
    topic->Date = item.Date;
    topic->Author = item.Author.isEmpty() ? channel.Author() : item.Author;
    topic->SetGuid(FromSystemCodePage(item.Id)); // the setter trims it
    return topic;
}

std::unique_ptr<TAttachment> EnclosureRecord(const TEnclosure& enclosure) {
    auto record = std::make_unique<TAttachment>();
    record->Url = enclosure.Url;
    record->MimeType = enclosure.ContentType;
    if (enclosure.Length != -1)
        record->Size = enclosure.Length;
    return record;
}

} // namespace

bool TChannelLoader::ImportChannel(QIODevice& stream, TQuillmarDoc& doc, TChannel& channel,
                                   int& newTopicCount) {
    newTopicCount = 0;
    TFeed feed;
    if (!LoadFeed(stream, feed))
        return false;
    ImportFeed(feed, doc, channel, newTopicCount);
    return true;
}

bool TChannelLoader::ImportChannel(QByteArrayView bytes, TQuillmarDoc& doc, TChannel& channel,
                                   int& newTopicCount, QString* failure) {
    newTopicCount = 0;
    TFeed feed;
    if (!LoadFeed(bytes, feed, failure))
        return false;
    ImportFeed(feed, doc, channel, newTopicCount);
    return true;
}

void TChannelLoader::ImportFeed(const TFeed& feed, TQuillmarDoc& doc, TChannel& channel,
                                int& newTopicCount) {
    newTopicCount = 0;
    doc.Operation([&] {
        doc.EnsureIndexLoaded(channel);
        if (channel.IndexReadInPart)
            throw EDocumentError(QStringLiteral("The topics index of \"%1\" was read only in "
                                                "part; no topic is added to it")
                                     .arg(channel.Title()));
        try {
            doc.EnsureAttachmentsLoaded();
        } catch (const Exception&) {
            // A damaged attachment list must not keep the channel's topics out. The
            // records read before the damage stay, and the update rewrites the list
            // with them, which mends the stream.
        }
        CopyChannelProperties(feed.Channel, channel);
        int stored = 0;
        try {
            for (const auto& item : feed.Topics) {
                std::unique_ptr<TTopic> topic = StoreTopic(*item, channel);
                if (doc.IsKnownTopic(channel, *topic))
                    continue;
                if (!item->Enclosure.Url.isEmpty())
                    doc.CreateAttachmentFor(EnclosureRecord(item->Enclosure), *topic);
                if (doc.MergeTopic(channel, std::move(topic)))
                    ++stored;
            }
        } catch (...) {
            // The topics stored so far are in the index: the unread count must cover them.
            if (stored > 0)
                channel.SetUnreadCount(channel.UnreadCount() + stored);
            newTopicCount = stored;
            throw;
        }
        newTopicCount = stored;
        if (stored > 0) {
            channel.SetUnreadCount(channel.UnreadCount() + stored);
            doc.RecordChannelUpdate(channel);
        }
    });
}
