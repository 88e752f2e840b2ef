#include "shell/ReaderConfig.h"

#include "shell/Registry.h"
#include "store/DocumentLocation.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QVariant>
#include <gtest/gtest.h>

namespace {

class ReaderConfig : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", env.ConfigFolder().toUtf8());
        SetDocumentFolderOverride(env.FilePath(QStringLiteral("doc")));
    }
    void TearDown() override {
        SetDocumentFolderOverride({});
        qunsetenv("XDG_CONFIG_HOME");
    }

    void Store(const QList<std::pair<QString, QVariant>>& values) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(TRegistry::RootKey, true));
        for (const auto& [name, value] : values) {
            if (value.typeId() == QMetaType::QString)
                reg.WriteString(name, value.toString());
            else
                reg.WriteInteger(name, value.toInt());
        }
    }

    static QString Effective(TConfiguration& c, const QString& name) {
        for (const auto& s : TConfiguration::Settings())
            if (s.Name == name)
                return s.Value(c);
        ADD_FAILURE() << "no setting " << name.toStdString();
        return {};
    }

    TestEnvironment env;
};

struct LoadCase {
    const char* what;
    QList<std::pair<QString, QVariant>> stored;
    QList<std::pair<QString, QString>> expected;
};

const QString T = QStringLiteral("true");
const QString F = QStringLiteral("false");

} // namespace

TEST_F(ReaderConfig, FirstRunGivesEveryDefault) {
    TConfiguration c;
    c.Load();
    EXPECT_EQ(c.TopicsSortOrder, 1);
    EXPECT_TRUE(c.TopicsInvertedOrder);
    EXPECT_EQ(c.AutoRefreshPeriod, 30);
    EXPECT_EQ(c.ContentDownloaderHeight, 90);
    EXPECT_EQ(c.Theme, QStringLiteral("Default"));
    EXPECT_EQ(c.PlaylistName, QStringLiteral("Downloaded Podcasts"));
    EXPECT_EQ(c.LanguageId, 1033);
    EXPECT_EQ(c.DownloadSlots, 2);
    EXPECT_EQ(c.GetAttachmentsFolder(), env.FilePath(QStringLiteral("doc/Downloaded Content/")));
    EXPECT_EQ(c.GetMusicFolder(), c.GetAttachmentsFolder());
    EXPECT_EQ(c.GetWinAmpPlaylistPath(), QString());
    EXPECT_FALSE(c.StartWithWindows);
}

TEST_F(ReaderConfig, NeverDownloadDefaultsCoverWindowsAndLinuxExecutables) {
    TConfiguration c;
    c.Load();
    const QStringList extensions = c.NeverDownloadExtensions.split(u';');
    for (const char* extension :
         {"exe", "bat", "vbs", "msi", "xlt", "sh", "run", "bin", "desktop", "appimage"})
        EXPECT_TRUE(extensions.contains(QString::fromLatin1(extension))) << extension;
    EXPECT_TRUE(c.MusicExtensions.split(u';').contains(QStringLiteral("mp3")));
}

TEST_F(ReaderConfig, StoredValuesAreReadWithTheirRanges) {
    const QList<LoadCase> cases{
        {"period below and above its range",
         {{QStringLiteral("AutoRefreshPeriod"), 0}, {QStringLiteral("AutoDeletePeriod"), 1000}},
         {{QStringLiteral("AutoRefreshPeriod"), QStringLiteral("1")},
          {QStringLiteral("AutoDeletePeriod"), QStringLiteral("31")}}},
        {"period far above its range",
         {{QStringLiteral("AutoRefreshPeriod"), 1000}},
         {{QStringLiteral("AutoRefreshPeriod"), QStringLiteral("100")}}},
        {"downloads panel below its minimum",
         {{QStringLiteral("ContentDownloaderHeight"), 50}},
         {{QStringLiteral("ContentDownloaderHeight"), QStringLiteral("100")}}},
        {"folder pane narrower and wider",
         {{QStringLiteral("FolderPanelWidth"), 20}, {QStringLiteral("ChannelPanelHeight"), 900}},
         {{QStringLiteral("FolderPanelWidth"), QStringLiteral("135")},
          {QStringLiteral("ChannelPanelHeight"), QStringLiteral("900")}}},
        {"origin column sorts as author",
         {{QStringLiteral("TopicsSortOrder"), 3}},
         {{QStringLiteral("TopicsSortOrder"), QStringLiteral("2")}}},
        {"all panes hidden bring two back",
         {{QStringLiteral("TopicPanelVisible"), 0},
          {QStringLiteral("ChannelPanelVisible"), 0},
          {QStringLiteral("FolderPanelVisible"), 0}},
         {{QStringLiteral("FolderPanelVisible"), T},
          {QStringLiteral("ChannelPanelVisible"), T},
          {QStringLiteral("TopicPanelVisible"), F}}},
        {"empty playlist name switches off every playlist",
         {{QStringLiteral("PlaylistName"), QString()},
          {QStringLiteral("PopulateITunesPlaylist"), 1},
          {QStringLiteral("PopulateMediaPlayerPlaylist"), 1},
          {QStringLiteral("PopulateWinAmpPlaylist"), 1},
          {QStringLiteral("WinAmpPlaylistPath"), QStringLiteral("/music")}},
         {{QStringLiteral("PopulateITunesPlaylist"), F},
          {QStringLiteral("PopulateMediaPlayerPlaylist"), F},
          {QStringLiteral("PopulateWinAmpPlaylist"), F}}},
        {"no playlist folder switches off the playlist file",
         {{QStringLiteral("PopulateWinAmpPlaylist"), 1}},
         {{QStringLiteral("PopulateWinAmpPlaylist"), F}}},
        {"playlist folder gets its separator",
         {{QStringLiteral("PopulateWinAmpPlaylist"), 1},
          {QStringLiteral("WinAmpPlaylistPath"), QStringLiteral("/music")}},
         {{QStringLiteral("PopulateWinAmpPlaylist"), T},
          {QStringLiteral("WinAmpPlaylistPath"), QStringLiteral("/music/")}}},
        {"unknown theme",
         {{QStringLiteral("Theme"), QStringLiteral("Chrome")}},
         {{QStringLiteral("Theme"), QStringLiteral("Default")}}},
        {"known theme",
         {{QStringLiteral("Theme"), QStringLiteral("Dark")}},
         {{QStringLiteral("Theme"), QStringLiteral("Dark")}}},
        {"geo values ignored without the location service",
         {{QStringLiteral("GeoCity"), QStringLiteral("Lyon")}},
         {{QStringLiteral("GeoCity"), QString()}}},
        {"geo values read with the location service",
         {{QStringLiteral("UseGeoLocation"), 1},
          {QStringLiteral("GeoCity"), QStringLiteral("Lyon")}},
         {{QStringLiteral("GeoCity"), QStringLiteral("Lyon")}}},
        {"account read only for the service",
         {{QStringLiteral("AccountUserName"), QStringLiteral("ann")}},
         {{QStringLiteral("AccountUserName"), QString()}}},
        {"empty attachments folder keeps the default",
         {{QStringLiteral("PathToAttachments"), QString()}},
         {{QStringLiteral("PathToAttachments"), QString()}}},
        {"music folder follows a stored attachments folder",
         {{QStringLiteral("PathToAttachments"), QStringLiteral("/data/att")}},
         {{QStringLiteral("PathToAttachments"), QStringLiteral("/data/att/")},
          {QStringLiteral("OverrideMusicFolder"), QStringLiteral("/data/att/")}}},
        {"a text where a number belongs counts as absent",
         {{QStringLiteral("PopupTime"), QStringLiteral("soon")}},
         {{QStringLiteral("PopupTime"), QStringLiteral("10")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(env.SettingsFile());
        Store(c.stored);
        TConfiguration configuration;
        configuration.Load();
        for (const auto& [name, value] : c.expected) {
            const QString expected = value.isEmpty() && name == QStringLiteral("PathToAttachments")
                                         ? env.FilePath(QStringLiteral("doc/Downloaded Content/"))
                                         : value;
            EXPECT_EQ(Effective(configuration, name), expected) << name.toStdString();
        }
    }
}

TEST_F(ReaderConfig, SaveWritesWhatLoadReadsBack) {
    TConfiguration c;
    c.Load();
    c.AutoRefreshPeriod = 45;
    c.AutoRefreshMeasure = 1;
    c.Theme = QStringLiteral("Light");
    c.SetAttachmentsFolder(env.FilePath(QStringLiteral("att")));
    c.LockedInToService = true; // never written by the program...
    c.AccountUserName = QStringLiteral("ann");
    c.Save();

    TConfiguration d;
    d.Load();
    EXPECT_EQ(d.AutoRefreshPeriod, 45);
    EXPECT_EQ(d.AutoRefreshMeasure, 1);
    EXPECT_EQ(d.Theme, QStringLiteral("Light"));
    EXPECT_EQ(d.GetAttachmentsFolder(), env.FilePath(QStringLiteral("att/")));
    EXPECT_FALSE(d.LockedInToService); // ...so it reads back as not configured
    EXPECT_EQ(d.AccountUserName, QString());
}

TEST_F(ReaderConfig, SaveLeavesGeoValuesAloneWithoutTheLocationService) {
    Store({{QStringLiteral("GeoZip"), QStringLiteral("69001")}});
    TConfiguration c;
    c.Load();
    c.GeoZip = QStringLiteral("changed");
    c.Save();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(TRegistry::RootKey));
    EXPECT_EQ(reg.ReadString(QStringLiteral("GeoZip")), QStringLiteral("69001"));
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("NormalClose")));
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("LanguageId")));
}

TEST_F(ReaderConfig, StartWithSessionFollowsTheAutostartEntry) {
    TConfiguration c;
    c.StartWithWindows = true;
    c.Save();
    QFile entry(Autostart::EntryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("Exec=\""));
    entry.close();

    TConfiguration d;
    d.Load();
    EXPECT_TRUE(d.StartWithWindows);
    d.StartWithWindows = false;
    d.Save();
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
}

TEST_F(ReaderConfig, PlacementRoundTripsAndMissingKeyChangesNothing) {
    TConfiguration c;
    const TWindowPlacement none = c.LoadPlacement(QStringLiteral("frmMain"));
    EXPECT_FALSE(none.Left.has_value());
    EXPECT_FALSE(none.IsMaximized.has_value());
    c.SavePlacement(QStringLiteral("frmMain"), {10, 20, 300, 400, true});
    const TWindowPlacement p = c.LoadPlacement(QStringLiteral("frmMain"));
    EXPECT_EQ(p.Left, 10);
    EXPECT_EQ(p.Top, 20);
    EXPECT_EQ(p.Height, 300);
    EXPECT_EQ(p.Width, 400);
    EXPECT_EQ(p.IsMaximized, true);
}

TEST_F(ReaderConfig, BrowserMenuEntryIsWrittenUnderTheTranslatedCaption) {
    TConfiguration c;
    c.RegisterBrowserMenu();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(
        QStringLiteral("Software\\Microsoft\\Internet Explorer\\MenuExt\\Add Feed To Quillmar")));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Contexts")), 34);
    const QString script = reg.ReadString(QString()).value_or(QString());
    EXPECT_TRUE(script.startsWith(QStringLiteral("res://"))) << script.toStdString();
    EXPECT_TRUE(script.endsWith(QStringLiteral("/AddContent.js"))) << script.toStdString();
    // The program's own key is not created by it.
    EXPECT_FALSE(reg.KeyExists(TRegistry::RootKey));
}
