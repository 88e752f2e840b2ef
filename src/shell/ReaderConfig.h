#pragma once
// Every user setting, in memory, persisted in the per-user settings store under
// "Software\Vantrell\Quillmar". Created with built-in defaults at program start, loaded
// once, changed by the dialogs, saved when preferences are confirmed and at exit.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A window's stored placement; a missing value leaves that coordinate alone.
struct TWindowPlacement {
    std::optional<qint32> Left, Top, Height, Width;
    std::optional<bool> IsMaximized;
};

class TConfiguration {
public:
    static TConfiguration& Instance();

    TConfiguration();

    void Load();
    void Save();

    TWindowPlacement LoadPlacement(const QString& windowName) const;
    void SavePlacement(const QString& windowName, const TWindowPlacement& placement) const;

    // Writes the web browser's context-menu entry "Add Feed To <product>".
    void RegisterBrowserMenu() const;

    // The three folders; each getter first derives the defaults from the document
    // file's location. A setter ignores "" and adds the trailing separator.
    QString GetAttachmentsFolder();
    void SetAttachmentsFolder(const QString& folder);
    QString GetMusicFolder();
    void SetMusicFolder(const QString& folder);
    QString GetWinAmpPlaylistPath();
    void SetWinAmpPlaylistPath(const QString& folder);
    QString GetDefaultAttachmentsFolder();

    // Toolbar and menu themes a stored "Theme" may name.
    static const QStringList& ThemeNames();

    // The settings by registry name, for tools that list or change them.
    enum class TSettingKind { Boolean, Integer, String };
    struct TSettingInfo {
        QString Name;
        TSettingKind Kind;
        std::function<QString(TConfiguration&)> Value;
    };
    static const QList<TSettingInfo>& Settings();

    bool StartWithWindows = false;
    bool RunMinimized = false;
    bool AutoDelete = false;
    qint32 AutoDeletePeriod = 30;
    bool RefreshAtStartup = true;
    bool AutoRefresh = true;
    qint32 AutoRefreshPeriod = 30;
    qint32 AutoRefreshMeasure = 0; // 0 minutes, 1 hours
    bool NotifyOnNewContent = true;
    qint32 PopupTime = 10;
    bool PlayNewContentNotificationSound = false;
    qint32 TopicsSortOrder = 1; // 0 title, 1 date, 2 author
    qint32 FoldersSortOrder = 0;
    bool TopicsInvertedOrder = true;
    QString Theme;
    bool ScriptingEnabled = false;
    bool TopicPanelVisible = true;
    bool ChannelPanelVisible = true;
    bool FolderPanelVisible = true;
    qint32 FolderPanelWidth = 135;
    qint32 ChannelPanelHeight = 217;
    qint32 ContentDownloaderHeight = 90;
    bool NoDownloads = false;
    qint32 DownloadSlots = 2; // never stored
    qint32 DownloaderMode = 1;
    QString NeverDownloadExtensions;
    QString MusicExtensions;
    bool UseOverrideMusicFolder = false;
    bool PopulateITunesPlaylist = false;
    bool PopulateMediaPlayerPlaylist = false;
    QString PlaylistName;
    bool PopulateWinAmpPlaylist = false;
    bool IncludeAbsolutePathInWinAmpPlaylist = true;
    bool ForceIPodSynchronization = false;
    qint32 IdleDownloadingOption = 1;
    bool PriorityLeverageWarningShown = false;
    qint32 IdleTime = 15;
    bool IntroducedToDownloader = false;
    bool DoNotShowDownloaderAutomatically = false;
    bool NotifyDownloadsComplete = true;
    bool LockedInToService = false;
    QString AccountUserName;
    QString AccountPassword;
    bool UseGeoLocation = false;
    QString GeoCountry;
    QString GeoCity;
    QString GeoZip;
    quint16 LanguageId;
    bool NormalClose = false;

    static const QString DefaultNeverDownloadExtensions;
    static const QString DefaultMusicExtensions;

private:
    void initPaths();

    bool m_pathsInitialized = false;
    QString m_defaultAttachmentsFolder;
    QString m_attachmentsFolder;
    QString m_musicFolder;
    QString m_winAmpPlaylistPath;
};

// Start with the user's session: on Linux an XDG autostart entry, which exists
// exactly while the setting is on.
namespace Autostart {
QString EntryPath();
bool Exists();
void Write(const QString& programPath);
void Remove();
// The desktop program's executable, also when asked from the command-line tool.
QString ProgramPath();
} // namespace Autostart
