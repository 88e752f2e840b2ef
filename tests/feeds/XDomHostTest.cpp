#include "feeds/XDomHost.h"

#include "feeds/XDomFormatter.h"

#include <QByteArray>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <atomic>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libxml/parserInternals.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using testing::HasSubstr;
using testing::Not;

XmlDocument Load(const QByteArray& bytes) {
    return TXmlHost::LoadDocument(bytes);
}

xmlNode* Root(const XmlDocument& document) {
    return TXmlHost::DocumentElement(document.get());
}

QString RootText(const QByteArray& bytes) {
    return TXmlHost::NodeText(Root(Load(bytes)));
}

// --- Encodings ---

struct EncodingCase {
    const char* name;
    QByteArray bytes;
    const char16_t* expected;
};

void PrintTo(const EncodingCase& c, std::ostream* os) {
    *os << c.name;
}

QByteArray Declared(const char* encoding, const QByteArray& body) {
    return QByteArray("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?><t>" + body + "</t>";
}

QByteArray Utf16(const QString& text, QStringConverter::Encoding encoding, bool bom) {
    QStringEncoder encoder(encoding, bom ? QStringConverter::Flag::WriteBom
                                         : QStringConverter::Flag::Default);
    return encoder.encode(text);
}

class EncodingTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingTest, TextIsReadInTheDocumentsEncoding) {
    EXPECT_EQ(RootText(GetParam().bytes), QString::fromUtf16(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodingTest,
    testing::Values(
        EncodingCase{"utf8-default", "<t>Caf\xC3\xA9</t>", u"Caf\u00E9"},
        EncodingCase{"utf8-bom", "\xEF\xBB\xBF<t>Caf\xC3\xA9</t>", u"Caf\u00E9"},
        EncodingCase{
            "utf16le-bom",
            Utf16(QString::fromUtf16(
                      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><t>\u041F\u0440\u0438</t>"),
                  QStringConverter::Utf16LE, true),
            u"\u041F\u0440\u0438"},
        EncodingCase{
            "utf16be-bom",
            Utf16(QString::fromUtf16(u"<t>\u65E5\u672C</t>"), QStringConverter::Utf16BE, true),
            u"\u65E5\u672C"},
        EncodingCase{"iso-8859-1", Declared("ISO-8859-1", "Caf\xE9"), u"Caf\u00E9"},
        EncodingCase{"windows-1252", Declared("windows-1252", "\x80 5"), u"\u20AC 5"},
        EncodingCase{"windows-1251", Declared("windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2"),
                     u"\u041F\u0440\u0438\u0432\u0435\u0442"},
        EncodingCase{"koi8-r", Declared("KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4"),
                     u"\u041F\u0440\u0438\u0432\u0435\u0442"},
        EncodingCase{"shift_jis", Declared("Shift_JIS", "\x93\xFA\x96\x7B"), u"\u65E5\u672C"},
        // The repair keeps working in legacy encodings and in UTF-16.
        EncodingCase{"windows-1251-repaired", Declared("windows-1251", "\xCF&nbsp;&"),
                     u"\u041F\u00A0&"},
        EncodingCase{
            "utf16le-repaired",
            Utf16(QString::fromUtf16(u"<t>caf&eacute; & co</t>"), QStringConverter::Utf16LE, true),
            u"caf\u00E9 & co"}));

// --- Publisher faults that are repaired ---

struct RepairCase {
    const char* name;
    QByteArray document;
    const char16_t* expected;
};

void PrintTo(const RepairCase& c, std::ostream* os) {
    *os << c.name;
}

class RepairTest : public testing::TestWithParam<RepairCase> {};

TEST_P(RepairTest, CommonPublisherFaultsAreRepaired) {
    EXPECT_EQ(RootText(GetParam().document), QString::fromUtf16(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RepairTest,
    testing::Values(
        RepairCase{"html-names", "<t>&nbsp;caf&eacute; don&rsquo;t&hellip;</t>",
                   u"\u00A0caf\u00E9 don\u2019t\u2026"},
        RepairCase{"bare-ampersand", "<t>Tom & Jerry</t>", u"Tom & Jerry"},
        RepairCase{"ampersand-in-word", "<t>AT&T</t>", u"AT&T"},
        RepairCase{"name-without-semicolon", "<t>&copy 2024</t>", u"&copy 2024"},
        RepairCase{"both-faults", "<t>R&D &mdash; caf&eacute;</t>", u"R&D \u2014 caf\u00E9"},
        RepairCase{"xml-references-kept", "<t>&amp;&lt;&#233;&#xE9; & &quot;</t>",
                   u"&<\u00E9\u00E9 & \""},
        RepairCase{"cdata-untouched", "<t><![CDATA[a &amp; b]]> &nbsp;</t>", u"a &amp; b \u00A0"},
        RepairCase{"comment-untouched", "<t><!-- & --><![CDATA[x]]>&</t>", u"x&"},
        // A document naming an external DTD passes the parser with unknown names in it.
        RepairCase{"external-dtd-names",
                   "<!DOCTYPE t PUBLIC \"-//Netscape Communications//DTD RSS 0.91//EN\" "
                   "\"http://my.netscape.com/publish/formats/rss-0.91.dtd\"><t>a&nbsp;b</t>",
                   u"a\u00A0b"},
        RepairCase{"declared-entity-kept",
                   "<!DOCTYPE t [<!ENTITY who \"World\">]><t>Hello &who; & more</t>",
                   u"Hello World & more"}));

TEST(XmlHostRepairTest, BareAmpersandInAnAttributeIsRepaired) {
    const XmlDocument document = Load("<a href=\"http://x/?a=1&b=2&amp;c=3\">x</a>");
    EXPECT_EQ(TXmlHost::AttributeText(Root(document), "href", {}), "http://x/?a=1&b=2&c=3");
}

// --- Documents that are rejected ---

struct RejectCase {
    const char* name;
    QByteArray document;
};

void PrintTo(const RejectCase& c, std::ostream* os) {
    *os << c.name;
}

class RejectTest : public testing::TestWithParam<RejectCase> {};

TEST_P(RejectTest, DocumentThatIsNotWellFormedIsRejectedWhole) {
    EXPECT_THROW(Load(GetParam().document), EInvalidXmlDocument);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectTest,
    testing::Values(RejectCase{"empty", ""}, RejectCase{"blank", "  \n "},
                    RejectCase{"not-xml", "Hello, world"},
                    RejectCase{"truncated", "<rss><channel><title>abc</title><item><ti"},
                    RejectCase{"truncated-after-repair", "<rss><t>&nbsp; & </t><item>"},
                    RejectCase{"mismatched", "<a><b></a></b>"}, RejectCase{"two-roots", "<a/><b/>"},
                    RejectCase{"nul-byte", QByteArray("<a>x\0y</a>", 10)},
                    RejectCase{"invalid-utf8", "<a>\xC3\x28 \xFF</a>"},
                    RejectCase{"undeclared-entity", "<a>&notanhtmlname;</a>"},
                    RejectCase{"unknown-encoding", Declared("x-no-such-encoding", "a")},
                    RejectCase{"bad-utf16",
                               QByteArray("\xFF\xFE<\0a\0>\0\x00\xD8<\0/\0a\0>\0", 18)}));

TEST(XmlHostRejectTest, MessageSaysWhereTheParserGaveUp) {
    try {
        Load("<a>\n<b></a>");
        FAIL() << "no exception";
    } catch (const EInvalidXmlDocument& error) {
        EXPECT_THAT(error.Message().toStdString(), HasSubstr("line 2"));
    }
}

TEST(XmlHostRejectTest, ParserMessagesNeverReachStandardError) {
    testing::internal::CaptureStderr();
    for (const char* bad :
         {"<a><b></a>", "<a>\xFF</a>", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><a",
          "<!DOCTYPE a SYSTEM \"nowhere.dtd\"><a>&x;</a>", "<a>&bogus;</a>"}) {
        try {
            Load(bad);
        } catch (const EInvalidXmlDocument&) {
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(XmlHostRejectTest, ThreadsParsingAtOnceKeepTheirOwnErrors) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const QByteArray bad = "<a" + QByteArray::number(t) + ">\n\n" +
                                   QByteArray(t + 1, '\n') + "<b></a" + QByteArray::number(t) + ">";
            for (int i = 0; i < 200; ++i) {
                try {
                    TXmlHost::LoadDocument(bad);
                    ++wrong;
                } catch (const EInvalidXmlDocument& error) {
                    if (!error.Message().startsWith(QStringLiteral("line %1:").arg(t + 4)))
                        ++wrong;
                }
                TXmlHost::LoadDocument(QByteArray("<ok>fine</ok>"));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// --- Hostile documents ---

// Counts every attempt of libxml2 to load an external resource (DTD, entity).
std::atomic<int> gExternalLoads{0};
xmlParserInputPtr CountingLoader(const char*, const char*, xmlParserCtxtPtr context) {
    ++gExternalLoads;
    return xmlNewStringInputStream(context, reinterpret_cast<const xmlChar*>("LOADED"));
}

TEST(XmlHostSafetyTest, ExternalEntityNamingALocalFileIsNeverRead) {
    QTemporaryDir folder;
    const QString secretPath = folder.filePath("secret.txt");
    {
        QFile secret(secretPath);
        ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
        secret.write("TOP-SECRET-CONTENT");
    }
    const QByteArray url = "file://" + secretPath.toUtf8();
    const QByteArray documents[] = {
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + url + "\">]><r>&x;</r>",
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secretPath.toUtf8() + "\">]><r a=\"1\">&x;</r>",
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"/etc/passwd\">]><r>&x;</r>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><r>text</r>",
        "<!DOCTYPE r SYSTEM \"" + url + "\"><r>text</r>",
        "<!DOCTYPE r SYSTEM \"" + url + "\"><r>&nbsp;&x;</r>",
        "<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + url +
            "\" parse=\"text\"/></r>",
    };
    const xmlExternalEntityLoader previous = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(&CountingLoader);
    gExternalLoads = 0;
    for (const QByteArray& document : documents) {
        try {
            const XmlDocument loaded = Load(document);
            const QByteArray saved = TXmlHost::SaveDocument(loaded.get());
            EXPECT_THAT(saved.toStdString(), Not(HasSubstr("TOP-SECRET")));
            EXPECT_THAT(saved.toStdString(), Not(HasSubstr("LOADED")));
            EXPECT_THAT(saved.toStdString(), Not(HasSubstr("root:")));
        } catch (const EInvalidXmlDocument&) {
        }
    }
    xmlSetExternalEntityLoader(previous);
    EXPECT_EQ(gExternalLoads.load(), 0);
}

QByteArray BillionLaughs() {
    QByteArray dtd = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    QByteArray previous = "lol";
    for (int level = 1; level <= 9; ++level) {
        const QByteArray name = "lol" + QByteArray::number(level);
        dtd += "<!ENTITY " + name + " \"" + QByteArray("&" + previous + ";").repeated(10) + "\">";
        previous = name;
    }
    return dtd + "]><lolz>&" + previous + ";</lolz>";
}

QByteArray DeepNesting(int levels) {
    return QByteArray("<a>").repeated(levels) + "x" + QByteArray("</a>").repeated(levels);
}

long ResidentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct ChildParse {
    int exitCode = -1; // 0 loaded, 3 rejected, 4 other failure
    long extraKilobytes = 0;
};

// Loads the document in a child process, so that its peak memory can be measured apart
// from the rest of the test program. A hang ends by alarm and fails the test.
ChildParse LoadInChild(const QByteArray& document) {
    const long baseline = ResidentKilobytes();
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(120);
        int code = 0;
        try {
            TXmlHost::LoadDocument(document);
        } catch (const EInvalidXmlDocument&) {
            code = 3;
        } catch (...) {
            code = 4;
        }
        _exit(code);
    }
    ChildParse result;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
        result.extraKilobytes = usage.ru_maxrss - baseline;
    }
    return result;
}

TEST(XmlHostSafetyTest, BillionLaughsEndsInAClearErrorWithBoundedMemory) {
    const ChildParse outcome = LoadInChild(BillionLaughs());
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_LT(outcome.extraKilobytes, 64 * 1024);
}

TEST(XmlHostSafetyTest, QuadraticBlowupEndsInAClearErrorWithBoundedMemory) {
    // One large entity referenced many times: each step is small, the product is not.
    const QByteArray big(100000, 'x');
    const QByteArray document = "<!DOCTYPE r [<!ENTITY big \"" + big + "\">]><r>" +
                                QByteArray("&big;").repeated(50000) + "</r>";
    const ChildParse outcome = LoadInChild(document);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_LT(outcome.extraKilobytes, 128 * 1024);
}

TEST(XmlHostSafetyTest, DeepNestingEndsInAClearErrorWithBoundedMemory) {
    const ChildParse outcome = LoadInChild(DeepNesting(200000));
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_LT(outcome.extraKilobytes, 64 * 1024);
}

TEST(XmlHostSafetyTest, ModerateNestingIsRead) {
    const XmlDocument document = Load(DeepNesting(200));
    EXPECT_EQ(TXmlHost::NodeText(Root(document)).size(), 199 * 7 + 1);
}

TEST(XmlHostSafetyTest, FiftyMegabyteDocumentIsRead) {
    QByteArray document = "<rss><channel><title>Big</title>";
    const QByteArray description(400, 'd');
    int items = 0;
    while (document.size() < 50 * 1024 * 1024) {
        document += "<item><title>Item " + QByteArray::number(items) +
                    "</title><link>http://example.com/" + QByteArray::number(items) +
                    "</link><description>" + description + "</description></item>";
        ++items;
    }
    document += "</channel></rss>";
    const XmlDocument loaded = Load(document);
    const xmlNode* channel = TXmlHost::FindChild(Root(loaded), "channel");
    EXPECT_EQ(TXmlHost::ChildElements(channel).size(), items + 1);
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(channel, "title")), "Big");
}

// --- Reading nodes ---

struct TextCase {
    const char* name;
    QByteArray element;
    const char16_t* expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class NodeTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(NodeTextTest, NodeTextKeepsAllOfTheContentTrimmed) {
    EXPECT_EQ(RootText(GetParam().element), QString::fromUtf16(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NodeTextTest,
    testing::Values(
        TextCase{"word-with-spaces", "<title>  word \t\n</title>", u"word"},
        TextCase{"cdata-only", "<title><![CDATA[  word  ]]></title>", u"word"},
        TextCase{"loose-text-and-cdata", "<d> loose <![CDATA[<b>cdata</b>]]> </d>",
                 u"loose <b>cdata</b>"},
        TextCase{"paragraph-and-text", "<d><p>One</p>Two</d>", u"<p>One</p>Two"},
        TextCase{"xhtml-paragraphs", "<d><p class=\"a&amp;b\">One &amp; &lt;</p><p>Two</p></d>",
                 u"<p class=\"a&amp;b\">One &amp; &lt;</p><p>Two</p>"},
        TextCase{"html-friendly-empty-elements", "<d><br/><div/><img src=\"x\"/></d>",
                 u"<br/><div></div><img src=\"x\"/>"},
        TextCase{"escaped-markup-stays-text", "<d>&lt;b&gt;bold&lt;/b&gt;</d>", u"<b>bold</b>"},
        TextCase{"non-ascii", "<d>\xE2\x80\x9Cquoted\xE2\x80\x9D</d>", u"\u201Cquoted\u201D"},
        TextCase{"comments-skipped", "<d>a<!-- no -->b</d>", u"ab"}, TextCase{"empty", "<d/>", u""},
        TextCase{"blank", "<d>  </d>", u""}));

TEST(XmlHostReadTest, NodeTextOfNothingIsEmpty) {
    EXPECT_EQ(TXmlHost::NodeText(nullptr), QString());
}

TEST(XmlHostReadTest, FindChildMatchesTheExactNameAsWritten) {
    const XmlDocument document =
        Load("<r xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><Item>1</Item><item>2</item>"
             "<dc:date>3</dc:date><item>4</item></r>");
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(Root(document), "item")), "2");
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(Root(document), "Item")), "1");
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(Root(document), "dc:date")), "3");
    EXPECT_EQ(TXmlHost::FindChild(Root(document), "date"), nullptr);
    EXPECT_EQ(TXmlHost::FindChild(Root(document), "ITEM"), nullptr);
    EXPECT_EQ(TXmlHost::FindChild(nullptr, "item"), nullptr);
}

TEST(XmlHostReadTest, NodeNamesKeepTheirPrefixEvenWhenItIsUndeclared) {
    const XmlDocument document = Load("<rdf:RDF><geo:lat>1</geo:lat></rdf:RDF>");
    EXPECT_EQ(TXmlHost::NodeName(Root(document)), "rdf:RDF");
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(Root(document), "geo:lat")), "1");
}

TEST(XmlHostReadTest, AttributesIncludeNamespaceDeclarations) {
    const XmlDocument document = Load(
        "<feed xmlns=\"http://www.w3.org/2005/Atom\" xmlns:media=\"http://search.yahoo.com/mrss\""
        " xml:lang=\"en\" version=\"1.0\" empty=\"\"/>");
    const xmlNode* root = Root(document);
    EXPECT_EQ(TXmlHost::AttributeText(root, "xmlns", {}), "http://www.w3.org/2005/Atom");
    EXPECT_EQ(TXmlHost::AttributeText(root, "xmlns:media", {}), "http://search.yahoo.com/mrss");
    EXPECT_EQ(TXmlHost::AttributeText(root, "xml:lang", {}), "en");
    EXPECT_EQ(TXmlHost::AttributeText(root, "version", "x"), "1.0");
    EXPECT_EQ(TXmlHost::AttributeText(root, "empty", "x"), "");
    EXPECT_EQ(TXmlHost::AttributeText(root, "missing", "x"), "x");
    EXPECT_EQ(TXmlHost::AttributeText(root, "VERSION", "x"), "x");
    EXPECT_TRUE(TXmlHost::HasAttribute(root, "empty"));
    EXPECT_FALSE(TXmlHost::HasAttribute(root, "missing"));

    const XmlAttributeList attributes = TXmlHost::Attributes(root);
    QList<QByteArray> names;
    for (const XmlAttribute& attribute : attributes)
        names.append(attribute.Name);
    EXPECT_EQ(names, (QList<QByteArray>{"xmlns", "xmlns:media", "xml:lang", "version", "empty"}));
}

TEST(XmlHostReadTest, FindAttributeGivesTheLastOfThatName) {
    const XmlAttributeList attributes{{"a", "1"}, {"b", "2"}, {"a", "3"}};
    ASSERT_NE(TXmlHost::FindAttribute(attributes, "a"), nullptr);
    EXPECT_EQ(TXmlHost::FindAttribute(attributes, "a")->Value, "3");
    EXPECT_EQ(TXmlHost::FindAttribute(attributes, "A"), nullptr);
    EXPECT_EQ(TXmlHost::FindAttribute({}, "a"), nullptr);
}

struct IntegerCase {
    const char* attribute;
    qint32 expected;
};

class AttributeIntegerTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(AttributeIntegerTest, WholeNumbersAreReadAndAnythingElseGivesTheDefault) {
    const XmlDocument document = Load("<e " + QByteArray(GetParam().attribute) + "/>");
    EXPECT_EQ(TXmlHost::AttributeInteger(Root(document), "n", 7), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, AttributeIntegerTest,
                         testing::Values(IntegerCase{"n=\"42\"", 42}, IntegerCase{"n=\"-5\"", -5},
                                         IntegerCase{"n=\" 12 \"", 12},
                                         IntegerCase{"n=\"2147483647\"", 2147483647},
                                         IntegerCase{"n=\"2147483648\"", 7},
                                         IntegerCase{"n=\"12abc\"", 7}, IntegerCase{"n=\"\"", 7},
                                         IntegerCase{"n=\"1.5\"", 7},
                                         // A missing attribute reads as "-1".
                                         IntegerCase{"m=\"3\"", -1}));

// --- Building ---

TEST(XmlHostBuildTest, CreatedElementsTakeTheNamespacesInScope) {
    XmlDocument document = TXmlHost::CreateDocument();
    xmlNode* root = TXmlHost::CreateElement(document.get(), "rss", {});
    TXmlHost::SetDocumentElement(document.get(), root);
    TXmlHost::DeclareNamespace(root, "dc", "http://purl.org/dc/elements/1.1/");
    TXmlHost::SetAttribute(root, "version", "2.0");
    TXmlHost::AppendChild(root, TXmlHost::CreateTextElement(document.get(), "dc:creator", "Ann",
                                                            "http://purl.org/dc/elements/1.1/"));
    TXmlHost::AppendChild(root, TXmlHost::CreateTextElement(document.get(), "dc:date", "today"));
    TXmlHost::AppendChild(
        root, TXmlHost::CreateTextElement(document.get(), "itunes:author", "Bo",
                                          "http://www.itunes.com/dtds/podcast-1.0.dtd"));
    TXmlHost::AppendChild(root, TXmlHost::CreateIntegerElement(document.get(), "ttl", -60));

    const QByteArray saved = TXmlHost::SaveDocument(document.get());
    EXPECT_THAT(saved.toStdString(),
                HasSubstr("<rss xmlns:dc=\"http://purl.org/dc/elements/1.1/\" version=\"2.0\">"));
    EXPECT_THAT(saved.toStdString(), HasSubstr("<dc:creator>Ann</dc:creator>"));
    EXPECT_THAT(saved.toStdString(), HasSubstr("<dc:date>today</dc:date>"));
    EXPECT_THAT(
        saved.toStdString(),
        HasSubstr("<itunes:author xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\">Bo"));
    EXPECT_THAT(saved.toStdString(), HasSubstr("<ttl>-60</ttl>"));

    // Reloaded, the names resolve to their namespaces.
    const XmlDocument reloaded = Load(saved);
    const xmlNode* date = TXmlHost::FindChild(Root(reloaded), "dc:date");
    ASSERT_NE(date, nullptr);
    ASSERT_NE(date->ns, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(date->ns->href), "http://purl.org/dc/elements/1.1/");
}

TEST(XmlHostBuildTest, TextAndAttributeValuesAreEscapedOnce) {
    XmlDocument document = TXmlHost::CreateDocument();
    xmlNode* root = TXmlHost::CreateTextElement(document.get(), "t", "a<b & &amp; \"c\"");
    TXmlHost::SetDocumentElement(document.get(), root);
    TXmlHost::SetAttribute(root, "href", "http://x/?a=1&b=2&amp;");
    const QByteArray saved = TXmlHost::SaveDocument(document.get());
    EXPECT_THAT(saved.toStdString(), HasSubstr("href=\"http://x/?a=1&amp;b=2&amp;amp;\""));
    const XmlDocument reloaded = Load(saved);
    EXPECT_EQ(TXmlHost::NodeText(Root(reloaded)), "a<b & &amp; \"c\"");
    EXPECT_EQ(TXmlHost::AttributeText(Root(reloaded), "href", {}), "http://x/?a=1&b=2&amp;");
}

TEST(XmlHostBuildTest, SecondHostConstructedDirectlyFails) {
    TXmlHost::Instance();
    try {
        TXmlHost second;
        FAIL() << "constructed";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "There can be only one... Please use Instance()");
    }
    EXPECT_EQ(&TXmlHost::Instance(), &TXmlHost::Instance());
}

// --- Document parts ---

class FeedPart : public TXmlDocumentPart {};

TEST(XmlDocumentPartTest, PrefixedElementsAreWrittenIntoAnyFormat) {
    const XmlDocument feed =
        Load("<rss xmlns:geo=\"http://www.w3.org/2003/01/geo/wgs84_pos#\"><channel>"
             "<title>T</title><geo:lat>52.5</geo:lat><docs>http://d</docs></channel></rss>");
    const xmlNode* channel = TXmlHost::FindChild(Root(feed), "channel");
    FeedPart part;
    part.SourceFormat = "RSS";
    part.KeepUnresolved(TXmlHost::FindChild(channel, "geo:lat"));
    part.KeepUnresolved(TXmlHost::FindChild(channel, "docs"));
    part.KeepUnresolved(TXmlHost::FindChild(channel, "title")->children); // a text node: ignored

    XmlDocument atom = TXmlHost::CreateDocument();
    xmlNode* atomRoot = TXmlHost::CreateElement(atom.get(), "feed", "http://www.w3.org/2005/Atom");
    TXmlHost::SetDocumentElement(atom.get(), atomRoot);
    part.WriteUnresolved(atomRoot, "Atom");
    const QByteArray atomText = TXmlHost::SaveDocument(atom.get());
    EXPECT_THAT(
        atomText.toStdString(),
        HasSubstr(
            "<geo:lat xmlns:geo=\"http://www.w3.org/2003/01/geo/wgs84_pos#\">52.5</geo:lat>"));
    EXPECT_THAT(atomText.toStdString(), Not(HasSubstr("docs")));

    XmlDocument rss = TXmlHost::CreateDocument();
    xmlNode* rssRoot = TXmlHost::CreateElement(rss.get(), "channel", {});
    TXmlHost::SetDocumentElement(rss.get(), rssRoot);
    TXmlHost::DeclareNamespace(rssRoot, "geo", "http://www.w3.org/2003/01/geo/wgs84_pos#");
    part.WriteUnresolved(rssRoot, "RSS");
    const QByteArray rssText = TXmlHost::SaveDocument(rss.get());
    // The namespace the destination declares is not declared again.
    EXPECT_THAT(rssText.toStdString(), HasSubstr("<geo:lat>52.5</geo:lat>"));
    EXPECT_THAT(rssText.toStdString(), HasSubstr("<docs>http://d</docs>"));
    EXPECT_LT(rssText.indexOf("geo:lat"), rssText.indexOf("docs"));
}

TEST(XmlDocumentPartTest, RetainedElementsOutliveTheirDocumentAndReset) {
    FeedPart part;
    part.SourceFormat = "RSS";
    {
        const XmlDocument feed = Load("<item><a:x xmlns:a=\"urn:a\" k=\"v\"><a:y>deep</a:y></a:x>"
                                      "<z>plain</z></item>");
        for (const xmlNode* child : TXmlHost::ChildElements(Root(feed)))
            part.KeepUnresolved(child);
    }
    XmlDocument out = TXmlHost::CreateDocument();
    xmlNode* root = TXmlHost::CreateElement(out.get(), "item", {});
    TXmlHost::SetDocumentElement(out.get(), root);
    part.WriteUnresolved(root, "RSS");
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(TXmlHost::FindChild(root, "a:x"), "a:y")),
              "deep");
    EXPECT_EQ(TXmlHost::AttributeText(TXmlHost::FindChild(root, "a:x"), "k", {}), "v");
    EXPECT_EQ(TXmlHost::NodeText(TXmlHost::FindChild(root, "z")), "plain");

    part.ResetUnresolved();
    xmlNode* again = TXmlHost::CreateElement(out.get(), "again", {});
    TXmlHost::AppendChild(root, again);
    part.WriteUnresolved(again, "RSS");
    EXPECT_EQ(again->children, nullptr);
}

TEST(XmlDocumentPartTest, UnknownAtomElementGoesBackIntoAtomWithoutAnExtraDeclaration) {
    const XmlDocument feed = Load("<feed xmlns=\"http://www.w3.org/2005/Atom\">"
                                  "<contributor><name>Bo</name></contributor></feed>");
    FeedPart part;
    part.SourceFormat = "Atom";
    part.KeepUnresolved(TXmlHost::FindChild(Root(feed), "contributor"));

    XmlDocument out = TXmlHost::CreateDocument();
    xmlNode* root = TXmlHost::CreateElement(out.get(), "feed", "http://www.w3.org/2005/Atom");
    TXmlHost::SetDocumentElement(out.get(), root);
    part.WriteUnresolved(root, "Atom");
    const QByteArray written = TXmlHost::SaveDocument(out.get());
    EXPECT_THAT(written.toStdString(), HasSubstr("<contributor>"));
    EXPECT_EQ(written.count("xmlns="), 1);
    const XmlDocument reread = Load(written);
    const xmlNode* contributor = TXmlHost::FindChild(Root(reread), "contributor");
    ASSERT_NE(contributor, nullptr);
    ASSERT_NE(contributor->ns, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(contributor->ns->href),
                 "http://www.w3.org/2005/Atom");
}

TEST(XmlDocumentPartTest, AttributeIntegerThroughThePartDefaultsToMinusOne) {
    const XmlDocument document = Load("<e a=\"12\" b=\"twelve\"/>");
    const FeedPart part;
    EXPECT_EQ(part.AttributeInteger(Root(document), "a"), 12);
    EXPECT_EQ(part.AttributeInteger(Root(document), "b"), -1);
    EXPECT_EQ(part.AttributeInteger(Root(document), "c"), -1);
    EXPECT_EQ(part.AttributeText(Root(document), "c"), "");
    EXPECT_TRUE(part.SourceFormat.isEmpty());
}

TEST(XmlHostBuildTest, CharactersXmlCannotCarryAreLeftOutOfWrittenTexts) {
    XmlDocument document = TXmlHost::CreateDocument();
    const QString text = QStringLiteral("a\u000Bb") + QChar(0) + QStringLiteral("c\td\uFFFEe");
    xmlNode* root = TXmlHost::CreateTextElement(document.get(), "t", text);
    TXmlHost::SetDocumentElement(document.get(), root);
    TXmlHost::SetAttribute(root, "v", text);
    const XmlDocument again = TXmlHost::LoadDocument(TXmlHost::SaveDocument(document.get()));
    EXPECT_EQ(TXmlHost::NodeText(Root(again)), QStringLiteral("abc\tde"));
    EXPECT_EQ(TXmlHost::AttributeText(Root(again), "v", {}), QStringLiteral("abc\tde"));
}

} // namespace
