// Attachment records: file names from addresses, priorities, the downloads list's
// texts, the ordered lists, and the ".attachments" record format.
#include "store/Attachments.h"

#include "shell/ReaderConfig.h"
#include "store/ValueStream.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

std::unique_ptr<TAttachment> Record(const QByteArray& key, quint8 state = TAttachment::StateQueued,
                                    quint8 priority = TAttachment::PriorityNormal) {
    auto record = std::make_unique<TAttachment>();
    record->Key = key;
    record->Url = QString::fromUtf8(key);
    record->SetState(state);
    record->Priority = priority;
    return record;
}

// One stored record, field by field, as a writer of the given version lays it out.
struct StoredRecord {
    qint32 version = 30;
    QByteArray key = "http://example.com/a.mp3";
    qint32 size = 100;
    qint32 downloaded = -1;
    qint32 state = 1;
    qint32 priority = 2;
    QString fileName = QStringLiteral("a.mp3");
    qint32 kind = 1;
};

void WriteStored(TValueWriter& w, const StoredRecord& r) {
    const bool wide = r.version >= 30;
    const auto text = [&](const QString& t) {
        wide ? w.WriteWideString(t) : w.WriteString(t.toUtf8());
    };
    w.WriteRawInt32(r.version);
    w.WriteString(r.key);
    text(QString::fromUtf8(r.key));
    text(QStringLiteral("audio/mpeg"));
    w.WriteRawInt32(r.size);
    w.WriteRawInt32(r.downloaded);
    w.WriteRawInt32(r.state);
    w.WriteRawInt32(r.priority);
    text(QStringLiteral("From A / B"));
    w.WriteRawDouble(45000.5);
    w.WriteRawDouble(45001.25);
    text({});
    text(r.fileName);
    if (r.version >= 20) {
        w.WriteRawInt32(r.kind);
        text(QStringLiteral("last error"));
    }
}

QByteArray StoredList(const QList<StoredRecord>& records) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    TValueWriter w(buffer);
    w.WriteRawInt32(10);
    w.WriteListBegin();
    for (const StoredRecord& r : records)
        WriteStored(w, r);
    w.WriteListEnd();
    w.Flush();
    return buffer.data();
}

void ReadInto(TAttachmentRecords& records, QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TValueReader r(buffer);
    records.Read(r);
}

QByteArray Written(const TAttachmentRecords& records) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    TValueWriter w(buffer);
    records.Write(w);
    w.Flush();
    return buffer.data();
}

} // namespace

// --- names ------------------------------------------------------------------------

TEST(AttachmentNames, DecodingTurnsEscapesAndPlusSignsIntoTheirCharacters) {
    const struct {
        const char* encoded;
        const char* decoded;
    } cases[] = {
        {"my%20song+1.mp3", "my song 1.mp3"},
        {"%E2%82%ACuro.mp3", "\xE2\x82\xAC"
                             "uro.mp3"},
        {"a%00b", "ab"},  // a NUL never reaches a name
        {"100%", "100%"}, // a "%" without two digits stays
        {"a%zzb", "a%zzb"},
        {"a%4", "a%4"},
        {"a%4g", "a%4g"},
        {"%41%62c", "Abc"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeAttachmentName(c.encoded), QByteArray(c.decoded)) << c.encoded;
}

TEST(AttachmentNames, AFeedCannotNameAFileOutsideItsFolder) {
    const struct {
        QString given;
        QString safe;
    } cases[] = {
        {S("../../etc/passwd"), S("_.._etc_passwd")},
        {S("..\\..\\boot.ini"), S("_.._boot.ini")},
        {S(".."), FallbackAttachmentName},
        {S("."), FallbackAttachmentName},
        {S(""), FallbackAttachmentName},
        {S(" . .hidden"), S("hidden")},
        {S("tab\there\x7f.mp3"), S("tab_here_.mp3")},
        {S("new\nline"), S("new_line")},
        {S("plain name.mp3"), S("plain name.mp3")},
        {S("caf\xC3\xA9.ogg"), S("caf\xC3\xA9.ogg")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeAttachmentFileName(c.given), c.safe) << c.given.toStdString();
}

TEST(AttachmentNames, EscapedSeparatorsAndNulAreMadeSafeAfterDecoding) {
    TAttachment a;
    a.SetFileName(QStringLiteral("..%2F..%2Fhome%2Fuser%2F.bashrc"));
    EXPECT_EQ(a.FileName(), QStringLiteral("_.._home_user_.bashrc"));
    a.SetFileName(QStringLiteral("%2e%2e"));
    EXPECT_EQ(a.FileName(), FallbackAttachmentName);
    a.SetFileName(QStringLiteral("a%5Cb%01.mp3"));
    EXPECT_EQ(a.FileName(), QStringLiteral("a_b_.mp3"));
    a.SetFileName(QStringLiteral("my%20song+1.mp3"));
    EXPECT_EQ(a.FileName(), QStringLiteral("my song 1.mp3"));
}

TEST(AttachmentNames, ALongNameIsCutToTheLimitKeepingItsExtensionAndWholeCharacters) {
    const QString longName = QString(300, u'a') + QStringLiteral(".mp3");
    const QString cut = SafeAttachmentFileName(longName);
    EXPECT_EQ(cut.toUtf8().size(), MaxAttachmentNameBytes);
    EXPECT_TRUE(cut.endsWith(QStringLiteral(".mp3")));

    QString wide;
    for (int i = 0; i < 150; ++i)
        wide += QString::fromUtf8("\xF0\x9F\x8E\xB5"); // four UTF-8 bytes, a surrogate pair
    const QString cutWide = SafeAttachmentFileName(wide + QStringLiteral(".ogg"));
    EXPECT_LE(cutWide.toUtf8().size(), MaxAttachmentNameBytes);
    EXPECT_TRUE(cutWide.endsWith(QStringLiteral(".ogg")));
    EXPECT_EQ(QString::fromUtf8(cutWide.toUtf8()), cutWide); // no half character left
}

TEST(AttachmentNames, AFullPathSplitsIntoFolderAndName) {
    TAttachment a;
    a.SetFullPath(QStringLiteral("/home/user/Podcasts/show.mp3"));
    EXPECT_EQ(a.FileName(), QStringLiteral("show.mp3"));
    EXPECT_EQ(a.Directory, QStringLiteral("/home/user/Podcasts/"));
    EXPECT_EQ(a.DirectoryText(), QStringLiteral("/home/user/Podcasts/"));
    a.SetFullPath({});
    EXPECT_EQ(a.FileName(), QStringLiteral("show.mp3"));
}

TEST(AttachmentNames, TheTargetFolderIsTheOwnOneElseMusicOrAttachmentsFolder) {
    TConfiguration c;
    c.SetAttachmentsFolder(QStringLiteral("/data/att"));
    c.SetMusicFolder(QStringLiteral("/data/music"));
    TAttachment a;
    a.SetFileName(QStringLiteral("x.mp3"));
    EXPECT_EQ(a.FullPath(c), QStringLiteral("/data/att/x.mp3"));
    a.Kind = TAttachment::KindMusic;
    EXPECT_EQ(a.FullPath(c), QStringLiteral("/data/att/x.mp3"));
    c.UseOverrideMusicFolder = true;
    EXPECT_EQ(a.FullPath(c), QStringLiteral("/data/music/x.mp3"));
    a.Directory = QStringLiteral("/elsewhere");
    EXPECT_EQ(a.FullPath(c), QStringLiteral("/elsewhere/x.mp3"));
}

TEST(AttachmentNames, TheDisplayedAddressIsDecoded) {
    TAttachment a;
    a.Url = QStringLiteral("http://example.com/my%20show/caf%C3%A9+1.mp3");
    EXPECT_EQ(a.DisplayUrl(), S("http://example.com/my show/caf\xC3\xA9 1.mp3"));
}

// --- priorities -------------------------------------------------------------------

TEST(AttachmentPriority, FollowsExtensionListsAndTheIdleOption) {
    const struct {
        int option;
        const char* file;
        quint8 priority;
        quint8 kind;
    } cases[] = {
        {2, "show.mp3", TAttachment::PriorityHigh, TAttachment::KindMusic},
        {2, "paper.pdf", TAttachment::PriorityNormal, TAttachment::KindOther},
        {2, "setup.exe", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {2, "SETUP.EXE", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {1, "show.mp3", TAttachment::PriorityNormal, TAttachment::KindMusic},
        {3, "paper.pdf", TAttachment::PriorityHigh, TAttachment::KindOther},
        {3, "setup.exe", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {3, "install.sh", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {3, "tool.AppImage", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {3, "game.run", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {3, "image.bin", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {3, "launcher.desktop", TAttachment::PriorityBlocked, TAttachment::KindOther},
        {2, "noextension", TAttachment::PriorityNormal, TAttachment::KindOther},
        {2, "ends.with.dot.", TAttachment::PriorityNormal, TAttachment::KindOther},
    };
    for (const auto& c : cases) {
        TConfiguration config;
        config.IdleDownloadingOption = c.option;
        TAttachment a;
        a.SetFileName(QString::fromUtf8(c.file));
        AssignPriority(a, config);
        EXPECT_EQ(a.Priority, c.priority) << c.file << " option " << c.option;
        EXPECT_EQ(a.Kind, c.kind) << c.file;
    }
}

TEST(AttachmentPriority, ListsAreSplitAtSemicolonsAndBlanksIgnoringCase) {
    EXPECT_EQ(
        ExtensionList(QStringLiteral(" MP3; ogg  flac;;")),
        (QSet<QString>{QStringLiteral("mp3"), QStringLiteral("ogg"), QStringLiteral("flac")}));
    EXPECT_EQ(AttachmentExtension(QStringLiteral("a.b.MP3 ")), QStringLiteral("mp3"));
    EXPECT_EQ(AttachmentExtension(QStringLiteral("plain")), QString());
}

// --- texts ------------------------------------------------------------------------

TEST(AttachmentTexts, ProgressNeverDividesByAnUnknownSize) {
    const struct {
        qint64 downloaded;
        qint64 size;
        const char* text;
    } cases[] = {
        {512, 2048, "25.0%"},
        {-1, 2048, "n/a"},
        {512, -1, "512 bytes"},
        {512, 0, "512 bytes"},
        {512, -7, "512 bytes"},
        {0, 2048, "0.0%"},
        {3'000'000'000LL, 6'000'000'000LL, "50.0%"},
    };
    for (const auto& c : cases) {
        TAttachment a;
        a.Downloaded = c.downloaded;
        a.Size = c.size;
        EXPECT_EQ(a.ProgressText(), QString::fromUtf8(c.text)) << c.downloaded << '/' << c.size;
    }
}

TEST(AttachmentTexts, SizeKindPriorityAndStateTexts) {
    TAttachment a;
    EXPECT_EQ(a.SizeText(), QStringLiteral("n/a"));
    a.Size = 0;
    EXPECT_EQ(a.SizeText(), QStringLiteral("n/a"));
    a.Size = 5'000'000'000LL;
    EXPECT_EQ(a.SizeText(), QStringLiteral("5000000000"));
    EXPECT_EQ(a.KindText(), QStringLiteral("unknown"));
    a.Kind = TAttachment::KindMusic;
    EXPECT_EQ(a.KindText(), QStringLiteral("music"));
    const std::pair<quint8, const char*> priorities[] = {
        {1, "high"}, {2, "when idle"}, {3, "blocked"}, {0, "blocked"}, {9, "blocked"}};
    for (const auto& [priority, text] : priorities) {
        a.Priority = priority;
        EXPECT_EQ(a.PriorityText(), QString::fromUtf8(text)) << int(priority);
    }
    a.Priority = TAttachment::PriorityNormal;
    const std::pair<quint8, const char*> states[] = {
        {1, "queued"},   {3, "complete"}, {4, "complete"}, {5, "paused"},
        {6, "canceled"}, {7, "error"},    {8, ""}};
    for (const auto& [state, text] : states) {
        a.SetState(state);
        EXPECT_EQ(a.StateText(), QString::fromUtf8(text)) << int(state);
    }
    a.Downloaded = 10;
    a.Size = 40;
    a.SetState(TAttachment::StateDownloading);
    EXPECT_EQ(a.StateText(), QStringLiteral("25.0%"));
    a.Priority = TAttachment::PriorityBlocked;
    EXPECT_EQ(a.StateText(), QStringLiteral("blocked"));
}

TEST(AttachmentTexts, CompletedIsNotAvailableUntilTheDownloadCompletes) {
    TAttachment a;
    EXPECT_EQ(a.Completed, NotDownloadedDate());
    EXPECT_EQ(a.CompletedText(), QStringLiteral("n/a"));
    EXPECT_EQ(a.State(), TAttachment::StateQueued);
    a.SetState(TAttachment::StateComplete);
    EXPECT_NE(a.Completed, NotDownloadedDate());
    EXPECT_NE(a.CompletedText(), QStringLiteral("n/a"));
    EXPECT_FALSE(a.AddedText().isEmpty());
}

// --- the lists --------------------------------------------------------------------

TEST(AttachmentRecords, WaitingRecordsJoinTheirPriorityListAndKeysAreUnique) {
    TAttachmentRecords records;
    TAttachment* queued = records.Add(Record("a", TAttachment::StateQueued, 1));
    TAttachment* paused = records.Add(Record("b", TAttachment::StatePaused, 2));
    TAttachment* error = records.Add(Record("c", TAttachment::StateError, 3));
    TAttachment* done = records.Add(Record("d", TAttachment::StateComplete, 1));
    EXPECT_EQ(records.Add(Record("a")), nullptr);
    EXPECT_EQ(records.Add(Record("")), nullptr);
    EXPECT_EQ(records.AttachmentOrder(), (TOrderedAttachmentsList{queued, paused, error, done}));
    EXPECT_EQ(records.HighPriority(), (TOrderedAttachmentsList{queued}));
    EXPECT_EQ(records.NormalPriority(), (TOrderedAttachmentsList{paused}));
    EXPECT_EQ(records.Blocked(), (TOrderedAttachmentsList{error}));
    EXPECT_EQ(records.Find("d"), done);
    EXPECT_EQ(records.Find("zz"), nullptr);
    EXPECT_EQ(records.Find(""), nullptr);
}

TEST(AttachmentRecords, ChangingThePriorityMovesTheRecordWhateverItsState) {
    TAttachmentRecords records;
    TAttachment* done = records.Add(Record("d", TAttachment::StateComplete, 2));
    TAttachment* queued = records.Add(Record("q", TAttachment::StateQueued, 2));
    EXPECT_FALSE(records.SetPriority(*queued, 2));
    EXPECT_FALSE(records.SetPriority(*queued, 0));
    EXPECT_TRUE(records.SetPriority(*queued, 1));
    EXPECT_TRUE(records.SetPriority(*done, 3));
    EXPECT_EQ(records.HighPriority(), (TOrderedAttachmentsList{queued}));
    EXPECT_TRUE(records.NormalPriority().isEmpty());
    EXPECT_EQ(records.Blocked(), (TOrderedAttachmentsList{done}));
    EXPECT_EQ(done->Priority, 3);
}

TEST(AttachmentRecords, OnlyAQueuedHighOrNormalRecordCountsAsQueued) {
    TAttachmentRecords records;
    EXPECT_FALSE(records.HasQueued());
    records.Add(Record("blocked", TAttachment::StateQueued, 3));
    TAttachment* normal = records.Add(Record("normal", TAttachment::StatePaused, 2));
    EXPECT_FALSE(records.HasQueued());
    normal->SetState(TAttachment::StateQueued);
    EXPECT_TRUE(records.HasQueued());
}

TEST(AttachmentRecords, ClearCompletedClearsCompleteAndCanceledButNotErrorsOrPaused) {
    TAttachmentRecords records;
    for (quint8 state = 1; state <= 7; ++state)
        records.Add(Record(QByteArray::number(state), state));
    records.ClearInStates({3, 4, 6});
    QList<int> states;
    for (const TAttachment* a : records.AttachmentOrder())
        states.append(a->State());
    EXPECT_EQ(states, (QList<int>{1, 2, 8, 8, 5, 8, 7}));
}

// --- the stream -------------------------------------------------------------------

TEST(AttachmentStream, RecordsReadBackAsWrittenWithWideTextsAndLargeSizesUnknown) {
    TAttachmentRecords records;
    auto wide = Record("http://example.com/\xD0\xBC\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0.mp3");
    wide->Url = S("http://example.com/\xD0\xBC\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0.mp3");
    wide->MimeType = QStringLiteral("audio/mpeg");
    wide->Comment = S("From \xE6\x97\xA5\xE6\x9C\xAC / \xF0\x9F\x8E\xB5");
    wide->SetFileName(S("\xD0\xBC\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0.mp3"));
    wide->Size = 5'000'000'000LL;
    wide->Downloaded = 3'000'000'000LL;
    wide->Kind = TAttachment::KindMusic;
    wide->ErrorMessage = S("\xC3\xA9"
                           "chec");
    auto plain = Record("http://example.com/b.pdf", TAttachment::StateComplete, 3);
    plain->Directory = QStringLiteral("/data/pdf");
    plain->Size = 2048;
    plain->Downloaded = 2048;
    plain->SetDecodedFileName(QStringLiteral("100%41+b.pdf"));
    const double completed = plain->Completed;
    records.Add(std::move(wide));
    records.Add(std::move(plain));

    TAttachmentRecords read;
    ReadInto(read, Written(records));
    ASSERT_EQ(read.Count(), 2);
    const TAttachment* a = read.AttachmentOrder()[0];
    EXPECT_EQ(a->Key, records.AttachmentOrder()[0]->Key);
    EXPECT_EQ(a->Url, records.AttachmentOrder()[0]->Url);
    EXPECT_EQ(a->Comment, records.AttachmentOrder()[0]->Comment);
    EXPECT_EQ(a->FileName(), records.AttachmentOrder()[0]->FileName());
    EXPECT_EQ(a->ErrorMessage, records.AttachmentOrder()[0]->ErrorMessage);
    EXPECT_EQ(a->MimeType, QStringLiteral("audio/mpeg"));
    EXPECT_EQ(a->Size, -1); // above what the stored field holds
    EXPECT_EQ(a->Downloaded, -1);
    EXPECT_EQ(a->Kind, TAttachment::KindMusic);
    EXPECT_EQ(a->Completed, NotDownloadedDate());
    const TAttachment* b = read.AttachmentOrder()[1];
    EXPECT_EQ(b->State(), TAttachment::StateComplete);
    EXPECT_EQ(b->Completed, completed);
    EXPECT_EQ(b->Priority, 3);
    EXPECT_EQ(b->Size, 2048);
    EXPECT_EQ(b->DirectoryText(), QStringLiteral("/data/pdf/"));
    // A decoded name is not decoded again: the file on disk keeps being found.
    EXPECT_EQ(b->FileName(), QStringLiteral("100%41+b.pdf"));
    EXPECT_EQ(read.HighPriority().size(), 0);
    EXPECT_EQ(read.NormalPriority().size(), 1);
}

TEST(AttachmentStream, OutOfRangeStoredValuesAreCorrected) {
    StoredRecord zero;
    zero.key = "k0";
    zero.state = 0;
    zero.priority = 0;
    zero.kind = 5;
    StoredRecord nine;
    nine.key = "k9";
    nine.state = 9;
    nine.priority = 4;
    nine.kind = 0;
    nine.size = -20;
    TAttachmentRecords read;
    ReadInto(read, StoredList({zero, nine}));
    ASSERT_EQ(read.Count(), 2);
    for (const TAttachment* a : read.AttachmentOrder()) {
        EXPECT_EQ(a->State(), TAttachment::StateError);
        EXPECT_EQ(a->Priority, TAttachment::PriorityBlocked);
        EXPECT_EQ(a->Kind, TAttachment::KindOther);
        EXPECT_EQ(a->Completed, 45001.25); // the stored date, not the load time
    }
    EXPECT_EQ(read.AttachmentOrder()[1]->Size, -1);
}

TEST(AttachmentStream, ARecordSavedWhileDownloadingIsQueuedAgain) {
    StoredRecord cut;
    cut.key = "cut";
    cut.state = TAttachment::StateDownloading;
    cut.priority = TAttachment::PriorityHigh;
    TAttachmentRecords read;
    ReadInto(read, StoredList({cut}));
    ASSERT_EQ(read.Count(), 1);
    EXPECT_EQ(read.AttachmentOrder()[0]->State(), TAttachment::StateQueued);
    EXPECT_EQ(read.HighPriority().size(), 1);
}

TEST(AttachmentStream, DuplicateAndEmptyKeysAreSkippedKeepingTheFirst) {
    StoredRecord first;
    first.key = "dup";
    first.fileName = QStringLiteral("first.mp3");
    StoredRecord second = first;
    second.fileName = QStringLiteral("second.mp3");
    StoredRecord empty;
    empty.key = "";
    StoredRecord other;
    other.key = "other";
    TAttachmentRecords read;
    ReadInto(read, StoredList({first, second, empty, other}));
    ASSERT_EQ(read.Count(), 2);
    EXPECT_EQ(read.Find("dup")->FileName(), QStringLiteral("first.mp3"));
    EXPECT_EQ(read.AttachmentOrder()[1]->Key, "other");
    EXPECT_EQ(read.HighPriority().size() + read.NormalPriority().size(), 2);
}

TEST(AttachmentStream, OlderRecordsLoadWithDefaultsForLaterFields) {
    StoredRecord v10;
    v10.version = 10;
    v10.key = "old";
    v10.fileName = QStringLiteral("old%20name.mp3");
    TAttachmentRecords read;
    ReadInto(read, StoredList({v10}));
    ASSERT_EQ(read.Count(), 1);
    const TAttachment* a = read.AttachmentOrder()[0];
    EXPECT_EQ(a->Kind, TAttachment::KindOther);
    EXPECT_EQ(a->ErrorMessage, QString());
    EXPECT_EQ(a->Url, QStringLiteral("old"));
    EXPECT_EQ(a->FileName(), QStringLiteral("old%20name.mp3"));
}

TEST(AttachmentStream, AStoredNameIsMadeSafe) {
    StoredRecord evil;
    evil.fileName = QStringLiteral("../../.profile");
    TAttachmentRecords read;
    ReadInto(read, StoredList({evil}));
    ASSERT_EQ(read.Count(), 1);
    EXPECT_EQ(read.AttachmentOrder()[0]->FileName(), QStringLiteral("_.._.profile"));
}

TEST(AttachmentStream, ADamagedRecordStopsTheReadKeepingTheRecordsBeforeIt) {
    StoredRecord good;
    good.key = "good";
    StoredRecord bad;
    bad.key = "bad";
    QByteArray bytes = StoredList({good, bad});
    bytes.chop(20); // the second record ends inside a value
    TAttachmentRecords read;
    EXPECT_THROW(ReadInto(read, bytes), EReadError);
    ASSERT_EQ(read.Count(), 1);
    EXPECT_EQ(read.AttachmentOrder()[0]->Key, "good");
}
