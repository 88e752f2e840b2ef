// The document's attachment records: made for topics, kept in ".attachments" across
// restarts, and finished downloads with their playlists.
#include "shell/ReaderConfig.h"
#include "store/CompDoc.h"
#include "store/QuillmarDoc.h"
#include "store/ValueStream.h"
#include "support/QtPrinters.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using QuillmarDocCore::TTopic;

namespace {

class DocumentAttachments : public testing::Test {
protected:
    void SetUp() override {
        TConfiguration& c = TConfiguration::Instance();
        m_saved = {c.IdleDownloadingOption, c.PopulateMediaPlayerPlaylist, c.PopulateITunesPlaylist,
                   c.PopulateWinAmpPlaylist};
        c.IdleDownloadingOption = 2;
        doc = Open();
        channel = doc->CreateChannel(nullptr);
        channel->SetTitle(QStringLiteral("Talk &amp; Music"));
        doc->SaveChannel(*channel);
    }
    void TearDown() override {
        TConfiguration& c = TConfiguration::Instance();
        c.IdleDownloadingOption = m_saved.option;
        c.PopulateMediaPlayerPlaylist = m_saved.mediaPlayer;
        c.PopulateITunesPlaylist = m_saved.iTunes;
        c.PopulateWinAmpPlaylist = m_saved.winAmp;
    }

    std::unique_ptr<TQuillmarDoc> Open() {
        auto opened = std::make_unique<TQuillmarDoc>(m_dir.path());
        opened->OpenDocument();
        return opened;
    }
    QString FilePath() const { return m_dir.filePath(QStringLiteral("Reader.bin")); }

    std::unique_ptr<TTopic> Topic(const QString& title) {
        auto topic = std::make_unique<TTopic>(channel);
        topic->SetTitle(title);
        return topic;
    }
    static std::unique_ptr<TAttachment> Enclosure(const QString& url, qint64 size = -1) {
        auto record = std::make_unique<TAttachment>();
        record->Url = url;
        record->MimeType = QStringLiteral("audio/mpeg");
        record->Size = size;
        return record;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TQuillmarDoc> doc;
    TChannel* channel = nullptr;

private:
    struct {
        qint32 option;
        bool mediaPlayer, iTunes, winAmp;
    } m_saved{};
};

} // namespace

TEST_F(DocumentAttachments, TwoTopicsWithTheSameEnclosureMakeOneRecordListedByTheFirst) {
    auto first = Topic(QStringLiteral("Episode 1"));
    auto second = Topic(QStringLiteral("Episode 1 again"));
    const QString url = QStringLiteral("http://example.com/media/my%20song+1.mp3?source=feed#t");
    EXPECT_TRUE(doc->CreateAttachmentFor(Enclosure(url, 4096), *first));
    EXPECT_FALSE(doc->CreateAttachmentFor(Enclosure(url), *second));
    EXPECT_EQ(first->Attachments, QList<QByteArray>{url.toUtf8()});
    EXPECT_TRUE(second->Attachments.isEmpty());
    ASSERT_EQ(doc->AttachmentRecords().Count(), 1);
    const TAttachment* a = doc->FindAttachment(url.toUtf8());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->FileName(), QStringLiteral("my song 1.mp3"));
    EXPECT_EQ(a->Comment, QStringLiteral("From Talk & Music / Episode 1"));
    EXPECT_EQ(a->Size, 4096);
    EXPECT_EQ(a->Kind, TAttachment::KindMusic);
    EXPECT_EQ(a->Priority, TAttachment::PriorityHigh);
    EXPECT_EQ(doc->AttachmentRecords().HighPriority().size(), 1);
}

TEST_F(DocumentAttachments, AnAddressWithoutAFileNameGetsTheFallbackName) {
    const QStringList urls{QStringLiteral("http://example.com/"),
                           QStringLiteral("http://example.com/dir/..%2F..%2F"),
                           QStringLiteral("not an address")};
    for (const QString& url : urls) {
        auto topic = Topic(url);
        ASSERT_TRUE(doc->CreateAttachmentFor(Enclosure(url), *topic)) << url.toStdString();
        const QString name = doc->FindAttachment(url.toUtf8())->FileName();
        EXPECT_FALSE(name.contains(u'/')) << url.toStdString();
        EXPECT_FALSE(name.startsWith(u'.')) << url.toStdString();
    }
    EXPECT_EQ(doc->FindAttachment("http://example.com/")->FileName(), FallbackAttachmentName);
    EXPECT_EQ(doc->FindAttachment("not an address")->FileName(), QStringLiteral("not an address"));
}

TEST_F(DocumentAttachments, RecordsSurviveARestartInTheirOrder) {
    auto topic = Topic(QStringLiteral("t"));
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/b.pdf")), *topic);
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/a.mp3")), *topic);
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/c.exe")), *topic);
    TAttachment* pdf = doc->FindAttachment("http://example.com/b.pdf");
    pdf->Downloaded = 100;
    pdf->SetState(TAttachment::StatePaused);
    doc->SaveAttachments();
    doc.reset();

    auto reopened = Open();
    EXPECT_FALSE(reopened->AttachmentsLoaded());
    EXPECT_TRUE(reopened->HasQueuedAttachments());
    EXPECT_TRUE(reopened->AttachmentsLoaded());
    const TAttachmentRecords& records = reopened->AttachmentRecords();
    ASSERT_EQ(records.Count(), 3);
    QStringList names;
    for (const TAttachment* a : records.AttachmentOrder())
        names.append(a->FileName());
    EXPECT_EQ(names, (QStringList{QStringLiteral("b.pdf"), QStringLiteral("a.mp3"),
                                  QStringLiteral("c.exe")}));
    EXPECT_EQ(records.AttachmentOrder()[0]->State(), TAttachment::StatePaused);
    EXPECT_EQ(records.AttachmentOrder()[0]->Downloaded, 100);
    EXPECT_EQ(records.HighPriority().size(), 1);
    EXPECT_EQ(records.NormalPriority().size(), 1);
    EXPECT_EQ(records.Blocked().size(), 1);
}

TEST_F(DocumentAttachments, AMissingStreamCountsAsAnEmptyList) {
    EXPECT_EQ(doc->FindAttachment("anything"), nullptr);
    EXPECT_TRUE(doc->AttachmentsLoaded());
    EXPECT_EQ(doc->AttachmentRecords().Count(), 0);
    EXPECT_FALSE(doc->HasQueuedAttachments());
}

TEST_F(DocumentAttachments, ADamagedStreamKeepsWhatWasReadAndTheNextSaveKeepsItToo) {
    auto topic = Topic(QStringLiteral("t"));
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/1.mp3")), *topic);
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/2.mp3")), *topic);
    doc->SaveAttachments();
    doc.reset();
    {
        // Cut the stream inside its second record.
        TRootStorage root(FilePath(), StgAccessReadWrite, StgShareExclusive, false, false);
        QByteArray bytes;
        {
            TStorageStream s(".attachments", root, StgAccessRead, false);
            bytes = s.readAll();
        }
        TStorageStream s(".attachments", root, StgAccessWrite, true);
        s.write(bytes.left(bytes.size() - 30));
        s.close();
        root.Commit();
    }
    auto reopened = Open();
    channel = reopened->Root()->Channels(0);
    EXPECT_THROW(reopened->LoadAttachments(), EReadError);
    EXPECT_TRUE(reopened->AttachmentsLoaded());
    ASSERT_EQ(reopened->AttachmentRecords().Count(), 1);
    // Loading again adds nothing twice.
    EXPECT_THROW(reopened->LoadAttachments(), EReadError);
    EXPECT_EQ(reopened->AttachmentRecords().Count(), 1);
    auto again = Topic(QStringLiteral("again"));
    EXPECT_TRUE(reopened->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/3.mp3")),
                                              *again));
    reopened->SaveAttachments();
    reopened.reset();
    auto third = Open();
    third->EnsureAttachmentsLoaded();
    EXPECT_EQ(third->AttachmentRecords().Count(), 2);
    EXPECT_NE(third->FindAttachment("http://example.com/1.mp3"), nullptr);
    EXPECT_NE(third->FindAttachment("http://example.com/3.mp3"), nullptr);
}

TEST_F(DocumentAttachments, AFinishedMusicFileGoesToEveryPlaylistAskedFor) {
    TConfiguration& c = TConfiguration::Instance();
    c.PopulateMediaPlayerPlaylist = true;
    c.PopulateITunesPlaylist = true;
    c.PopulateWinAmpPlaylist = false;
    auto topic = Topic(QStringLiteral("t"));
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/a.mp3")), *topic);
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/b.pdf")), *topic);
    TAttachment* music = doc->FindAttachment("http://example.com/a.mp3");
    TAttachment* other = doc->FindAttachment("http://example.com/b.pdf");

    QList<TPlaylist> asked;
    doc->AddToPlaylist = [&](TPlaylist playlist, const QString& path) {
        asked.append(playlist);
        EXPECT_TRUE(path.endsWith(QStringLiteral("/a.mp3")));
        return playlist != TPlaylist::MediaPlayer; // the first one fails
    };
    doc->AttachmentCompleted(*music);
    EXPECT_EQ(asked, (QList<TPlaylist>{TPlaylist::MediaPlayer, TPlaylist::ITunes}));
    EXPECT_EQ(music->State(), TAttachment::StatePlaylistFailed);
    EXPECT_NE(music->Completed, NotDownloadedDate());

    asked.clear();
    doc->AttachmentCompleted(*other);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(other->State(), TAttachment::StateComplete);

    doc->AddToPlaylist = [](TPlaylist, const QString&) { return true; };
    doc->AttachmentCompleted(*music);
    EXPECT_EQ(music->State(), TAttachment::StateComplete);

    doc->AddToPlaylist = nullptr; // nothing can add to a playlist
    doc->AttachmentCompleted(*music);
    EXPECT_EQ(music->State(), TAttachment::StatePlaylistFailed);
}

TEST_F(DocumentAttachments, ClearCompletedLeavesRecordsInTheFile) {
    auto topic = Topic(QStringLiteral("t"));
    doc->CreateAttachmentFor(Enclosure(QStringLiteral("http://example.com/a.mp3")), *topic);
    TAttachment* a = doc->FindAttachment("http://example.com/a.mp3");
    a->SetState(TAttachment::StateComplete);
    doc->ClearAttachmentsInStates({3, 4, 6});
    EXPECT_EQ(a->State(), TAttachment::StateCleared);
    doc->SaveAttachments();
    doc.reset();
    auto reopened = Open();
    ASSERT_NE(reopened->FindAttachment("http://example.com/a.mp3"), nullptr);
    EXPECT_EQ(reopened->FindAttachment("http://example.com/a.mp3")->State(),
              TAttachment::StateCleared);
}
