#include "feeds/ChannelLoader.h"

#include "feeds/FeedDoc.h"
#include "feeds/Formatters.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

TEST(ChannelLoader, StreamIsReadFromItsStart) {
    QByteArray bytes =
        "<rss><channel><title>T</title><item><title>I</title></item></channel></rss>";
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadOnly);
    stream.seek(bytes.size());
    TFeed feed;
    ASSERT_TRUE(TChannelLoader::LoadFeed(stream, feed));
    EXPECT_EQ(feed.Channel.Title, QStringLiteral("T"));
    EXPECT_EQ(feed.Topics.size(), 1u);
    EXPECT_STREQ(feed.FormatterClass->ClassName, "TRSSFormatter");
}

struct RefusedCase {
    const char* name;
    QByteArray bytes;
    const char* reason;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedFeedTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedFeedTest, LoaderAnswersFalseAndSaysWhy) {
    TFeed feed;
    feed.AddTopic();
    QString failure;
    EXPECT_FALSE(TChannelLoader::LoadFeed(GetParam().bytes, feed, &failure));
    EXPECT_TRUE(failure.contains(QLatin1String(GetParam().reason))) << failure.toStdString();
    EXPECT_TRUE(feed.Topics.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refused, RefusedFeedTest,
    testing::Values(RefusedCase{"empty", "", "not well-formed"},
                    RefusedCase{"text", "plain text", "not well-formed"},
                    RefusedCase{"nul", QByteArray("<rss>\0</rss>", 12), "not well-formed"},
                    RefusedCase{"html", "<html><body/></html>", "root element \"html\""},
                    RefusedCase{"prefixedAtom", "<a:feed xmlns:a=\"http://www.w3.org/2005/Atom\"/>",
                                "root element \"a:feed\""},
                    RefusedCase{"rssWithoutChannel", "<rss><item/></rss>", "root element \"rss\""}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

} // namespace
