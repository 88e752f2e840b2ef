// What the fixtures do not show of the iTunes classes: classification and writing.
#include "feeds/iTunesRSS.h"

#include <gtest/gtest.h>

namespace {

TEST(iTunesRSS, ElementNamesHaveTheirCodes) {
    EXPECT_EQ(TiTunesRSS::ElementCode("itunes:author"), 1);
    EXPECT_EQ(TiTunesRSS::ElementCode("itunes:summary"), 7);
    EXPECT_EQ(TiTunesRSS::ElementCode("itunes:owner"), 10);
    EXPECT_EQ(TiTunesRSS::ElementCode("itunes:duration"), 11);
    EXPECT_EQ(TiTunesRSS::ElementCode("itunes:Author"), 0);
    EXPECT_EQ(TiTunesRSS::ElementCode("author"), 0);
}

TEST(iTunesRSS, CategoryTreeHasTheDirectorysCategories) {
    const auto& tree = TiTunesRSS::CategoryTree();
    EXPECT_EQ(tree.ItemCount(), 16);
    ASSERT_TRUE(tree.Exists("Religion & Spirituality"));
    EXPECT_EQ(tree.Items("Religion & Spirituality")->Children.ItemCount(), 7);
    ASSERT_TRUE(tree.Items("Technology")->Children.Exists("Podcasting"));
    EXPECT_EQ(tree.Items("Technology")->Children.Items("Podcasting")->Parent,
              tree.Items("Technology"));
}

TEST(iTunesRSS, CommonInformationIsWrittenInTheITunesNamespace) {
    XmlDocument document = TXmlHost::CreateDocument();
    xmlNode* channel = TXmlHost::CreateElement(document.get(), "feed",
                                               QStringLiteral("http://www.w3.org/2005/Atom"));
    TXmlHost::SetDocumentElement(document.get(), channel);
    TiTunesCommonInformation info;
    info.Author = QStringLiteral("A");
    info.Block = true;
    info.Explicit = TiTunesCommonInformation::ExplicitClean;
    info.Categories.append(TiTunesRSS::CategoryTree().Items("Arts")->Children.Items("Food"));
    info.Write(document.get(), channel, "Atom");

    QList<QByteArray> names;
    for (const xmlNode* child : TXmlHost::ChildElements(channel)) {
        names.append(TXmlHost::NodeName(child));
        ASSERT_NE(child->ns, nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(child->ns->href), ITunesNamespace);
    }
    EXPECT_EQ(names, (QList<QByteArray>{"itunes:author", "itunes:block", "itunes:explicit",
                                        "itunes:category"}));
    const QByteArray xml = TXmlHost::SaveDocument(document.get());
    // Without a declaration on the root each element declares the namespace itself.
    EXPECT_TRUE(xml.contains(">clean</itunes:explicit>")) << xml.constData();
    EXPECT_TRUE(xml.contains(" text=\"Arts\">")) << xml.constData();
    EXPECT_TRUE(xml.contains("<itunes:category text=\"Food\"/>")) << xml.constData();
}

TEST(iTunesRSS, NothingReadWritesExplicitNo) {
    XmlDocument document = TXmlHost::CreateDocument();
    xmlNode* item = TXmlHost::CreateElement(document.get(), "item", {});
    TXmlHost::SetDocumentElement(document.get(), item);
    TiTunesCommonInformation().Write(document.get(), item, "RSS");
    TiTunesTopicInformation().Write(document.get(), item, "RSS");
    TiTunesFeedInformation().Write(document.get(), item, "RSS");
    const QList<xmlNode*> children = TXmlHost::ChildElements(item);
    ASSERT_EQ(children.size(), 1);
    EXPECT_EQ(TXmlHost::NodeText(children[0]), QStringLiteral("no"));
}

TEST(iTunesRSS, NestingDeeperThanTheTreeIsNotFollowed) {
    QByteArray xml = "<itunes:category xmlns:itunes=\"x\" text=\"Arts\">";
    for (int i = 0; i < 200; ++i)
        xml += "<itunes:category text=\"Food\">";
    for (int i = 0; i < 200; ++i)
        xml += "</itunes:category>";
    xml += "</itunes:category>";
    const XmlDocument document = TXmlHost::LoadDocument(xml);
    TiTunesCommonInformation info;
    info.Read(TXmlHost::DocumentElement(document.get()));
    ASSERT_EQ(info.Categories.size(), 1);
    EXPECT_EQ(info.Categories[0]->Name, QStringLiteral("Food"));
}

} // namespace
