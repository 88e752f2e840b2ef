// The storage adapters over real files: messages, open discipline, locking, streams as
// devices.
#include "store/CompDoc.h"

#include "store/CfbFile.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

class CompDocTest : public testing::Test {
protected:
    QString Path(const QString& name = QStringLiteral("doc.bin")) const {
        return m_dir.filePath(name);
    }
    QByteArray ReadStream(TStorage& storage, const QByteArray& name) {
        TStorageStream stream(name, storage, StgAccessRead, false);
        return stream.readAll();
    }
    void WriteStream(TStorage& storage, const QByteArray& name, const QByteArray& data) {
        TStorageStream stream(name, storage, StgAccessWrite, true);
        ASSERT_EQ(stream.write(data), data.size());
    }
    // The file as another process would see it now: the bytes on disk.
    std::unique_ptr<cfb::File> DiskState() {
        QFile file(Path());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return cfb::File::Load(std::make_unique<cfb::MemoryIo>(file.readAll()), false);
    }
    template <typename Exception, typename Body> QString MessageOf(Body body) {
        try {
            body();
        } catch (const Exception& e) {
            return e.Message();
        }
        return QStringLiteral("(no exception)");
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(CompDocTest, WhatIsWrittenAndCommittedReadsBackAfterReopening) {
    {
        TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
        TStorage folder("f1", &root, StgAccessReadWrite, false, true);
        WriteStream(folder, ".folder", "folder record");
        WriteStream(root, ".quillmar", QByteArray(5000, 'q'));
        root.Commit();
    }
    TRootStorage root(Path(), StgAccessRead, StgShareDenyWrite, false, false);
    TStorage folder("f1", &root, StgAccessRead, false, false);
    EXPECT_EQ(ReadStream(folder, ".folder"), "folder record");
    EXPECT_EQ(ReadStream(root, ".quillmar"), QByteArray(5000, 'q'));
}

TEST_F(CompDocTest, AFileThatIsNotACompoundFileIsNotAStorageFile) {
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("just some text, long enough to hold a header if it were one");
    file.close();
    const QString message = MessageOf<ECDStorageError>(
        [&] { TRootStorage(Path(), StgAccessReadWrite, StgShareExclusive, false, false); });
    EXPECT_TRUE(message.startsWith(QStringLiteral("not a storage file: S_FALSE: ")))
        << qPrintable(message);
}

TEST_F(CompDocTest, OpeningMissingElementsNamesTheElementAndTheStatus) {
    TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
    EXPECT_EQ(MessageOf<ECDStorageError>([&] { TStorage("nope", &root, 2, false, false); }),
              QStringLiteral("storage open failed: STG_E_FILENOTFOUND: there is no storage "
                             "named \"nope\""));
    EXPECT_EQ(
        MessageOf<ECDStreamError>([&] { TStorageStream("nope", root, StgAccessRead, false); }),
        QStringLiteral(
            "stream open failed: STG_E_FILENOTFOUND: there is no stream named \"nope\""));
    EXPECT_FALSE(root.StorageExists("nope"));
    EXPECT_FALSE(root.StreamExists("nope"));
    EXPECT_TRUE(MessageOf<ECDStorageError>([&] {
                    TStorage("", &root, 2, false, false);
                }).startsWith(QStringLiteral("no storage name given: E_FAIL: ")));
    EXPECT_TRUE(MessageOf<ECDStorageError>([&] {
                    TStorage("x", nullptr, 2, false, false);
                }).startsWith(QStringLiteral("no parent storage speciified: ")));
    EXPECT_TRUE(MessageOf<ECDStorageError>([&] {
                    TRootStorage(Path(QStringLiteral("missing.bin")), 2, 0, false, false);
                }).startsWith(QStringLiteral("not a storage file: STG_E_FILENOTFOUND: ")));
}

TEST_F(CompDocTest, AStreamAndAStorageAreToldApart) {
    TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
    WriteStream(root, "s", "x");
    TStorage("d", &root, StgAccessReadWrite, false, true);
    EXPECT_TRUE(root.StreamExists("s"));
    EXPECT_FALSE(root.StorageExists("s"));
    EXPECT_TRUE(root.StorageExists("d"));
    EXPECT_FALSE(root.StreamExists("d"));
    EXPECT_TRUE(root.StreamExists("S")) << "names compare without case";
    QList<QByteArray> storages, streams;
    root.ListStorages(storages);
    root.ListStreams(streams);
    EXPECT_EQ(storages, QList<QByteArray>{"d"});
    EXPECT_EQ(streams, QList<QByteArray>{"s"});
}

TEST_F(CompDocTest, NestedOpensShareOneRootAndCommitOnlyAtTheLastClose) {
    TRootStorageWatchdog watchdog(Path());
    watchdog.Open(true);
    TRootStorage* root = watchdog.Root();
    watchdog.Open();
    EXPECT_EQ(watchdog.Root(), root);
    WriteStream(*root, "s", "data");
    watchdog.Close();
    EXPECT_EQ(watchdog.OpenCount(), 1);
    EXPECT_EQ(DiskState()->Find(0, QStringLiteral("s")), cfb::NoEntry) << "committed too early";
    watchdog.Close();
    EXPECT_EQ(watchdog.Root(), nullptr);
    EXPECT_NE(DiskState()->Find(0, QStringLiteral("s")), cfb::NoEntry);
}

TEST_F(CompDocTest, CloseWithoutOpenDoesNothing) {
    TRootStorageWatchdog watchdog(Path());
    watchdog.Close();
    EXPECT_EQ(watchdog.OpenCount(), 0);
    EXPECT_FALSE(QFile::exists(Path()));
}

TEST_F(CompDocTest, AFailedOpenLeavesTheCountAtZero) {
    TRootStorageWatchdog watchdog(Path());
    EXPECT_THROW(watchdog.Open(), ECDStorageError);
    EXPECT_EQ(watchdog.OpenCount(), 0);
}

// Writes that would make a file of this process larger than the limit fail (EFBIG), the
// way a full disk makes them fail, until the scope ends.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(qint64 bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST_F(CompDocTest, ACommitThatFailsAtCloseLeavesTheStateBeforeAndTheFileClosed) {
    TRootStorageWatchdog watchdog(Path());
    watchdog.Open(true);
    WriteStream(*watchdog.Root(), "kept", "1");
    watchdog.Close();
    const qint64 committedSize = QFileInfo(Path()).size();

    watchdog.Open();
    {
        ScopedFileSizeLimit full(committedSize);
        try {
            WriteStream(*watchdog.Root(), "big", QByteArray(200000, 'x'));
        } catch (const ECompDocError&) {
            // Written at once or at the commit: either way Close cannot commit it.
        }
        EXPECT_THROW(watchdog.Close(), ECDStorageError);
    }
    EXPECT_EQ(watchdog.OpenCount(), 0);
    EXPECT_EQ(watchdog.Root(), nullptr);

    // Opened again, the file holds what the last good commit left.
    watchdog.Open();
    EXPECT_EQ(ReadStream(*watchdog.Root(), "kept"), "1");
    EXPECT_FALSE(watchdog.Root()->StreamExists("big"));
    watchdog.Close();
}

TEST_F(CompDocTest, AfterAFailedCommitTheRootGoesOnWithTheStateBefore) {
    TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
    WriteStream(root, "kept", "1");
    root.Commit();
    {
        ScopedFileSizeLimit full(QFileInfo(Path()).size());
        try {
            WriteStream(root, "big", QByteArray(200000, 'x'));
        } catch (const ECompDocError&) {
        }
        EXPECT_THROW(root.Commit(), ECDStorageError);
    }
    EXPECT_FALSE(root.StreamExists("big"));
    WriteStream(root, "next", "2");
    root.Commit();
    EXPECT_EQ(ReadStream(root, "kept"), "1");
    EXPECT_EQ(ReadStream(root, "next"), "2");
}

TEST_F(CompDocTest, AWatchdogDestroyedWhileOpenDropsItsChanges) {
    {
        TRootStorageWatchdog watchdog(Path());
        watchdog.Open(true);
        WriteStream(*watchdog.Root(), "kept", "1");
        watchdog.Close();
        watchdog.Open();
        WriteStream(*watchdog.Root(), "dropped", "2");
    }
    TRootStorage root(Path(), StgAccessRead, StgShareDenyWrite, false, false);
    EXPECT_TRUE(root.StreamExists("kept"));
    EXPECT_FALSE(root.StreamExists("dropped"));
}

TEST_F(CompDocTest, TheFileIsLockedWhileOpen) {
    TRootStorage first(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
    const QString message = MessageOf<ECDStorageError>(
        [&] { TRootStorage(Path(), StgAccessReadWrite, StgShareExclusive, false, false); });
    EXPECT_TRUE(
        message.startsWith(QStringLiteral("root storage open failed: STG_E_SHAREVIOLATION: ")))
        << qPrintable(message);
}

TEST_F(CompDocTest, CreatingAStreamOverAnExistingOneReplacesItsContent) {
    TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
    WriteStream(root, "s", QByteArray(9000, 'a'));
    WriteStream(root, "s", "short");
    EXPECT_EQ(ReadStream(root, "s"), "short");
}

TEST_F(CompDocTest, AStreamIsAnOrdinaryDeviceThatSeeksAndResizes) {
    TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
    TStorageStream stream("s", root, StgAccessReadWrite, true);
    QDataStream out(&stream);
    out << qint32(7) << QStringLiteral("seven");
    EXPECT_EQ(stream.Seek(0, 0), 0);
    qint32 number = 0;
    QString text;
    QDataStream in(&stream);
    in >> number >> text;
    EXPECT_EQ(number, 7);
    EXPECT_EQ(text, QStringLiteral("seven"));
    EXPECT_TRUE(stream.SetSize(2));
    EXPECT_EQ(stream.size(), 2);
    EXPECT_EQ(stream.Seek(-1, 2), 1);
    EXPECT_EQ(stream.Seek(-5, 1), -1);
    EXPECT_TRUE(stream.seek(0));
    EXPECT_EQ(stream.readAll().size(), 2);
}

TEST_F(CompDocTest, MoveAndDestroyWorkOnWholeStorages) {
    TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
    {
        TStorage a("a", &root, 2, false, true);
        TStorage b("b", &a, 2, false, true);
        WriteStream(b, "s", "inside");
        TStorage target("target", &root, 2, false, true);
        root.MoveElement("a", target, "a2");
    }
    EXPECT_FALSE(root.StorageExists("a"));
    TStorage target("target", &root, 2, false, false);
    TStorage a2("a2", &target, 2, false, false);
    TStorage b("b", &a2, 2, false, false);
    EXPECT_EQ(ReadStream(b, "s"), "inside");
    target.DestroyElement("a2");
    EXPECT_FALSE(target.StorageExists("a2"));
    EXPECT_TRUE(MessageOf<ECDStorageError>([&] {
                    target.DestroyElement("a2");
                }).startsWith(QStringLiteral("failed to delete element: STG_E_FILENOTFOUND")));
    EXPECT_TRUE(MessageOf<ECDStreamError>([&] {
                    TStorageStream("s", b, 0, false);
                }).contains(QStringLiteral("STG_E_REVERTED")));
}

TEST_F(CompDocTest, ReadOnlyFilesRefuseChanges) {
    { TRootStorage(Path(), StgAccessReadWrite, StgShareExclusive, false, true); }
    TRootStorage root(Path(), StgAccessRead, StgShareDenyWrite, false, false);
    EXPECT_TRUE(MessageOf<ECDStreamError>([&] {
                    TStorageStream("s", root, 1, true);
                }).contains(QStringLiteral("STG_E_ACCESSDENIED")));
}

TEST_F(CompDocTest, AFileChangedByAnotherWriterIsReadAfresh) {
    {
        TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
        WriteStream(root, "first", "1");
        root.Commit();
    }
    {
        // Parsed and kept by this process...
        TRootStorage root(Path(), StgAccessRead, StgShareDenyWrite, false, false);
        EXPECT_TRUE(root.StreamExists("first"));
    }
    {
        // ...then replaced behind its back by another file.
        TRootStorage other(Path(QStringLiteral("other.bin")), 2, 0, false, true);
        WriteStream(other, "second", "2");
        other.Commit();
    }
    ASSERT_TRUE(QFile::remove(Path()));
    ASSERT_TRUE(QFile::copy(Path(QStringLiteral("other.bin")), Path()));
    TRootStorage root(Path(), StgAccessRead, StgShareDenyWrite, false, false);
    EXPECT_FALSE(root.StreamExists("first"));
    EXPECT_TRUE(root.StreamExists("second"));
}

TEST_F(CompDocTest, NamesThatAreNotUtf8AreReadAsWindows1252) {
    EXPECT_EQ(StorageNameToUnicode("caf\xe9"), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(StorageNameToUnicode("\x80uro"), QStringLiteral("\u20acuro"));
    EXPECT_EQ(StorageNameToUnicode("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(StorageNameFromUnicode(QStringLiteral("caf\u00e9")), QByteArray("caf\xc3\xa9"));
}

TEST_F(CompDocTest, ANewFileNeverAppearsHalfWritten) {
    // Creating writes a temporary file and renames it: no stray files are left beside it.
    { TRootStorage(Path(), StgAccessReadWrite, StgShareExclusive, false, true); }
    { TRootStorage(Path(), StgAccessReadWrite, StgShareExclusive, false, true); }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("doc.bin")});
}

TEST_F(CompDocTest, AFileWithMuchFreeSpaceIsCompactedAndKeepsItsContent) {
    {
        TRootStorage root(Path(), StgAccessReadWrite, StgShareExclusive, false, true);
        TStorage kept("kept", &root, 2, false, true);
        WriteStream(kept, "small", "small content");
        WriteStream(kept, "large", QByteArray(20000, 'l'));
        for (int i = 0; i < 20; ++i)
            WriteStream(root, QByteArray::number(i), QByteArray(30000, 'x'));
        root.Commit();
        for (int i = 0; i < 20; ++i)
            root.DestroyElement(QByteArray::number(i));
        root.Commit();
    }
    const qint64 before = QFileInfo(Path()).size();
    EXPECT_TRUE(CompactStorageFile(Path()));
    EXPECT_LT(QFileInfo(Path()).size(), before / 4);
    EXPECT_FALSE(CompactStorageFile(Path())) << "nothing left to reclaim";
    TRootStorage root(Path(), StgAccessRead, StgShareDenyWrite, false, false);
    TStorage kept("kept", &root, 0, false, false);
    EXPECT_EQ(ReadStream(kept, "small"), "small content");
    EXPECT_EQ(ReadStream(kept, "large"), QByteArray(20000, 'l'));
    QList<QByteArray> streams;
    root.ListStreams(streams);
    EXPECT_TRUE(streams.isEmpty());
}
