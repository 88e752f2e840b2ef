// The store commands, run as the tool over documents the test builds with the store.
#include "store/QuillmarDoc.h"
#include "support/CliDocumentTest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using QuillmarDocCore::TTopic;

namespace {

class StoreCommandsTest : public CliDocumentTest {
protected:
    QString FilePath() const { return DataDir() + QStringLiteral("/Reader.bin"); }

    QJsonObject TreeJson() {
        return QJsonDocument::fromJson(Ok({QStringLiteral("tree"), QStringLiteral("--json")}))
            .object();
    }
    QJsonArray TopicsJson(const QString& item) {
        return QJsonDocument::fromJson(
                   Ok({QStringLiteral("topics"), item, QStringLiteral("--json")}))
            .array();
    }
    static QJsonObject Child(const QJsonObject& item, const QString& title) {
        for (const QJsonValue& child : item.value(QStringLiteral("Children")).toArray()) {
            if (child.toObject().value(QStringLiteral("Title")).toString() == title)
                return child.toObject();
        }
        return {};
    }

    // News/Example (a channel with two topics, one read), Other (an empty folder from a
    // subscription) and a kept search holding a copy of the unread topic.
    void BuildDocument() {
        TQuillmarDoc doc(DataDir());
        doc.OpenDocument();
        doc.Operation([&] {
            TFolder* news = doc.CreateFolder(nullptr);
            news->SetTitle(QStringLiteral("News"));
            doc.SaveFolder(*news);
            TChannel* channel = doc.CreateChannel(news);
            channel->SetTitle(QStringLiteral("Example"));
            channel->SetUrl(QStringLiteral("http://example.com/feed"));
            channel->Status = TChannel::StatusFailed;
            for (const char* guid : {"first", "second"}) {
                auto topic = std::make_unique<TTopic>(channel);
                topic->SetTitle(QStringLiteral("Topic ") + QLatin1String(guid));
                topic->SetGuid(QLatin1String(guid));
                topic->Link = QStringLiteral("http://example.com/") + QLatin1String(guid);
                topic->SetDescription(QStringLiteral("<p>Body of ") + QLatin1String(guid) +
                                      QStringLiteral("</p>"));
                topic->Date = guid == QByteArray("first") ? 45000 : 45001;
                TTopicIndex* entry = channel->AddTopicIndex(guid, std::move(topic));
                entry->StreamName = doc.NewTopicName(*channel);
                doc.WriteTopic(*entry);
            }
            channel->FindTopic("first")->Read = true;
            channel->ResetUnreadCount(1);
            doc.SaveIndex(*channel);
            doc.SaveChannel(*channel);
            TFolder* other = doc.CreateFolder(nullptr);
            other->SetTitle(QStringLiteral("Other"));
            other->FromSubscription = true;
            doc.SaveFolder(*other);

            auto* search = static_cast<TSearchChannel*>(doc.SearchRoot()->AddChannel());
            search->SetTitle(QStringLiteral("Wanted"));
            search->Options.Text = QStringLiteral("second");
            search->Options.Persistent = true;
            TTopicIndex* original = channel->FindTopic("second");
            search->AttachTopicIndex("second", std::make_unique<TTopicIndex>(search, *original));
            search->ResetUnreadCount(1);
            doc.SaveSearchTree();
        });
    }
};

} // namespace

TEST_F(StoreCommandsTest, TreeJsonShowsEveryItemWithItsCounts) {
    BuildDocument();
    const QJsonObject root = TreeJson();
    EXPECT_EQ(root.value(QStringLiteral("Kind")).toString(), QStringLiteral("folder"));
    const QJsonArray children = root.value(QStringLiteral("Children")).toArray();
    ASSERT_EQ(children.size(), 3);
    const QJsonObject news = Child(root, QStringLiteral("News"));
    EXPECT_EQ(news.value(QStringLiteral("StorageName")).toString().toUtf8(),
              TQuillmarDoc::ElementName('f', 1));
    const QJsonObject example = Child(news, QStringLiteral("Example"));
    EXPECT_EQ(example.value(QStringLiteral("Kind")).toString(), QStringLiteral("channel"));
    EXPECT_EQ(example.value(QStringLiteral("Url")).toString(),
              QStringLiteral("http://example.com/feed"));
    EXPECT_EQ(example.value(QStringLiteral("Status")).toInt(), 3);
    EXPECT_EQ(example.value(QStringLiteral("UnreadCount")).toInt(), 1);
    EXPECT_EQ(example.value(QStringLiteral("TopicCount")).toInt(), 2);
    EXPECT_TRUE(example.value(QStringLiteral("Children")).toArray().isEmpty());
    const QJsonObject searches = children.last().toObject();
    EXPECT_EQ(searches.value(QStringLiteral("Kind")).toString(), QStringLiteral("searchfolder"));
    EXPECT_EQ(searches.value(QStringLiteral("StorageName")).toString(), QStringLiteral(".search"));
    const QJsonObject wanted = Child(searches, QStringLiteral("Wanted"));
    EXPECT_EQ(wanted.value(QStringLiteral("Kind")).toString(), QStringLiteral("searchchannel"));
    EXPECT_EQ(wanted.value(QStringLiteral("UnreadCount")).toInt(), 1);

    const QByteArray text = Ok({QStringLiteral("tree")});
    EXPECT_TRUE(text.contains("News [0/0]\n  Example (channel) [1/2]\n")) << text.toStdString();
}

TEST_F(StoreCommandsTest, FoldersAreMadeRenamedMovedAndRemoved) {
    Ok({QStringLiteral("mkfolder"), QStringLiteral("Tech")});
    const QByteArray made = Ok({QStringLiteral("mkfolder"), QStringLiteral("Gadgets"),
                                QStringLiteral("--parent"), QStringLiteral("Tech")});
    EXPECT_EQ(made,
              TQuillmarDoc::ElementName('f', 1) + '\\' + TQuillmarDoc::ElementName('f', 2) + '\n');
    Ok({QStringLiteral("mkfolder"), QStringLiteral("Archive")});
    // By storage path, then by title path.
    Ok({QStringLiteral("rename"), QString::fromUtf8(made.trimmed()), QStringLiteral("Toys")});
    Ok({QStringLiteral("move"), QStringLiteral("Tech/Toys"), QStringLiteral("Archive")});
    QJsonObject root = TreeJson();
    EXPECT_TRUE(Child(Child(root, QStringLiteral("Archive")), QStringLiteral("Toys"))
                    .value(QStringLiteral("Kind"))
                    .isString());
    EXPECT_TRUE(
        Child(root, QStringLiteral("Tech")).value(QStringLiteral("Children")).toArray().isEmpty());
    Ok({QStringLiteral("move"), QStringLiteral("Archive/Toys"), QStringLiteral("/")});
    Ok({QStringLiteral("rm"), QStringLiteral("Archive")});
    root = TreeJson();
    EXPECT_TRUE(Child(root, QStringLiteral("Archive")).isEmpty());
    EXPECT_FALSE(Child(root, QStringLiteral("Toys")).isEmpty());
}

TEST_F(StoreCommandsTest, AFolderCannotBeMovedBelowItself) {
    Ok({QStringLiteral("mkfolder"), QStringLiteral("A")});
    Ok({QStringLiteral("mkfolder"), QStringLiteral("B"), QStringLiteral("--parent"),
        QStringLiteral("A")});
    QFile file(FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    const ProcessResult r =
        Run({QStringLiteral("move"), QStringLiteral("A"), QStringLiteral("A/B")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("cannot be moved into itself")) << r.err.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

TEST_F(StoreCommandsTest, TopicsAreListedShownMarkedAndFlagged) {
    BuildDocument();
    const QJsonArray topics = TopicsJson(QStringLiteral("News/Example"));
    ASSERT_EQ(topics.size(), 2);
    const QJsonObject newest = topics.first().toObject();
    EXPECT_EQ(newest.value(QStringLiteral("Key")).toString(), QStringLiteral("second"));
    EXPECT_FALSE(newest.value(QStringLiteral("Read")).toBool());
    EXPECT_EQ(newest.value(QStringLiteral("Flag")).toInt(), 2);

    const QJsonObject shown =
        QJsonDocument::fromJson(Ok({QStringLiteral("show"), QStringLiteral("News/Example#second"),
                                    QStringLiteral("--json")}))
            .object();
    EXPECT_EQ(shown.value(QStringLiteral("Description")).toString(),
              QStringLiteral("<p>Body of second</p>"));
    EXPECT_EQ(shown.value(QStringLiteral("Link")).toString(),
              QStringLiteral("http://example.com/second"));
    EXPECT_FALSE(shown.value(QStringLiteral("BodyMissing")).toBool());
    // The same topic by the storage path of its body.
    const QString streamPath = shown.value(QStringLiteral("Item")).toString() + u'\\' +
                               newest.value(QStringLiteral("StreamName")).toString();
    EXPECT_TRUE(Ok({QStringLiteral("show"), streamPath}).contains("<p>Body of second</p>"));

    Ok({QStringLiteral("flag"), QStringLiteral("News/Example#second"), QStringLiteral("green")});
    Ok({QStringLiteral("flag"), QStringLiteral("News/Example#first"), QStringLiteral("4")});
    EXPECT_EQ(
        Run({QStringLiteral("flag"), QStringLiteral("News/Example#first"), QStringLiteral("9")})
            .exitCode,
        2);
    const QJsonArray flagged = TopicsJson(QStringLiteral("News/Example"));
    EXPECT_EQ(flagged[0].toObject().value(QStringLiteral("Flag")).toInt(), 6);
    EXPECT_EQ(flagged[1].toObject().value(QStringLiteral("Flag")).toInt(), 4);

    EXPECT_EQ(Ok({QStringLiteral("mark"), QStringLiteral("News/Example"), QStringLiteral("read")}),
              "Example: 0 unread\n");
    EXPECT_EQ(Ok({QStringLiteral("mark"), QStringLiteral("News/Example#first"),
                  QStringLiteral("unread")}),
              "Example: 1 unread\n");
    const QJsonObject example =
        Child(Child(TreeJson(), QStringLiteral("News")), QStringLiteral("Example"));
    EXPECT_EQ(example.value(QStringLiteral("UnreadCount")).toInt(), 1);
}

TEST_F(StoreCommandsTest, MarkingASearchResultMarksItsChannelToo) {
    BuildDocument();
    Ok({QStringLiteral("mark"), QStringLiteral("Search Results/Wanted#second"),
        QStringLiteral("read")});
    const QJsonObject root = TreeJson();
    const QJsonObject example =
        Child(Child(root, QStringLiteral("News")), QStringLiteral("Example"));
    EXPECT_EQ(example.value(QStringLiteral("UnreadCount")).toInt(), 0);
    const QJsonArray results = TopicsJson(QStringLiteral("Search Results/Wanted"));
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results[0].toObject().value(QStringLiteral("Read")).toBool());
    EXPECT_TRUE(Ok({QStringLiteral("show"), QStringLiteral("Search Results/Wanted#second")})
                    .contains("<p>Body of second</p>"));
}

TEST_F(StoreCommandsTest, RemovingASubscribedItemHidesIt) {
    BuildDocument();
    EXPECT_TRUE(Ok({QStringLiteral("rm"), QStringLiteral("Other")}).startsWith("hidden"));
    EXPECT_TRUE(
        Child(TreeJson(), QStringLiteral("Other")).value(QStringLiteral("Deleted")).toBool());
    Ok({QStringLiteral("rm"), QStringLiteral("News/Example")});
    EXPECT_TRUE(
        Child(Child(TreeJson(), QStringLiteral("News")), QStringLiteral("Example")).isEmpty());
}

TEST_F(StoreCommandsTest, MistakesFailWithOneLine) {
    BuildDocument();
    Ok({QStringLiteral("mkfolder"), QStringLiteral("News")}); // a second "News"
    struct Case {
        QStringList args;
        int exitCode;
        QByteArray says;
    };
    const QList<Case> cases{
        {{QStringLiteral("topics"), QStringLiteral("Nowhere")}, 1, "no folder or channel"},
        {{QStringLiteral("show"), QStringLiteral("Search Results/Wanted#nothing")}, 1, "no topic"},
        {{QStringLiteral("topics"), QStringLiteral("News")}, 1, "names 2 items"},
        {{QStringLiteral("mark"), QStringLiteral("Other"), QStringLiteral("sideways")}, 2, "read"},
        {{QStringLiteral("rm"), QStringLiteral("/")}, 1, "cannot be removed"},
        {{QStringLiteral("mkfolder"), QStringLiteral(" ")}, 2, "cannot be empty"},
        {{QStringLiteral("rename"), QStringLiteral("Other"), QString()}, 2, "cannot be empty"},
        {{QStringLiteral("mkfolder"), QStringLiteral("X"), QStringLiteral("--parent"),
          QStringLiteral("Search Results/Wanted")},
         1,
         "not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const ProcessResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1);
    }
}

TEST_F(StoreCommandsTest, ADocumentThatCannotBeOpenedIsLeftAlone) {
    QFile file(FilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a document");
    file.close();
    const ProcessResult r = Run({QStringLiteral("mkfolder"), QStringLiteral("X")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Cannot open document file.")) << r.err.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "not a document");
}
