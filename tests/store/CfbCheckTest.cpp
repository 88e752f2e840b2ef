// The full check: sound files pass, each kind of damage is named.
#include "store/CfbCheck.h"

#include "CfbTestSupport.h"

#include <functional>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfbtest;

namespace {

struct Sample {
    QByteArray bytes;
    uint32_t folder, big, other, small;
};

Sample MakeSample() {
    auto file = File::CreateEmpty(std::make_unique<MemoryIo>());
    const uint32_t folder = file->CreateStorage(0, QStringLiteral("folder"), false);
    const auto put = [&](const QString& name, int size) {
        const uint32_t s = file->CreateStream(folder, name, true);
        const QByteArray data(size, 'x');
        file->WriteStream(s, 0, data.constData(), data.size());
        return s;
    };
    const uint32_t big = put(QStringLiteral("big"), 6000);
    const uint32_t other = put(QStringLiteral("other"), 6000);
    const uint32_t small = put(QStringLiteral("small"), 100);
    file->Commit();
    return {BytesOf(*file), folder, big, other, small};
}

CheckReport Check(const QByteArray& bytes) {
    MemoryIo io(bytes);
    return CheckCompoundFile(io);
}

} // namespace

TEST(CfbCheck, ASoundFileHasNoDamageAndIsCounted) {
    const CheckReport report = Check(MakeSample().bytes);
    EXPECT_FALSE(report.Damaged()) << qPrintable(report.damage.join(u'\n'));
    EXPECT_TRUE(report.notes.isEmpty()) << qPrintable(report.notes.join(u'\n'));
    EXPECT_EQ(report.storages, 1);
    EXPECT_EQ(report.streams, 3);
}

TEST(CfbCheck, EachKindOfDamageIsNamed) {
    const Sample sample = MakeSample();
    const auto entry = [&](uint32_t e) { return EntryOffset(sample.bytes, e); };
    const uint32_t bigStart = ReadU32At(sample.bytes, entry(sample.big) + 116);
    const uint32_t otherStart = ReadU32At(sample.bytes, entry(sample.other) + 116);
    const struct {
        const char* what;
        std::function<void(QByteArray&)> damage;
        QString words;
    } cases[] = {
        {"two streams share sectors",
         [&](QByteArray& b) { PatchU32(b, entry(sample.other) + 116, bigStart); },
         QStringLiteral("belongs to both stream \"folder/big\" and stream \"folder/other\"")},
        {"a stream's chain is cut short",
         [&](QByteArray& b) { PatchU32(b, FatEntryOffset(b, otherStart + 2), EndOfChain); },
         QStringLiteral("ends after 3 sectors, but needs 12")},
        {"a stream runs into a free sector",
         [&](QByteArray& b) { PatchU32(b, FatEntryOffset(b, otherStart + 2), FreeSector); },
         QStringLiteral("runs into a free sector mark")},
        {"names out of order",
         [&](QByteArray& b) {
             // Renaming "small" to "aaaaa" keeps its place in the tree, after "other".
             const int64_t at = entry(sample.small);
             for (int i = 0; i < 5; ++i)
                 PatchU16(b, at + 2 * i, 'a');
         },
         QStringLiteral("not in name order")},
        {"a stream claims 4 GB",
         [&](QByteArray& b) { PatchU32(b, entry(sample.small) + 120, 0xFFFFFFF0u); },
         QStringLiteral("more than the file holds")},
        {"a sibling loop",
         [&](QByteArray& b) { PatchU32(b, entry(sample.small) + 72, sample.big); },
         QStringLiteral("cycle")},
        {"the header's signature", [&](QByteArray& b) { b[3] = 0; }, QStringLiteral("signature")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray bytes = sample.bytes;
        c.damage(bytes);
        const CheckReport report = Check(bytes);
        ASSERT_TRUE(report.Damaged());
        EXPECT_TRUE(report.damage.join(u'\n').contains(c.words))
            << qPrintable(report.damage.join(u'\n'));
    }
}

TEST(CfbCheck, LostSpaceIsANoteNotDamage) {
    Sample sample = MakeSample();
    // Mark one free sector past the data as used: nobody owns it.
    auto file = LoadBytes(sample.bytes);
    QByteArray bytes = sample.bytes;
    const uint32_t fatSectorCount = ReadU32At(bytes, 44);
    uint32_t freeSector = 0;
    for (uint32_t s = 0; s < fatSectorCount * 128; ++s)
        if (ReadU32At(bytes, FatEntryOffset(bytes, s)) == FreeSector &&
            SectorOffset(s) + 512 <= bytes.size()) {
            freeSector = s;
            break;
        }
    if (freeSector == 0) {
        // No free sector inside the file: extend it by one and mark that one.
        freeSector = uint32_t(bytes.size() / 512 - 1);
        bytes.append(QByteArray(512, '\0'));
    }
    PatchU32(bytes, FatEntryOffset(bytes, freeSector), EndOfChain);
    const CheckReport report = Check(bytes);
    EXPECT_FALSE(report.Damaged()) << qPrintable(report.damage.join(u'\n'));
    EXPECT_TRUE(report.notes.join(u'\n').contains(QStringLiteral("belong to nothing")));
}
