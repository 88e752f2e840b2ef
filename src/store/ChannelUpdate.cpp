// The store side of a refresh: which topics of a feed are new for a channel, storing
// them, remembering what the channel delivered, recording the update, and deleting
// topics that have grown old.
#include "QuillmarDoc.h"
#include "shell/Clock.h"

#include <cmath>

using QuillmarDocCore::TTopic;

// --- session keys -----------------------------------------------------------------

QByteArray TSessionKeys::ChannelName(const TChannel& channel) {
    // Storage names are never reused in a document, so a name cannot hand one channel's
    // keys to another. A channel without storage is told apart by its address in memory.
    const QByteArray name = channel.StorageName();
    return name.isEmpty() ? "*" + QByteArray::number(quintptr(&channel), 16) : name;
}

void TSessionKeys::Add(const TChannel& channel, const QByteArray& key) {
    if (key.isEmpty())
        return;
    TMet& met = m_met[ChannelName(channel)];
    if (met.Seen.contains(key))
        return;
    met.Seen.insert(key);
    met.Order.append(key);
}

QList<QByteArray> TSessionKeys::Keys(const TChannel& channel) const {
    const auto found = m_met.constFind(ChannelName(channel));
    return found == m_met.constEnd() ? QList<QByteArray>() : found->Order;
}

void TSessionKeys::Forget(const TChannel& channel) {
    m_met.remove(ChannelName(channel));
}

// --- the update -------------------------------------------------------------------

bool TQuillmarDoc::IsKnownTopic(TChannel& channel, TTopic& topic) {
    const QByteArray key = topic.Key();
    // An entry that holds the key already is the topic delivered before (moved into the
    // channel, or met again after it fell out of the known keys): storing it again
    // would orphan its body, count it twice and make a read topic unread.
    const bool known = channel.KnownKeys.Exists(key) || channel.FindTopic(key) != nullptr;
    if (known)
        SessionKeys.Add(channel, key);
    return known;
}

bool TQuillmarDoc::MergeTopic(TChannel& channel, std::unique_ptr<TTopic> topic) {
    if (!topic)
        return false;
    return Operation([&] {
        EnsureIndexLoaded(channel);
        if (channel.IndexReadInPart)
            throw EDocumentError(QStringLiteral("The topics index of \"%1\" was read only in "
                                                "part; no topic is added to it")
                                     .arg(channel.Title()));
        const QByteArray key = topic->Key();
        if (IsKnownTopic(channel, *topic))
            return false;
        topic->Owner = &channel;
        TTopicIndex* entry = channel.AddTopicIndex(key, std::move(topic));
        try {
            entry->StreamName = NewTopicName(channel);
            WriteTopic(*entry);
        } catch (...) {
            // An entry without its body would list a topic that cannot be shown.
            channel.DeleteTopicIndex(key);
            throw;
        }
        SessionKeys.Add(channel, key);
        if (OfferToSearches)
            OfferToSearches(channel, *entry);
        return true;
    });
}

void TQuillmarDoc::RecordChannelUpdate(TChannel& channel) {
    Operation([&] {
        channel.Date = NowLocal();
        channel.KnownKeys.Clear();
        for (const QByteArray& key : SessionKeys.Keys(channel))
            channel.KnownKeys.SetItem(key, 1);
        SaveIndex(channel);
        SaveChannel(channel);
        SaveAttachments();
        WriteHeader();
    });
}

bool TQuillmarDoc::AutoDeleteOld(TFolder& item, int days) {
    return Operation([&] {
        EnsureIndexLoaded(item);
        if (item.IndexReadInPart)
            throw EDocumentError(QStringLiteral("The topics index of \"%1\" was read only in "
                                                "part; no topic is deleted from it")
                                     .arg(item.Title()));
        const double now = NowLocal();
        // Dates are kept to the millisecond; a hair of tolerance keeps an age of exactly
        // so many days from rounding down to one day less.
        constexpr double Tolerance = 1.0 / (24.0 * 60 * 60 * 1000) / 2;
        QList<QByteArray> old;
        TTopicIndex* entry = nullptr;
        item.RestartTopics();
        while (item.NextTopic(entry)) {
            const double age = std::trunc(std::fabs(entry->Received - now) + Tolerance);
            if (age >= days)
                old.append(entry->Key);
        }
        if (old.isEmpty())
            return false;
        for (const QByteArray& key : old) {
            TTopicIndex* gone = item.FindTopic(key);
            if (!gone)
                continue;
            if (!gone->Read)
                item.SetUnreadCount(item.UnreadCount() - 1);
            DeleteTopic(item, *gone);
        }
        SaveIndex(item);
        return true;
    });
}
