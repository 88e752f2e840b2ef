#include "feeds/ChannelPages.h"

#include "feeds/HTMLSanitizer.h"
#include "feeds/HTMLTemplateParser.h"
#include "shell/ReaderBranding.h"
#include "store/QuillmarDocCore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

using QuillmarDocCore::TTopic;

namespace {

const QByteArray ByteOrderMark = "\xEF\xBB\xBF";

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QuillmarDocCore::TTopic* OwnTopic(TTopicIndex& entry) {
    return entry.Topic();
}

// A document stand-in that finds items by storage name.
class FakeStore : public TTopicStore {
public:
    TFolder* FolderByStorageName(const QByteArray& name) override { return items.value(name); }
    void EnsureIndexLoaded(TFolder&) override {}
    void ReadTopic(TTopicIndex&) override {}
    QHash<QByteArray, TFolder*> items;
};

struct Library {
    Library() { root.SetStore(&store); }

    TChannel* Channel(const QString& title, const QString& site, const QByteArray& name = "c1") {
        TChannel* channel = root.AddChannel();
        channel->SetTitle(title);
        channel->Link = site;
        channel->SetUrl(site + QStringLiteral("feed.xml"));
        channel->SetPath(name);
        store.items.insert(name, channel);
        return channel;
    }

    TTopicIndex* AddTopic(TFolder* owner, const QString& title, const QString& description,
                          const QString& link = {}, const QString& author = {}, double date = 0) {
        auto topic = std::make_unique<TTopic>(owner);
        topic->SetTitle(title);
        topic->SetDescription(description);
        topic->Link = link;
        topic->Author = author;
        topic->Date = date;
        topic->NeedsLoading = false;
        const QByteArray key = "k" + QByteArray::number(++keys);
        TTopicIndex* entry = owner->AddTopicIndex(key, std::move(topic));
        entry->Date = date;
        return entry;
    }

    FakeStore store;
    TFolder root;
    int keys = 0;
};

QByteArray ChannelPage(TFolder& folder, const QList<TTopicIndex*>& topics,
                       const TChannelPageTemplates& templates = {
                           {QStringLiteral("channel"), false},
                           {QStringLiteral("channel_topic"), false}}) {
    const std::optional<QByteArray> page = BuildChannelPage(folder, topics, templates, &OwnTopic);
    EXPECT_TRUE(page.has_value());
    return page.value_or(QByteArray());
}

QByteArray TopicPage(TTopicIndex& entry) {
    return BuildTopicPage(*entry.Topic(), {QStringLiteral("topic"), false});
}

// --- What a browser would find live in a page ---

QString Attribute(const xmlNode* element, const char* name) {
    xmlChar* value = xmlGetProp(element, BAD_CAST name);
    const QString text =
        value ? QString::fromUtf8(reinterpret_cast<const char*>(value)) : QString();
    xmlFree(value);
    return text;
}

bool IsHarmlessAddress(const QString& value, bool image) {
    static const QRegularExpression placeholder(QStringLiteral("^\\$[a-z_]+\\$$"));
    if (value == u"#" || placeholder.match(value).hasMatch())
        return true; // a placeholder left unset (a hidden logo) stays as it is
    QString address = value;
    if (address.startsWith(u"link://"))
        address = address.mid(7);
    if (address == u"#")
        return true;
    for (const char* scheme : {"http://", "https://", "mailto:"}) {
        if (address.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return true;
    }
    return image && address.startsWith(u"data:image/", Qt::CaseInsensitive);
}

// Every element, attribute and address of the page as a browser's parser reads it; the
// list of what would run, load by itself or leave the page.
QStringList LiveContent(const QByteArray& page) {
    QStringList found;
    htmlDocPtr document =
        htmlReadMemory(page.constData(), int(page.size()), nullptr, "UTF-8",
                       HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
    if (!document)
        return {QStringLiteral("unparsable page")};
    int styles = 0;
    QList<const xmlNode*> pending{reinterpret_cast<const xmlNode*>(document)};
    while (!pending.isEmpty()) {
        const xmlNode* node = pending.takeLast();
        for (const xmlNode* child = node->children; child; child = child->next)
            pending.append(child);
        if (node->type == XML_COMMENT_NODE &&
            QByteArray(reinterpret_cast<const char*>(node->content)).contains("[if"))
            found << QStringLiteral("conditional comment");
        if (node->type != XML_ELEMENT_NODE)
            continue;
        const QString name = QString::fromUtf8(reinterpret_cast<const char*>(node->name));
        static const QStringList forbidden{
            QStringLiteral("script"),   QStringLiteral("iframe"), QStringLiteral("frame"),
            QStringLiteral("frameset"), QStringLiteral("object"), QStringLiteral("embed"),
            QStringLiteral("applet"),   QStringLiteral("base"),   QStringLiteral("link"),
            QStringLiteral("form"),     QStringLiteral("input"),  QStringLiteral("button"),
            QStringLiteral("svg"),      QStringLiteral("math"),   QStringLiteral("param")};
        if (forbidden.contains(name))
            found << QStringLiteral("element ") + name;
        if (name == u"style" && ++styles > 1)
            found << QStringLiteral("a second style element");
        if (name == u"meta") {
            const QString equiv = Attribute(node, "http-equiv").toLower();
            if (!equiv.isEmpty() && equiv != u"content-security-policy")
                found << QStringLiteral("meta ") + equiv;
        }
        for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
            const QString attributeName =
                QString::fromUtf8(reinterpret_cast<const char*>(attribute->name)).toLower();
            const QString value = Attribute(node, reinterpret_cast<const char*>(attribute->name));
            if (attributeName.startsWith(u"on") &&
                !(attributeName == u"oncontextmenu" && value == u"return false;"))
                found << QStringLiteral("handler %1=%2").arg(attributeName, value);
            if ((attributeName == u"href" || attributeName == u"src" ||
                 attributeName == u"action" || attributeName == u"data") &&
                !IsHarmlessAddress(value, name == u"img" && attributeName == u"src"))
                found << QStringLiteral("address %1=%2").arg(attributeName, value);
            if (attributeName == u"style" &&
                (value.contains(u"expression") || value.contains(u"url(")))
                found << QStringLiteral("style ") + value;
        }
    }
    xmlFreeDoc(document);
    return found;
}

// The content-security policy a page declares, or an empty text.
QString DeclaredPolicy(const QByteArray& page) {
    static const QRegularExpression meta(
        QStringLiteral("<meta http-equiv=\"Content-Security-Policy\" content=\"([^\"]*)\">"));
    return meta.match(QString::fromUtf8(page)).captured(1);
}

struct HostileChannel : Library {
    HostileChannel() {
        channel =
            Channel(QStringLiteral("&lt;script&gt;alert(&#39;channel&#39;)&lt;/script&gt; News"),
                    QStringLiteral("javascript:alert('site')"));
        channel->SetCopyright(QStringLiteral("<img src=x onerror=alert('copyright')>"));
        channel->Image.Link = QStringLiteral("https://good.example/\" onmouseover=\"alert(1)");
        channel->Image.Src = QStringLiteral("https://good.example/logo.png");
        channel->Image.Title = QStringLiteral("\"><script>alert('logo')</script>");
        const QString description = QString::fromUtf8(
            ReadFile(QStringLiteral(QUILLMAR_TEST_DATA "/pages/hostile-description.html")));
        EXPECT_FALSE(description.isEmpty());
        entries << AddTopic(channel,
                            QStringLiteral("&amp;lt;b onmouseover=alert(1)&amp;gt;Title "
                                           "&lt;script&gt;alert(&#39;title&#39;)&lt;/script&gt;"),
                            description,
                            QStringLiteral("https://good.example/\"><script>x</script>"),
                            QStringLiteral("<i onclick=alert('author')>Mallory</i>"));
        entries << AddTopic(channel, QStringLiteral("Second"), description,
                            QStringLiteral("  jAvAsCrIpT:alert('topic link')"));
    }
    TChannel* channel;
    QList<TTopicIndex*> entries;
};

} // namespace

// --- Active content ---

struct ActiveContentCase {
    const char* input;
    const char* expected;
};

class RemoveActiveContentTest : public testing::TestWithParam<ActiveContentCase> {};

TEST_P(RemoveActiveContentTest, TurnsActiveContentIntoComments) {
    EXPECT_EQ(RemoveActiveContent(QString::fromUtf8(GetParam().input)),
              QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveActiveContentTest,
    testing::Values(
        ActiveContentCase{"a<SCRIPT>x()</SCRIPT>b", "a<!--script>x()</script-->b"},
        ActiveContentCase{"<embed src=x></embed>tail",
                          "[Active content removed]<br /><!--embed src=x></embed-->tail"},
        ActiveContentCase{"<Object data=x></OBJECT>",
                          "[Active content removed]<br /><!--object data=x></object-->"},
        // An embed has no end tag: its comment closes after its own tag, so the rest of
        // the description stays.
        ActiveContentCase{"<embed src=x> rest <b>bold</b>",
                          "[Active content removed]<br /><!--embed src=x>--> rest <b>bold</b>"},
        ActiveContentCase{"<object><embed src=y></object>t",
                          "[Active content removed]<br /><!--object>[Active content "
                          "removed]<br /><!--embed src=y></object-->t"},
        ActiveContentCase{"<script src=x", "<!--script src=x-->"},
        ActiveContentCase{"no active content <b>here</b>", "no active content <b>here</b>"}));

TEST(ChannelPage, UpperCaseScriptEndsUpInAComment) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"),
                                          QStringLiteral("x<SCRIPT>alert(1)</SCRIPT>y"));
    const QByteArray page = TopicPage(*entry);
    EXPECT_TRUE(page.contains("<div class=\"topic_descr\">xy</div>"));
}

TEST(ChannelPage, EmbedShowsTheRemovedMarkInstead) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"),
                                          QStringLiteral("before <embed src=\"x.swf\"> after"));
    EXPECT_TRUE(TopicPage(*entry).contains(
        "<div class=\"topic_descr\">before [Active content removed]<br> after</div>"));
}

// --- The channel page ---

TEST(ChannelPage, ChannelWithoutTopicsSaysSo) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    EXPECT_TRUE(ChannelPage(*channel, {}).contains(ChannelHasNoTopics));
}

TEST(ChannelPage, FolderWithoutTopicsAsksForAChannel) {
    Library library;
    TFolder* folder = library.root.AddFolder();
    folder->SetTitle(QStringLiteral("Folder"));
    const QByteArray page = ChannelPage(*folder, {});
    EXPECT_TRUE(page.contains(ClickOnChannelToView));
    EXPECT_TRUE(page.contains("<a class=\"channel\" href=\"#\">Folder</a>"));
}

TEST(ChannelPage, LogoNeedsBothALinkAndAnAddress) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    channel->Image.Src = QStringLiteral("https://c.example/logo.png");
    EXPECT_TRUE(ChannelPage(*channel, {}).contains("style=\"display:none\""));
    channel->Image.Link = QStringLiteral("https://c.example/");
    channel->Image.Title = QStringLiteral("Logo & \"Co\"");
    const QByteArray page = ChannelPage(*channel, {});
    EXPECT_TRUE(page.contains("<a class=\"logo\" href=\"https://c.example/\" "
                              "style=\"display:visible\"><img src=\"https://c.example/logo.png\" "
                              "alt=\"Logo &amp; &quot;Co&quot;\""));
}

TEST(ChannelPage, CopyrightIsHiddenWhenEmpty) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    EXPECT_TRUE(ChannelPage(*channel, {}).contains("display: none }"));
    channel->SetCopyright(QStringLiteral("(c) 2026 C & D"));
    const QByteArray page = ChannelPage(*channel, {});
    EXPECT_TRUE(page.contains("display: visible }"));
    EXPECT_TRUE(page.contains("<div class=\"copyright\">(c) 2026 C &amp; D</div>"));
}

TEST(ChannelPage, ListsTopicsInTheGivenOrder) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* a = library.AddTopic(channel, QStringLiteral("Alpha"), QStringLiteral("a"));
    TTopicIndex* b = library.AddTopic(channel, QStringLiteral("Beta"), QStringLiteral("b"));
    TTopicIndex* c = library.AddTopic(channel, QStringLiteral("Gamma"), QStringLiteral("c"));
    const QByteArray page = ChannelPage(*channel, {c, a, b}, ExportChannelTemplates());
    const qsizetype gamma = page.indexOf("Gamma");
    const qsizetype alpha = page.indexOf("Alpha");
    const qsizetype beta = page.indexOf("Beta");
    EXPECT_TRUE(gamma > 0 && gamma < alpha && alpha < beta);
    EXPECT_FALSE(page.contains(ChannelHasNoTopics));
}

TEST(ChannelPage, OnlyTheFirstByteCarriesAByteOrderMark) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    const QList<TTopicIndex*> topics{library.AddTopic(channel, QStringLiteral("A"), {}),
                                     library.AddTopic(channel, QStringLiteral("B"), {})};
    const QByteArray page = ChannelPage(*channel, topics);
    EXPECT_TRUE(page.startsWith(ByteOrderMark));
    EXPECT_EQ(page.count(ByteOrderMark), 1);
}

TEST(ChannelPage, TopicWithoutLinkTakesItsChannelsLink) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"), QStringLiteral("d"));
    const QByteArray page = ChannelPage(*channel, {entry});
    EXPECT_TRUE(page.contains("<a href=\"https://c.example/\">Read more...</a>"));
    EXPECT_TRUE(page.contains("<a href=\"link://https://c.example/\" oncontextmenu=\"return "
                              "false;\">Open in Browser</a>"));
}

TEST(ChannelPage, ValuesATopicDoesNotSetKeepThePreviousTopics) {
    QTemporaryDir dir;
    const QString topicTemplate = dir.filePath(QStringLiteral("t.htm"));
    WriteFile(topicTemplate, "$topic_author$/$topic_author_visible$;");
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    const QList<TTopicIndex*> topics{
        library.AddTopic(channel, QStringLiteral("A"), {}, {}, QStringLiteral("Ann")),
        library.AddTopic(channel, QStringLiteral("B"), {})};
    const QByteArray page =
        ChannelPage(*channel, topics, {{QStringLiteral("channel"), false}, {topicTemplate, true}});
    // The author's name stays, but the flag hides it.
    EXPECT_TRUE(page.contains("Ann/visible;Ann/none;"));
}

TEST(ChannelPage, FrameThatCannotBeReadGivesNoPage) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    EXPECT_FALSE(BuildChannelPage(*channel, {},
                                  {{QStringLiteral("/nonexistent/channel.htm"), true},
                                   {QStringLiteral("channel_topic"), false}},
                                  &OwnTopic)
                     .has_value());
}

TEST(ChannelPage, TopicTemplateThatCannotBeReadIsAnError) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"), {});
    EXPECT_THROW(BuildChannelPage(*channel, {entry},
                                  {{QStringLiteral("channel"), false},
                                   {QStringLiteral("/nonexistent/topic.htm"), true}},
                                  &OwnTopic),
                 EPageError);
}

TEST(ChannelPage, ErrorLoadingATopicReachesTheCaller) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"), {});
    const TTopicLoader failing = [](TTopicIndex&) -> TTopic* { throw Exception("unreadable"); };
    EXPECT_THROW(BuildChannelPage(*channel, {entry}, ExportChannelTemplates(), failing), Exception);
}

// --- The topic page ---

TEST(TopicPage, TopicWithoutAuthorHidesTheAuthorLine) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"), {});
    EXPECT_TRUE(TopicPage(*entry).contains("display: none }\n"));
    entry->Topic()->Author = QStringLiteral("Ann <ann@example.org>");
    const QByteArray page = TopicPage(*entry);
    EXPECT_TRUE(page.contains("<div class=\"author\">By Ann &lt;ann@example.org&gt;.</div>"));
}

TEST(TopicPage, MovedTopicIsHeadedByTheChannelItCameFrom) {
    Library library;
    TChannel* channel =
        library.Channel(QStringLiteral("Origin"), QStringLiteral("https://origin.example/"), "c7");
    TFolder* folder = library.root.AddFolder();
    folder->SetTitle(QStringLiteral("Saved"));
    TTopicIndex* entry = library.AddTopic(folder, QStringLiteral("T"), {});
    entry->SetOrigin(channel);
    const QByteArray page = TopicPage(*entry);
    EXPECT_TRUE(page.contains("<a class=\"channel\" href=\"https://origin.example/\">Origin</a>"));
    // An origin the document no longer has: the folder holding the topic.
    entry->Origin = "gone";
    EXPECT_TRUE(TopicPage(*entry).contains("<a class=\"channel\" href=\"#\">Saved</a>"));
}

TEST(TopicPage, CharactersBeyondU16AndNonLatinLinksAreWholeUtf8) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    const QString link =
        QString::fromUtf16(u"https://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/"
                           u"\u0441\u0442\u0430\u0442\u044C\u044F?q=\u00E9&x=1");
    TTopicIndex* entry = library.AddTopic(channel, QString::fromUtf16(u"Smile \U0001F600"),
                                          QString::fromUtf16(u"\U0001F680"), link);
    const QByteArray page = TopicPage(*entry);
    EXPECT_TRUE(page.contains("Smile \xF0\x9F\x98\x80"));
    EXPECT_TRUE(page.contains("\xF0\x9F\x9A\x80"));
    EXPECT_FALSE(page.contains("\xED\xA0\xBD")); // no encoded surrogate half
    EXPECT_TRUE(page.contains("href=\"" + EscapeHtml(link).toUtf8() + "\">Read more...</a>"));
}

TEST(TopicPage, TemplateFileThatCannotBeReadIsAnError) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"), {});
    EXPECT_THROW(BuildTopicPage(*entry->Topic(), {QStringLiteral("/nonexistent/topic.htm"), true}),
                 EPageError);
}

TEST(TopicPage, PaneMayRunOnlyItsOwnContextMenuHandler) {
    // The pane's pages allow exactly the one inline handler the templates carry, by its
    // digest: a changed handler would silently stop working.
    const QByteArray digest =
        QCryptographicHash::hash("return false;", QCryptographicHash::Sha256).toBase64();
    for (const char* name : {"CHANNEL", "TOPIC"}) {
        const QString policy = DeclaredPolicy(LoadResourceText(QString::fromLatin1(name)));
        EXPECT_EQ(policy, QStringLiteral("script-src 'unsafe-hashes' 'sha256-%1'; object-src "
                                         "'none'; frame-src 'none'; base-uri 'none'; "
                                         "form-action 'none'")
                              .arg(QString::fromLatin1(digest)))
            << name;
    }
    EXPECT_TRUE(LoadResourceText(QStringLiteral("CHANNEL_TOPIC"))
                    .contains("oncontextmenu=\"return false;\""));
}

// --- Hostile feeds ---

TEST(HostileFeed, PanePagesHoldNothingLive) {
    HostileChannel hostile;
    const QByteArray channelPage = ChannelPage(*hostile.channel, hostile.entries);
    EXPECT_EQ(LiveContent(channelPage), QStringList());
    for (TTopicIndex* entry : hostile.entries) {
        const QByteArray topicPage = TopicPage(*entry);
        EXPECT_EQ(LiveContent(topicPage), QStringList());
        EXPECT_FALSE(topicPage.toLower().contains("javascript:"));
    }
    // What the page still shows.
    EXPECT_TRUE(channelPage.contains("Harmless opening paragraph"));
    EXPECT_TRUE(channelPage.contains("&lt;script&gt;alert(&#39;channel&#39;)&lt;/script&gt; News"));
    EXPECT_TRUE(channelPage.contains("&lt;script&gt;alert(&#39;title&#39;)&lt;/script&gt;"));
    EXPECT_TRUE(channelPage.contains("&amp;lt;b onmouseover=alert(1)&amp;gt;Title"));
    EXPECT_TRUE(channelPage.contains("[Active content removed]"));
    EXPECT_TRUE(channelPage.contains("<a class=\"channel\" href=\"#\">"));
    EXPECT_TRUE(channelPage.contains("<a>javascript link</a>"));
    EXPECT_TRUE(channelPage.contains("<div>event attributes</div>"));
    EXPECT_TRUE(channelPage.contains("<a href=\"#\">Read more...</a>"));
    EXPECT_TRUE(channelPage.contains(
        "<a href=\"https://good.example/&quot;onmouseover=&quot;alert(1)\">quote in a link</a>"));
    EXPECT_TRUE(channelPage.contains("\xF0\x9F\x98\x80"));
    EXPECT_TRUE(channelPage.contains(
        "<a href=\"https://\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.\xD1\x80\xD1\x84/"));
}

TEST(HostileFeed, ExportedPagesHoldNothingLiveAndForbidScripts) {
    HostileChannel hostile;
    QTemporaryDir dir;
    const QString channelFile = dir.filePath(QStringLiteral("channel.html"));
    const QString topicFile = dir.filePath(QStringLiteral("topic.html"));
    ExportChannelPage(*hostile.channel, hostile.entries, &OwnTopic, channelFile);
    ExportTopicPage(*hostile.entries.first()->Topic(), topicFile);
    for (const QString& file : {channelFile, topicFile}) {
        const QByteArray page = ReadFile(file);
        ASSERT_FALSE(page.isEmpty()) << file.toStdString();
        EXPECT_EQ(LiveContent(page), QStringList()) << file.toStdString();
        EXPECT_FALSE(page.contains("link://")) << file.toStdString();
        EXPECT_FALSE(page.toLower().contains("javascript:")) << file.toStdString();
        const QString policy = DeclaredPolicy(page);
        EXPECT_TRUE(policy.startsWith(u"default-src 'none';")) << policy.toStdString();
        EXPECT_FALSE(policy.contains(u"script-src")) << policy.toStdString();
        // The policy comes before anything a feed wrote.
        EXPECT_LT(page.indexOf("Content-Security-Policy"), page.indexOf("<body>"));
        EXPECT_TRUE(page.contains("Produced by <a href=\"https://vantrell.example/about\">"
                                  "Quillmar Reader</a>."));
    }
}

// --- Export ---

TEST(Export, WritesThePageTheBuilderMakes) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"), QStringLiteral("<p>d</p>"));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("c.html"));
    ExportChannelPage(*channel, {entry}, &OwnTopic, file);
    EXPECT_EQ(ReadFile(file), ChannelPage(*channel, {entry}, ExportChannelTemplates()));
    ExportTopicPage(*entry->Topic(), file);
    EXPECT_EQ(ReadFile(file), BuildTopicPage(*entry->Topic(), ExportTopicTemplate()));
}

TEST(Export, PageThatCannotBeBuiltLeavesTheFileAlone) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* entry = library.AddTopic(channel, QStringLiteral("T"), {});
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("fresh.html"));
    const QString existing = dir.filePath(QStringLiteral("existing.html"));
    WriteFile(existing, "earlier export");
    const TTopicLoader failing = [](TTopicIndex&) -> TTopic* { throw Exception("unreadable"); };
    EXPECT_THROW(ExportChannelPage(*channel, {entry}, failing, fresh), Exception);
    EXPECT_THROW(ExportChannelPage(*channel, {entry}, failing, existing), Exception);
    EXPECT_FALSE(QFile::exists(fresh));
    EXPECT_EQ(ReadFile(existing), "earlier export");
}

TEST(Export, FileThatCannotBeCreatedIsAnError) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    EXPECT_THROW(
        ExportChannelPage(*channel, {}, &OwnTopic, QStringLiteral("/nonexistent/folder/c.html")),
        EPageError);
}

// --- Template choice ---

struct TemplateChoiceCase {
    const char* name;
    QStringList webFiles;
    bool protectedItem;
    QString channelFrame;
    QString channelTopic;
    QString topic;
};

void PrintTo(const TemplateChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class TemplateChoiceTest : public testing::TestWithParam<TemplateChoiceCase> {};

TEST_P(TemplateChoiceTest, BrandedFilesOnlyWhenTheirSetIsComplete) {
    const TemplateChoiceCase& c = GetParam();
    QTemporaryDir dir;
    for (const QString& name : c.webFiles)
        WriteFile(dir.filePath(QStringLiteral("web/") + name), "x");
    TBranding branding;
    branding.Load(dir.path());
    TFolder root;
    TChannel* channel = root.AddChannel();
    channel->SetProtected(c.protectedItem);

    const auto shown = [&dir](const TPageTemplate& t) {
        return t.FromFile ? QFileInfo(t.Name).fileName() + QStringLiteral(" file")
                          : t.Name + QStringLiteral(" resource");
    };
    const TChannelPageTemplates channelPage = ChannelPageTemplates(*channel, branding);
    EXPECT_EQ(shown(channelPage.Frame), c.channelFrame);
    EXPECT_EQ(shown(channelPage.Topic), c.channelTopic);
    EXPECT_EQ(shown(TopicPageTemplate(channel, branding)), c.topic);
    if (channelPage.Frame.FromFile)
        EXPECT_TRUE(channelPage.Frame.Name.startsWith(dir.filePath(QStringLiteral("web/"))));
}

const QString ChannelResource = QStringLiteral("channel resource");
const QString ChannelTopicResource = QStringLiteral("channel_topic resource");
const QString TopicResource = QStringLiteral("topic resource");

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateChoiceTest,
    testing::Values(
        TemplateChoiceCase{
            "no files", {}, false, ChannelResource, ChannelTopicResource, TopicResource},
        TemplateChoiceCase{"frame without topic template",
                           {"channel.htm"},
                           false,
                           ChannelResource,
                           ChannelTopicResource,
                           TopicResource},
        TemplateChoiceCase{"standard set",
                           {"channel.htm", "channel_topic.htm"},
                           false,
                           "channel.htm file",
                           "channel_topic.htm file",
                           TopicResource},
        TemplateChoiceCase{"standard set, protected channel",
                           {"channel.htm", "channel_topic.htm"},
                           true,
                           ChannelResource,
                           ChannelTopicResource,
                           TopicResource},
        TemplateChoiceCase{"two of the three branded files",
                           {"branded_channel.htm", "branded_channel_topic.htm"},
                           true,
                           ChannelResource,
                           ChannelTopicResource,
                           TopicResource},
        TemplateChoiceCase{
            "branded set, protected channel",
            {"branded_channel.htm", "branded_channel_topic.htm", "branded_topic.htm"},
            true,
            "branded_channel.htm file",
            "branded_channel_topic.htm file",
            TopicResource},
        TemplateChoiceCase{"topic file, protected channel",
                           {"topic.htm"},
                           true,
                           ChannelResource,
                           ChannelTopicResource,
                           "branded_topic.htm file"},
        TemplateChoiceCase{"topic file",
                           {"topic.htm"},
                           false,
                           ChannelResource,
                           ChannelTopicResource,
                           "topic.htm file"}));

TEST(TemplateChoice, ExportAlwaysUsesTheBuiltInTemplates) {
    const TChannelPageTemplates channel = ExportChannelTemplates();
    EXPECT_EQ(channel.Frame.Name, QStringLiteral("export_channel"));
    EXPECT_EQ(channel.Topic.Name, QStringLiteral("export_channel_topic"));
    EXPECT_FALSE(channel.Frame.FromFile || channel.Topic.FromFile);
    EXPECT_EQ(ExportTopicTemplate().Name, QStringLiteral("export_topic"));
}

// --- Topic order ---

TEST(TopicsInListOrder, NewestFirstByDefaultAndTitlesInCodeOrder) {
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    TTopicIndex* old = library.AddTopic(channel, QStringLiteral("b"), {}, {}, {}, 100);
    TTopicIndex* recent = library.AddTopic(channel, QStringLiteral("a"), {}, {}, {}, 300);
    TTopicIndex* middle = library.AddTopic(channel, QStringLiteral("C"), {}, {}, {}, 200);
    EXPECT_EQ(TopicsInListOrder(*channel, 1, true), (QList<TTopicIndex*>{recent, middle, old}));
    EXPECT_EQ(TopicsInListOrder(*channel, 1, false), (QList<TTopicIndex*>{old, middle, recent}));
    EXPECT_EQ(TopicsInListOrder(*channel, 0, false), (QList<TTopicIndex*>{middle, recent, old}));
}

// --- Banners ---

TEST(Banner, RenderedFromTheWebFolderWithTheSelectedFeed) {
    QTemporaryDir dir;
    const QString web = dir.filePath(QStringLiteral("web/"));
    WriteFile(web + QStringLiteral("top_banner.html"), "<a href=\"x?f=$channel_feed$\">$web$</a>");
    WriteFile(web + QStringLiteral("top_banner_offline.html"), "offline");
    Library library;
    TChannel* channel = library.Channel(QStringLiteral("C"), QStringLiteral("https://c.example/"));
    channel->SetUrl(QStringLiteral("http://c.example/feed?a=1&b=2"));

    const std::optional<QByteArray> online =
        BuildBannerPage(web, TBannerPosition::Top, true, channel);
    ASSERT_TRUE(online.has_value());
    EXPECT_EQ(*online, "<a href=\"x?f=http%3A%2F%2Fc%2Eexample%2Ffeed%3Fa%3D1%26b%3D2\">" +
                           web.toUtf8() + "</a>");
    EXPECT_EQ(BuildBannerPage(web, TBannerPosition::Top, false, channel), QByteArray("offline"));
    // Not a channel: the feed is empty.
    EXPECT_EQ(BuildBannerPage(web, TBannerPosition::Top, true, &library.root),
              QByteArray("<a href=\"x?f=\">" + web.toUtf8() + "</a>"));
    EXPECT_FALSE(BuildBannerPage(web, TBannerPosition::Bottom, true, channel).has_value());
}
