#include "shell/ReaderBranding.h"

#include "store/ValueStream.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

using Value = std::function<void(TValueWriter&)>;

Value Int(qint32 v) {
    return [v](TValueWriter& w) { w.WriteInteger(v); };
}
Value Bool(bool v) {
    return [v](TValueWriter& w) { w.WriteBoolean(v); };
}
Value Text(const char* v) {
    return [v](TValueWriter& w) { w.WriteWideString(QString::fromUtf8(v)); };
}

// The eighteen values of a complete file of the given version, in the file's order.
QList<Value> BrandValues(qint32 version) {
    return {Int(version),
            Text("Acme News"),
            Text("unused"),
            Text("https://acme.test/about"),
            Text("https://acme.test/help"),
            Text("https://acme.test/forum"),
            Text("https://acme.test/"),
            Text(""),
            Text("Office"),
            Bool(true),
            Int(120),
            Int(40000),
            Bool(true),
            Bool(false),
            Bool(false),
            Text("https://acme.test/list.opml"),
            Text("https://search.acme.test/?q=$search$"),
            Text("&Find feeds:")};
}

QByteArray Encode(const QList<Value>& values) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    TValueWriter writer(buffer);
    for (const auto& v : values)
        v(writer);
    writer.Flush();
    return bytes;
}

class BrandingFolder {
public:
    BrandingFolder() { QDir(m_dir.path()).mkpath(QStringLiteral("web")); }
    QString Path() const { return m_dir.path(); }
    void Write(const QString& name, const QByteArray& bytes) const {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    TBranding Loaded() const {
        TBranding branding;
        branding.Load(Path());
        return branding;
    }

private:
    QTemporaryDir m_dir;
};

TEST(ReaderBranding, WithoutAFileTheDefaultsStayAndTheProgramIsUnbranded) {
    BrandingFolder folder;
    const TBranding b = folder.Loaded();
    const TBranding defaults;
    EXPECT_TRUE(b.NotBranded);
    EXPECT_EQ(b.ProductName, QStringLiteral("Quillmar"));
    EXPECT_EQ(b.WindowTitle(), QStringLiteral("Quillmar Reader"));
    EXPECT_EQ(b.DocumentFolderName(), QStringLiteral("My Quillmar"));
    EXPECT_FALSE(b.OnlineForumUrl.isEmpty());
    EXPECT_FALSE(b.CreateFeedUrl.isEmpty());
    EXPECT_EQ(b.FeedSearchUrl, defaults.FeedSearchUrl);
    EXPECT_EQ(b.FeedSearchLabelText(QStringLiteral("Form caption")),
              QStringLiteral("Form caption"));
    EXPECT_EQ(b.PopupPicturePath, folder.Path() + QStringLiteral("/popup.bmp"));
    EXPECT_EQ(b.TopicTemplatePath, folder.Path() + QStringLiteral("/web/topic.htm"));
    EXPECT_EQ(b.TopBannerHeight, 81);
    EXPECT_TRUE(b.ExpandUnread);
}

TEST(ReaderBranding, ACompleteFileSetsEveryField) {
    BrandingFolder folder;
    folder.Write(QStringLiteral("brand.cfg"), Encode(BrandValues(4)));
    const TBranding b = folder.Loaded();
    EXPECT_FALSE(b.NotBranded);
    EXPECT_EQ(b.ProductName, QStringLiteral("Acme News"));
    EXPECT_EQ(b.WindowTitle(), QStringLiteral("Acme News"));
    EXPECT_EQ(b.DocumentFolderName(), QStringLiteral("My Acme News"));
    EXPECT_EQ(b.AboutUrl, QStringLiteral("https://acme.test/about"));
    EXPECT_EQ(b.OnlineHelpUrl, QStringLiteral("https://acme.test/help"));
    EXPECT_EQ(b.OnlineForumUrl, QStringLiteral("https://acme.test/forum"));
    EXPECT_EQ(b.HomePageUrl, QStringLiteral("https://acme.test/"));
    EXPECT_EQ(b.CreateFeedUrl, QString()); // an empty text hides the command
    EXPECT_EQ(b.DefaultTheme, QStringLiteral("Office"));
    EXPECT_TRUE(b.ThemeLocked);
    EXPECT_EQ(b.TopBannerHeight, 120);
    EXPECT_EQ(b.BottomBannerHeight, 40000);
    EXPECT_TRUE(b.TopBannerShown);
    EXPECT_FALSE(b.BottomBannerShown);
    EXPECT_FALSE(b.ExpandUnread);
    EXPECT_EQ(b.AutoOpmlUrl, QStringLiteral("https://acme.test/list.opml"));
    EXPECT_EQ(b.FeedSearchUrl, QStringLiteral("https://search.acme.test/?q=$search$"));
    EXPECT_EQ(b.FeedSearchLabel, QStringLiteral("&Find feeds:"));
    EXPECT_EQ(b.FeedSearchLabelText(QStringLiteral("Form caption")),
              QStringLiteral("&Find feeds:"));
}

struct VersionCase {
    qint32 version;
    bool opmlRead, searchRead, labelRead;
};

class BrandingVersions : public testing::TestWithParam<VersionCase> {};

TEST_P(BrandingVersions, ReadOnlyTheValuesTheirVersionHas) {
    const VersionCase c = GetParam();
    const int count = 15 + c.opmlRead + c.searchRead + c.labelRead;
    // The file holds exactly what its version writes; anything more would be ignored.
    BrandingFolder folder;
    folder.Write(QStringLiteral("brand.cfg"), Encode(BrandValues(c.version).mid(0, count)));
    const TBranding b = folder.Loaded();
    const TBranding defaults;
    EXPECT_FALSE(b.NotBranded);
    EXPECT_EQ(b.AutoOpmlUrl.isEmpty(), !c.opmlRead);
    EXPECT_EQ(b.FeedSearchUrl == defaults.FeedSearchUrl, !c.searchRead);
    EXPECT_EQ(b.FeedSearchLabel == defaults.FeedSearchLabel, !c.labelRead);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrandingVersions,
    testing::Values(VersionCase{1, false, false, false}, VersionCase{2, true, false, false},
                    VersionCase{3, true, true, false}, VersionCase{4, true, true, true},
                    VersionCase{9, true, true, true}, VersionCase{-5, false, false, false}));

TEST(ReaderBranding, AVersionOneFileKeepsExtraBytesUnread) {
    BrandingFolder folder;
    folder.Write(QStringLiteral("brand.cfg"), Encode(BrandValues(1)));
    const TBranding b = folder.Loaded();
    EXPECT_FALSE(b.NotBranded);
    EXPECT_TRUE(b.AutoOpmlUrl.isEmpty());
    EXPECT_EQ(b.FeedSearchUrl, TBranding().FeedSearchUrl);
}

TEST(ReaderBranding, AFileCutAfterTheSixthValueKeepsWhatWasRead) {
    BrandingFolder folder;
    folder.Write(QStringLiteral("brand.cfg"), Encode(BrandValues(4).mid(0, 6)));
    const TBranding b = folder.Loaded();
    const TBranding defaults;
    EXPECT_TRUE(b.NotBranded);
    EXPECT_EQ(b.ProductName, QStringLiteral("Acme News"));
    EXPECT_EQ(b.AboutUrl, QStringLiteral("https://acme.test/about"));
    EXPECT_EQ(b.OnlineHelpUrl, QStringLiteral("https://acme.test/help"));
    EXPECT_EQ(b.OnlineForumUrl, QStringLiteral("https://acme.test/forum"));
    EXPECT_EQ(b.HomePageUrl, defaults.HomePageUrl);
    EXPECT_EQ(b.CreateFeedUrl, defaults.CreateFeedUrl);
    EXPECT_EQ(b.DefaultTheme, defaults.DefaultTheme);
}

struct DamageCase {
    const char* what;
    QByteArray file;
    const char* productName; // what the file still managed to set
};

class DamagedBrandFiles : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedBrandFiles, RunUnbrandedWithTheValuesReadBeforeTheDamage) {
    BrandingFolder folder;
    folder.Write(QStringLiteral("brand.cfg"), GetParam().file);
    const TBranding b = folder.Loaded();
    EXPECT_TRUE(b.NotBranded) << GetParam().what;
    EXPECT_EQ(b.ProductName, QString::fromUtf8(GetParam().productName)) << GetParam().what;
}

QByteArray Cut(const QByteArray& bytes, int keep) {
    return bytes.left(keep);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedBrandFiles,
    testing::Values(
        DamageCase{"an empty file", QByteArray(), "Quillmar"},
        DamageCase{"a text where the version belongs", Encode({Text("4"), Text("X")}), "Quillmar"},
        DamageCase{"a name whose length runs past the file",
                   Encode({Int(4)}) + QByteArray("\x0C\xFF\xFF\xFF\x7F"
                                                 "Acme",
                                                 9),
                   "Quillmar"},
        DamageCase{"a UTF-16 name of two billion units",
                   Encode({Int(4)}) + QByteArray("\x12\xFF\xFF\xFF\x7F"
                                                 "A\0",
                                                 7),
                   "Quillmar"},
        DamageCase{"a file cut inside the second address",
                   Cut(Encode(BrandValues(4)), Encode(BrandValues(4).mid(0, 5)).size() + 4),
                   "Acme News"},
        DamageCase{
            "a text where the theme lock belongs",
            Encode(BrandValues(4).mid(0, 9) + QList<Value>{Text("yes")} + BrandValues(4).mid(10)),
            "Acme News"},
        DamageCase{"a boolean where a banner height belongs",
                   Encode(BrandValues(4).mid(0, 10) + QList<Value>{Bool(true)}), "Acme News"}));

TEST(ReaderBranding, AFolderNamedLikeTheFileIsNoBrandFile) {
    BrandingFolder folder;
    QDir(folder.Path()).mkdir(QStringLiteral("brand.cfg"));
    EXPECT_TRUE(folder.Loaded().NotBranded);
}

struct TemplateCase {
    QStringList files;
    bool standard, branded, topic;
};

class TemplateFlags : public testing::TestWithParam<TemplateCase> {};

TEST_P(TemplateFlags, TellWhichTemplateSetsAreComplete) {
    BrandingFolder folder;
    for (const QString& name : GetParam().files)
        folder.Write(QStringLiteral("web/") + name, "<html></html>");
    const TBranding b = folder.Loaded();
    EXPECT_EQ(b.StandardTemplatesPresent, GetParam().standard);
    EXPECT_EQ(b.BrandedTemplatesPresent, GetParam().branded);
    EXPECT_EQ(b.TopicTemplatePresent, GetParam().topic);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateFlags,
    testing::Values(
        TemplateCase{{}, false, false, false}, TemplateCase{{"channel.htm"}, false, false, false},
        TemplateCase{{"channel.htm", "channel_topic.htm"}, true, false, false},
        TemplateCase{{"topic.htm"}, false, false, true},
        TemplateCase{{"branded_channel.htm", "branded_channel_topic.htm"}, false, false, false},
        TemplateCase{{"branded_channel.htm", "branded_channel_topic.htm", "branded_topic.htm"},
                     false,
                     true,
                     false},
        TemplateCase{{"channel.htm", "channel_topic.htm", "topic.htm", "branded_channel.htm",
                      "branded_channel_topic.htm", "branded_topic.htm"},
                     true,
                     true,
                     true}));

struct DerivedCase {
    const char* productName;
    const char* title;
    const char* folder;
};

class DerivedTexts : public testing::TestWithParam<DerivedCase> {};

TEST_P(DerivedTexts, FollowTheProductName) {
    TBranding b;
    b.ProductName = QString::fromUtf8(GetParam().productName);
    EXPECT_EQ(b.WindowTitle(), QString::fromUtf8(GetParam().title));
    EXPECT_EQ(b.DocumentFolderName(), QString::fromUtf8(GetParam().folder));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DerivedTexts,
    testing::Values(DerivedCase{"Quillmar", "Quillmar Reader", "My Quillmar"},
                    DerivedCase{"Quillmar for Acme", "Quillmar Reader", "My Quillmar for Acme"},
                    DerivedCase{"Acme News", "Acme News", "My Acme News"},
                    DerivedCase{"../../etc", "../../etc", "My .._.._etc"},
                    DerivedCase{"Acme: News?", "Acme: News?", "My Acme_ News_"}));

TEST(ReaderBranding, TrayTipIsCutTo63CharactersWithoutSplittingAPair) {
    TBranding b;
    b.ProductName = QString(70, u'x');
    EXPECT_EQ(b.TrayTip(), QString(63, u'x'));
    b.ProductName = QString(62, u'x') + QString::fromUtf8("\xF0\x9F\x98\x80");
    EXPECT_EQ(b.TrayTip(), QString(62, u'x'));
}

TEST(BrandingCommand, PrintsTheBrandingOfAFolderAsJson) {
    TestEnvironment env;
    BrandingFolder folder;
    folder.Write(QStringLiteral("brand.cfg"), Encode(BrandValues(4)));
    const ProcessResult r = RunCli(env, {QStringLiteral("branding"), folder.Path()});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject json = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(json.value(QStringLiteral("ProductName")).toString(), QStringLiteral("Acme News"));
    EXPECT_EQ(json.value(QStringLiteral("NotBranded")).toBool(true), false);
    EXPECT_EQ(json.value(QStringLiteral("DocumentFolderName")).toString(),
              QStringLiteral("My Acme News"));
    EXPECT_EQ(json.value(QStringLiteral("TopBannerHeight")).toInt(), 120);
}

TEST(BrandingCommand, AFolderThatDoesNotExistIsAnError) {
    TestEnvironment env;
    BrandingFolder folder;
    const QString missing = folder.Path() + QStringLiteral("/nowhere");
    const ProcessResult r = RunCli(env, {QStringLiteral("branding"), missing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("nowhere")) << r.err.constData();
}

} // namespace
