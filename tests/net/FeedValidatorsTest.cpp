#include "net/FeedValidators.h"

#include "support/QtPrinters.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class FeedValidatorsTest : public testing::Test {
protected:
    QString FileName() const { return dir.filePath(QStringLiteral("Quillmar.validators")); }
    void WriteFile(const QByteArray& bytes) {
        QFile file(FileName());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir dir;
};

TEST_F(FeedValidatorsTest, FileLivesBesideTheDocument) {
    EXPECT_EQ(TFeedValidators::FileNameFor("/home/u/Documents/My Quillmar/Quillmar.bin"),
              "/home/u/Documents/My Quillmar/Quillmar.validators");
}

TEST_F(FeedValidatorsTest, RememberedValidatorsSurviveTheFile) {
    TFeedValidators saved(FileName());
    saved.Remember("f1", "http://a.example/feed", "\"abc\"", "Wed, 21 Oct 2026 07:28:00 GMT");
    saved.Remember("f2", "http://b.example/feed", {}, "Thu, 22 Oct 2026 07:28:00 GMT");
    EXPECT_TRUE(saved.Changed());
    saved.Save();
    EXPECT_FALSE(saved.Changed());

    TFeedValidators loaded(FileName());
    loaded.Load();
    ASSERT_EQ(loaded.Count(), 2);
    const auto v = loaded.Find("f1", "http://a.example/feed");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->ETag, "\"abc\"");
    EXPECT_EQ(v->LastModified, "Wed, 21 Oct 2026 07:28:00 GMT");
    EXPECT_EQ(loaded.Find("f2", "http://b.example/feed")->ETag, "");
}

TEST_F(FeedValidatorsTest, ValidatorsOfAnotherAddressAreNotUsed) {
    TFeedValidators v(FileName());
    v.Remember("f1", "http://a.example/feed", "\"abc\"", {});
    EXPECT_FALSE(v.Find("f1", "http://a.example/other"));
    EXPECT_FALSE(v.Find("f9", "http://a.example/feed"));
}

TEST_F(FeedValidatorsTest, AnAnswerWithoutValidatorsForgetsTheOldOnes) {
    TFeedValidators v(FileName());
    v.Remember("f1", "http://a.example/feed", "\"abc\"", {});
    v.Remember("f1", "http://a.example/feed", {}, {});
    EXPECT_EQ(v.Count(), 0);
}

TEST_F(FeedValidatorsTest, ValuesThatCouldBreakARequestHeaderAreNotKept) {
    TFeedValidators v(FileName());
    v.Remember("f1", "http://a.example/feed", "\"a\"\r\nX-Evil: 1", {});
    EXPECT_EQ(v.Count(), 0);
    v.Remember("f2", "http://a.example/feed", QByteArray(5000, 'e'), {});
    EXPECT_EQ(v.Count(), 0);

    WriteFile(R"({"version":1,"channels":{
        "f1":{"url":"http://a.example/feed","etag":"\"ok\""},
        "f2":{"url":"http://b.example/feed","etag":"x\ny"},
        "f3":{"url":"","etag":"\"no address\""},
        "f4":{"url":"http://c.example/feed"}}})");
    TFeedValidators loaded(FileName());
    loaded.Load();
    EXPECT_EQ(loaded.Count(), 1);
    EXPECT_TRUE(loaded.Find("f1", "http://a.example/feed"));
}

TEST_F(FeedValidatorsTest, DamagedOrMissingFileGivesNoValidators) {
    const QList<QByteArray> damaged{"",
                                    "not json",
                                    "[1,2,3]",
                                    R"({"version":99,"channels":{}})",
                                    R"({"version":1,"channels":[1]})",
                                    R"({"version":1,"channels":{"f1":7}})"};
    for (const QByteArray& bytes : damaged) {
        WriteFile(bytes);
        TFeedValidators v(FileName());
        v.Load();
        EXPECT_EQ(v.Count(), 0) << bytes.constData();
    }
    TFeedValidators missing(dir.filePath(QStringLiteral("none.validators")));
    missing.Load();
    EXPECT_EQ(missing.Count(), 0);
}

TEST_F(FeedValidatorsTest, PruneForgetsChannelsThatAreGone) {
    TFeedValidators v(FileName());
    v.Remember("f1", "http://a.example/feed", "\"a\"", {});
    v.Remember("f2", "http://b.example/feed", "\"b\"", {});
    v.Prune([](const QByteArray& name) { return name == "f2"; });
    EXPECT_EQ(v.Count(), 1);
    EXPECT_TRUE(v.Find("f2", "http://b.example/feed"));
}

TEST_F(FeedValidatorsTest, UnwritableFileIsReported) {
    TFeedValidators v(dir.filePath(QStringLiteral("missing-folder/Quillmar.validators")));
    v.Remember("f1", "http://a.example/feed", "\"a\"", {});
    EXPECT_THROW(v.Save(), EFeedValidatorsError);
}

} // namespace
