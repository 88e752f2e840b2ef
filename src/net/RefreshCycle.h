#pragma once
// The refresh cycle: which channels are fetched when, one merge after another into the
// store, each channel's refresh state, the count of channels that brought new topics
// and the lines of the new-content popup; and subscribing a new channel, which fetches
// and merges its first copy the same way.
//
// The main window owns one and reaches it through its commands (Refresh,
// RefreshChannel, Stop, Subscribe) and its timers; the cycle reaches the window only
// through TRefreshHooks, so it runs without any window (the command-line tool drives
// it too).
//
// Everything runs on the main thread. Channels are merged strictly in queue order, one
// at a time, each step started from the event loop; the network meanwhile fetches a
// few channels ahead (TFetchAhead), so a long queue is not one round trip after
// another. What anyone can observe (merges, refresh states, the tree's relabelling,
// the popup's lines) happens in queue order all the same.

#include "net/FeedValidators.h"
#include "net/FetchAhead.h"
#include "net/Mutex.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <memory>

class TChannel;
class TConfiguration;
class TFolder;
class TQuillmarDoc;

// What the add-channel dialog answers.
struct TAddChannelAnswer {
    bool Added = false; // a feed was downloaded (into the stream)
    QString Address;    // the address it came from, with credentials if any
    bool UsedAccountCredentials = false;
};

// The window's side of the refresh cycle.
class TRefreshHooks {
public:
    virtual ~TRefreshHooks() = default;

    // --- the status bar ---
    // A long operation begins: three panels, the text in the first, the progress bar
    // shown in the second.
    virtual void ShowOperationStatus(const QString& text) = 0;
    // It ended: the progress bar hidden, back to the single simple panel.
    virtual void HideOperationStatus() = 0;
    // The channel being refreshed, in the third panel.
    virtual void ShowRefreshChannel(const QString& title) = 0;
    // The progress bar: minimum 0, this maximum and position (never above the maximum).
    virtual void SetProgressBar(quint32 position, quint32 maximum) = 0;

    // --- commands and views ---
    // Enables or disables the commands a long operation locks; Stop gets the opposite.
    virtual void EnableCommands(bool enabled) = 0;
    // The topic list's mark-as-read timer.
    virtual void StopReadTimer() = 0;
    // The folder or channel of the selected tree node; null when none is selected.
    virtual TFolder* SelectedFolder() = 0;
    // Saves the selected folder's topic index if the topic list changed it.
    virtual void FlushTopicIndex() = 0;
    // Relabels the tree; reloads the topic list when it shows this channel.
    virtual void UpdateFolderNodes(TChannel* channel) = 0;
    // Renders the selected topic again, or the selected folder's page.
    virtual void ShowSelectedTopic() = 0;
    // A subscribed channel: its node under its folder's, the siblings sorted, the
    // parent expanded.
    virtual void AddChannelNode(TChannel& channel) = 0;
    // An error box with this text.
    virtual void ShowError(const QString& message) = 0;
    // The window that owns the transfer's own dialogs; 0 for none.
    virtual quintptr SecurityWarningParent() { return 0; }

    // --- the new-content popup ---
    virtual void ClearLines() = 0;
    virtual void AddChannelLine(const QString& title, int count) = 0;
    virtual void AddFolderChannelLine(const QString& title, const QString& folderTitle,
                                      int count) = 0;
    virtual void SetCloseDelay(int milliseconds) = 0;
    virtual void ShowPopup() = 0;
    // "NewContent.wav" beside the program, or the system's mail sound.
    virtual void PlayNewContentSound() = 0;

    // --- other parts of the program ---
    // The address handed over to be subscribed (command line, another instance, a
    // link, a drop); empty when none.
    virtual QString GetPendingUrl() = 0;
    // Restores the window and subscribes the pending address.
    virtual void AddPendingChannel() = 0;
    // Lets the attachment downloads go on.
    virtual void ResumeDownloads() = 0;
    // Fetches the distributor's subscription list.
    virtual void RequestBrandedList() = 0;
    // The add-channel dialog: downloads a feed into stream.
    virtual TAddChannelAnswer ExecuteAddChannel(QByteArray& stream) = 0;
};

// How one channel's refresh ended.
struct TChannelOutcome {
    enum Kind {
        Merged,           // downloaded and merged (perhaps with nothing new)
        NotModified,      // the server said the copy we have is current
        Unreadable,       // downloaded, but not a feed we can read
        MergeFailed,      // the store refused the merge; the channel keeps its state
        Failed,           // the download failed
        NeedsCredentials, // the server asked for a password and none was available
        Stopped,          // the refresh was stopped while this channel was fetched
    };
    TChannel* Channel = nullptr;
    Kind Outcome = Merged;
    int NewTopics = 0;
    quint32 StatusCode = 0; // the HTTP status (or the transfer's own code)
    QString Reason;         // why it failed, in words; may be empty

    bool Succeeded() const { return Outcome == Merged || Outcome == NotModified; }
};

// The popup's line texts, from the message table.
QString PopupChannelLine(const QString& title, int count);
QString PopupFolderChannelLine(const QString& title, const QString& folderTitle, int count);

class TRefreshCycle : public QObject {
    Q_OBJECT

public:
    // fetchWindow: how many channels may be fetched ahead of the merge (1: one at a
    // time).
    TRefreshCycle(TRefreshHooks& hooks, TQuillmarDoc& doc, TConfiguration& configuration,
                  int fetchWindow = TFetchAhead::kDefaultWindow, QObject* parent = nullptr);
    ~TRefreshCycle() override;

    // Limits of each feed's transfer (the longest silence of a server, the largest
    // body); set them before the first refresh.
    int FetchTimeoutMs = TUniversalDownloader::kDefaultTimeoutMs;
    qint64 MaxFeedSize = TUniversalDownloader::kDefaultMaxBodySize;

    // --- commands ---
    // Refreshes every channel of the folder tree; nothing while busy.
    void Refresh();
    // Refreshes one channel; nothing while busy.
    void RefreshChannel(TChannel& channel);
    // Stops the running operation: the refresh ends at once, the channel being fetched
    // keeps its state and the rest of the queue is dropped.
    void Stop();
    // The add-channel command: asks the dialog for a feed and subscribes it in the
    // selected folder (the selected channel's folder). The new channel, or null when
    // busy, cancelled or failed (the error was shown and the channel removed again).
    TChannel* Subscribe();

    // --- the queue ---
    // A running refresh owns its queue: these do nothing until it ends.
    void QueueAllChannels();
    // The folder's channels in stored order, then each sub-folder's the same way
    // (depth first). Folders the user deleted from a subscription are skipped.
    void QueueFolderChannels(TFolder& folder);
    void ClearRefreshQueue();
    void PushChannel(TChannel& channel);
    // The channels still waiting, in order.
    QList<TChannel*> Queue() const;
    void StartRefresh();

    // --- the busy bracket ---
    void BeginOperation(const QString& statusText);
    void EndOperation();
    // A long operation runs (the stop event exists).
    bool Busy() const { return m_stopEvent != nullptr; }
    bool Refreshing() const { return m_refreshing; }
    bool ChannelDownloadInFlight() const { return m_current != nullptr; }
    int UpdatedChannelCount() const { return m_updatedChannels; }

    // --- timers ---
    void StartTimers();
    void StopAutoRefresh();
    // The refresh period in milliseconds: AutoRefreshPeriod minutes (measure 0) or
    // hours (measure 1).
    static int AutoRefreshInterval(const TConfiguration& configuration);
    const QTimer& AutoRefreshTimer() const { return m_autoRefreshTimer; }
    const QTimer& AutoDownloadOpmlTimer() const { return m_autoDownloadOpmlTimer; }
    // Fetches the distributor's subscription list, once per run of the program.
    void RequestBrandedList();
    bool BrandedListDone() const { return m_brandedListDone; }
    // Kept by the connectivity monitor.
    void SetOffline(bool offline) { m_offline = offline; }
    bool Offline() const { return m_offline; }

    // Sound and popup for the lines collected.
    void NotifyNewContent();

    TFeedValidators& Validators() { return m_validators; }

signals:
    // A channel's refresh has ended and the tree was relabelled.
    void ChannelRefreshed(const TChannelOutcome& outcome);
    // The refresh has ended (the queue ran out or it was stopped).
    void RefreshFinished();

private:
    void postNext();
    void refreshNextChannel(quint64 cycle);
    void handOverAhead();
    void handOver(TChannel& channel);
    void takeResultIfReady();
    void setRefreshProgress(quint32 position, quint32 maximum);
    void handleResult(TFetchResult result);
    void mergeDownloaded(TChannel& channel, const TFetchResult& result, TChannelOutcome& outcome);
    void mergeInOneOperation(TChannel& channel, const TFetchResult& result,
                             TChannelOutcome& outcome);
    void finishChannel(TChannel& channel, TChannelOutcome& outcome);
    void addPopupLine(TChannel& channel, int count);
    void finishRefresh();
    void saveValidators();
    void configureDownloader(TUniversalDownloader& downloader);
    void autoDownloadOpmlTimerTick();

    struct ChannelRecordState {
        quint8 Status = 0;
        bool UseAccountCredentials = false;
    };
    enum class CredentialsAnswer { Refused, Supplied };

    TRefreshHooks& m_hooks;
    TQuillmarDoc& m_doc;
    TConfiguration& m_configuration;
    TFetchAhead m_fetch;
    TFeedValidators m_validators;
    bool m_validatorsLoaded = false;

    std::deque<TChannel*> m_queue;
    int m_handedOver = 0; // queue entries already given to m_fetch, from the front
    TChannel* m_current = nullptr;
    ChannelRecordState m_currentBefore;
    bool m_currentRecordSaved = false;
    // Questions for credentials asked while a channel was fetched (perhaps ahead of its
    // turn); answered at once, applied to the channel when its turn comes.
    QHash<TChannel*, CredentialsAnswer> m_credentials;

    std::shared_ptr<TNamedEvent> m_stopEvent;
    bool m_refreshing = false;
    quint64 m_cycle = 0; // tells a posted step of an earlier refresh from this one's
    int m_updatedChannels = 0;
    bool m_brandedListDone = false;
    bool m_offline = false;
    QTimer m_autoRefreshTimer;
    QTimer m_autoDownloadOpmlTimer;
};
