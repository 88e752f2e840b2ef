#include "net/FileUtils.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void Touch(const QString& path, const QByteArray& content = {}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(FileUtils, ExtensionIsWhatFollowsTheLastDotOfTheName) {
    const QList<std::pair<QString, QString>> cases{
        {"show.mp3", "mp3"},
        {"archive.tar.gz", "gz"},
        {"README", ""},
        {"/a.folder/README", ""},
        {"/a.folder/b.txt", "txt"},
        {"name.", ""},
        {".hidden", "hidden"},
        {"", ""},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(ExtractExtension(name), extension) << name.toStdString();
}

TEST(FileUtils, SizeOfAMissingFileIsZero) {
    QTemporaryDir dir;
    Touch(dir.filePath("five"), "12345");
    EXPECT_EQ(GetFileSize(dir.filePath("five")), 5);
    EXPECT_EQ(GetFileSize(dir.filePath("missing")), 0);
}

TEST(FileUtils, UniqueNameNumbersTheFirstFreeCopy) {
    QTemporaryDir dir;
    const QString show = dir.filePath("show.mp3");
    EXPECT_EQ(MakeUniqueFileName(show), show);
    Touch(show);
    EXPECT_EQ(MakeUniqueFileName(show), dir.filePath("show.1.mp3"));
    Touch(dir.filePath("show.1.mp3"));
    EXPECT_EQ(MakeUniqueFileName(show), dir.filePath("show.2.mp3"));

    const QString plain = dir.filePath("notes");
    Touch(plain);
    EXPECT_EQ(MakeUniqueFileName(plain), dir.filePath("notes.1"));
}

TEST(FileUtils, UniqueNameGivesUpAfterNinetyNineCopies) {
    QTemporaryDir dir;
    Touch(dir.filePath("a.pdf"));
    for (int n = 1; n <= 98; ++n)
        Touch(dir.filePath(QStringLiteral("a.%1.pdf").arg(n)));
    EXPECT_EQ(MakeUniqueFileName(dir.filePath("a.pdf")), dir.filePath("a.99.pdf"));
    Touch(dir.filePath("a.99.pdf"));
    EXPECT_EQ(MakeUniqueFileName(dir.filePath("a.pdf")), QString());
}

} // namespace
