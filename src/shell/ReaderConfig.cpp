#include "ReaderConfig.h"

#include "ReaderBranding.h"
#include "Registry.h"
#include "UIUtils.h"
#include "store/DocumentLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

const QString TConfiguration::DefaultNeverDownloadExtensions = QStringLiteral(
    "exe;com;ocx;dll;cpl;bat;cmd;ade;adp;bas;chm;crt;doc;dot;hlp;hta;inf;ins;isp;js;jse;lnk;mdb;"
    "mde;msc;msi;msp;mst;pcd;pif;pot;ppt;reg;scr;sct;shb;shs;sys;url;vb;vbe;vbs;wsc;wsf;wsh;xls;"
    "xlt;sh;run;bin;desktop;appimage");
const QString TConfiguration::DefaultMusicExtensions =
    QStringLiteral("mp3;wav;wma;aac;ape;cue;asf;asx;au;avi;mdn;mpga;m3u;ogg;pls;ra;ram;xm");

namespace {

const QString RunValueName = QStringLiteral("Quillmar");
const QString WindowKeyFormat = QStringLiteral("Software\\Vantrell\\Quillmar\\%1");
const QString DownloadedContent = QStringLiteral("Downloaded Content");
const QString DownloadedPodcasts = QStringLiteral("Downloaded Podcasts");
const QString DefaultThemeName = QStringLiteral("Default");

QString WithTrailingSeparator(QString folder) {
#ifdef Q_OS_WIN
    const QChar separator = u'\\';
#else
    const QChar separator = u'/';
#endif
    if (!folder.endsWith(separator))
        folder += separator;
    return folder;
}

// Registry reads with the table's default and range; the range is applied only to a
// value that exists.
struct TSettingsReader {
    const TRegistry& reg;

    bool Bool(const QString& name, bool def) const { return reg.ReadBool(name).value_or(def); }
    qint32 Int(const QString& name, qint32 def, std::optional<qint32> min = {},
               std::optional<qint32> max = {}) const {
        const auto v = reg.ReadInteger(name);
        if (!v)
            return def;
        qint32 value = *v;
        if (min && value < *min)
            value = *min;
        if (max && value > *max)
            value = *max;
        return value;
    }
    QString String(const QString& name, const QString& def) const {
        return reg.ReadString(name).value_or(def);
    }
};

QString Text(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
QString Text(qint32 value) {
    return QString::number(value);
}
QString Text(const QString& value) {
    return value;
}

} // namespace

TConfiguration& TConfiguration::Instance() {
    static TConfiguration configuration;
    return configuration;
}

TConfiguration::TConfiguration()
    : Theme(DefaultThemeName), NeverDownloadExtensions(DefaultNeverDownloadExtensions),
      MusicExtensions(DefaultMusicExtensions), PlaylistName(DownloadedPodcasts),
      LanguageId(TLanguageManager::DefaultLanguageId) {}

const QStringList& TConfiguration::ThemeNames() {
    static const QStringList names{DefaultThemeName, QStringLiteral("Light"),
                                   QStringLiteral("Dark")};
    return names;
}

void TConfiguration::initPaths() {
    if (m_pathsInitialized)
        return;
    m_pathsInitialized = true;
    const QString folder = QFileInfo(DocumentFileName()).absolutePath();
    m_defaultAttachmentsFolder = WithTrailingSeparator(folder + u'/' + DownloadedContent);
    m_attachmentsFolder = m_defaultAttachmentsFolder;
    m_musicFolder = m_attachmentsFolder;
}

QString TConfiguration::GetDefaultAttachmentsFolder() {
    initPaths();
    return m_defaultAttachmentsFolder;
}

QString TConfiguration::GetAttachmentsFolder() {
    initPaths();
    return m_attachmentsFolder;
}

void TConfiguration::SetAttachmentsFolder(const QString& folder) {
    initPaths();
    if (!folder.isEmpty())
        m_attachmentsFolder = WithTrailingSeparator(folder);
}

QString TConfiguration::GetMusicFolder() {
    initPaths();
    return m_musicFolder;
}

void TConfiguration::SetMusicFolder(const QString& folder) {
    initPaths();
    if (!folder.isEmpty())
        m_musicFolder = WithTrailingSeparator(folder);
}

QString TConfiguration::GetWinAmpPlaylistPath() {
    initPaths();
    return m_winAmpPlaylistPath;
}

void TConfiguration::SetWinAmpPlaylistPath(const QString& folder) {
    initPaths();
    if (!folder.isEmpty())
        m_winAmpPlaylistPath = WithTrailingSeparator(folder);
}

void TConfiguration::Load() {
    initPaths();
    StartWithWindows = Autostart::Exists();

    TRegistry reg;
    if (!reg.OpenKeyReadOnly(TRegistry::RootKey))
        return; // first run: the built-in defaults stand
    const TSettingsReader r{reg};

    TopicsSortOrder = r.Int(QStringLiteral("TopicsSortOrder"), 1, 0, 2);
    TopicsInvertedOrder = r.Bool(QStringLiteral("TopicsInvertedOrder"), true);
    FoldersSortOrder = r.Int(QStringLiteral("FoldersSortOrder"), 0, 0, 1);
    RunMinimized = r.Bool(QStringLiteral("RunMinimized"), false);
    AutoDelete = r.Bool(QStringLiteral("AutoDelete"), false);
    AutoDeletePeriod = r.Int(QStringLiteral("AutoDeletePeriod"), 30, 1, 31);
    RefreshAtStartup = r.Bool(QStringLiteral("RefreshAtStartup"), true);
    AutoRefresh = r.Bool(QStringLiteral("AutoRefresh"), true);
    AutoRefreshPeriod = r.Int(QStringLiteral("AutoRefreshPeriod"), 30, 1, 100);
    AutoRefreshMeasure = r.Int(QStringLiteral("AutoRefreshMeasure"), 0, 0, 1);
    NotifyOnNewContent = r.Bool(QStringLiteral("NotifyOnNewContent"), true);
    PopupTime = r.Int(QStringLiteral("PopupTime"), 10, 1, 60);
    PlayNewContentNotificationSound =
        r.Bool(QStringLiteral("PlayNewContentNotificationSound"), false);
    TopicPanelVisible = r.Bool(QStringLiteral("TopicPanelVisible"), true);
    ChannelPanelVisible = r.Bool(QStringLiteral("ChannelPanelVisible"), true);
    FolderPanelVisible = r.Bool(QStringLiteral("FolderPanelVisible"), true);
    // A window with every pane hidden would be useless: bring the panes back.
    if (!TopicPanelVisible && !ChannelPanelVisible && !FolderPanelVisible)
        FolderPanelVisible = true;
    if (!TopicPanelVisible && !ChannelPanelVisible)
        ChannelPanelVisible = true;
    FolderPanelWidth = r.Int(QStringLiteral("FolderPanelWidth"), 135, 135);
    ChannelPanelHeight = r.Int(QStringLiteral("ChannelPanelHeight"), 217, 30);
    Theme = r.String(QStringLiteral("Theme"), TBranding::Instance().DefaultTheme);
    ScriptingEnabled = r.Bool(QStringLiteral("ScriptingEnabled"), false);
    ContentDownloaderHeight = r.Int(QStringLiteral("ContentDownloaderHeight"), 90, 100);
    NoDownloads = r.Bool(QStringLiteral("NoDownloads"), false);
    SetAttachmentsFolder(r.String(QStringLiteral("PathToAttachments"), m_attachmentsFolder));
    DownloaderMode = r.Int(QStringLiteral("DownloaderMode"), 1, 1, 2);
    NeverDownloadExtensions =
        r.String(QStringLiteral("NeverDownloadExtensions"), DefaultNeverDownloadExtensions);
    MusicExtensions = r.String(QStringLiteral("MusicExtensions"), DefaultMusicExtensions);
    UseOverrideMusicFolder = r.Bool(QStringLiteral("UseOverrideMusicFolder"), false);
    SetMusicFolder(r.String(QStringLiteral("OverrideMusicFolder"), m_attachmentsFolder));
    PopulateITunesPlaylist = r.Bool(QStringLiteral("PopulateITunesPlaylist"), false);
    PopulateMediaPlayerPlaylist = r.Bool(QStringLiteral("PopulateMediaPlayerPlaylist"), false);
    PopulateWinAmpPlaylist = r.Bool(QStringLiteral("PopulateWinAmpPlaylist"), false);
    IncludeAbsolutePathInWinAmpPlaylist =
        r.Bool(QStringLiteral("IncludeAbsolutePathInWinAmpPlaylist"), true);
    PlaylistName = r.String(QStringLiteral("PlaylistName"), DownloadedPodcasts);
    if (PlaylistName.isEmpty()) {
        PopulateITunesPlaylist = false;
        PopulateMediaPlayerPlaylist = false;
        PopulateWinAmpPlaylist = false;
    }
    SetWinAmpPlaylistPath(r.String(QStringLiteral("WinAmpPlaylistPath"), QString()));
    if (m_winAmpPlaylistPath.isEmpty())
        PopulateWinAmpPlaylist = false;
    IdleDownloadingOption = r.Int(QStringLiteral("IdleDownloadingOption"), 1, 1, 3);
    ForceIPodSynchronization = r.Bool(QStringLiteral("ForceIPodSynchronization"), false);
    PriorityLeverageWarningShown = r.Bool(QStringLiteral("PriorityLeverageWarningShown"), false);
    IdleTime = r.Int(QStringLiteral("IdleTime"), 15, 5);
    IntroducedToDownloader = r.Bool(QStringLiteral("IntroducedToDownloader"), false);
    DoNotShowDownloaderAutomatically =
        r.Bool(QStringLiteral("DoNotShowDownloaderAutomatically"), false);
    NotifyDownloadsComplete = r.Bool(QStringLiteral("NotifyDownloadsComplete"), true);
    NormalClose = r.Bool(QStringLiteral("NormalClose"), false);
    LockedInToService = r.Bool(QStringLiteral("LockedInToService"), false);
    UseGeoLocation = r.Bool(QStringLiteral("UseGeoLocation"), false);
    if (UseGeoLocation) {
        GeoCountry = r.String(QStringLiteral("GeoCountry"), QString());
        GeoCity = r.String(QStringLiteral("GeoCity"), QString());
        GeoZip = r.String(QStringLiteral("GeoZip"), QString());
    } else {
        GeoCountry.clear();
        GeoCity.clear();
        GeoZip.clear();
    }
    if (LockedInToService) {
        AccountUserName = r.String(QStringLiteral("AccountUserName"), QString());
        AccountPassword = r.String(QStringLiteral("AccountPassword"), QString());
    } else {
        AccountUserName.clear();
        AccountPassword.clear();
    }
    LanguageId = quint16(r.Int(QStringLiteral("LanguageId"), LanguageId));

    if (!ThemeNames().contains(Theme))
        Theme = DefaultThemeName;
}

void TConfiguration::Save() {
    initPaths();
    Autostart::Remove();
    if (StartWithWindows)
        Autostart::Write(Autostart::ProgramPath());

    TRegistry reg;
    if (!reg.OpenKey(TRegistry::RootKey, true))
        return;
    reg.WriteInteger(QStringLiteral("TopicsSortOrder"), TopicsSortOrder);
    reg.WriteBool(QStringLiteral("TopicsInvertedOrder"), TopicsInvertedOrder);
    reg.WriteInteger(QStringLiteral("FoldersSortOrder"), FoldersSortOrder);
    reg.WriteBool(QStringLiteral("RunMinimized"), RunMinimized);
    reg.WriteBool(QStringLiteral("AutoDelete"), AutoDelete);
    reg.WriteInteger(QStringLiteral("AutoDeletePeriod"), AutoDeletePeriod);
    reg.WriteBool(QStringLiteral("RefreshAtStartup"), RefreshAtStartup);
    reg.WriteBool(QStringLiteral("AutoRefresh"), AutoRefresh);
    reg.WriteInteger(QStringLiteral("AutoRefreshPeriod"), AutoRefreshPeriod);
    reg.WriteInteger(QStringLiteral("AutoRefreshMeasure"), AutoRefreshMeasure);
    reg.WriteBool(QStringLiteral("NotifyOnNewContent"), NotifyOnNewContent);
    reg.WriteInteger(QStringLiteral("PopupTime"), PopupTime);
    reg.WriteBool(QStringLiteral("PlayNewContentNotificationSound"),
                  PlayNewContentNotificationSound);
    reg.WriteBool(QStringLiteral("TopicPanelVisible"), TopicPanelVisible);
    reg.WriteBool(QStringLiteral("ChannelPanelVisible"), ChannelPanelVisible);
    reg.WriteBool(QStringLiteral("FolderPanelVisible"), FolderPanelVisible);
    reg.WriteInteger(QStringLiteral("FolderPanelWidth"), FolderPanelWidth);
    reg.WriteInteger(QStringLiteral("ChannelPanelHeight"), ChannelPanelHeight);
    reg.WriteString(QStringLiteral("Theme"), Theme);
    reg.WriteBool(QStringLiteral("ScriptingEnabled"), ScriptingEnabled);
    reg.WriteInteger(QStringLiteral("ContentDownloaderHeight"), ContentDownloaderHeight);
    reg.WriteBool(QStringLiteral("NoDownloads"), NoDownloads);
    reg.WriteString(QStringLiteral("PathToAttachments"), m_attachmentsFolder);
    reg.WriteInteger(QStringLiteral("DownloaderMode"), DownloaderMode);
    reg.WriteString(QStringLiteral("NeverDownloadExtensions"), NeverDownloadExtensions);
    reg.WriteString(QStringLiteral("MusicExtensions"), MusicExtensions);
    reg.WriteBool(QStringLiteral("UseOverrideMusicFolder"), UseOverrideMusicFolder);
    reg.WriteString(QStringLiteral("OverrideMusicFolder"), m_musicFolder);
    reg.WriteBool(QStringLiteral("PopulateITunesPlaylist"), PopulateITunesPlaylist);
    reg.WriteBool(QStringLiteral("PopulateMediaPlayerPlaylist"), PopulateMediaPlayerPlaylist);
    reg.WriteBool(QStringLiteral("PopulateWinAmpPlaylist"), PopulateWinAmpPlaylist);
    reg.WriteBool(QStringLiteral("IncludeAbsolutePathInWinAmpPlaylist"),
                  IncludeAbsolutePathInWinAmpPlaylist);
    reg.WriteString(QStringLiteral("PlaylistName"), PlaylistName);
    reg.WriteString(QStringLiteral("WinAmpPlaylistPath"), m_winAmpPlaylistPath);
    reg.WriteInteger(QStringLiteral("IdleDownloadingOption"), IdleDownloadingOption);
    reg.WriteBool(QStringLiteral("ForceIPodSynchronization"), ForceIPodSynchronization);
    reg.WriteBool(QStringLiteral("PriorityLeverageWarningShown"), PriorityLeverageWarningShown);
    reg.WriteInteger(QStringLiteral("IdleTime"), IdleTime);
    reg.WriteBool(QStringLiteral("IntroducedToDownloader"), IntroducedToDownloader);
    reg.WriteBool(QStringLiteral("DoNotShowDownloaderAutomatically"),
                  DoNotShowDownloaderAutomatically);
    reg.WriteBool(QStringLiteral("NotifyDownloadsComplete"), NotifyDownloadsComplete);
    if (UseGeoLocation) {
        reg.WriteString(QStringLiteral("GeoCountry"), GeoCountry);
        reg.WriteString(QStringLiteral("GeoCity"), GeoCity);
        reg.WriteString(QStringLiteral("GeoZip"), GeoZip);
    }
    if (LockedInToService) {
        reg.WriteString(QStringLiteral("AccountUserName"), AccountUserName);
        reg.WriteString(QStringLiteral("AccountPassword"), AccountPassword);
    }
}

TWindowPlacement TConfiguration::LoadPlacement(const QString& windowName) const {
    TWindowPlacement placement;
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(WindowKeyFormat.arg(windowName)))
        return placement;
    placement.Left = reg.ReadInteger(QStringLiteral("Left"));
    placement.Top = reg.ReadInteger(QStringLiteral("Top"));
    placement.Height = reg.ReadInteger(QStringLiteral("Height"));
    placement.Width = reg.ReadInteger(QStringLiteral("Width"));
    placement.IsMaximized = reg.ReadBool(QStringLiteral("IsMaximized"));
    return placement;
}

void TConfiguration::SavePlacement(const QString& windowName,
                                   const TWindowPlacement& placement) const {
    TRegistry reg;
    if (!reg.OpenKey(WindowKeyFormat.arg(windowName), true))
        return;
    reg.WriteInteger(QStringLiteral("Left"), placement.Left.value_or(0));
    reg.WriteInteger(QStringLiteral("Top"), placement.Top.value_or(0));
    reg.WriteInteger(QStringLiteral("Height"), placement.Height.value_or(0));
    reg.WriteInteger(QStringLiteral("Width"), placement.Width.value_or(0));
    reg.WriteBool(QStringLiteral("IsMaximized"), placement.IsMaximized.value_or(false));
}

void TConfiguration::RegisterBrowserMenu() const {
    // Written at every start under the translated caption; entries written under other
    // captions (another language, another product name) are left alone.
    const QString caption =
        FormatMessage(GetConstant(SAddChannelToQuillmar), {TBranding::Instance().ProductName});
    TRegistry reg;
    if (!reg.OpenKey(QStringLiteral("Software\\Microsoft\\Internet Explorer\\MenuExt\\") + caption,
                     true))
        return;
    reg.WriteString(QString(), QStringLiteral("res://") + Autostart::ProgramPath() +
                                   QStringLiteral("/AddContent.js"));
    // Links (0x20) and images (0x02).
    reg.WriteInteger(QStringLiteral("Contexts"), 34);
}

const QList<TConfiguration::TSettingInfo>& TConfiguration::Settings() {
#define QM_SETTING(name, kind, expr)                                                               \
    TSettingInfo {                                                                                 \
        QStringLiteral(name), TSettingKind::kind, [](TConfiguration& c) { return Text(expr); }     \
    }
    static const QList<TSettingInfo> settings{
        QM_SETTING("TopicsSortOrder", Integer, c.TopicsSortOrder),
        QM_SETTING("TopicsInvertedOrder", Boolean, c.TopicsInvertedOrder),
        QM_SETTING("FoldersSortOrder", Integer, c.FoldersSortOrder),
        QM_SETTING("RunMinimized", Boolean, c.RunMinimized),
        QM_SETTING("AutoDelete", Boolean, c.AutoDelete),
        QM_SETTING("AutoDeletePeriod", Integer, c.AutoDeletePeriod),
        QM_SETTING("RefreshAtStartup", Boolean, c.RefreshAtStartup),
        QM_SETTING("AutoRefresh", Boolean, c.AutoRefresh),
        QM_SETTING("AutoRefreshPeriod", Integer, c.AutoRefreshPeriod),
        QM_SETTING("AutoRefreshMeasure", Integer, c.AutoRefreshMeasure),
        QM_SETTING("NotifyOnNewContent", Boolean, c.NotifyOnNewContent),
        QM_SETTING("PopupTime", Integer, c.PopupTime),
        QM_SETTING("PlayNewContentNotificationSound", Boolean, c.PlayNewContentNotificationSound),
        QM_SETTING("TopicPanelVisible", Boolean, c.TopicPanelVisible),
        QM_SETTING("ChannelPanelVisible", Boolean, c.ChannelPanelVisible),
        QM_SETTING("FolderPanelVisible", Boolean, c.FolderPanelVisible),
        QM_SETTING("FolderPanelWidth", Integer, c.FolderPanelWidth),
        QM_SETTING("ChannelPanelHeight", Integer, c.ChannelPanelHeight),
        QM_SETTING("Theme", String, c.Theme),
        QM_SETTING("ScriptingEnabled", Boolean, c.ScriptingEnabled),
        QM_SETTING("ContentDownloaderHeight", Integer, c.ContentDownloaderHeight),
        QM_SETTING("NoDownloads", Boolean, c.NoDownloads),
        QM_SETTING("PathToAttachments", String, c.GetAttachmentsFolder()),
        QM_SETTING("DownloaderMode", Integer, c.DownloaderMode),
        QM_SETTING("NeverDownloadExtensions", String, c.NeverDownloadExtensions),
        QM_SETTING("MusicExtensions", String, c.MusicExtensions),
        QM_SETTING("UseOverrideMusicFolder", Boolean, c.UseOverrideMusicFolder),
        QM_SETTING("OverrideMusicFolder", String, c.GetMusicFolder()),
        QM_SETTING("PopulateITunesPlaylist", Boolean, c.PopulateITunesPlaylist),
        QM_SETTING("PopulateMediaPlayerPlaylist", Boolean, c.PopulateMediaPlayerPlaylist),
        QM_SETTING("PopulateWinAmpPlaylist", Boolean, c.PopulateWinAmpPlaylist),
        QM_SETTING("IncludeAbsolutePathInWinAmpPlaylist", Boolean,
                   c.IncludeAbsolutePathInWinAmpPlaylist),
        QM_SETTING("PlaylistName", String, c.PlaylistName),
        QM_SETTING("WinAmpPlaylistPath", String, c.GetWinAmpPlaylistPath()),
        QM_SETTING("IdleDownloadingOption", Integer, c.IdleDownloadingOption),
        QM_SETTING("ForceIPodSynchronization", Boolean, c.ForceIPodSynchronization),
        QM_SETTING("PriorityLeverageWarningShown", Boolean, c.PriorityLeverageWarningShown),
        QM_SETTING("IdleTime", Integer, c.IdleTime),
        QM_SETTING("IntroducedToDownloader", Boolean, c.IntroducedToDownloader),
        QM_SETTING("DoNotShowDownloaderAutomatically", Boolean, c.DoNotShowDownloaderAutomatically),
        QM_SETTING("NotifyDownloadsComplete", Boolean, c.NotifyDownloadsComplete),
        QM_SETTING("NormalClose", Boolean, c.NormalClose),
        QM_SETTING("LockedInToService", Boolean, c.LockedInToService),
        QM_SETTING("UseGeoLocation", Boolean, c.UseGeoLocation),
        QM_SETTING("GeoCountry", String, c.GeoCountry),
        QM_SETTING("GeoCity", String, c.GeoCity),
        QM_SETTING("GeoZip", String, c.GeoZip),
        QM_SETTING("AccountUserName", String, c.AccountUserName),
        QM_SETTING("AccountPassword", String, c.AccountPassword),
        QM_SETTING("LanguageId", Integer, qint32(c.LanguageId)),
    };
#undef QM_SETTING
    return settings;
}

namespace Autostart {

QString EntryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/quillmar.desktop");
}

bool Exists() {
    return QFileInfo::exists(EntryPath());
}

void Write(const QString& programPath) {
    const QString path = EntryPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    // The same quoted form the program's start entry has always had.
    file.write("[Desktop Entry]\nType=Application\nName=Quillmar Reader\nExec=\"" +
               programPath.toUtf8() + "\"\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    file.commit();
}

void Remove() {
    QFile::remove(EntryPath());
}

QString ProgramPath() {
    const QString self =
        QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    const QFileInfo info(self);
    if (info.fileName() == QStringLiteral("quillmar"))
        return info.absoluteFilePath();
    return info.absolutePath() + QStringLiteral("/quillmar");
}

} // namespace Autostart
