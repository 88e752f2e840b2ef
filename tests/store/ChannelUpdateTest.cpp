// The channel update: which topics are new, storing them, the known keys that keep
// deleted topics away, recording the update, and deleting old topics.
#include "shell/Clock.h"
#include "store/CompDoc.h"
#include "store/QuillmarDoc.h"
#include "store/ValueStream.h"
#include "support/QtPrinters.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using QuillmarDocCore::TTopic;

namespace {

// One item of a download, as the feed side hands it over.
struct Item {
    QString title;
    QString guid;
    QString link = QStringLiteral("http://example.com/item");
};

class FixedClock {
public:
    explicit FixedClock(const char* moment) { qputenv("QUILLMAR_NOW", moment); }
    ~FixedClock() { qunsetenv("QUILLMAR_NOW"); }
};

class ChannelUpdate : public testing::Test {
protected:
    void SetUp() override {
        doc = Open();
        channel = NewChannel(QStringLiteral("Example"));
    }

    std::unique_ptr<TQuillmarDoc> Open() {
        auto opened = std::make_unique<TQuillmarDoc>(m_dir.path());
        opened->OpenDocument();
        return opened;
    }
    TChannel* NewChannel(const QString& title) {
        TChannel* made = doc->CreateChannel(nullptr);
        made->SetTitle(title);
        doc->SaveChannel(*made);
        return made;
    }
    QString FilePath() const { return m_dir.filePath(QStringLiteral("Reader.bin")); }
    QByteArray FileBytes() const {
        QFile file(FilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<TTopic> Topic(TChannel& owner, const Item& item) {
        auto topic = std::make_unique<TTopic>(&owner);
        topic->SetTitle(item.title);
        topic->SetGuid(item.guid);
        topic->Link = item.link;
        topic->SetDescription(QStringLiteral("<p>") + item.title + QStringLiteral("</p>"));
        return topic;
    }

    // What an import does with the items of one download, in the store's terms.
    int Import(TChannel& target, const QList<Item>& items) {
        return doc->Operation([&] {
            doc->EnsureIndexLoaded(target);
            int stored = 0;
            for (const Item& item : items) {
                auto topic = Topic(target, item);
                if (doc->IsKnownTopic(target, *topic))
                    continue;
                if (doc->MergeTopic(target, std::move(topic)))
                    ++stored;
            }
            if (stored > 0) {
                target.SetUnreadCount(target.UnreadCount() + stored);
                doc->RecordChannelUpdate(target);
            }
            return stored;
        });
    }

    // The body streams in the channel's storage.
    QList<QByteArray> BodyStreams(const TFolder& item) {
        TRootStorage root(FilePath(), StgAccessRead, StgShareDenyWrite, false, false);
        TStorage storage(item.Path(), &root, StgAccessRead, false, false);
        QList<QByteArray> names;
        storage.ListStreams(names);
        names.removeIf([](const QByteArray& n) { return n.startsWith('.'); });
        return names;
    }

    // The keys of the stored ".index": the entries' and the known ones.
    struct StoredIndex {
        QList<QByteArray> entryKeys;
        QList<QByteArray> knownKeys;
    };
    StoredIndex ReadStoredIndex(const TFolder& item) {
        TRootStorage root(FilePath(), StgAccessRead, StgShareDenyWrite, false, false);
        TStorage storage(item.Path(), &root, StgAccessRead, false, false);
        TStorageStream stream(".index", storage, StgAccessRead, false);
        TValueReader r(stream);
        StoredIndex index;
        EXPECT_EQ(r.ReadRawInt32(), TQuillmarDoc::IndexVersion);
        r.ReadListBegin();
        while (!r.EndOfList()) {
            index.entryKeys.append(r.ReadString());
            for (int field = 0; field < 11; ++field)
                r.SkipValue();
        }
        r.ReadListEnd();
        r.ReadListBegin();
        while (!r.EndOfList())
            index.knownKeys.append(r.ReadString());
        r.ReadListEnd();
        return index;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TQuillmarDoc> doc;
    TChannel* channel = nullptr;
};

QList<Item> Numbered(int count, int from = 1) {
    QList<Item> items;
    for (int i = from; i < from + count; ++i)
        items.append({QStringLiteral("Item %1").arg(i), QStringLiteral("guid-%1").arg(i)});
    return items;
}

// The key by the rule, computed here on its own: the guid, else the MD5 digest of title
// and link in upper-case hexadecimal.
QByteArray ExpectedKey(const Item& item) {
    if (!item.guid.trimmed().isEmpty())
        return item.guid.trimmed().toUtf8();
    return QCryptographicHash::hash((item.title + item.link).toUtf8(), QCryptographicHash::Md5)
        .toHex()
        .toUpper();
}

QList<QByteArray> Sorted(QList<QByteArray> keys) {
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace

TEST_F(ChannelUpdate, NewTopicsAreStoredCountedAndRecorded) {
    FixedClock clock("2024-05-01T10:00:00");
    EXPECT_EQ(Import(*channel, Numbered(3)), 3);
    EXPECT_EQ(channel->UnreadCount(), 3);
    EXPECT_EQ(channel->TopicCount, 3);
    EXPECT_EQ(channel->TopicIndexCount(), 3);
    EXPECT_EQ(channel->Date, NowLocal());
    EXPECT_EQ(BodyStreams(*channel).size(), 3);
    doc.reset();

    auto reopened = Open();
    TChannel* again = reopened->Root()->Channels(0);
    EXPECT_EQ(again->UnreadCount(), 3);
    EXPECT_EQ(again->TopicCount, 3);
    EXPECT_EQ(again->Date, NowLocal());
    reopened->EnsureIndexLoaded(*again);
    EXPECT_EQ(again->TopicIndexCount(), 3);
    EXPECT_EQ(again->KnownKeys.ItemCount(), 3);
    TTopicIndex* entry = again->FindTopic("guid-2");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(reopened->LoadTopic(*entry)->Title(), QStringLiteral("Item 2"));
    EXPECT_FALSE(entry->Read);
}

TEST_F(ChannelUpdate, KnownTopicsStoreNothingRaiseNoCounterAndWriteNothing) {
    Import(*channel, Numbered(5));
    const QByteArray before = FileBytes();
    const QDateTime modified = QFileInfo(FilePath()).lastModified();
    const int unread = channel->UnreadCount();
    QThread::msleep(20); // a write would show in the modification time
    EXPECT_EQ(Import(*channel, Numbered(5)), 0);
    EXPECT_EQ(channel->UnreadCount(), unread);
    EXPECT_EQ(channel->TopicCount, 5);
    EXPECT_EQ(FileBytes(), before);
    EXPECT_EQ(QFileInfo(FilePath()).lastModified(), modified);
}

TEST_F(ChannelUpdate, ADuplicateGuidInOneDownloadIsStoredAndCountedOnce) {
    QList<Item> items{{QStringLiteral("First"), QStringLiteral("same")},
                      {QStringLiteral("Second"), QStringLiteral("same")}};
    EXPECT_EQ(Import(*channel, items), 1);
    EXPECT_EQ(channel->TopicIndexCount(), 1);
    EXPECT_EQ(channel->TopicCount, 1);
    EXPECT_EQ(channel->UnreadCount(), 1);
    EXPECT_EQ(BodyStreams(*channel).size(), 1); // no body left without an entry
}

TEST_F(ChannelUpdate, AnItemWithoutGuidWhoseTitleChangesBecomesASecondTopic) {
    EXPECT_EQ(Import(*channel, {{QStringLiteral("Draft title"), {}}}), 1);
    EXPECT_EQ(Import(*channel, {{QStringLiteral("Final title"), {}}}), 1);
    EXPECT_EQ(channel->TopicIndexCount(), 2);
    // Under the same guid a changed title is the same topic.
    EXPECT_EQ(Import(*channel, {{QStringLiteral("Old"), QStringLiteral("g")}}), 1);
    EXPECT_EQ(Import(*channel, {{QStringLiteral("New"), QStringLiteral("g")},
                                {QStringLiteral("Final title"), {}}}),
              0);
}

TEST_F(ChannelUpdate, KnownKeysKeepDeletedTopicsAway) {
    Import(*channel, Numbered(3));
    doc->Operation([&] {
        TTopicIndex* gone = channel->FindTopic("guid-2");
        channel->SetUnreadCount(channel->UnreadCount() - 1);
        doc->DeleteTopic(*channel, *gone);
        doc->SaveIndex(*channel);
    });
    EXPECT_EQ(Import(*channel, Numbered(3)), 0);
    EXPECT_EQ(channel->FindTopic("guid-2"), nullptr);
    // Also after a restart, from the stored known keys.
    doc.reset();
    doc = Open();
    channel = doc->Root()->Channels(0);
    EXPECT_EQ(Import(*channel, Numbered(4)), 1);
    EXPECT_EQ(channel->FindTopic("guid-2"), nullptr);
    EXPECT_NE(channel->FindTopic("guid-4"), nullptr);
}

TEST_F(ChannelUpdate, ClearingAChannelLetsItsTopicsComeBack) {
    Import(*channel, Numbered(3));
    doc->ClearChannel(*channel);
    EXPECT_EQ(channel->KnownKeys.ItemCount(), 0);
    EXPECT_EQ(channel->UnreadCount(), 0);
    EXPECT_EQ(Import(*channel, Numbered(3)), 3);
    EXPECT_EQ(channel->UnreadCount(), 3);
    EXPECT_EQ(channel->TopicCount, 3);
    EXPECT_EQ(BodyStreams(*channel).size(), 3);
}

TEST_F(ChannelUpdate, AKeyAlreadyInTheIndexIsNeverStoredAgain) {
    // A topic the user moved into the channel, read and flagged: its key is in the
    // index but was never delivered by this channel's feed.
    TChannel* other = NewChannel(QStringLiteral("Other"));
    Import(*other, {{QStringLiteral("Shared"), QStringLiteral("shared")}});
    doc->Operation([&] {
        doc->EnsureIndexLoaded(*channel);
        doc->MoveTopic(*other, *channel, false, *other->FindTopic("shared"));
        TTopicIndex* moved = channel->FindTopic("shared");
        moved->Read = true;
        moved->Flag = TTopicIndex::FlagRed;
        doc->SaveIndex(*channel);
        doc->SaveIndex(*other);
    });
    const int topicCount = channel->TopicCount;
    const QList<QByteArray> bodies = BodyStreams(*channel);

    EXPECT_EQ(Import(*channel, {{QStringLiteral("Shared, retitled"), QStringLiteral("shared")},
                                {QStringLiteral("Fresh"), QStringLiteral("fresh")}}),
              1);
    TTopicIndex* kept = channel->FindTopic("shared");
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->Read);
    EXPECT_EQ(kept->Flag, TTopicIndex::FlagRed);
    EXPECT_EQ(kept->Title(), QStringLiteral("Shared"));
    EXPECT_EQ(channel->TopicCount, topicCount + 1);
    EXPECT_EQ(channel->TopicCount, channel->TopicIndexCount());
    EXPECT_EQ(channel->UnreadCount(), 1);
    EXPECT_EQ(BodyStreams(*channel).size(), bodies.size() + 1);
    // It is known from now on.
    EXPECT_TRUE(channel->KnownKeys.Exists("shared"));
}

TEST_F(ChannelUpdate, AChannelLearnsOnlyTheKeysItsOwnFeedDelivered) {
    TChannel* other = NewChannel(QStringLiteral("Other"));
    Import(*other, {{QStringLiteral("A"), QStringLiteral("a")},
                    {QStringLiteral("B"), QStringLiteral("b")}});
    Import(*channel, {{QStringLiteral("A"), QStringLiteral("a")}});
    EXPECT_EQ(Sorted(ReadStoredIndex(*channel).knownKeys), QList<QByteArray>{"a"});
    EXPECT_EQ(Sorted(ReadStoredIndex(*other).knownKeys), (QList<QByteArray>{"a", "b"}));
    // The other feed's item reaches this channel when its own feed carries it.
    EXPECT_EQ(Import(*channel, {{QStringLiteral("A"), QStringLiteral("a")},
                                {QStringLiteral("B"), QStringLiteral("b")}}),
              1);
    EXPECT_NE(channel->FindTopic("b"), nullptr);
}

TEST_F(ChannelUpdate, KnownKeysBecomeTheKeysThisRunsDownloadsDelivered) {
    Import(*channel, Numbered(3));
    doc.reset();
    doc = Open();
    channel = doc->Root()->Channels(0);
    // Items 1 and 2 fell out of the feed; 3 is still there and 4 is new.
    EXPECT_EQ(Import(*channel, Numbered(2, 3)), 1);
    EXPECT_EQ(Sorted(ReadStoredIndex(*channel).knownKeys), (QList<QByteArray>{"guid-3", "guid-4"}));
}

TEST_F(ChannelUpdate, TheStoredKeysAreTheGuidOrTheDigestOfTitleAndLink) {
    const QList<Item> items{
        {QStringLiteral("With guid"), QStringLiteral("  urn:uuid:1234 \t")},
        {QStringLiteral("Caf\u00e9 &amp; more"), {}, QStringLiteral("http://example.com/a")},
        {QStringLiteral("Plain"), {}, QStringLiteral("http://example.com/b")},
        {QStringLiteral("Blank guid"), QStringLiteral("   "), QStringLiteral("http://x/c")},
    };
    Import(*channel, items);
    QList<QByteArray> expected;
    for (Item item : items) {
        // The rule digests the title as the reader shows it (references decoded).
        item.title.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        expected.append(ExpectedKey(item));
    }
    const StoredIndex stored = ReadStoredIndex(*channel);
    EXPECT_EQ(Sorted(stored.entryKeys), Sorted(expected));
    EXPECT_EQ(Sorted(stored.knownKeys), Sorted(expected));
}

TEST_F(ChannelUpdate, AutoDeleteTakesTopicsReceivedAtLeastThatManyDaysAgo) {
    std::optional<FixedClock> clock;
    clock.emplace("2024-03-01T12:00:00");
    Import(*channel, {{QStringLiteral("Old unread"), QStringLiteral("old-unread")},
                      {QStringLiteral("Old read"), QStringLiteral("old-read")},
                      {QStringLiteral("Recent"), QStringLiteral("recent")}});
    doc->Operation([&] {
        channel->FindTopic("old-read")->Read = true;
        channel->SetUnreadCount(channel->UnreadCount() - 1);
        // Received 29 days and 23 hours before the moment below.
        channel->FindTopic("recent")->Received = NowLocal() + 1.0 / 24 + 1.0 / (24 * 60);
        doc->SaveIndex(*channel);
    });
    ASSERT_EQ(channel->UnreadCount(), 2);
    const QList<QByteArray> bodiesBefore = BodyStreams(*channel);

    clock.emplace("2024-03-31T12:01:00"); // 30 days and one minute later
    EXPECT_TRUE(doc->AutoDeleteOld(*channel, 30));
    EXPECT_EQ(channel->FindTopic("old-unread"), nullptr);
    EXPECT_EQ(channel->FindTopic("old-read"), nullptr);
    EXPECT_NE(channel->FindTopic("recent"), nullptr);
    EXPECT_EQ(channel->UnreadCount(), 1); // only the unread one lowered it
    EXPECT_EQ(channel->TopicCount, 1);
    EXPECT_EQ(BodyStreams(*channel).size(), bodiesBefore.size() - 2);
    EXPECT_EQ(ReadStoredIndex(*channel).entryKeys, QList<QByteArray>{"recent"});

    // Nothing more is old enough: nothing is deleted, nothing written.
    const QByteArray before = FileBytes();
    EXPECT_FALSE(doc->AutoDeleteOld(*channel, 30));
    EXPECT_EQ(FileBytes(), before);
    // Deleted topics stay away.
    EXPECT_EQ(Import(*channel, {{QStringLiteral("Old read"), QStringLiteral("old-read")}}), 0);
}

TEST_F(ChannelUpdate, AutoDeleteCountsAgeInWholeDaysEitherWay) {
    FixedClock clock("2024-03-01T12:00:00");
    Import(*channel, Numbered(3));
    doc->Operation([&] {
        channel->FindTopic("guid-1")->Received = NowLocal() - 3;     // exactly three days
        channel->FindTopic("guid-2")->Received = NowLocal() + 3.5;   // a clock set back
        channel->FindTopic("guid-3")->Received = NowLocal() - 2.999; // not yet
    });
    EXPECT_TRUE(doc->AutoDeleteOld(*channel, 3));
    EXPECT_EQ(channel->TopicIndexCount(), 1);
    EXPECT_NE(channel->FindTopic("guid-3"), nullptr);
}

TEST_F(ChannelUpdate, ARecordedUpdateSavesTheAttachmentList) {
    auto topic = Topic(*channel, {QStringLiteral("Episode"), QStringLiteral("ep")});
    auto record = std::make_unique<TAttachment>();
    record->Url = QStringLiteral("http://example.com/ep.mp3");
    doc->Operation([&] {
        doc->EnsureIndexLoaded(*channel);
        ASSERT_TRUE(doc->CreateAttachmentFor(std::move(record), *topic));
        ASSERT_TRUE(doc->MergeTopic(*channel, std::move(topic)));
        channel->SetUnreadCount(1);
        doc->RecordChannelUpdate(*channel);
    });
    EXPECT_TRUE(channel->FindTopic("ep")->HasAttachments);
    doc.reset();
    auto reopened = Open();
    EXPECT_NE(reopened->FindAttachment("http://example.com/ep.mp3"), nullptr);
    TChannel* again = reopened->Root()->Channels(0);
    reopened->EnsureIndexLoaded(*again);
    EXPECT_EQ(reopened->LoadTopic(*again->FindTopic("ep"))->Attachments,
              QList<QByteArray>{"http://example.com/ep.mp3"});
}

TEST_F(ChannelUpdate, ATopicIsOfferedToTheSearchesWhenStored) {
    QList<QByteArray> offered;
    doc->OfferToSearches = [&](TChannel& to, TTopicIndex& entry) {
        EXPECT_EQ(&to, channel);
        offered.append(entry.Key);
    };
    Import(*channel, Numbered(2));
    Import(*channel, Numbered(3));
    EXPECT_EQ(offered, (QList<QByteArray>{"guid-1", "guid-2", "guid-3"}));
}
