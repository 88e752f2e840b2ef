#include "feeds/XDomFormatter.h"

#include "feeds/XDomHost.h"

#include <QBuffer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

xmlNode* Append(xmlNode* parent, xmlNode* child) {
    return TXmlHost::AppendChild(parent, child);
}

void AddAttribute(xmlDoc* document, xmlNode* element, const char* name, const QString& value) {
    TXmlHost::AppendChild(
        element, reinterpret_cast<xmlNode*>(TXmlHost::CreateDomAttribute(document, name, value)));
}

// A small subscription list: a channel at the top and a folder holding another.
XmlDocument SubscriptionList() {
    XmlDocument document = TXmlHost::CreateDocument();
    xmlDoc* doc = document.get();
    xmlNode* opml = TXmlHost::CreateElement(doc, "opml", {});
    TXmlHost::SetDocumentElement(doc, opml);
    AddAttribute(doc, opml, "xmlns:quillmar", "http://quillmar.example/");
    xmlNode* head = Append(opml, TXmlHost::CreateElement(doc, "head", {}));
    Append(head, TXmlHost::CreateDomTextElement(doc, "title", "Channels Exchange"));
    xmlNode* body = Append(opml, TXmlHost::CreateElement(doc, "body", {}));
    xmlNode* channel = Append(body, TXmlHost::CreateElement(doc, "outline", {}));
    AddAttribute(doc, channel, "text", "Tom & \"Jerry\" <news>");
    AddAttribute(doc, channel, "description", "");
    AddAttribute(doc, channel, "xmlUrl", "http://x/feed?a=1&b=2");
    xmlNode* folder = Append(body, TXmlHost::CreateElement(doc, "outline", {}));
    AddAttribute(doc, folder, "text", "Folder");
    AddAttribute(doc, folder, "quillmar:protected", "yes");
    xmlNode* inner = Append(folder, TXmlHost::CreateElement(doc, "outline", {}));
    AddAttribute(doc, inner, "text", "Caf\u00E9");
    return document;
}

TEST(XmlFormatterTest, SubscriptionListIsIndentedByFourSpacesPerLevelWithLineFeeds) {
    const XmlDocument document = SubscriptionList();
    TXmlFormatter formatter;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    formatter.WriteDocument(document.get(), buffer);
    EXPECT_EQ(buffer.data().toStdString(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<opml xmlns:quillmar=\"http://quillmar.example/\">\n"
              "    <head>\n"
              "        <title>Channels Exchange</title>\n"
              "    </head>\n"
              "    <body>\n"
              "        <outline text=\"Tom &amp; &quot;Jerry&quot; &lt;news&gt;\" description=\"\" "
              "xmlUrl=\"http://x/feed?a=1&amp;b=2\"/>\n"
              "        <outline text=\"Folder\" quillmar:protected=\"yes\">\n"
              "            <outline text=\"Caf\xC3\xA9\"/>\n"
              "        </outline>\n"
              "    </body>\n"
              "</opml>\n");
    EXPECT_EQ(formatter.Depth, 0);
}

TEST(XmlFormatterTest, WrittenListReadsBackWithTheSameValues) {
    const XmlDocument document = SubscriptionList();
    const QByteArray written = TXmlFormatter().WriteDocument(document.get());
    EXPECT_FALSE(written.startsWith("\xEF\xBB\xBF"));
    EXPECT_FALSE(written.contains('\r'));

    const XmlDocument reread = TXmlHost::LoadDocument(written);
    const xmlNode* body = TXmlHost::FindChild(TXmlHost::DocumentElement(reread.get()), "body");
    const QList<xmlNode*> outlines = TXmlHost::ChildElements(body);
    ASSERT_EQ(outlines.size(), 2);
    EXPECT_EQ(TXmlHost::AttributeText(outlines[0], "text", {}), "Tom & \"Jerry\" <news>");
    EXPECT_EQ(TXmlHost::AttributeText(outlines[0], "xmlUrl", {}), "http://x/feed?a=1&b=2");
    EXPECT_TRUE(TXmlHost::HasAttribute(outlines[0], "description"));
    EXPECT_EQ(TXmlHost::AttributeText(outlines[1], "quillmar:protected", {}), "yes");
    EXPECT_EQ(TXmlHost::AttributeText(TXmlHost::ChildElements(outlines[1]).value(0), "text", {}),
              QString::fromUtf16(u"Caf\u00E9"));
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(
                  TXmlHost::FindChild(TXmlHost::DocumentElement(reread.get()), "head"), "title")),
              "Channels Exchange");
}

TEST(XmlFormatterTest, TextOfMixedContentIsWrittenUnchanged) {
    const XmlDocument document =
        TXmlHost::LoadDocument("<r>\n  <a>one <b>two</b>  three\n</a>\n  <c/>\n</r>");
    EXPECT_EQ(TXmlFormatter().WriteDocument(document.get()).toStdString(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<r>\n"
              "    <a>one <b>two</b>  three\n</a>\n"
              "    <c/>\n"
              "</r>\n");
}

TEST(XmlFormatterTest, RefusingStreamFails) {
    const XmlDocument document = SubscriptionList();
    QBuffer closed;
    EXPECT_THROW(TXmlFormatter().WriteDocument(document.get(), closed), Exception);
}

struct MarkupCase {
    const char* name;
    QByteArray document;
    const char16_t* expected;
};

void PrintTo(const MarkupCase& c, std::ostream* os) {
    *os << c.name;
}

class NodeXmlTest : public testing::TestWithParam<MarkupCase> {};

TEST_P(NodeXmlTest, NodeXmlGivesTheElementsMarkup) {
    const XmlDocument document = TXmlHost::LoadDocument(GetParam().document);
    const xmlNode* content = TXmlHost::DocumentElement(document.get());
    EXPECT_EQ(TNodeFormatter::NodeXml(TXmlHost::ChildElements(content).value(0)),
              QString::fromUtf16(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NodeXmlTest,
    testing::Values(
        MarkupCase{"xhtml-div",
                   "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">"
                   "<p>A &amp; B</p><br/><a href=\"?a=1&amp;b=2\">l</a></div></content>",
                   u"<div xmlns=\"http://www.w3.org/1999/xhtml\"><p>A &amp; B</p><br/>"
                   u"<a href=\"?a=1&amp;b=2\">l</a></div>"},
        MarkupCase{"prefixed-div",
                   "<content xmlns:x=\"http://www.w3.org/1999/xhtml\"><x:div><x:p>\xC3\xA9</x:p>"
                   "<x:span/></x:div></content>",
                   u"<x:div><x:p>\u00E9</x:p><x:span></x:span></x:div>"},
        MarkupCase{"cdata-and-comment", "<r><e><![CDATA[a<b]]><!--c--><?pi data?></e></r>",
                   u"<e><![CDATA[a<b]]><!--c--><?pi data?></e>"},
        MarkupCase{"whitespace-kept", "<r><e>\n a \r\n</e></r>", u"<e>\n a \n</e>"}));

TEST(NodeXmlTest, NothingGivesNothing) {
    EXPECT_EQ(TNodeFormatter::NodeXml(nullptr), QString());
}

} // namespace
