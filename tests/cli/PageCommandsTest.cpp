// "render" and "export", run as the tool over documents the test builds with the store.
#include "store/QuillmarDoc.h"
#include "support/CliDocumentTest.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using QuillmarDocCore::TTopic;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

struct TopicSpec {
    QByteArray guid;
    QString title;
    QString description;
    QString link;
    double date;
};

class PageCommandsTest : public CliDocumentTest {
protected:
    QString Path(const QString& name) const { return m_env.FilePath(name); }

    // News/Example, a channel holding the topics, and an empty folder Other.
    void BuildDocument(const QList<TopicSpec>& topics) {
        TQuillmarDoc doc(DataDir());
        doc.OpenDocument();
        doc.Operation([&] {
            TFolder* news = doc.CreateFolder(nullptr);
            news->SetTitle(QStringLiteral("News"));
            doc.SaveFolder(*news);
            TChannel* channel = doc.CreateChannel(news);
            channel->SetTitle(QStringLiteral("Example"));
            channel->SetUrl(QStringLiteral("http://example.com/feed"));
            channel->Link = QStringLiteral("http://example.com/");
            for (const TopicSpec& spec : topics) {
                auto topic = std::make_unique<TTopic>(channel);
                topic->SetTitle(spec.title);
                topic->SetGuid(QString::fromUtf8(spec.guid));
                topic->Link = spec.link;
                topic->SetDescription(spec.description);
                topic->Date = spec.date;
                TTopicIndex* entry = channel->AddTopicIndex(spec.guid, std::move(topic));
                entry->Date = spec.date;
                entry->StreamName = doc.NewTopicName(*channel);
                doc.WriteTopic(*entry);
            }
            doc.SaveIndex(*channel);
            doc.SaveChannel(*channel);
            TFolder* other = doc.CreateFolder(nullptr);
            other->SetTitle(QStringLiteral("Other"));
            doc.SaveFolder(*other);
        });
    }

    void BuildOrdinaryDocument() {
        BuildDocument({{"older", QStringLiteral("Older topic"), QStringLiteral("<p>Old body</p>"),
                        QStringLiteral("http://example.com/older"), 45000},
                       {"newer", QStringLiteral("Newer topic"), QStringLiteral("<p>New body</p>"),
                        QStringLiteral("http://example.com/newer"), 45001}});
    }
};

// Nothing a hostile feed wrote may be live in a page.
void ExpectNothingLive(const QByteArray& page) {
    const QByteArray lower = page.toLower();
    // An attribute starts after a space; the same words inside an escaped value are text.
    for (const char* marker : {"<script", "javascript:", " onerror=", " onload=", " onmouseover=",
                               " onclick=", "<iframe", "<svg", "<object", "<embed", "<form",
                               "<base", "http-equiv=\"refresh", "<meta http-equiv=refresh"}) {
        EXPECT_FALSE(lower.contains(marker)) << marker;
    }
}

} // namespace

TEST_F(PageCommandsTest, RenderedChannelPageListsNewestFirst) {
    BuildOrdinaryDocument();
    const QByteArray page = Ok({QStringLiteral("render"), QStringLiteral("News/Example")});
    EXPECT_TRUE(page.startsWith("\xEF\xBB\xBF<!DOCTYPE html>"));
    EXPECT_TRUE(page.contains("<a class=\"channel\" href=\"http://example.com/\">Example</a>"));
    const qsizetype newer = page.indexOf("Newer topic");
    const qsizetype older = page.indexOf("Older topic");
    EXPECT_TRUE(newer > 0 && newer < older);
    EXPECT_TRUE(page.contains("<a href=\"link://http://example.com/newer\""));
}

TEST_F(PageCommandsTest, RenderedTopicPageGoesToTheFileAsked) {
    BuildOrdinaryDocument();
    const QString file = Path(QStringLiteral("topic.html"));
    EXPECT_EQ(Ok({QStringLiteral("render"), QStringLiteral("News/Example#older"),
                  QStringLiteral("-o"), file}),
              QByteArray());
    const QByteArray page = ReadFile(file);
    EXPECT_TRUE(page.contains("<div class=\"topic_title\">Older topic</div>"));
    EXPECT_TRUE(page.contains("<div class=\"topic_descr\"><p>Old body</p></div>"));
    EXPECT_FALSE(page.contains("Newer topic"));
}

TEST_F(PageCommandsTest, FolderWithoutTopicsAsksForAChannel) {
    BuildOrdinaryDocument();
    EXPECT_TRUE(Ok({QStringLiteral("render"), QStringLiteral("Other")})
                    .contains("Click on a channel to view feeds"));
}

TEST_F(PageCommandsTest, BrandedTopicTemplateFromTheProgramFolder) {
    BuildOrdinaryDocument();
    const QString program = Path(QStringLiteral("program"));
    WriteFile(program + QStringLiteral("/web/topic.htm"), "branded: $topic$ @ $channel_title$");
    EXPECT_EQ(Ok({QStringLiteral("render"), QStringLiteral("News/Example#newer"),
                  QStringLiteral("--program"), program}),
              QByteArray("branded: Newer topic @ Example"));
}

TEST_F(PageCommandsTest, ExportWritesPagesThatForbidScripts) {
    BuildOrdinaryDocument();
    const QString channelFile = Path(QStringLiteral("channel.html"));
    const QString topicFile = Path(QStringLiteral("topic.html"));
    Ok({QStringLiteral("export"), QStringLiteral("News/Example"), channelFile});
    Ok({QStringLiteral("export"), QStringLiteral("News/Example#newer"), topicFile});
    for (const QString& file : {channelFile, topicFile}) {
        const QByteArray page = ReadFile(file);
        EXPECT_TRUE(page.contains("<meta http-equiv=\"Content-Security-Policy\" "
                                  "content=\"default-src 'none';"))
            << file.toStdString();
        EXPECT_FALSE(page.contains("link://")) << file.toStdString();
        EXPECT_TRUE(page.contains("Newer topic")) << file.toStdString();
    }
    EXPECT_TRUE(ReadFile(channelFile).contains("Older topic"));
}

TEST_F(PageCommandsTest, HostileTopicRendersAndExportsWithNothingLive) {
    const QString hostile = QString::fromUtf8(
        ReadFile(QStringLiteral(QUILLMAR_TEST_DATA "/pages/hostile-description.html")));
    ASSERT_FALSE(hostile.isEmpty());
    BuildDocument(
        {{"evil", QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt; \"quoted\" title"), hostile,
          QStringLiteral("javascript:alert('link')"), 45000}});
    const QString exported = Path(QStringLiteral("evil.html"));
    ExpectNothingLive(Ok({QStringLiteral("render"), QStringLiteral("News/Example")}));
    ExpectNothingLive(Ok({QStringLiteral("render"), QStringLiteral("News/Example#evil")}));
    Ok({QStringLiteral("export"), QStringLiteral("News/Example"), exported});
    ExpectNothingLive(ReadFile(exported));
    Ok({QStringLiteral("export"), QStringLiteral("News/Example#evil"), exported});
    const QByteArray page = ReadFile(exported);
    ExpectNothingLive(page);
    EXPECT_TRUE(page.contains("&lt;script&gt;alert(1)&lt;/script&gt; &quot;quoted&quot; title"));
    EXPECT_TRUE(page.contains("\xF0\x9F\x98\x80"));
}

TEST_F(PageCommandsTest, UnknownAddressFailsAndWritesNothing) {
    BuildOrdinaryDocument();
    const QString file = Path(QStringLiteral("none.html"));
    for (const QStringList& args :
         {QStringList{QStringLiteral("export"), QStringLiteral("News/Nothing"), file},
          QStringList{QStringLiteral("render"), QStringLiteral("News/Example#nokey"),
                      QStringLiteral("-o"), file}}) {
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("no folder, channel or topic")) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(PageCommandsTest, TopAndSearchResultsHaveNoChannelPage) {
    BuildOrdinaryDocument();
    for (const char* address : {"/", "Search Results"}) {
        const ProcessResult r = Run({QStringLiteral("render"), QString::fromLatin1(address)});
        EXPECT_EQ(r.exitCode, 1) << address;
        EXPECT_EQ(r.out, QByteArray()) << address;
    }
    EXPECT_NE(Run({QStringLiteral("export"), QStringLiteral("/"), Path(QStringLiteral("x.html"))})
                  .exitCode,
              0);
}

TEST_F(PageCommandsTest, ExportIntoAMissingFolderFails) {
    BuildOrdinaryDocument();
    const ProcessResult r = Run({QStringLiteral("export"), QStringLiteral("News/Example"),
                                 Path(QStringLiteral("missing/folder/c.html"))});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("Cannot create")) << r.err.toStdString();
}
