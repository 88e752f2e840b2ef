// Other programs read what the engine writes (olefile, strictly; libgsf's "gsf"), and the
// engine reads and changes what another program wrote ("gsf createole").
#include "CfbTestSupport.h"
#include "store/CfbFile.h"
#include "store/CompDoc.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun Execute(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(120000)) {
        run.err = "did not finish: " + process.errorString().toUtf8();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// What olefile sees: "D path" and "S path size md5" lines.
std::set<QString> OlefileListing(const QString& file) {
    const ToolRun run =
        Execute(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/support/olefile_listing.py"), file});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    std::set<QString> lines;
    for (const QString& line : QString::fromUtf8(run.out).split(u'\n', Qt::SkipEmptyParts))
        lines.insert(line);
    return lines;
}

// What "gsf list" sees: "D path" and "S path size" lines.
std::set<QString> GsfListing(const QString& file) {
    const ToolRun run = Execute(QStringLiteral("gsf"), {QStringLiteral("list"), file});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    static const QRegularExpression line(QStringLiteral("^([df])\\s.*?\\s(\\d+) (.*)$"));
    std::set<QString> lines;
    for (const QString& text : QString::fromUtf8(run.out).split(u'\n', Qt::SkipEmptyParts)) {
        const auto match = line.match(text);
        if (!match.hasMatch() || match.captured(3) == QStringLiteral("*root*"))
            continue;
        lines.insert(match.captured(1) == QStringLiteral("d")
                         ? QStringLiteral("D ") + match.captured(3)
                         : QStringLiteral("S %1 %2").arg(match.captured(3), match.captured(2)));
    }
    return lines;
}

std::set<QString> ExpectedListing(const std::map<QString, QByteArray>& snapshot, bool withHash) {
    std::set<QString> lines;
    for (const auto& [path, data] : snapshot) {
        if (data == "<storage>")
            lines.insert(QStringLiteral("D ") + path);
        else if (withHash)
            lines.insert(QStringLiteral("S %1 %2 %3")
                             .arg(path)
                             .arg(data.size())
                             .arg(QString::fromLatin1(
                                 QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex())));
        else
            lines.insert(QStringLiteral("S %1 %2").arg(path).arg(data.size()));
    }
    return lines;
}

std::map<QString, QByteArray> SnapshotOfFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    auto loaded = cfbtest::LoadBytes(file.readAll());
    return cfbtest::Snapshot(*loaded);
}

QByteArray Content(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed * 13 + i / 97) & 0xFF);
    return bytes;
}

void Put(TStorage& storage, const QByteArray& name, const QByteArray& data) {
    TStorageStream stream(name, storage, StgAccessWrite, true);
    ASSERT_EQ(stream.write(data), data.size());
}

} // namespace

TEST(CfbInterop, OlefileAndGsfReadTheTreeAndContentOfOurFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ours.bin"));
    {
        TRootStorage root(path, StgAccessReadWrite, StgShareExclusive, false, true);
        Put(root, ".quillmar", Content(12, 1));
        TStorage channel("f                           1", &root, 2, false, true);
        for (int i = 1; i <= 300; ++i)
            Put(channel, QStringLiteral("t%1").arg(i, 28, 16, QChar(u' ')).toUtf8(),
                Content(i % 50 == 0 ? 6000 : 100 + i, i));
        Put(channel, ".index", Content(3000, 2));
        TStorage nested("caf\xc3\xa9 \xe2\x82\xac", &channel, 2, false, true);
        Put(nested, "empty", QByteArray());
        TStorage gone("gone", &root, 2, false, true);
        Put(gone, "x", "y");
        root.Commit();
        root.DestroyElement("gone");
        Put(channel, "t                           5", Content(5000, 99)); // replaced, now large
        root.Commit();
    }
    const auto snapshot = SnapshotOfFile(path);
    ASSERT_EQ(snapshot.size(), 305u);
    EXPECT_EQ(OlefileListing(path), ExpectedListing(snapshot, true));
    EXPECT_EQ(GsfListing(path), ExpectedListing(snapshot, false));
    const ToolRun cat =
        Execute(QStringLiteral("gsf"), {QStringLiteral("cat"), path,
                                        QStringLiteral("f                           1/.index")});
    EXPECT_EQ(cat.out, Content(3000, 2));
}

TEST(CfbInterop, OlefileReadsOurFilesAboveSevenMegabytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.bin"));
    {
        TRootStorage root(path, StgAccessReadWrite, StgShareExclusive, false, true);
        Put(root, "big", Content(9 * 1024 * 1024, 3));
        Put(root, "small", Content(10, 4));
        root.Commit();
        Put(root, "small", Content(20, 5));
        root.Commit();
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_GE(cfbtest::ReadU32At(bytes, 72), 1u) << "no DIFAT sector";
    const auto snapshot = SnapshotOfFile(path);
    EXPECT_EQ(OlefileListing(path), ExpectedListing(snapshot, true));
    EXPECT_EQ(GsfListing(path), ExpectedListing(snapshot, false));
}

TEST(CfbInterop, AFileWrittenByGsfOpensAndStaysReadableAfterOurChanges) {
    QTemporaryDir dir;
    const QDir source(dir.filePath(QStringLiteral("src")));
    ASSERT_TRUE(QDir().mkpath(source.filePath(QStringLiteral("Folder"))));
    std::map<QString, QByteArray> expected;
    const auto write = [&](const QString& name, const QByteArray& data) {
        QFile f(source.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        expected[name] = data;
    };
    write(QStringLiteral("Readme"), Content(40, 1));
    for (int i = 0; i < 12; ++i)
        write(QStringLiteral("Folder/s%1").arg(i), Content(i % 4 == 0 ? 7000 : 300, i));
    expected[QStringLiteral("Folder")] = "<storage>";
    const QString path = dir.filePath(QStringLiteral("theirs.ole"));
    const ToolRun create =
        Execute(QStringLiteral("gsf"), {QStringLiteral("createole"), path,
                                        source.filePath("Readme"), source.filePath("Folder")});
    ASSERT_EQ(create.exitCode, 0) << create.err.constData();

    EXPECT_EQ(SnapshotOfFile(path), expected);
    {
        TRootStorage root(path, StgAccessReadWrite, StgShareExclusive, false, false);
        TStorage folder("Folder", &root, 2, false, false);
        Put(folder, "added", Content(2048, 7));
        Put(folder, "s1", Content(5000, 8));
        folder.DestroyElement("s2");
        root.Commit();
    }
    expected[QStringLiteral("Folder/added")] = Content(2048, 7);
    expected[QStringLiteral("Folder/s1")] = Content(5000, 8);
    expected.erase(QStringLiteral("Folder/s2"));
    EXPECT_EQ(SnapshotOfFile(path), expected);
    EXPECT_EQ(OlefileListing(path), ExpectedListing(expected, true));
    EXPECT_EQ(GsfListing(path), ExpectedListing(expected, false));
}

TEST(CfbInterop, AVersionFourFileIsReadAndStaysReadableAfterOurChanges) {
    // Written from the format description by tests/data/storage/make_version4.py.
    QFile fixture(QStringLiteral(QUILLMAR_TEST_DATA "/storage/version4.cfb"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const auto pattern = [](int size, int factor) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char((i * factor) & 0xFF);
        return bytes;
    };
    std::map<QString, QByteArray> expected{{QStringLiteral("Big"), pattern(5000, 7)},
                                           {QStringLiteral("Small"), pattern(100, 3)},
                                           {QStringLiteral("Folder"), "<storage>"},
                                           {QStringLiteral("Folder/Inner"), "inner stream"}};
    auto file = cfbtest::LoadBytes(fixture.readAll(), true);
    EXPECT_EQ(file->SectorSize(), 4096);
    EXPECT_EQ(cfbtest::Snapshot(*file), expected);

    const uint32_t folder = file->Find(cfb::File::RootStorage, QStringLiteral("Folder"));
    for (int i = 0; i < 40; ++i) {
        const uint32_t s = file->CreateStream(folder, QStringLiteral("added%1").arg(i), true);
        const QByteArray data = Content(i % 5 == 0 ? 9000 : 70 + i, i);
        file->WriteStream(s, 0, data.constData(), data.size());
        expected[QStringLiteral("Folder/added%1").arg(i)] = data;
    }
    file->Destroy(cfb::File::RootStorage, QStringLiteral("Small"));
    expected.erase(QStringLiteral("Small"));
    file->Commit();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("v4.cfb"));
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(cfbtest::BytesOf(*file));
    out.close();
    EXPECT_EQ(SnapshotOfFile(path), expected);
    EXPECT_EQ(OlefileListing(path), ExpectedListing(expected, true));
    EXPECT_EQ(GsfListing(path), ExpectedListing(expected, false));
}
