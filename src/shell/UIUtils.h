#pragma once
// The message table: every text the program builds at run time (prompts, errors,
// status texts, column titles) is a named constant with a built-in English text that
// a language file can translate. The language is chosen once, at start-up.
//
//   GetConstant(SCannotOpenDocumentFile)
//   FormatMessage(GetConstant(SPopupChannelInformation), {title, count})

#include "LanguageFile.h"
#include "MessageFormat.h"
#include "shell/Errors.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <span>

QUILLMAR_DECLARE_EXCEPTION(ELanguageError, Exception)

// The constants' names; a misspelt name then fails to compile instead of at run time.
inline constexpr char SAddChannelToQuillmar[] = "SAddChannelToQuillmar";
inline constexpr char SAddContentTip[] = "SAddContentTip";
inline constexpr char SAttachErrorPlaylistFailed[] = "SAttachErrorPlaylistFailed";
inline constexpr char SAttachPriorityBlocked[] = "SAttachPriorityBlocked";
inline constexpr char SAttachPriorityHigh[] = "SAttachPriorityHigh";
inline constexpr char SAttachPriorityNormal[] = "SAttachPriorityNormal";
inline constexpr char SAttachTypeMusic[] = "SAttachTypeMusic";
inline constexpr char SAttachTypeUnknown[] = "SAttachTypeUnknown";
inline constexpr char SAttachWasntDownloaded[] = "SAttachWasntDownloaded";
inline constexpr char SCannotClearAllChannels[] = "SCannotClearAllChannels";
inline constexpr char SCannotClearChannel[] = "SCannotClearChannel";
inline constexpr char SCannotCreateFolder[] = "SCannotCreateFolder";
inline constexpr char SCannotDeleteChannel[] = "SCannotDeleteChannel";
inline constexpr char SCannotDeleteFolder[] = "SCannotDeleteFolder";
inline constexpr char SCannotDeleteTopics[] = "SCannotDeleteTopics";
inline constexpr char SCannotDownloadChannel[] = "SCannotDownloadChannel";
inline constexpr char SCannotExportChannels[] = "SCannotExportChannels";
inline constexpr char SCannotImportChannels[] = "SCannotImportChannels";
inline constexpr char SCannotLoadTopic[] = "SCannotLoadTopic";
inline constexpr char SCannotMarkTopics[] = "SCannotMarkTopics";
inline constexpr char SCannotMoveFolder[] = "SCannotMoveFolder";
inline constexpr char SCannotMoveTopics[] = "SCannotMoveTopics";
inline constexpr char SCannotOpenDocumentFile[] = "SCannotOpenDocumentFile";
inline constexpr char SCannotParseChannel[] = "SCannotParseChannel";
inline constexpr char SCannotReadTopicsIndex[] = "SCannotReadTopicsIndex";
inline constexpr char SCannotRenameFolder[] = "SCannotRenameFolder";
inline constexpr char SCannotUpdateTopicsIndex[] = "SCannotUpdateTopicsIndex";
inline constexpr char SCaptionChangeUnsafe[] = "SCaptionChangeUnsafe";
inline constexpr char SClearAllChannelsPrompt[] = "SClearAllChannelsPrompt";
inline constexpr char SClearAllChannelsSuccess[] = "SClearAllChannelsSuccess";
inline constexpr char SClearChannelPrompt[] = "SClearChannelPrompt";
inline constexpr char SColumnTopicOrigin[] = "SColumnTopicOrigin";
inline constexpr char SConfirmDownloadUnsafe[] = "SConfirmDownloadUnsafe";
inline constexpr char SConfirmOpenUnsafe[] = "SConfirmOpenUnsafe";
inline constexpr char SConfirmUnsafeAttachments[] = "SConfirmUnsafeAttachments";
inline constexpr char SContentStatusBlocked[] = "SContentStatusBlocked";
inline constexpr char SContentStatusCanceled[] = "SContentStatusCanceled";
inline constexpr char SContentStatusDownloaded[] = "SContentStatusDownloaded";
inline constexpr char SContentStatusDownloading[] = "SContentStatusDownloading";
inline constexpr char SContentStatusDownloadingNoInfo[] = "SContentStatusDownloadingNoInfo";
inline constexpr char SContentStatusDownloadingNoLength[] = "SContentStatusDownloadingNoLength";
inline constexpr char SContentStatusError[] = "SContentStatusError";
inline constexpr char SContentStatusPaused[] = "SContentStatusPaused";
inline constexpr char SContentStatusQueued[] = "SContentStatusQueued";
inline constexpr char SCountdown[] = "SCountdown";
inline constexpr char SCreateFolderCaption[] = "SCreateFolderCaption";
inline constexpr char SCreateFolderPrompt[] = "SCreateFolderPrompt";
inline constexpr char SDefaultAttachmentComment[] = "SDefaultAttachmentComment";
inline constexpr char SDeleteChannelPrompt[] = "SDeleteChannelPrompt";
inline constexpr char SDeleteFolderPrompt[] = "SDeleteFolderPrompt";
inline constexpr char SDeleteTopicsPrompt[] = "SDeleteTopicsPrompt";
inline constexpr char SDownloaderErrorCannotDownloadToFile[] =
    "SDownloaderErrorCannotDownloadToFile";
inline constexpr char SDownloaderErrorCannotStartDownloader[] =
    "SDownloaderErrorCannotStartDownloader";
inline constexpr char SDownloaderErrorFileExists[] = "SDownloaderErrorFileExists";
inline constexpr char SDownloaderErrorFolderNotFound[] = "SDownloaderErrorFolderNotFound";
inline constexpr char SDownloaderErrorRemoteFileDownloadingError[] =
    "SDownloaderErrorRemoteFileDownloadingError";
inline constexpr char SDownloadProgressBytes[] = "SDownloadProgressBytes";
inline constexpr char SErrorCantCopyFileToFolder[] = "SErrorCantCopyFileToFolder";
inline constexpr char SErrorCantMoveFileToFolder[] = "SErrorCantMoveFileToFolder";
inline constexpr char SErrorNoFreeSpace[] = "SErrorNoFreeSpace";
inline constexpr char SErrorNoMusicExtensions[] = "SErrorNoMusicExtensions";
inline constexpr char SErrorPlaylistNameEmpty[] = "SErrorPlaylistNameEmpty";
inline constexpr char SErrorWinampPlaylistPathEmpty[] = "SErrorWinampPlaylistPathEmpty";
inline constexpr char SFileLengthNotAvailable[] = "SFileLengthNotAvailable";
inline constexpr char SFolderAlreadyExists[] = "SFolderAlreadyExists";
inline constexpr char SInvalidAutoDelPeriod[] = "SInvalidAutoDelPeriod";
inline constexpr char SInvalidAutoRefreshPeriod[] = "SInvalidAutoRefreshPeriod";
inline constexpr char SInvalidChannelCredentials[] = "SInvalidChannelCredentials";
inline constexpr char SInvalidLimit[] = "SInvalidLimit";
inline constexpr char SInvalidOpmlCredentials[] = "SInvalidOpmlCredentials";
inline constexpr char SInvalidPopupTime[] = "SInvalidPopupTime";
inline constexpr char SNewContentPopupMulti[] = "SNewContentPopupMulti";
inline constexpr char SNewContentPopupSingle[] = "SNewContentPopupSingle";
inline constexpr char SNoUpdates[] = "SNoUpdates";
inline constexpr char SOpmlDownloadProgress[] = "SOpmlDownloadProgress";
inline constexpr char SOPMLHead[] = "SOPMLHead";
inline constexpr char SPopupChannelFolderInformation[] = "SPopupChannelFolderInformation";
inline constexpr char SPopupChannelInformation[] = "SPopupChannelInformation";
inline constexpr char SPromptChangeUnsafe[] = "SPromptChangeUnsafe";
inline constexpr char SPropertiesTitle[] = "SPropertiesTitle";
inline constexpr char SRefreshingOpmlFeedsList[] = "SRefreshingOpmlFeedsList";
inline constexpr char SRenameFolderCaption[] = "SRenameFolderCaption";
inline constexpr char SRenameFolderPrompt[] = "SRenameFolderPrompt";
inline constexpr char SSelectFolder[] = "SSelectFolder";
inline constexpr char SStatusRefreshing[] = "SStatusRefreshing";
inline constexpr char SStatusSearching[] = "SStatusSearching";
inline constexpr char STrayIconTip[] = "STrayIconTip";
inline constexpr char SQuillmarRootNode[] = "SQuillmarRootNode";
inline constexpr char SQuillmarSearchNode[] = "SQuillmarSearchNode";
inline constexpr char SUpdatesCheckFailed[] = "SUpdatesCheckFailed";
inline constexpr char SUpdatesPresent[] = "SUpdatesPresent";

struct TMessageConstant {
    const char* Name;
    const char* Text; // the built-in English text, UTF-8
};

// The 91 constants in the table's order.
std::span<const TMessageConstant> BuiltInConstants();

// A complete language file of the built-in English texts, to translate from.
QString LanguageFileTemplate();

struct TLanguageFile {
    QString Path;
    quint16 LanguageId = 0;
    QString Name;
};

class TLanguageManager : public QObject {
    Q_OBJECT
public:
    // English (United States), the language of the built-in texts.
    static constexpr quint16 DefaultLanguageId = 1033;

    // The one manager of the program, created on first use.
    static TLanguageManager& Instance();

    TLanguageManager();

    // The current text of a constant; an unknown name raises ELanguageError.
    QString GetConstant(const QString& name) const;

    // Registers the files matching mask (e.g. "*.lng") in folder, and in its sub-folders
    // when recursive; answers how many were registered. A malformed file, or one whose
    // LANGID is missing, not a number or 0, is skipped without a word. A second file of
    // a language already registered is skipped too.
    int ScanForLanguageFiles(const QString& folder, const QString& mask, bool recursive);
    QList<TLanguageFile> LanguageFiles() const;

    // Switches the constants and the windows' texts to the language; an identifier
    // without a registered file (or whose file can no longer be read) selects English.
    void SetLanguage(quint16 languageId);
    quint16 LanguageId() const;

    // The current language's texts for a window's components, without the properties
    // that stay untranslated (IsTranslatable). Empty in English.
    TWindowTexts WindowTranslations(const QString& windowName) const;

    // False for the window properties that no language changes: banners, the browser,
    // menu separators and the theme switcher of the main window, the popup's caption,
    // channel list and close button, the About dialog's version and update checker.
    // property is "component.property", or "property" for the window itself.
    static bool IsTranslatable(const QString& windowName, const QString& property);

Q_SIGNALS:
    // The language changed: windows apply WindowTranslations again.
    void LanguageChanged();

private:
    void resetToBuiltIn();

    mutable QReadWriteLock m_lock;
    QHash<QString, QString> m_constants;
    QHash<QString, TWindowTexts> m_windows;
    quint16 m_languageId = DefaultLanguageId;
    QList<TLanguageFile> m_files;
};

// The current text of a constant (TLanguageManager::Instance().GetConstant).
QString GetConstant(const QString& name);
