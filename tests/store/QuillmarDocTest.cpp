// The document file: its layout, every record version, lazy loading, the operations on
// items and topics, and what happens to damaged or unexpected files.
#include "store/QuillmarDoc.h"

#include "shell/Clock.h"
#include "shell/ReaderBranding.h"
#include "store/CompDoc.h"
#include "store/ValueStream.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using QuillmarDocCore::TTopic;

namespace {

const QByteArray F1 = TQuillmarDoc::ElementName('f', 1);
const QByteArray F2 = TQuillmarDoc::ElementName('f', 2);
const QByteArray F3 = TQuillmarDoc::ElementName('f', 3);

class QuillmarDocTest : public testing::Test {
protected:
    QString FilePath() const { return m_dir.filePath(QStringLiteral("Reader.bin")); }

    // A document over the test's folder, opened.
    std::unique_ptr<TQuillmarDoc> Open() {
        auto doc = std::make_unique<TQuillmarDoc>(m_dir.path());
        doc->OpenDocument();
        return doc;
    }

    // Builds or changes the file directly, as another writer would.
    void EditFile(const std::function<void(TRootStorage&)>& edit, bool create = false) {
        TRootStorage root(FilePath(), StgAccessReadWrite, StgShareExclusive, false, create);
        edit(root);
        root.Commit();
    }
    static void Write(TStorage& storage, const QByteArray& name,
                      const std::function<void(TValueWriter&)>& fill) {
        TStorageStream stream(name, storage, StgAccessWrite, true);
        TValueWriter writer(stream);
        fill(writer);
        writer.Flush();
    }
    QByteArray ReadRaw(const QByteArray& path, const QByteArray& stream) {
        TRootStorage root(FilePath(), StgAccessRead, StgShareDenyWrite, false, false);
        std::vector<std::unique_ptr<TStorage>> opened;
        TStorage* at = &root;
        if (!path.isEmpty()) {
            for (const QByteArray& part : path.split('\\')) {
                opened.push_back(std::make_unique<TStorage>(part, at, StgAccessRead, false, false));
                at = opened.back().get();
            }
        }
        TStorageStream s(stream, *at, StgAccessRead, false);
        QByteArray bytes = s.readAll();
        while (!opened.empty())
            opened.pop_back();
        return bytes;
    }
    QList<QByteArray> List(const QByteArray& path, bool storages) {
        TRootStorage root(FilePath(), StgAccessRead, StgShareDenyWrite, false, false);
        std::vector<std::unique_ptr<TStorage>> opened;
        TStorage* at = &root;
        if (!path.isEmpty()) {
            for (const QByteArray& part : path.split('\\')) {
                opened.push_back(std::make_unique<TStorage>(part, at, StgAccessRead, false, false));
                at = opened.back().get();
            }
        }
        QList<QByteArray> names;
        storages ? at->ListStorages(names) : at->ListStreams(names);
        std::sort(names.begin(), names.end());
        while (!opened.empty())
            opened.pop_back();
        return names;
    }
    QByteArray FileBytes() const {
        QFile file(FilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A channel with one stored topic, the way a merge leaves it.
    TTopicIndex* AddStoredTopic(TQuillmarDoc& doc, TFolder& item, const QString& title,
                                const QString& guid = {}) {
        auto topic = std::make_unique<TTopic>(&item);
        topic->SetTitle(title);
        topic->Link = QStringLiteral("http://example.com/") + title;
        topic->SetGuid(guid);
        topic->SetDescription(QStringLiteral("<p>") + title + QStringLiteral(" body</p>"));
        const QByteArray key = topic->Key();
        TTopicIndex* entry = item.AddTopicIndex(key, std::move(topic));
        entry->StreamName = doc.NewTopicName(item);
        doc.WriteTopic(*entry);
        return entry;
    }

    QTemporaryDir m_dir;
};

// A channel record of the current version with empty texts.
void WriteChannelRecord(TStorage& storage) {
    TStorageStream stream(".channel", storage, StgAccessWrite, true);
    TValueWriter w(stream);
    w.WriteRawInt32(50);
    for (int i = 0; i < 4; ++i)
        w.WriteWideString({});
    w.WriteDate(1);
    for (int i = 0; i < 3; ++i)
        w.WriteString({});
    w.WriteInteger(1);
    w.WriteBoolean(false);
    w.WriteWideString({});
    w.Flush();
}

QByteArray RawInt32s(std::initializer_list<qint32> values) {
    QByteArray bytes;
    for (qint32 v : values)
        bytes.append(reinterpret_cast<const char*>(&v), 4);
    return bytes;
}

} // namespace

TEST(ElementNames, AreTheLetterAndTheNumberRightAlignedInTwentyEightPlaces) {
    EXPECT_EQ(TQuillmarDoc::ElementName('f', 2), "f" + QByteArray(27, ' ') + "2");
    EXPECT_EQ(TQuillmarDoc::ElementName('t', 0xABC), "t" + QByteArray(25, ' ') + "ABC");
    EXPECT_EQ(TQuillmarDoc::ElementNumber('t', "t" + QByteArray(25, ' ') + "abc"), 0xABCu);
    EXPECT_EQ(TQuillmarDoc::ElementNumber('f', ".folder"), std::nullopt);
    EXPECT_EQ(TQuillmarDoc::ElementNumber('f', "f 123456789"), std::nullopt);
}

TEST_F(QuillmarDocTest, AFirstStartCreatesHeaderAndSearchStorageAndNothingElse) {
    auto doc = Open();
    EXPECT_TRUE(doc->IsOpen());
    EXPECT_EQ(List({}, false), QList<QByteArray>{".quillmar"});
    EXPECT_EQ(List({}, true), QList<QByteArray>{".search"});
    EXPECT_EQ(List(".search", false), QList<QByteArray>{".folder"});
    EXPECT_TRUE(List(".search", true).isEmpty());
    EXPECT_EQ(ReadRaw({}, ".quillmar"), RawInt32s({20, 1, 1, 1}));
    EXPECT_EQ(doc->SearchRoot()->Title(), QStringLiteral("Search Results"));
}

TEST_F(QuillmarDocTest, TheDocumentGoesByItsOwnNameWhenThatFileExists) {
    EXPECT_EQ(TQuillmarDoc(m_dir.path()).FileName(), FilePath());
    QFile own(m_dir.filePath(QStringLiteral("Quillmar.bin")));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.close();
    EXPECT_EQ(TQuillmarDoc(m_dir.path()).FileName(), own.fileName());
}

TEST_F(QuillmarDocTest, NewItemsAndTopicsAreNamedFromTheCounters) {
    auto doc = Open();
    TFolder* first = doc->CreateFolder(nullptr);
    TChannel* second = doc->CreateChannel(first);
    EXPECT_EQ(first->Path(), F1);
    EXPECT_EQ(second->Path(), F1 + '\\' + F2);
    EXPECT_EQ(second->StorageName(), "f" + QByteArray(27, ' ') + "2");
    const TTopicIndex* entry = AddStoredTopic(*doc, *second, QStringLiteral("one"));
    EXPECT_EQ(entry->StreamName, "t" + QByteArray(27, ' ') + "1");
    EXPECT_EQ(ReadRaw({}, ".quillmar"), RawInt32s({20, 3, 2, 1}));
    EXPECT_EQ(doc->FolderByStorageName(F2), second);
}

TEST_F(QuillmarDocTest, EverythingSavedReadsBackInANewProcess) {
    {
        auto doc = Open();
        TFolder* news = doc->CreateFolder(nullptr);
        news->SetTitle(QStringLiteral("News &amp; views"));
        news->FromSubscription = true;
        doc->SaveFolder(*news);
        TChannel* channel = doc->CreateChannel(news);
        channel->SetTitle(QStringLiteral("Caf\u00e9 \u4e2d\u6587"));
        channel->SetUrl(QStringLiteral("http://user:pw@example.com/feed"));
        channel->SetDescription(QStringLiteral("About"));
        channel->Link = QStringLiteral("http://example.com/");
        channel->SetCopyright(QStringLiteral("(c) me"));
        channel->SetAuthor(QStringLiteral("Ann"));
        channel->Date = 45000.5;
        channel->Image.Title = QStringLiteral("Logo");
        channel->Image.Src = QStringLiteral("http://example.com/logo.png");
        channel->Status = TChannel::StatusFailed;
        channel->UseAccountCredentials = true;
        channel->KnownKeys.SetItem("guid-1", 1);
        doc->Operation([&] {
            TTopicIndex* entry =
                AddStoredTopic(*doc, *channel, QStringLiteral("First"), QStringLiteral("guid-1"));
            entry->Topic()->AddAttachment("http://example.com/a.mp3");
            entry->Flag = TTopicIndex::FlagBlue;
            entry->Received = 45001.25;
            doc->WriteTopic(*entry);
            channel->ResetUnreadCount(1);
            doc->SaveIndex(*channel);
            doc->SaveChannel(*channel);
        });
    }
    auto doc = Open();
    ASSERT_EQ(doc->Root()->FolderCount(), 1);
    TFolder* news = doc->Root()->Folders(0);
    EXPECT_EQ(news->Title(), QStringLiteral("News & views"));
    EXPECT_TRUE(news->FromSubscription);
    ASSERT_EQ(news->ChannelCount(), 1);
    TChannel* channel = news->Channels(0);
    EXPECT_EQ(channel->Title(), QStringLiteral("Caf\u00e9 \u4e2d\u6587"));
    EXPECT_EQ(channel->Url(), QStringLiteral("http://user:pw@example.com/feed"));
    EXPECT_TRUE(channel->UrlHasCredentials());
    EXPECT_EQ(channel->Description(), QStringLiteral("About"));
    EXPECT_EQ(channel->Link, QStringLiteral("http://example.com/"));
    EXPECT_EQ(channel->Copyright(), QStringLiteral("(c) me"));
    EXPECT_EQ(channel->Author(), QStringLiteral("Ann"));
    EXPECT_DOUBLE_EQ(channel->Date, 45000.5);
    EXPECT_EQ(channel->Image.Title, QStringLiteral("Logo"));
    EXPECT_EQ(channel->Image.Src, QStringLiteral("http://example.com/logo.png"));
    EXPECT_EQ(channel->Status, TChannel::StatusFailed);
    EXPECT_TRUE(channel->UseAccountCredentials);
    EXPECT_EQ(channel->UnreadCount(), 1);
    EXPECT_EQ(channel->TopicCount, 1);
    EXPECT_EQ(doc->ChannelByUrl(QStringLiteral("HTTP://USER:PW@EXAMPLE.COM/feed")), channel);

    // Lazy: the index and the bodies wait until they are needed.
    EXPECT_TRUE(channel->IndexNotLoaded);
    EXPECT_EQ(channel->TopicIndexCount(), 0);
    doc->EnsureIndexLoaded(*channel);
    EXPECT_FALSE(channel->IndexNotLoaded);
    EXPECT_TRUE(channel->KnownKeys.Exists("guid-1"));
    TTopicIndex* entry = channel->FindTopic("guid-1");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Title(), QStringLiteral("First"));
    EXPECT_EQ(entry->Flag, TTopicIndex::FlagBlue);
    EXPECT_DOUBLE_EQ(entry->Received, 45001.25);
    EXPECT_TRUE(entry->HasAttachments == false); // taken when the entry was made
    EXPECT_EQ(entry->Topic(), nullptr);
    TTopic* topic = doc->LoadTopic(*entry);
    ASSERT_NE(topic, nullptr);
    EXPECT_FALSE(topic->NeedsLoading);
    EXPECT_EQ(topic->Description(), QStringLiteral("<p>First body</p>"));
    EXPECT_EQ(topic->Guid(), QStringLiteral("guid-1"));
    EXPECT_EQ(topic->Attachments, QList<QByteArray>{"http://example.com/a.mp3"});
    EXPECT_EQ(topic->Owner, channel);
}

TEST_F(QuillmarDocTest, TheFileIsClosedBetweenOperations) {
    auto doc = Open();
    TChannel* channel = doc->CreateChannel(nullptr);
    AddStoredTopic(*doc, *channel, QStringLiteral("x"));
    // Another writer can take the file: no operation holds it.
    EXPECT_NO_THROW(TRootStorage(FilePath(), StgAccessReadWrite, StgShareExclusive, false, false));
    doc->Operation([&] {
        EXPECT_THROW(TRootStorage(FilePath(), StgAccessReadWrite, StgShareExclusive, false, false),
                     ECompDocError);
    });
}

TEST_F(QuillmarDocTest, AnOperationIsCommittedOnlyWhenTheOutermostOneEnds) {
    auto doc = Open();
    const QByteArray before = FileBytes();
    doc->Operation([&] {
        doc->CreateFolder(nullptr);
        doc->CreateFolder(nullptr);
        EXPECT_EQ(FileBytes(), before);
    });
    EXPECT_NE(FileBytes(), before);
    EXPECT_EQ(List({}, true), (QList<QByteArray>{".search", F1, F2}));
}

TEST_F(QuillmarDocTest, OlderItemAndChannelRecordsLoadWithDefaults) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorage item(F1, &root, StgAccessReadWrite, false, true);
        Write(item, ".folder", [](TValueWriter& w) {
            w.WriteRawInt32(30); // no subscription flags yet
            w.WriteString("Old folder");
            w.WriteBoolean(false);
            w.WriteRawInt32(7);
            w.WriteInteger(12);
        });
        TStorage channel(F2, &item, StgAccessReadWrite, false, true);
        Write(channel, ".folder", [](TValueWriter& w) {
            w.WriteRawInt32(10); // neither unread nor topic counts
            w.WriteString("Caf\xe9");
            w.WriteBoolean(true);
        });
        Write(channel, ".channel", [](TValueWriter& w) {
            w.WriteRawInt32(10); // 8-bit texts, no status, no account, no author
            w.WriteString("http://example.com/rss");
            w.WriteString("Desc &amp; more");
            w.WriteString("http://example.com/");
            w.WriteString("");
            w.WriteInteger(30000); // a date kept as a day count
            w.WriteString("img");
            w.WriteString("");
            w.WriteString("http://example.com/i.gif");
        });
    });
    auto doc = Open();
    TFolder* item = doc->Root()->Folders(0);
    EXPECT_EQ(item->Title(), QStringLiteral("Old folder"));
    EXPECT_EQ(item->UnreadCount(), 7);
    EXPECT_EQ(item->TopicCount, 12);
    EXPECT_FALSE(item->FromSubscription);
    EXPECT_FALSE(item->Deleted);
    TChannel* channel = item->Channels(0);
    EXPECT_EQ(channel->Title(), QStringLiteral("Caf\u00e9")); // Windows-1252 of an old writer
    EXPECT_TRUE(channel->Protected());
    EXPECT_TRUE(item->Protected()); // the parent takes its child's flag
    EXPECT_EQ(channel->Url(), QStringLiteral("http://example.com/rss"));
    EXPECT_EQ(channel->Description(), QStringLiteral("Desc & more"));
    EXPECT_DOUBLE_EQ(channel->Date, 30000);
    EXPECT_EQ(channel->Image.Src, QStringLiteral("http://example.com/i.gif"));
    EXPECT_EQ(channel->Status, TChannel::StatusOk);
    EXPECT_FALSE(channel->UseAccountCredentials);
}

TEST_F(QuillmarDocTest, OutOfRangeStatusAndFlagLoadAsTheirDefaults) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorage channel(F1, &root, StgAccessReadWrite, false, true);
        Write(channel, ".channel", [](TValueWriter& w) {
            w.WriteRawInt32(50);
            for (int i = 0; i < 4; ++i)
                w.WriteWideString({});
            w.WriteDate(1);
            for (int i = 0; i < 3; ++i)
                w.WriteString({});
            w.WriteInteger(7);
            w.WriteBoolean(false);
            w.WriteWideString({});
        });
        Write(channel, ".index", [](TValueWriter& w) {
            w.WriteRawInt32(40);
            w.WriteListBegin();
            w.WriteString("K");
            w.WriteString("T");
            w.WriteDate(2);
            w.WriteString("t1");
            w.WriteBoolean(true);
            w.WriteBoolean(true);
            w.WriteInteger(9);
            w.WriteListEnd();
            w.WriteListBegin();
            w.WriteListEnd();
        });
    });
    auto doc = Open();
    TChannel* channel = doc->Root()->Channels(0);
    EXPECT_EQ(channel->Status, TChannel::StatusOk);
    doc->EnsureIndexLoaded(*channel);
    EXPECT_EQ(channel->FindTopic("K")->Flag, TTopicIndex::FlagNone);
}

TEST_F(QuillmarDocTest, AnOlderIndexLoadsWithEmptyNewFieldsAndReceivedAtLoadTime) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorage channel(F1, &root, StgAccessReadWrite, false, true);
        WriteChannelRecord(channel);
        Write(channel, ".index", [](TValueWriter& w) {
            w.WriteRawInt32(60);
            w.WriteListBegin();
            w.WriteString("K");
            w.WriteWideString(QStringLiteral("Title"));
            w.WriteDate(40000);
            w.WriteString("t1");
            w.WriteBoolean(true);
            w.WriteBoolean(true);
            w.WriteInteger(5);
            w.WriteString("HASH");
            w.WriteBoolean(true);
            w.WriteListEnd();
            w.WriteListBegin();
            w.WriteString("K");
            w.WriteString("gone");
            w.WriteListEnd();
        });
    });
    auto doc = std::make_unique<TQuillmarDoc>(m_dir.path());
    doc->OpenDocument();
    TChannel* channel = doc->Root()->Channels(0);
    const double before = NowLocal();
    doc->EnsureIndexLoaded(*channel);
    const double after = NowLocal();
    TTopicIndex* entry = channel->FindTopic("K");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Title(), QStringLiteral("Title"));
    EXPECT_TRUE(entry->Read);
    EXPECT_EQ(entry->Flag, TTopicIndex::FlagYellow);
    EXPECT_EQ(entry->ContentHash, "HASH");
    EXPECT_TRUE(entry->HasAttachments);
    EXPECT_TRUE(entry->Origin.isEmpty());
    EXPECT_TRUE(entry->Author().isEmpty());
    EXPECT_GE(entry->Received, before);
    EXPECT_LE(entry->Received, after);
    EXPECT_TRUE(channel->KnownKeys.Exists("gone"));
    EXPECT_EQ(channel->KnownKeys.ItemCount(), 2);
}

TEST_F(QuillmarDocTest, OldTopicBodiesAndSearchRecordsLoad) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorage channel(F1, &root, StgAccessReadWrite, false, true);
        WriteChannelRecord(channel);
        Write(channel, "t1", [](TValueWriter& w) {
            w.WriteRawInt32(10); // 8-bit texts, no guid, no attachments
            w.WriteString("Title");
            w.WriteString("<b>Body</b>");
            w.WriteString("http://example.com/1");
            w.WriteString("Ann");
            w.WriteDate(40000.5);
        });
        TStorage search(".search", &root, StgAccessReadWrite, false, false);
        TStorage saved(F2, &search, StgAccessReadWrite, false, true);
        WriteChannelRecord(saved);
        Write(saved, ".searchinfo", [](TValueWriter& w) {
            w.WriteRawInt32(10);
            w.WriteString("needle");
            w.WriteBoolean(true);
            w.WriteBoolean(false);
            w.WriteListBegin();
            w.WriteString(F1);
            w.WriteListEnd();
        });
    });
    auto doc = Open();
    TChannel* channel = doc->Root()->Channels(0);
    TTopicIndex* entry = channel->AddTopicIndex("K");
    entry->StreamName = "t1";
    TTopic* topic = doc->LoadTopic(*entry);
    EXPECT_EQ(topic->Title(), QStringLiteral("Title"));
    EXPECT_EQ(topic->Description(), QStringLiteral("<b>Body</b>"));
    EXPECT_EQ(topic->Author, QStringLiteral("Ann"));
    EXPECT_DOUBLE_EQ(topic->Date, 40000.5);
    EXPECT_TRUE(topic->Guid().isEmpty());

    ASSERT_EQ(doc->SearchRoot()->ChannelCount(), 1);
    auto* search = dynamic_cast<TSearchChannel*>(doc->SearchRoot()->Channels(0));
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->Options.Text, QStringLiteral("needle"));
    EXPECT_TRUE(search->Options.MatchCase);
    EXPECT_TRUE(search->Options.Persistent);
    EXPECT_EQ(search->Options.Folders, QList<QByteArray>{F1});
    EXPECT_EQ(search->Path(), ".search\\" + F2);
}

TEST_F(QuillmarDocTest, AMissingBodyStreamLeavesTheTopicEmpty) {
    auto doc = Open();
    TChannel* channel = doc->CreateChannel(nullptr);
    TTopicIndex* entry = channel->AddTopicIndex("K");
    entry->StreamName = TQuillmarDoc::ElementName('t', 99);
    TTopic* topic = doc->LoadTopic(*entry);
    ASSERT_NE(topic, nullptr);
    EXPECT_TRUE(topic->NeedsLoading);
    EXPECT_TRUE(topic->Description().isEmpty());
}

TEST_F(QuillmarDocTest, MovingAFolderMovesItsStorageAndKeepsTheNames) {
    auto doc = Open();
    TFolder* a = doc->CreateFolder(nullptr);
    TFolder* b = doc->CreateFolder(a);
    TFolder* c = doc->CreateFolder(a);
    TChannel* inside = doc->CreateChannel(b);
    doc->SaveChannel(*inside);
    AddStoredTopic(*doc, *inside, QStringLiteral("kept"));
    doc->SaveIndex(*inside);
    doc->MoveFolder(*b, c);
    EXPECT_EQ(b->Path(), F1 + '\\' + F3 + '\\' + F2);
    EXPECT_EQ(inside->Path(), b->Path() + '\\' + TQuillmarDoc::ElementName('f', 4));
    EXPECT_EQ(List(F1, true), QList<QByteArray>{F3});
    EXPECT_EQ(List(F1 + '\\' + F3, true), QList<QByteArray>{F2});

    // And back to the top.
    doc->MoveFolder(*b, nullptr);
    EXPECT_EQ(b->Path(), F2);
    auto reopened = Open();
    ASSERT_EQ(reopened->Root()->FolderCount(), 2);
    TFolder* moved = reopened->FolderByStorageName(F2);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->Parent(), reopened->Root());
    TChannel* channel = moved->Channels(0);
    reopened->EnsureIndexLoaded(*channel);
    TTopicIndex* entry = nullptr;
    channel->RestartTopics();
    ASSERT_TRUE(channel->NextTopic(entry));
    EXPECT_EQ(reopened->LoadTopic(*entry)->Title(), QStringLiteral("kept"));
}

TEST_F(QuillmarDocTest, AFolderCannotMoveIntoItselfOrItsDescendant) {
    auto doc = Open();
    TFolder* a = doc->CreateFolder(nullptr);
    TFolder* b = doc->CreateFolder(a);
    const QByteArray before = FileBytes();
    EXPECT_THROW(doc->MoveFolder(*a, a), EDocumentError);
    EXPECT_THROW(doc->MoveFolder(*a, b), EDocumentError);
    EXPECT_EQ(b->Path(), F1 + '\\' + F2);
    EXPECT_EQ(FileBytes(), before);
}

TEST_F(QuillmarDocTest, MovingATopicOntoTheSameKeyKeepsTheTargetsEntry) {
    auto doc = Open();
    TChannel* source = doc->CreateChannel(nullptr);
    TFolder* target = doc->CreateFolder(nullptr);
    TTopicIndex* moving = AddStoredTopic(*doc, *source, QStringLiteral("a"), QStringLiteral("K"));
    const QByteArray oldStream = moving->StreamName;
    TTopicIndex* present = AddStoredTopic(*doc, *target, QStringLiteral("b"), QStringLiteral("K"));
    doc->MoveTopic(*source, *target, false, *moving);
    EXPECT_EQ(source->FindTopic("K"), nullptr);
    EXPECT_EQ(target->FindTopic("K"), present);
    EXPECT_FALSE(List(F1, false).contains(oldStream));
    EXPECT_EQ(List(F2, false).size(), 1); // no stray body beside b's
}

TEST_F(QuillmarDocTest, MovingATopicGivesItANewBodyStreamAndAnOrigin) {
    auto doc = Open();
    TChannel* source = doc->CreateChannel(nullptr);
    TFolder* target = doc->CreateFolder(nullptr);
    TTopicIndex* moving = AddStoredTopic(*doc, *source, QStringLiteral("a"), QStringLiteral("K"));
    doc->MoveTopic(*source, *target, false, *moving);
    TTopicIndex* moved = target->FindTopic("K");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->Origin, F1);
    EXPECT_EQ(moved->StreamName, TQuillmarDoc::ElementName('t', 2));
    EXPECT_TRUE(List(F1, false).isEmpty());
    EXPECT_EQ(List(F2, false), QList<QByteArray>{TQuillmarDoc::ElementName('t', 2)});
    // The body reads back from its new place, also after the move was forgotten.
    moved->AttachTopic(nullptr);
    EXPECT_EQ(doc->LoadTopic(*moved)->Description(), QStringLiteral("<p>a body</p>"));
}

TEST_F(QuillmarDocTest, AMissingCustomizationKeepsTheHomePage) {
    auto doc = Open();
    EXPECT_EQ(doc->HomePage, TBranding::Instance().HomePageUrl.toUtf8());
    EditFile([](TRootStorage& root) {
        Write(root, ".customize", [](TValueWriter& w) {
            w.WriteRawInt32(1);
            w.WriteString("http://distributor.example/");
        });
    });
    EXPECT_EQ(Open()->HomePage, "http://distributor.example/");
    EditFile([](TRootStorage& root) {
        Write(root, ".customize", [](TValueWriter& w) { w.WriteRawInt32(1); });
    });
    EXPECT_EQ(Open()->HomePage, TBranding::Instance().HomePageUrl.toUtf8());
}

TEST_F(QuillmarDocTest, BannersGiveKindLinkAndImage) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorageStream stream(".small", root, StgAccessWrite, true);
        {
            TValueWriter w(stream);
            w.WriteRawInt32(0);
            w.WriteRawInt32(TBanner::Gif);
            w.WriteString("http://ads.example/");
            w.Flush();
        }
        stream.write("GIF89a...");
        Write(root, ".big", [](TValueWriter& w) {
            w.WriteRawInt32(0);
            w.WriteRawInt32(5);
            w.WriteString("x");
        });
    });
    auto doc = Open();
    const auto banner = doc->ReadBanner(".small", true);
    ASSERT_TRUE(banner);
    EXPECT_EQ(banner->Kind, TBanner::Gif);
    EXPECT_EQ(banner->Link, "http://ads.example/");
    EXPECT_EQ(banner->Image, "GIF89a...");
    EXPECT_TRUE(doc->ReadBanner(".small", false)->Image.isEmpty());
    EXPECT_FALSE(doc->ReadBanner(".big", true));
    EXPECT_FALSE(doc->ReadBanner(".smallbottom", true));
}

// --- failures and damaged files ---------------------------------------------------

TEST_F(QuillmarDocTest, AFileThatCannotBeOpenedIsNeverReplaced) {
    QFile file(FilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a compound file, but it is the user's");
    file.close();
    const QByteArray before = FileBytes();
    TQuillmarDoc doc(m_dir.path());
    try {
        doc.OpenDocument();
        FAIL() << "opened";
    } catch (const ECannotOpenDocument& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot open document file. Please make sure it is "
                                              "accessible for reading and writing."));
        EXPECT_TRUE(e.Cause().contains(QStringLiteral("not a storage file")));
    }
    EXPECT_FALSE(doc.IsOpen());
    EXPECT_THROW(doc.CreateFolder(nullptr), ECannotOpenDocument);
    EXPECT_THROW(doc.SaveSearchTree(), ECannotOpenDocument);
    EXPECT_THROW(doc.OpenDocument(), ECannotOpenDocument);
    EXPECT_EQ(FileBytes(), before);
}

TEST_F(QuillmarDocTest, AnUnreadableTreeLeavesTheFileAndTheModelEmpty) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorage item(F1, &root, StgAccessReadWrite, false, true);
        Write(item, ".folder", [](TValueWriter& w) {
            w.WriteRawInt32(50);
            w.WriteInteger(3); // a number where the title belongs
        });
    });
    const QByteArray before = FileBytes();
    TQuillmarDoc doc(m_dir.path());
    EXPECT_THROW(doc.OpenDocument(), ECannotOpenDocument);
    EXPECT_EQ(doc.Root()->FolderCount(), 0);
    EXPECT_THROW(doc.CreateFolder(nullptr), ECannotOpenDocument);
    EXPECT_EQ(FileBytes(), before);
}

TEST_F(QuillmarDocTest, AWriteWhoseStorageIsGoneRaises) {
    auto doc = Open();
    TChannel* channel = doc->CreateChannel(nullptr);
    EditFile([](TRootStorage& root) { root.DestroyElement(F1); });
    EXPECT_THROW(doc->SaveChannel(*channel), EDocumentError);
    EXPECT_THROW(doc->SaveIndex(*channel), EDocumentError);
    TTopicIndex* entry = channel->AddTopicIndex("K", std::make_unique<TTopic>(channel));
    entry->StreamName = "t1";
    EXPECT_THROW(doc->WriteTopic(*entry), EDocumentError);
    EXPECT_EQ(List({}, true), QList<QByteArray>{".search"});
}

TEST_F(QuillmarDocTest, ALaggingHeaderNeverHandsOutATakenName) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorage a(F1, &root, StgAccessReadWrite, false, true);
        TStorage b(TQuillmarDoc::ElementName('f', 0x1F), &a, StgAccessReadWrite, false, true);
        WriteChannelRecord(b);
        Write(b, ".index", [](TValueWriter& w) {
            w.WriteRawInt32(100);
            w.WriteListBegin();
            w.WriteString("K");
            w.WriteWideString(QStringLiteral("T"));
            w.WriteDate(1);
            w.WriteString(TQuillmarDoc::ElementName('t', 0x40));
            for (int i = 0; i < 2; ++i)
                w.WriteBoolean(true);
            w.WriteInteger(2);
            w.WriteString({});
            w.WriteBoolean(false);
            w.WriteString({});
            w.WriteWideString({});
            w.WriteDate(1);
            w.WriteListEnd();
            w.WriteListBegin();
            w.WriteListEnd();
        });
        // A body the index does not list.
        Write(b, TQuillmarDoc::ElementName('t', 0x41),
              [](TValueWriter& w) { w.WriteRawInt32(50); });
    });
    auto doc = Open();
    EXPECT_EQ(doc->NextFolderNumber, 0x20u);
    EXPECT_EQ(doc->CreateFolder(nullptr)->StorageName(), TQuillmarDoc::ElementName('f', 0x20));
    TChannel* channel = doc->Root()->Folders(0)->Channels(0);
    doc->EnsureIndexLoaded(*channel);
    EXPECT_EQ(doc->NextTopicNumber, 0x41u);
    EXPECT_EQ(doc->NewTopicName(*channel), TQuillmarDoc::ElementName('t', 0x42));
}

TEST_F(QuillmarDocTest, APartlyReadIndexIsNeverSavedOverTheStoredOne) {
    Open();
    EditFile([](TRootStorage& root) {
        TStorage channel(F1, &root, StgAccessReadWrite, false, true);
        WriteChannelRecord(channel);
        Write(channel, ".folder", [](TValueWriter& w) {
            w.WriteRawInt32(50);
            w.WriteWideString(QStringLiteral("Damaged"));
            w.WriteBoolean(false);
            w.WriteRawInt32(3);
            w.WriteInteger(3);
            w.WriteBoolean(false);
            w.WriteBoolean(false);
        });
        Write(channel, ".index", [](TValueWriter& w) {
            w.WriteRawInt32(30);
            w.WriteListBegin();
            for (const char* key : {"A", "B"}) {
                w.WriteString(key);
                w.WriteString("T");
                w.WriteDate(1);
                w.WriteString("t1");
                w.WriteBoolean(false);
                w.WriteBoolean(true);
            }
            w.WriteString("C");
            w.WriteInteger(1); // a number where the title belongs
        });
    });
    const QByteArray stored = ReadRaw(F1, ".index");
    auto doc = Open();
    TChannel* channel = doc->Root()->Channels(0);
    EXPECT_THROW(doc->EnsureIndexLoaded(*channel), EReadError);
    EXPECT_EQ(channel->TopicIndexCount(), 2);
    EXPECT_NE(channel->FindTopic("B"), nullptr);
    EXPECT_TRUE(channel->IndexReadInPart);
    EXPECT_EQ(channel->TopicCount, 3); // as the item record has it, not the two read
    EXPECT_NO_THROW(doc->EnsureIndexLoaded(*channel)); // what was read stays on show
    EXPECT_THROW(doc->SaveIndex(*channel), EDocumentError);
    EXPECT_THROW(doc->MarkTopics(*channel, {channel->FindTopic("A")}, true), EDocumentError);
    EXPECT_EQ(ReadRaw(F1, ".index"), stored);
    // Clearing the channel is the way out.
    doc->ClearChannel(*channel);
    EXPECT_FALSE(channel->IndexReadInPart);
    doc->EnsureIndexLoaded(*channel);
    EXPECT_EQ(channel->TopicIndexCount(), 0);
}

TEST_F(QuillmarDocTest, AnIndexThatWasNeverReadIsNotSavedEmpty) {
    {
        auto doc = Open();
        TChannel* channel = doc->CreateChannel(nullptr);
        doc->SaveChannel(*channel);
        AddStoredTopic(*doc, *channel, QStringLiteral("a"));
        doc->SaveIndex(*channel);
    }
    auto doc = Open();
    TChannel* channel = doc->Root()->Channels(0);
    channel->SetTitle(QStringLiteral("renamed"));
    doc->SaveIndex(*channel);
    doc->EnsureIndexLoaded(*channel);
    EXPECT_EQ(channel->TopicIndexCount(), 1);
    EXPECT_EQ(Open()->Root()->Channels(0)->Title(), QStringLiteral("renamed"));
}

TEST_F(QuillmarDocTest, AMissingBodyCountsAsAlreadyDeleted) {
    auto doc = Open();
    TChannel* channel = doc->CreateChannel(nullptr);
    TTopicIndex* gone = AddStoredTopic(*doc, *channel, QStringLiteral("gone"));
    TTopicIndex* kept = AddStoredTopic(*doc, *channel, QStringLiteral("kept"));
    const QByteArray keptKey = kept->Key;
    EditFile([&](TRootStorage& root) {
        TStorage storage(F1, &root, StgAccessReadWrite, false, false);
        storage.DestroyElement(gone->StreamName);
    });
    doc->DeleteTopic(*channel, *gone);
    EXPECT_EQ(channel->TopicIndexCount(), 1);
    doc->DeleteTopic(*channel, *channel->FindTopic(keptKey));
    EXPECT_EQ(channel->TopicIndexCount(), 0);
    EXPECT_TRUE(List(F1, false).isEmpty());
}

TEST_F(QuillmarDocTest, SavedSearchesLandInTheSearchTreeAndSurviveARestart) {
    {
        auto doc = Open();
        TChannel* channel = doc->CreateChannel(nullptr);
        TTopicIndex* found = AddStoredTopic(*doc, *channel, QStringLiteral("found"));
        doc->SaveIndex(*channel);
        auto* kept = static_cast<TSearchChannel*>(doc->SearchRoot()->AddChannel());
        kept->SetTitle(QStringLiteral("needle"));
        kept->Options.Text = QStringLiteral("needle");
        kept->Options.Persistent = true;
        kept->Options.SelectOnly(*channel);
        kept->AttachTopicIndex(found->Key, std::make_unique<TTopicIndex>(kept, *found));
        auto* dropped = static_cast<TSearchChannel*>(doc->SearchRoot()->AddChannel());
        dropped->Options.Text = QStringLiteral("passing");
        doc->SaveSearchTree();
        EXPECT_EQ(kept->Path(), ".search\\" + F2);
        // Nothing of a search lands outside the search storage.
        EXPECT_EQ(List({}, true), (QList<QByteArray>{".search", F1}));
        EXPECT_EQ(List({}, false), QList<QByteArray>{".quillmar"});
    }
    auto doc = Open();
    ASSERT_EQ(doc->SearchRoot()->ChannelCount(), 1);
    auto* search = static_cast<TSearchChannel*>(doc->SearchRoot()->Channels(0));
    EXPECT_EQ(search->Title(), QStringLiteral("needle"));
    EXPECT_TRUE(search->Options.Persistent);
    EXPECT_EQ(search->Options.Folders, QList<QByteArray>{F1});
    doc->EnsureIndexLoaded(*search);
    ASSERT_EQ(search->TopicIndexCount(), 1);
    TTopicIndex* result = nullptr;
    search->RestartTopics();
    search->NextTopic(result);
    EXPECT_EQ(result->Origin, F1);
    TTopic* topic = result->GetTopic();
    ASSERT_NE(topic, nullptr);
    EXPECT_EQ(topic->Title(), QStringLiteral("found"));

    // A search no longer kept leaves the file.
    search->Options.Persistent = false;
    doc->SaveSearchTree();
    EXPECT_TRUE(List(".search", true).isEmpty());
    EXPECT_EQ(Open()->SearchRoot()->ChannelCount(), 0);
}

TEST_F(QuillmarDocTest, MarkingASearchResultMarksItsTopicInItsOwnChannel) {
    auto doc = Open();
    TChannel* channel = doc->CreateChannel(nullptr);
    doc->SaveChannel(*channel);
    TTopicIndex* original = AddStoredTopic(*doc, *channel, QStringLiteral("found"));
    channel->ResetUnreadCount(1);
    doc->SaveIndex(*channel);
    auto* search = static_cast<TSearchChannel*>(doc->SearchRoot()->AddChannel());
    TTopicIndex* result =
        search->AttachTopicIndex(original->Key, std::make_unique<TTopicIndex>(search, *original));
    search->ResetUnreadCount(1);
    doc->MarkTopics(*search, {result}, true);
    EXPECT_TRUE(result->Read);
    EXPECT_EQ(search->UnreadCount(), 0);
    EXPECT_EQ(channel->UnreadCount(), 0);
    EXPECT_TRUE(channel->IndexNotLoaded); // released after saving
    auto reopened = Open();
    TChannel* stored = reopened->Root()->Channels(0);
    EXPECT_EQ(stored->UnreadCount(), 0);
    reopened->EnsureIndexLoaded(*stored);
    TTopicIndex* entry = nullptr;
    stored->RestartTopics();
    ASSERT_TRUE(stored->NextTopic(entry));
    EXPECT_TRUE(entry->Read);
}

TEST_F(QuillmarDocTest, DeletingAnItemRemovesItsStorageUnlessItCameFromASubscription) {
    auto doc = Open();
    TFolder* folder = doc->CreateFolder(nullptr);
    TChannel* inside = doc->CreateChannel(folder);
    inside->SetUrl(QStringLiteral("http://example.com/a"));
    doc->SaveChannel(*inside);
    TChannel* subscribed = doc->CreateChannel(nullptr);
    subscribed->FromSubscription = true;
    subscribed->SetUrl(QStringLiteral("http://example.com/b"));
    doc->SaveChannel(*subscribed);

    doc->DeleteItem(*folder);
    EXPECT_EQ(doc->Root()->FolderCount(), 0);
    EXPECT_EQ(doc->FolderByStorageName(F2), nullptr);
    EXPECT_EQ(doc->ChannelByUrl(QStringLiteral("http://example.com/a")), nullptr);
    EXPECT_EQ(List({}, true), (QList<QByteArray>{".search", F3}));

    doc->DeleteItem(*subscribed);
    EXPECT_TRUE(subscribed->Deleted);
    EXPECT_EQ(doc->ChannelByUrl(QStringLiteral("http://example.com/b")), subscribed);
    EXPECT_TRUE(Open()->Root()->Channels(0)->Deleted);
}

TEST_F(QuillmarDocTest, ClearingAChannelDestroysEveryBodyAndForgetsKnownKeys) {
    {
        auto doc = Open();
        TChannel* channel = doc->CreateChannel(nullptr);
        doc->SaveChannel(*channel);
        AddStoredTopic(*doc, *channel, QStringLiteral("a"), QStringLiteral("A"));
        AddStoredTopic(*doc, *channel, QStringLiteral("b"), QStringLiteral("B"));
        channel->KnownKeys.SetItem("A", 1);
        channel->ResetUnreadCount(2);
        doc->SaveIndex(*channel);
    }
    auto doc = Open();
    TChannel* channel = doc->Root()->Channels(0);
    doc->ClearChannel(*channel); // its index was never loaded
    EXPECT_EQ(List(F1, false), (QList<QByteArray>{".channel", ".folder", ".index"}));
    auto reopened = Open();
    TChannel* cleared = reopened->Root()->Channels(0);
    EXPECT_EQ(cleared->UnreadCount(), 0);
    EXPECT_EQ(cleared->TopicCount, 0);
    reopened->EnsureIndexLoaded(*cleared);
    EXPECT_EQ(cleared->TopicIndexCount(), 0);
    EXPECT_EQ(cleared->KnownKeys.ItemCount(), 0);
}

TEST_F(QuillmarDocTest, FlagsOutsideTheirRangeAreRefused) {
    auto doc = Open();
    TChannel* channel = doc->CreateChannel(nullptr);
    TTopicIndex* entry = AddStoredTopic(*doc, *channel, QStringLiteral("a"));
    EXPECT_THROW(doc->SetTopicFlag(*channel, *entry, 9), EDocumentError);
    doc->SetTopicFlag(*channel, *entry, TTopicIndex::FlagPurple);
    EXPECT_EQ(entry->Flag, TTopicIndex::FlagPurple);
}

TEST_F(QuillmarDocTest, ATreeNestedBeyondTheLimitLoadsUpToTheLimit) {
    Open();
    const int depth = TQuillmarDoc::MaxItemDepth + 20;
    EditFile([&](TRootStorage& root) {
        std::vector<std::unique_ptr<TStorage>> chain;
        TStorage* at = &root;
        for (int i = 1; i <= depth; ++i) {
            chain.push_back(std::make_unique<TStorage>(TQuillmarDoc::ElementName('f', quint32(i)),
                                                       at, StgAccessReadWrite, false, true));
            at = chain.back().get();
        }
        while (!chain.empty())
            chain.pop_back();
    });
    auto doc = Open();
    int levels = 0;
    for (TFolder* f = doc->Root(); f->FolderCount() > 0; f = f->Folders(0))
        ++levels;
    EXPECT_EQ(levels, TQuillmarDoc::MaxItemDepth);
    TFolder* deepest = doc->FolderByStorageName(
        TQuillmarDoc::ElementName('f', quint32(TQuillmarDoc::MaxItemDepth)));
    ASSERT_NE(deepest, nullptr);
    EXPECT_THROW(doc->CreateFolder(deepest), EDocumentError);
}

TEST_F(QuillmarDocTest, AThirdPartyReaderSeesTheDocumentsStoragesAndStreams) {
    {
        auto doc = Open();
        TFolder* folder = doc->CreateFolder(nullptr);
        folder->SetTitle(QStringLiteral("News"));
        doc->SaveFolder(*folder);
        TChannel* channel = doc->CreateChannel(folder);
        channel->SetUrl(QStringLiteral("http://example.com/feed"));
        doc->SaveChannel(*channel);
        AddStoredTopic(*doc, *channel, QStringLiteral("one"));
        doc->SaveIndex(*channel);
    }
    const QString script = QStringLiteral(R"(
import olefile, sys
ole = olefile.OleFileIO(sys.argv[1])
for entry in sorted(ole.listdir(streams=True, storages=True)):
    kind = 'storage' if ole.get_type(entry) == olefile.STGTY_STORAGE else 'stream'
    print(kind, '/'.join(part.replace(' ', '_') for part in entry))
print('header', ole.openstream('.quillmar').read().hex())
)");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, FilePath()});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QString f1 = QString::fromLatin1(F1).replace(u' ', u'_');
    const QString f2 = QString::fromLatin1(F2).replace(u' ', u'_');
    const QString t1 = QString::fromLatin1(TQuillmarDoc::ElementName('t', 1)).replace(u' ', u'_');
    const QStringList expected{
        QStringLiteral("stream .quillmar"),
        QStringLiteral("storage .search"),
        QStringLiteral("stream .search/.folder"),
        QStringLiteral("storage ") + f1,
        QStringLiteral("stream %1/.folder").arg(f1),
        QStringLiteral("storage %1/%2").arg(f1, f2),
        QStringLiteral("stream %1/%2/.channel").arg(f1, f2),
        QStringLiteral("stream %1/%2/.folder").arg(f1, f2),
        QStringLiteral("stream %1/%2/.index").arg(f1, f2),
        QStringLiteral("stream %1/%2/%3").arg(f1, f2, t1),
        QStringLiteral("header 14000000030000000200000001000000"),
    };
    QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n');
    lines.removeAll(QString());
    QStringList sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, sortedExpected);
}

TEST_F(QuillmarDocTest, AChannelIsFoundOnlyByItsCurrentAddress) {
    auto doc = Open();
    TChannel* channel = doc->CreateChannel(nullptr);
    channel->SetUrl(QStringLiteral("http://example.com/old"));
    doc->SaveChannel(*channel);
    channel->SetUrl(QStringLiteral("http://example.com/new"));
    doc->SaveChannel(*channel);
    EXPECT_EQ(doc->ChannelByUrl(QStringLiteral("http://example.com/old")), nullptr);
    EXPECT_EQ(doc->ChannelByUrl(QStringLiteral("http://example.com/NEW")), channel);
    doc->DeleteItem(*channel);
    EXPECT_EQ(doc->ChannelByUrl(QStringLiteral("http://example.com/new")), nullptr);
}
