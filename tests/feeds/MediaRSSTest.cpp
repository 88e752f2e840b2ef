// What the fixtures do not show of the Media RSS classes: what they write.
#include "feeds/MediaRSS.h"

#include <gtest/gtest.h>

namespace {

struct Written {
    XmlDocument document = TXmlHost::CreateDocument();
    xmlNode* root = nullptr;

    // An item in no namespace at all, as in RSS, or in Atom's.
    explicit Written(const QString& parentNamespace = {}) {
        root = TXmlHost::CreateElement(document.get(), "item", parentNamespace);
        TXmlHost::SetDocumentElement(document.get(), root);
    }
    QByteArray Xml() const { return TXmlHost::SaveDocument(document.get()); }
};

XmlDocument Load(const QByteArray& xml) {
    return TXmlHost::LoadDocument(xml);
}

QByteArray WithMedia(const QByteArray& body) {
    return "<item xmlns:media=\"http://search.yahoo.com/mrss/\">" + body + "</item>";
}

TEST(MediaRSS, MediaElementsAreWrittenInTheMediaNamespaceInsideAtom) {
    Written out(QStringLiteral("http://www.w3.org/2005/Atom"));
    TEnclosure content;
    content.Url = QStringLiteral("http://example.com/a.mp4");
    content.Information.Title = QStringLiteral("A film");
    content.Write(out.document.get(), out.root, "Atom");
    const xmlNode* written = out.root->children;
    ASSERT_NE(written, nullptr);
    ASSERT_NE(written->ns, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(written->ns->href), MediaRssNamespace);
    EXPECT_STREQ(reinterpret_cast<const char*>(written->ns->prefix), "media");
    // And the document reads back with the prefix bound to the Media RSS namespace.
    const XmlDocument again = Load(out.Xml());
    const xmlNode* title = TXmlHost::FindChild(
        TXmlHost::FindChild(TXmlHost::DocumentElement(again.get()), "media:content"),
        "media:title");
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(title->ns->href), MediaRssNamespace);
}

TEST(MediaRSS, ContentWritesOnlyWhatIsKnown) {
    Written out;
    TEnclosure content;
    content.Url = QStringLiteral("http://example.com/a.mp4");
    content.Length = -1;
    content.Expression = TEnclosure::ExpressionSample;
    content.Width = 640;
    content.Write(out.document.get(), out.root, "RSS");
    const QByteArray xml = out.Xml();
    EXPECT_TRUE(xml.contains("url=\"http://example.com/a.mp4\"")) << xml.constData();
    EXPECT_TRUE(xml.contains("expression=\"sample\"")) << xml.constData();
    EXPECT_TRUE(xml.contains("width=\"640\"")) << xml.constData();
    EXPECT_FALSE(xml.contains("fileSize")) << xml.constData();
    EXPECT_FALSE(xml.contains("type=")) << xml.constData();
    EXPECT_FALSE(xml.contains("isDefault")) << xml.constData();
    EXPECT_FALSE(xml.contains("height")) << xml.constData();
}

TEST(MediaRSS, InformationIsWrittenInItsOrder) {
    const XmlDocument in = Load(WithMedia(
        "<media:text>t</media:text><media:credit role=\"r\">c</media:credit>"
        "<media:player url=\"p\"/><media:hash>h</media:hash><media:category>k</media:category>"
        "<media:thumbnail url=\"u\"/><media:title>x</media:title><media:adult>true</media:adult>"));
    TMediaInformation info;
    for (const xmlNode* child : TXmlHost::ChildElements(TXmlHost::DocumentElement(in.get())))
        ASSERT_EQ(info.Read(child), &info);
    Written out;
    info.Write(out.document.get(), out.root, "RSS");
    QList<QByteArray> names;
    for (const xmlNode* child : TXmlHost::ChildElements(out.root))
        names.append(TXmlHost::NodeName(child));
    EXPECT_EQ(names,
              (QList<QByteArray>{"media:adult", "media:title", "media:thumbnail", "media:category",
                                 "media:hash", "media:player", "media:credit", "media:text"}));
}

TEST(MediaRSS, OtherElementsAreNotInformation) {
    const XmlDocument in =
        Load(WithMedia("<media:description>d</media:description><media:Title>T</media:Title>"));
    TMediaInformation info;
    for (const xmlNode* child : TXmlHost::ChildElements(TXmlHost::DocumentElement(in.get())))
        EXPECT_EQ(info.Read(child), nullptr);
    EXPECT_TRUE(info.IsEmpty());
}

TEST(MediaRSS, EnclosureWithoutAddressReadsNothingElse) {
    const XmlDocument in = Load("<enclosure length=\"5\" type=\"audio/mpeg\"/>");
    TEnclosure enclosure;
    EXPECT_EQ(enclosure.Read(TXmlHost::DocumentElement(in.get())), &enclosure);
    EXPECT_TRUE(enclosure.Url.isEmpty());
    EXPECT_EQ(enclosure.Length, 0);
    EXPECT_TRUE(enclosure.ContentType.isEmpty());
}

struct LengthCase {
    const char* attribute;
    qint32 expected;
};

class EnclosureLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(EnclosureLengthTest, UnknownLengthsAreMinusOneNeverZero) {
    const XmlDocument in =
        Load(QByteArray("<enclosure url=\"http://e.com/a\" ") + GetParam().attribute + "/>");
    TEnclosure enclosure;
    enclosure.Read(TXmlHost::DocumentElement(in.get()));
    EXPECT_EQ(enclosure.Length, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, EnclosureLengthTest,
                         testing::Values(LengthCase{"", -1}, LengthCase{"length=\"\"", -1},
                                         LengthCase{"length=\"abc\"", -1},
                                         LengthCase{"length=\"-7\"", -1},
                                         LengthCase{"length=\"99999999999\"", -1},
                                         LengthCase{"length=\"0\"", 0},
                                         LengthCase{"length=\" 1234 \"", 1234}));

TEST(MediaRSS, GroupContentsKnowTheirGroup) {
    const XmlDocument in = Load(WithMedia(
        "<media:group><media:content url=\"a\"/><media:content url=\"b\"/></media:group>"));
    TMediaGroup group;
    ASSERT_EQ(group.Read(TXmlHost::FindChild(TXmlHost::DocumentElement(in.get()), "media:group")),
              &group);
    ASSERT_EQ(group.ContentCount(), 2);
    for (const auto& item : group.Items)
        EXPECT_EQ(static_cast<TEnclosure*>(item.get())->Group, &group);
}

} // namespace
