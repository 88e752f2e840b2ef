// Commits: interrupted at every point they leave the old state or the new one; a failed
// commit rolls back; the bytes one commit writes do not grow with the file.
#include "CfbTestSupport.h"
#include "store/CfbFile.h"

#include <QRandomGenerator>
#include <functional>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfbtest;

namespace {

QByteArray Pattern(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed * 101 + i / 509) & 0xFF);
    return bytes;
}

void Put(File& file, uint32_t storage, const QString& name, const QByteArray& data) {
    const uint32_t s = file.CreateStream(storage, name, true);
    file.SetStreamSize(s, 0);
    file.WriteStream(s, 0, data.constData(), data.size());
}

// A document-like file: a few storages with small and large streams.
QByteArray BaseFile() {
    auto file = File::CreateEmpty(std::make_unique<MemoryIo>());
    for (int f = 0; f < 4; ++f) {
        const uint32_t folder =
            file->CreateStorage(File::RootStorage, QStringLiteral("f%1").arg(f), false);
        for (int t = 0; t < 12; ++t)
            Put(*file, folder, QStringLiteral("t%1").arg(t), Pattern(t % 3 == 0 ? 6000 : 700, t));
        Put(*file, folder, QStringLiteral(".index"), Pattern(2000, f));
    }
    Put(*file, File::RootStorage, QStringLiteral(".quillmar"), Pattern(12, 9));
    file->Commit();
    return BytesOf(*file);
}

struct Operation {
    const char* name;
    std::function<void(File&)> run;
};

const Operation Operations[] = {
    {"add a small stream",
     [](File& f) { Put(f, f.Find(0, "f1"), QStringLiteral("new"), Pattern(2048, 77)); }},
    {"add a large stream",
     [](File& f) { Put(f, f.Find(0, "f2"), QStringLiteral("new"), Pattern(30000, 78)); }},
    {"rewrite an index",
     [](File& f) { Put(f, f.Find(0, "f0"), QStringLiteral(".index"), Pattern(2500, 79)); }},
    {"destroy a storage", [](File& f) { f.Destroy(0, QStringLiteral("f3")); }},
    {"move a storage",
     [](File& f) { f.Move(0, QStringLiteral("f2"), f.Find(0, "f1"), QStringLiteral("f2")); }},
    {"add many storages",
     [](File& f) {
         for (int i = 0; i < 40; ++i)
             f.CreateStorage(0, QStringLiteral("g%1").arg(i), false);
     }},
    {"several changes at once",
     [](File& f) {
         Put(f, 0, QStringLiteral(".quillmar"), Pattern(12, 80));
         f.Destroy(f.Find(0, "f0"), QStringLiteral("t3"));
         Put(f, f.Find(0, "f1"), QStringLiteral("t1"), Pattern(9000, 81));
     }},
};

QByteArray Apply(QByteArray bytes, const std::vector<RecordingIo::Write>& writes, size_t count,
                 int64_t partialLast = -1) {
    for (size_t i = 0; i < count; ++i) {
        const auto& w = writes[i];
        const QByteArray data =
            i + 1 == count && partialLast >= 0 ? w.bytes.left(qsizetype(partialLast)) : w.bytes;
        if (w.offset + data.size() > bytes.size())
            bytes.resize(qsizetype(w.offset + data.size()), '\0');
        std::memcpy(bytes.data() + w.offset, data.constData(), size_t(data.size()));
    }
    return bytes;
}

// Writes that reach memory but fail after a number of bytes: a full disk.
class FailingIo : public MemoryIo {
public:
    FailingIo(QByteArray bytes, int64_t budget) : MemoryIo(std::move(bytes)), m_budget(budget) {}
    void WriteAt(int64_t offset, const char* data, int64_t count) override {
        if (count > m_budget)
            Fail(Status::MediumFull, QStringLiteral("no space left"));
        m_budget -= count;
        MemoryIo::WriteAt(offset, data, count);
    }

private:
    int64_t m_budget;
};

} // namespace

TEST(CfbCommit, AnInterruptedCommitLeavesTheStateBeforeOrAfterIt) {
    const QByteArray base = BaseFile();
    const auto before = Snapshot(*LoadBytes(base));
    for (const Operation& op : Operations) {
        SCOPED_TRACE(op.name);
        auto recording = std::make_unique<RecordingIo>(base);
        RecordingIo* io = recording.get();
        auto file = File::Load(std::move(recording), true);
        op.run(*file);
        file->Commit();
        const auto after = Snapshot(*file);
        ASSERT_NE(before, after);
        const auto& writes = io->writes;
        ASSERT_FALSE(writes.empty());
        // The header is the last write, after a sync; nothing before it touches a sector
        // the old state uses, so every prefix (and a torn last write) opens as the old state.
        EXPECT_EQ(writes.back().offset, 0);
        EXPECT_GE(writes.back().syncsBefore, 1);
        for (size_t n = 0; n <= writes.size(); ++n) {
            for (int64_t part : {int64_t(-1), int64_t(100)}) {
                if (part >= 0 && (n == 0 || n == writes.size()))
                    continue;
                const QByteArray crashed = Apply(base, writes, n, part);
                std::map<QString, QByteArray> seen;
                try {
                    seen = Snapshot(*LoadBytes(crashed));
                } catch (const Error& e) {
                    ADD_FAILURE() << "after " << n << " of " << writes.size()
                                  << " writes the file does not open: " << e.what();
                    continue;
                }
                EXPECT_EQ(seen, n == writes.size() ? after : before)
                    << "after " << n << " of " << writes.size() << " writes";
            }
        }
        // The disk may reorder writes between syncs: any subset of those before the
        // header still shows the old state.
        std::vector<RecordingIo::Write> early(writes.begin(), writes.end() - 1);
        for (int round = 0; round < 10; ++round) {
            std::vector<RecordingIo::Write> subset;
            for (const auto& w : early)
                if (QRandomGenerator::global()->bounded(2))
                    subset.push_back(w);
            EXPECT_EQ(Snapshot(*LoadBytes(Apply(base, subset, subset.size()))), before);
        }
    }
}

TEST(CfbCommit, ChangesAfterAnInterruptedCommitStillCommitCleanly) {
    // A crash leaves garbage past the old end of the file; the next writer must cope.
    const QByteArray base = BaseFile();
    auto recording = std::make_unique<RecordingIo>(base);
    RecordingIo* io = recording.get();
    auto file = File::Load(std::move(recording), true);
    Put(*file, 0, QStringLiteral("big"), Pattern(50000, 3));
    file->Commit();
    const QByteArray crashed = Apply(base, io->writes, io->writes.size() - 1);
    auto again = LoadBytes(crashed, true);
    Put(*again, 0, QStringLiteral("other"), Pattern(9000, 4));
    again->Commit();
    auto expected = Snapshot(*LoadBytes(base));
    expected[QStringLiteral("other")] = Pattern(9000, 4);
    EXPECT_EQ(Snapshot(*LoadBytes(BytesOf(*again))), expected);
}

TEST(CfbCommit, AFailedCommitRollsBackAndTheFileKeepsItsOldState) {
    const QByteArray base = BaseFile();
    const auto before = Snapshot(*LoadBytes(base));
    for (int64_t budget : {0, 700, 3000, 9000}) {
        SCOPED_TRACE(budget);
        auto failing = std::make_unique<FailingIo>(base, budget);
        FailingIo* io = failing.get();
        auto file = File::Load(std::move(failing), true);
        Put(*file, file->Find(0, "f1"), QStringLiteral("new"), Pattern(20000, 5));
        file->Destroy(0, QStringLiteral("f2"));
        EXPECT_THROW(file->Commit(), Error);
        EXPECT_EQ(Snapshot(*file), before);
        EXPECT_EQ(Snapshot(*LoadBytes(io->Bytes())), before);
    }
}

TEST(CfbCommit, AddingOneStreamWritesAboutTheSameAtOneThousandAndTwentyThousandStreams) {
    int64_t written[2] = {};
    const int counts[2] = {1000, 20000};
    for (int k = 0; k < 2; ++k) {
        auto file = File::CreateEmpty(std::make_unique<MemoryIo>());
        const uint32_t channel = file->CreateStorage(0, QStringLiteral("channel"), false);
        const QByteArray body = Pattern(2048, 1);
        for (int i = 1; i <= counts[k]; ++i)
            Put(*file, channel, QStringLiteral("t%1").arg(i, 28, 16, QChar(u' ')), body);
        file->Commit();
        auto reopened = LoadBytes(BytesOf(*file), true);
        const uint32_t again = reopened->Find(0, QStringLiteral("channel"));
        Put(*reopened, again, QStringLiteral("t%1").arg(counts[k] + 1, 28, 16, QChar(u' ')), body);
        reopened->Commit();
        written[k] = reopened->BytesWritten();
    }
    // Beyond 7 MB a moved FAT sector also moves the DIFAT sectors that lead to it (one
    // sector per 7 MB of file), so the larger file may write a few sectors more.
    EXPECT_LT(written[0], 16 * 1024);
    EXPECT_LT(written[1], 16 * 1024);
    EXPECT_LT(written[1], 2 * written[0]);
}
