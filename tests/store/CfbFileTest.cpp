// The engine on its own, over memory: elements, streams, trees, the format's limits and
// damaged input.
#include "store/CfbFile.h"

#include "CfbTestSupport.h"

#include <QRandomGenerator>
#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfbtest;

namespace {

std::unique_ptr<File> NewFile() {
    return File::CreateEmpty(std::make_unique<MemoryIo>());
}

QByteArray Pattern(int size, int seed = 1) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed * 7 + i / 251) & 0xFF);
    return bytes;
}

uint32_t AddStream(File& file, uint32_t storage, const QString& name, const QByteArray& data) {
    const uint32_t s = file.CreateStream(storage, name, true);
    file.WriteStream(s, 0, data.constData(), data.size());
    return s;
}

// Opening must fail with this status and a reason mentioning the words.
void ExpectOpenFails(const QByteArray& bytes, Status status, const QString& words) {
    try {
        auto file = LoadBytes(bytes);
        Snapshot(*file);
        ADD_FAILURE() << "opened a damaged file; expected " << qPrintable(words);
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), status) << qPrintable(e.Message());
        EXPECT_TRUE(e.Reason().contains(words)) << qPrintable(e.Message());
    }
}

} // namespace

TEST(CfbFile, NewFileHoldsOnlyTheRootAndThreeSectors) {
    auto file = NewFile();
    EXPECT_TRUE(file->Children(File::RootStorage).empty());
    EXPECT_EQ(BytesOf(*file).size(), 3 * 512);
    auto again = LoadBytes(BytesOf(*file));
    EXPECT_EQ(again->EntryAt(0).name, QStringLiteral("Root Entry"));
    EXPECT_TRUE(Snapshot(*again).empty());
}

TEST(CfbFile, StreamsOfEverySizeAroundTheCutoffReadBackAfterReopening) {
    const int sizes[] = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 20000};
    auto file = NewFile();
    for (int size : sizes)
        AddStream(*file, File::RootStorage, QStringLiteral("s%1").arg(size), Pattern(size, size));
    file->Commit();
    auto again = LoadBytes(BytesOf(*file));
    const auto snapshot = Snapshot(*again);
    ASSERT_EQ(snapshot.size(), std::size(sizes));
    for (int size : sizes)
        EXPECT_EQ(snapshot.at(QStringLiteral("s%1").arg(size)), Pattern(size, size)) << size;
}

TEST(CfbFile, StreamMovesBetweenMiniAndRegularSectorsWhenItsSizeCrossesTheCutoff) {
    auto file = NewFile();
    const uint32_t s = AddStream(*file, File::RootStorage, QStringLiteral("grow"), Pattern(100));
    file->Commit();
    file->WriteStream(s, 100, Pattern(8000).constData(), 8000);
    file->Commit();
    QByteArray expected = Pattern(100) + Pattern(8000);
    EXPECT_EQ(Snapshot(*LoadBytes(BytesOf(*file))).at(QStringLiteral("grow")), expected);
    file->SetStreamSize(s, 10);
    file->Commit();
    EXPECT_EQ(Snapshot(*LoadBytes(BytesOf(*file))).at(QStringLiteral("grow")), Pattern(10));
}

TEST(CfbFile, NamesCompareWithoutCaseAndShorterNamesComeFirst) {
    auto file = NewFile();
    for (const char* name : {"zz", "b", "Abc", "aa", "A"})
        file->CreateStorage(File::RootStorage, QString::fromLatin1(name), false);
    EXPECT_NE(file->Find(File::RootStorage, QStringLiteral("abc")), NoEntry);
    EXPECT_NE(file->Find(File::RootStorage, QStringLiteral("ZZ")), NoEntry);
    QStringList order;
    for (uint32_t e : file->Children(File::RootStorage))
        order << file->EntryAt(e).name;
    EXPECT_EQ(order, QStringList({"A", "b", "aa", "zz", "Abc"}));
    try {
        file->CreateStorage(File::RootStorage, QStringLiteral("ABC"), false);
        ADD_FAILURE() << "two names that differ only in case";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), Status::FileAlreadyExists);
    }
}

TEST(CfbFile, UnacceptableNamesAreRefusedWithTheReason) {
    auto file = NewFile();
    const struct {
        QString name;
        QString words;
    } cases[] = {
        {QString(), QStringLiteral("empty")},
        {QString(32, u'x'), QStringLiteral("longer than 31")},
        {QStringLiteral("a/b"), QStringLiteral("'/'")},
        {QStringLiteral("a\\b"), QStringLiteral("'\\'")},
        {QStringLiteral("a:b"), QStringLiteral("':'")},
        {QStringLiteral("a!b"), QStringLiteral("'!'")},
    };
    for (const auto& c : cases) {
        try {
            file->CreateStream(File::RootStorage, c.name, true);
            ADD_FAILURE() << "accepted " << qPrintable(c.name);
        } catch (const Error& e) {
            EXPECT_EQ(e.Code(), Status::InvalidName);
            EXPECT_TRUE(e.Reason().contains(c.words)) << qPrintable(e.Reason());
        }
    }
    EXPECT_NO_THROW(file->CreateStream(File::RootStorage, QString(31, u'x'), true));
}

TEST(CfbFile, TreesStayRedBlackWhileNamesGrowAndShrink) {
    auto file = NewFile();
    const uint32_t folder = file->CreateStorage(File::RootStorage, QStringLiteral("f"), false);
    std::vector<QString> names;
    for (int i = 1; i <= 600; ++i) {
        names.push_back(QStringLiteral("t%1").arg(i, 28, 16, QChar(u' ')));
        file->CreateStream(folder, names.back(), false);
    }
    std::shuffle(names.begin(), names.end(), *QRandomGenerator::global());
    for (int i = 0; i < 350; ++i)
        file->Destroy(folder, names[size_t(i)]);
    file->Commit();
    auto again = LoadBytes(BytesOf(*file));
    const uint32_t reopened = again->Find(File::RootStorage, QStringLiteral("f"));
    const std::vector<uint32_t> members = again->Children(reopened);
    EXPECT_EQ(members.size(), 250u);
    // The reloaded tree is examined by the engine; a tree it did not trust would have to
    // be rebuilt, which shows as a change before anything was written.
    EXPECT_FALSE(again->HasChanges());
    EXPECT_EQ(again->Health(reopened), TreeHealth::RedBlack);
    for (size_t i = 350; i < names.size(); ++i)
        EXPECT_NE(again->Find(reopened, names[i]), NoEntry);
}

TEST(CfbFile, DestroyingAStorageRemovesEverythingBelowIt) {
    auto file = NewFile();
    const uint32_t a = file->CreateStorage(File::RootStorage, QStringLiteral("a"), false);
    const uint32_t b = file->CreateStorage(a, QStringLiteral("b"), false);
    AddStream(*file, b, QStringLiteral("big"), Pattern(9000));
    AddStream(*file, a, QStringLiteral("small"), Pattern(10));
    AddStream(*file, File::RootStorage, QStringLiteral("keep"), Pattern(300));
    file->Commit();
    const int64_t size = BytesOf(*file).size();
    file->Destroy(File::RootStorage, QStringLiteral("a"));
    file->Commit();
    EXPECT_EQ(Snapshot(*LoadBytes(BytesOf(*file))),
              (std::map<QString, QByteArray>{{QStringLiteral("keep"), Pattern(300)}}));
    // The freed sectors are used again: doing the same once more does not grow the file.
    for (int round = 0; round < 3; ++round) {
        const uint32_t a2 = file->CreateStorage(File::RootStorage, QStringLiteral("a"), false);
        AddStream(*file, a2, QStringLiteral("big"), Pattern(9000));
        file->Commit();
        file->Destroy(File::RootStorage, QStringLiteral("a"));
        file->Commit();
    }
    EXPECT_LE(BytesOf(*file).size(), size + 4 * 512);
}

TEST(CfbFile, MoveTakesAnElementWithItsContentToAnotherStorage) {
    auto file = NewFile();
    const uint32_t a = file->CreateStorage(File::RootStorage, QStringLiteral("a"), false);
    const uint32_t b = file->CreateStorage(File::RootStorage, QStringLiteral("b"), false);
    const uint32_t inner = file->CreateStorage(a, QStringLiteral("inner"), false);
    AddStream(*file, inner, QStringLiteral("s"), Pattern(50));
    file->Move(a, QStringLiteral("inner"), b, QStringLiteral("moved"));
    file->Commit();
    const auto snapshot = Snapshot(*LoadBytes(BytesOf(*file)));
    EXPECT_EQ(snapshot.count(QStringLiteral("a/inner")), 0u);
    EXPECT_EQ(snapshot.at(QStringLiteral("b/moved/s")), Pattern(50));
    try {
        file->Move(File::RootStorage, QStringLiteral("b"), file->Find(b, QStringLiteral("moved")),
                   QStringLiteral("b"));
        ADD_FAILURE() << "moved a storage into its own child";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), Status::AccessDenied);
    }
}

TEST(CfbFile, CreatingAStreamOverAnExistingOneReplacesItsContent) {
    auto file = NewFile();
    AddStream(*file, File::RootStorage, QStringLiteral("s"), Pattern(5000));
    file->Commit();
    AddStream(*file, File::RootStorage, QStringLiteral("s"), Pattern(7, 3));
    file->Commit();
    EXPECT_EQ(Snapshot(*LoadBytes(BytesOf(*file))).at(QStringLiteral("s")), Pattern(7, 3));
}

TEST(CfbFile, RevertForgetsEverySinceTheLastCommit) {
    auto file = NewFile();
    AddStream(*file, File::RootStorage, QStringLiteral("kept"), Pattern(10));
    file->Commit();
    AddStream(*file, File::RootStorage, QStringLiteral("dropped"), Pattern(10));
    file->Destroy(File::RootStorage, QStringLiteral("kept"));
    file->Revert();
    EXPECT_EQ(Snapshot(*file), (std::map<QString, QByteArray>{{"kept", Pattern(10)}}));
}

TEST(CfbFile, CommitWithoutChangesWritesNothing) {
    auto file = NewFile();
    AddStream(*file, File::RootStorage, QStringLiteral("s"), Pattern(10));
    file->Commit();
    const int64_t before = file->BytesWritten();
    file->Commit();
    EXPECT_EQ(file->BytesWritten(), before);
}

TEST(CfbFile, FilesAboveSevenMegabytesGetDifatSectorsAndReadBack) {
    auto file = NewFile();
    const QByteArray big = Pattern(8 * 1024 * 1024, 5);
    AddStream(*file, File::RootStorage, QStringLiteral("big"), big);
    AddStream(*file, File::RootStorage, QStringLiteral("small"), Pattern(100));
    file->Commit();
    const QByteArray bytes = BytesOf(*file);
    EXPECT_GE(ReadU32At(bytes, 72), 1u) << "DIFAT sector count";
    EXPECT_GT(ReadU32At(bytes, 44), 109u) << "FAT sector count";
    auto again = LoadBytes(bytes, true);
    EXPECT_EQ(Snapshot(*again).at(QStringLiteral("big")), big);
    // Changing a small stream afterwards moves FAT and DIFAT sectors, not the file.
    AddStream(*again, File::RootStorage, QStringLiteral("small"), Pattern(200));
    again->Commit();
    EXPECT_LT(again->BytesWritten(), 16 * 1024);
    const auto snapshot = Snapshot(*LoadBytes(BytesOf(*again)));
    EXPECT_EQ(snapshot.at(QStringLiteral("big")), big);
    EXPECT_EQ(snapshot.at(QStringLiteral("small")), Pattern(200));
}

TEST(CfbFile, UnbalancedTreesFromOtherWritersAreReadAndRebalancedOnChange) {
    // Five storages chained to the right, all black: a valid search tree, not red-black.
    auto file = NewFile();
    for (int i = 0; i < 5; ++i)
        file->CreateStorage(File::RootStorage, QStringLiteral("n%1").arg(i), false);
    file->Commit();
    QByteArray bytes = BytesOf(*file);
    auto loaded = LoadBytes(bytes);
    std::vector<uint32_t> members = loaded->Children(File::RootStorage);
    ASSERT_EQ(members.size(), 5u);
    PatchU32(bytes, EntryOffset(bytes, 0) + 76, members[0]);
    for (size_t i = 0; i < members.size(); ++i) {
        const int64_t at = EntryOffset(bytes, members[i]);
        bytes[qsizetype(at + 67)] = 1;
        PatchU32(bytes, at + 68, NoEntry);
        PatchU32(bytes, at + 72, i + 1 < members.size() ? members[i + 1] : NoEntry);
    }
    auto chained = LoadBytes(bytes, true);
    EXPECT_EQ(chained->Children(File::RootStorage).size(), 5u);
    EXPECT_NE(chained->Find(File::RootStorage, QStringLiteral("n4")), NoEntry);
    chained->CreateStorage(File::RootStorage, QStringLiteral("n5"), false);
    chained->Commit();
    auto fixed = LoadBytes(BytesOf(*chained));
    EXPECT_FALSE(fixed->HasChanges());
    EXPECT_EQ(fixed->Children(File::RootStorage).size(), 6u);
}

TEST(CfbFile, DamagedFilesFailWithAPreciseReason) {
    auto file = NewFile();
    const uint32_t folder = file->CreateStorage(File::RootStorage, QStringLiteral("f"), false);
    AddStream(*file, folder, QStringLiteral("big"), Pattern(6000));
    AddStream(*file, folder, QStringLiteral("small"), Pattern(100));
    file->Commit();
    const QByteArray good = BytesOf(*file);
    auto loaded = LoadBytes(good);
    const uint32_t f = loaded->Find(File::RootStorage, QStringLiteral("f"));
    const uint32_t big = loaded->Find(f, QStringLiteral("big"));
    const uint32_t small = loaded->Find(f, QStringLiteral("small"));
    const uint32_t bigStart = loaded->EntryAt(big).start;

    ExpectOpenFails(good.left(300), Status::InvalidHeader, QStringLiteral("shorter"));
    ExpectOpenFails(good.left(600), Status::InvalidHeader, QStringLiteral("too few"));

    QByteArray signature = good;
    signature[0] = 'X';
    ExpectOpenFails(signature, Status::InvalidHeader, QStringLiteral("signature"));

    QByteArray shift = good;
    PatchU16(shift, 30, 30);
    ExpectOpenFails(shift, Status::InvalidHeader, QStringLiteral("sector shift 30"));

    QByteArray loop = good;
    PatchU32(loop, FatEntryOffset(loop, bigStart + 3), bigStart + 1);
    ExpectOpenFails(loop, Status::DocfileCorrupt, QStringLiteral("loops"));

    QByteArray dirLoop = good;
    const uint32_t firstDir = ReadU32At(dirLoop, 48);
    PatchU32(dirLoop, FatEntryOffset(dirLoop, firstDir), firstDir);
    ExpectOpenFails(dirLoop, Status::DocfileCorrupt, QStringLiteral("directory chain loops"));

    QByteArray huge = good;
    PatchU32(huge, EntryOffset(huge, small) + 120, 0xFFFFFFF0u);
    ExpectOpenFails(huge, Status::DocfileCorrupt, QStringLiteral("more than the file holds"));

    QByteArray cycle = good;
    PatchU32(cycle, EntryOffset(cycle, small) + 68, f);
    ExpectOpenFails(cycle, Status::DocfileCorrupt, QStringLiteral("cycle"));

    QByteArray self = good;
    PatchU32(self, EntryOffset(self, big) + 72, big);
    ExpectOpenFails(self, Status::DocfileCorrupt, QStringLiteral("cycle"));

    QByteArray missing = good;
    PatchU32(missing, EntryOffset(missing, big) + 68, 4000);
    ExpectOpenFails(missing, Status::DocfileCorrupt, QStringLiteral("does not exist"));

    QByteArray fatCount = good;
    PatchU32(fatCount, 44, 1000000);
    ExpectOpenFails(fatCount, Status::InvalidHeader, QStringLiteral("FAT sectors"));
}
