#include "UIUtils.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QWriteLocker>
#include <algorithm>

namespace {

// The built-in texts, verbatim: their typos and trailing spaces are what translators
// and existing language files match against.
constexpr TMessageConstant Constants[] = {
    {"SAddChannelToQuillmar", "Add Feed To %s"},
    {"SAddContentTip", "To add feed, right-click over its XML (RSS or Atom) link or image and "
                       "select \"Copy Shortcut\", \"Copy Link Location\" or \"Add Feed To %s\""},
    {"SAttachErrorPlaylistFailed", "Failed to add to playlist."},
    {"SAttachPriorityBlocked", "blocked"},
    {"SAttachPriorityHigh", "high"},
    {"SAttachPriorityNormal", "when idle"},
    {"SAttachTypeMusic", "music"},
    {"SAttachTypeUnknown", "unknown"},
    {"SAttachWasntDownloaded", "n/a"},
    {"SCannotClearAllChannels", "Cannot clear all channels. Please make sure that document file is "
                                "accessible for reading and writing."},
    {"SCannotClearChannel", "Cannot delete all topics. Please make sure that document file is "
                            "accessible for reading and writing."},
    {"SCannotCreateFolder", "Cannot create folder. Please make sure that document file is "
                            "accessible for reading and writing."},
    {"SCannotDeleteChannel", "Cannot delete channel from storage. Please make sure that document "
                             "file is accessible for reading and writing."},
    {"SCannotDeleteFolder", "Cannot delete folder from storage. Please make sure that document "
                            "file is accessible for reading and writing."},
    {"SCannotDeleteTopics", "Cannot delete selected topics. Please make sure that document file is "
                            "accessible for reading and writing."},
    {"SCannotDownloadChannel",
     "Document not found or invalid. Please try again or click on 'Help'"},
    {"SCannotExportChannels", "Error exporting channels"},
    {"SCannotImportChannels", "Error importing channels. OPML file is either broken or not found."},
    {"SCannotLoadTopic", "Cannot load topic description. Please make sure that document file is "
                         "accessible for reading and writing."},
    {"SCannotMarkTopics", "Cannot change topics status. Please make sure that document file is "
                          "accessible for reading and writing."},
    {"SCannotMoveFolder", "Cannot move folder. Please make sure that document file is accessible "
                          "for reading and writing."},
    {"SCannotMoveTopics", "Cannot move topics from \"%s\" to \"%s\". Please make sure that "
                          "document file is accessible for reading and writing."},
    {"SCannotOpenDocumentFile",
     "Cannot open document file. Please make sure it is accessible for reading and writing."},
    {"SCannotParseChannel",
     "Error parsing content channel data. Document is either invalid or unsupported."},
    {"SCannotReadTopicsIndex", "Error reading index of %s channel"},
    {"SCannotRenameFolder", "Cannot rename folder. Please make sure that document file is "
                            "accessible for reading and writing."},
    {"SCannotUpdateTopicsIndex", "Cannot update topics index. Please make sure that document file "
                                 "is accessible for reading and writing."},
    {"SCaptionChangeUnsafe", "Change Unsafe Attacments List"},
    {"SClearAllChannelsPrompt", "Are you sure want to clear all available channels' contents?"},
    {"SClearAllChannelsSuccess", "All channels were successfully cleared"},
    {"SClearChannelPrompt", "Are you sure want to delete all topics?"},
    {"SColumnTopicOrigin", "Topic Origin"},
    {"SConfirmDownloadUnsafe",
     "Downloading attachments qualified as 'unsafe' can be dangerous. Are you sure?"},
    {"SConfirmOpenUnsafe",
     "Opening attachments can be an unsafe operation and may harm your computer. Are you sure?"},
    {"SConfirmUnsafeAttachments", "You are about to change the list of unsafe attachments that can "
                                  "harm your computer. Are you sure?"},
    {"SContentStatusBlocked", "blocked"},
    {"SContentStatusCanceled", "canceled"},
    {"SContentStatusDownloaded", "complete"},
    {"SContentStatusDownloading", "%.1f%%"},
    {"SContentStatusDownloadingNoInfo", "n/a"},
    {"SContentStatusDownloadingNoLength", "%d bytes"},
    {"SContentStatusError", "error"},
    {"SContentStatusPaused", "paused"},
    {"SContentStatusQueued", "queued"},
    {"SCountdown", "This window will close in %d second(s). "},
    {"SCreateFolderCaption", "Create Folder"},
    {"SCreateFolderPrompt", "Enter folder name:"},
    {"SDefaultAttachmentComment", "From %s / %s"},
    {"SDeleteChannelPrompt", "Are you sure want to delete channel \"%s\"?"},
    {"SDeleteFolderPrompt", "Are you sure want to delete selection?"},
    {"SDeleteTopicsPrompt", "Are you sure want to delete selected topics?"},
    {"SDownloaderErrorCannotDownloadToFile",
     "Cannot download file to %s. Please check if selected path is available for writing."},
    {"SDownloaderErrorCannotStartDownloader", "Cannot download %s."},
    {"SDownloaderErrorFileExists", "Destination file already exists. Please use another one."},
    {"SDownloaderErrorFolderNotFound", "Destination folder %s not found. Please use another one."},
    {"SDownloaderErrorRemoteFileDownloadingError",
     "Reader was unable to download remote file %s. Please check if this file exists."},
    {"SDownloadProgressBytes", "Downloaded %d bytes so far..."},
    {"SErrorCantCopyFileToFolder",
     "Failed to move file to %s. Please check if the destination is write-enabled."},
    {"SErrorCantMoveFileToFolder", "Failed to move file to %s"},
    {"SErrorNoFreeSpace", "There's no room for %s"},
    {"SErrorNoMusicExtensions", "Digital music extensions have to be set"},
    {"SErrorPlaylistNameEmpty", "Playlist name cannot be empty"},
    {"SErrorWinampPlaylistPathEmpty", "Path to WinAmp playlist cannot be empty"},
    {"SFileLengthNotAvailable", "n/a"},
    {"SFolderAlreadyExists", "Another folder exists with that name, please try again"},
    {"SInvalidAutoDelPeriod",
     "Invalid value for auto-delete period specified. Check your input, please."},
    {"SInvalidAutoRefreshPeriod",
     "Invalid value for auto-refresh period specified. Check your input, please."},
    {"SInvalidChannelCredentials", "Channel requires valid user name and password."},
    {"SInvalidLimit", "Invalid value for limit specified. Check your input, please."},
    {"SInvalidOpmlCredentials", "Channels list requires valid user name and password."},
    {"SInvalidPopupTime",
     "Invalid value for popup visibility time specified. Check your input, please."},
    {"SNewContentPopupMulti", "%d channel(s) updated"},
    {"SNewContentPopupSingle", "New content: %s"},
    {"SNoUpdates", "You have the latest version of Quillmar Reader, so no updates are required."},
    {"SOpmlDownloadProgress", "Downloaded %d byte(s) so far"},
    {"SOPMLHead", "Channels Exchange"},
    {"SPopupChannelFolderInformation", "%s in %s (%d)"},
    {"SPopupChannelInformation", "%s (%d)"},
    {"SPromptChangeUnsafe", "Please enter new list of unsafe attachmens' extenstions:"},
    {"SPropertiesTitle", "%s - Properties"},
    {"SRefreshingOpmlFeedsList", "Checking subscriptions..."},
    {"SRenameFolderCaption", "Rename Folder"},
    {"SRenameFolderPrompt", "Change folder name:"},
    {"SSelectFolder", "Select the folder"},
    {"SStatusRefreshing", "Refreshing channels..."},
    {"SStatusSearching", "Searching..."},
    {"STrayIconTip", "RSS Reader"},
    {"SQuillmarRootNode", "Quillmar"},
    {"SQuillmarSearchNode", "Search Results"},
    {"SUpdatesCheckFailed", "Quillmar Reader was unable to check for updates. Please check your "
                            "Internet connection or try again later."},
    {"SUpdatesPresent", "A newer version of Quillmar Reader exists. Download the update now?"},
};

struct TUntranslated {
    const char* Window;
    const char* Pattern;
};

// Window properties that keep the form's own value in every language.
constexpr TUntranslated Untranslated[] = {
    {"frmMain", "BannerBig.*"},         {"frmMain", "BannerSmall.*"},
    {"frmMain", "BannerSmallBottom.*"}, {"frmMain", "Browser.*"},
    {"frmMain", "N*.Caption"},          {"frmMain", "TBXSwitcher1.Theme"},
    {"frmPopup", "btnClose.*"},         {"frmPopup", "Caption"},
    {"frmPopup", "lblChannels.*"},      {"frmAbout", "labelVersion.Caption"},
    {"frmAbout", "updatesChecker.*"},
};

// "*" matches any run of characters; case is ignored, as component names ignore it.
bool MatchesPattern(QStringView text, QStringView pattern) {
    qsizetype t = 0, p = 0, starP = -1, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && pattern[p].toCaseFolded() == text[t].toCaseFolded()) {
            ++p;
            ++t;
        } else if (starP >= 0) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

std::span<const TMessageConstant> BuiltInConstants() {
    return Constants;
}

QString LanguageFileTemplate() {
    QString out = QStringLiteral(
        "; Quillmar Reader language file (UTF-8). See docs/language-files.md.\n"
        "; Copy this file next to the program as <Language>.lng, set LANGID to the\n"
        "; language's Windows identifier (e.g. 1031 for German) and translate the texts.\n"
        "; A text runs from after \"=\" to the end of the line, spaces included.\n"
        "; %s, %d and %.1f%% stand for values the program fills in: keep them.\n"
        "; Window texts go into sections named after the window:\n"
        ";   [frmMain]\n"
        ";   actRefresh.Caption=...\n"
        "\n"
        "LANGID=1033\n"
        "Name=English\n"
        "\n"
        "[Constants]\n");
    for (const auto& c : Constants) {
        out += QString::fromUtf8(c.Name) + u'=' + EscapeLanguageText(QString::fromUtf8(c.Text)) +
               u'\n';
    }
    return out;
}

TLanguageManager& TLanguageManager::Instance() {
    static TLanguageManager manager;
    return manager;
}

TLanguageManager::TLanguageManager() {
    resetToBuiltIn();
}

void TLanguageManager::resetToBuiltIn() {
    m_constants.clear();
    m_constants.reserve(std::size(Constants));
    for (const auto& c : Constants)
        m_constants.insert(QString::fromUtf8(c.Name), QString::fromUtf8(c.Text));
    m_windows.clear();
}

QString TLanguageManager::GetConstant(const QString& name) const {
    QReadLocker lock(&m_lock);
    const auto it = m_constants.constFind(name);
    if (it == m_constants.cend())
        throw ELanguageError(QStringLiteral("Constant \"%1\" not found").arg(name));
    return *it;
}

int TLanguageManager::ScanForLanguageFiles(const QString& folder, const QString& mask,
                                           bool recursive) {
    QStringList paths;
    QDirIterator it(folder, {mask}, QDir::Files | QDir::Readable,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext())
        paths << it.next();
    std::sort(paths.begin(), paths.end()); // the same language twice: the first name wins

    QWriteLocker lock(&m_lock);
    int registered = 0;
    for (const QString& path : paths) {
        if (QFileInfo(path).size() > MaxLanguageFileSize)
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const auto content = ParseLanguageFile(file.read(MaxLanguageFileSize + 1));
        if (!content || !content->LanguageId)
            continue; // a file we cannot use is no error for the user
        const quint16 id = *content->LanguageId;
        const bool known = std::any_of(m_files.cbegin(), m_files.cend(),
                                       [&](const auto& f) { return f.LanguageId == id; });
        if (known)
            continue;
        m_files.append({path, id, content->Name});
        ++registered;
    }
    return registered;
}

QList<TLanguageFile> TLanguageManager::LanguageFiles() const {
    QReadLocker lock(&m_lock);
    return m_files;
}

void TLanguageManager::SetLanguage(quint16 languageId) {
    {
        QWriteLocker lock(&m_lock);
        if (languageId == m_languageId)
            return;
        std::optional<TLanguageFileContent> content;
        if (languageId != DefaultLanguageId) {
            for (const auto& f : m_files) {
                if (f.LanguageId != languageId)
                    continue;
                QFile file(f.Path);
                if (file.open(QIODevice::ReadOnly))
                    content = ParseLanguageFile(file.read(MaxLanguageFileSize + 1));
                break;
            }
        }
        const quint16 chosen = content ? languageId : DefaultLanguageId;
        if (chosen == m_languageId)
            return;
        resetToBuiltIn();
        if (content) {
            // Only names of the table: a file for another version may hold more.
            for (auto c = content->Constants.cbegin(); c != content->Constants.cend(); ++c) {
                auto it = m_constants.find(c.key());
                if (it != m_constants.end())
                    *it = c.value();
            }
            m_windows = content->Windows;
        }
        m_languageId = chosen;
    }
    Q_EMIT LanguageChanged();
}

quint16 TLanguageManager::LanguageId() const {
    QReadLocker lock(&m_lock);
    return m_languageId;
}

TWindowTexts TLanguageManager::WindowTranslations(const QString& windowName) const {
    QReadLocker lock(&m_lock);
    TWindowTexts texts = m_windows.value(windowName);
    for (auto it = texts.begin(); it != texts.end();) {
        if (IsTranslatable(windowName, it.key()))
            ++it;
        else
            it = texts.erase(it);
    }
    return texts;
}

bool TLanguageManager::IsTranslatable(const QString& windowName, const QString& property) {
    for (const auto& u : Untranslated) {
        if (windowName.compare(QLatin1String(u.Window), Qt::CaseInsensitive) == 0 &&
            MatchesPattern(property, QString::fromLatin1(u.Pattern)))
            return false;
    }
    return true;
}

QString GetConstant(const QString& name) {
    return TLanguageManager::Instance().GetConstant(name);
}
