#include "RefreshCycle.h"

#include "feeds/ChannelLoader.h"
#include "shell/ReaderBranding.h"
#include "shell/ReaderConfig.h"
#include "shell/SystemCodePage.h"
#include "shell/UIUtils.h"
#include "store/QuillmarDoc.h"

#include <vector>

namespace {

constexpr int kOpmlFirstTryMs = 5000;
constexpr int kOpmlOfflineRetryMs = 10000;

QString ReasonOf(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return QString::fromLocal8Bit(e.what());
}

bool IsSearchItem(const TFolder& item) {
    return dynamic_cast<const TSearchFolder*>(&item) || dynamic_cast<const TSearchChannel*>(&item);
}

} // namespace

QString PopupChannelLine(const QString& title, int count) {
    return FormatMessage(GetConstant(SPopupChannelInformation), {title, count});
}

QString PopupFolderChannelLine(const QString& title, const QString& folderTitle, int count) {
    return FormatMessage(GetConstant(SPopupChannelFolderInformation), {title, folderTitle, count});
}

TRefreshCycle::TRefreshCycle(TRefreshHooks& hooks, TQuillmarDoc& doc, TConfiguration& configuration,
                             int fetchWindow, QObject* parent)
    : QObject(parent), m_hooks(hooks), m_doc(doc), m_configuration(configuration),
      m_fetch(fetchWindow), m_validators(TFeedValidators::FileNameFor(doc.FileName())) {
    m_fetch.OnConfigureDownloader = [this](TUniversalDownloader& d) { configureDownloader(d); };
    connect(&m_fetch, &TFetchAhead::NextResultReady, this, &TRefreshCycle::takeResultIfReady);
    connect(&m_fetch, &TFetchAhead::Progress, this,
            [this](void* channel, quint32 received, quint32 total) {
                // Channels fetched ahead of their turn show nothing: the bar is the
                // current channel's.
                if (channel && channel == m_current)
                    setRefreshProgress(received, total);
            });
    connect(&m_autoRefreshTimer, &QTimer::timeout, this, &TRefreshCycle::Refresh);
    connect(&m_autoDownloadOpmlTimer, &QTimer::timeout, this,
            &TRefreshCycle::autoDownloadOpmlTimerTick);
}

TRefreshCycle::~TRefreshCycle() {
    m_fetch.Stop();
}

void TRefreshCycle::configureDownloader(TUniversalDownloader& d) {
    d.HttpAuthentication = authCustom;
    d.Options = doResynchronize;
    d.TimeoutMs = FetchTimeoutMs;
    d.MaxBodySize = MaxFeedSize;
    // A certificate problem never stops a refresh; the downloader then sends no
    // credentials over that connection.
    d.OnProceedWithInvalidCertificate = [] { return true; };
    d.OnGetSecurityWarningParent = [this] { return m_hooks.SecurityWarningParent(); };
    d.OnGetCustomHttpCredentials = [this, &d](QString& user, QString& password) {
        auto* channel = static_cast<TChannel*>(d.UserData);
        if (!channel)
            return false;
        if (!m_configuration.LockedInToService) {
            m_credentials.insert(channel, CredentialsAnswer::Refused);
            return false;
        }
        user = m_configuration.AccountUserName;
        password = m_configuration.AccountPassword;
        m_credentials.insert(channel, CredentialsAnswer::Supplied);
        return true;
    };
}

// --- commands ---------------------------------------------------------------------

void TRefreshCycle::Refresh() {
    if (Busy())
        return;
    QueueAllChannels();
    StartRefresh();
}

void TRefreshCycle::RefreshChannel(TChannel& channel) {
    if (Busy() || IsSearchItem(channel))
        return;
    ClearRefreshQueue();
    PushChannel(channel);
    StartRefresh();
}

void TRefreshCycle::Stop() {
    if (m_stopEvent)
        m_stopEvent->Set();
    if (!m_refreshing)
        return;
    // The transfers are dropped: the channel being fetched keeps its state, and the
    // rest of the queue waits for the next QueueAllChannels.
    TChannel* channel = m_current;
    m_current = nullptr;
    m_fetch.Stop();
    m_handedOver = 0;
    m_credentials.clear();
    ++m_cycle; // a step already posted belongs to the stopped refresh
    finishRefresh();
    if (channel) {
        m_hooks.UpdateFolderNodes(channel);
        TChannelOutcome outcome;
        outcome.Channel = channel;
        outcome.Outcome = TChannelOutcome::Stopped;
        emit ChannelRefreshed(outcome);
    }
    emit RefreshFinished();
}

TChannel* TRefreshCycle::Subscribe() {
    if (Busy())
        return nullptr;
    TFolder* target = m_hooks.SelectedFolder();
    if (!target)
        target = m_doc.Root();
    if (IsSearchItem(*target))
        return nullptr;
    if (target->IsChannel())
        target = target->Parent() ? target->Parent() : m_doc.Root();

    QByteArray stream;
    StopAutoRefresh();
    TChannel* channel = nullptr;
    const TAddChannelAnswer answer = m_hooks.ExecuteAddChannel(stream);
    if (answer.Added) {
        try {
            int newTopics = 0;
            m_doc.Operation([&] {
                channel = m_doc.CreateChannel(target == m_doc.Root() ? nullptr : target);
                channel->SetUrl(answer.Address);
                channel->UseAccountCredentials = answer.UsedAccountCredentials;
                m_doc.SaveChannel(*channel);
                if (!TChannelLoader::ImportChannel(QByteArrayView(stream), m_doc, *channel,
                                                   newTopics))
                    throw ECannotParseFeed();
                // A feed without items stores no update, which would leave the title
                // and the other properties the import copied in memory only.
                if (newTopics == 0)
                    m_doc.SaveChannel(*channel);
            });
            m_validators.Forget(channel->StorageName());
            if (newTopics > 0) {
                m_hooks.ClearLines();
                addPopupLine(*channel, newTopics);
                NotifyNewContent();
            }
            m_hooks.AddChannelNode(*channel);
            m_hooks.ResumeDownloads();
        } catch (const std::exception&) {
            m_hooks.ShowError(GetConstant(SCannotParseChannel));
            if (channel) {
                try {
                    m_doc.DeleteItem(*channel);
                } catch (const std::exception&) {
                    // The error box has been shown; a half-made channel that cannot be
                    // removed stays in the tree for the user to delete.
                }
            }
            channel = nullptr;
        }
    }
    StartTimers();
    return channel;
}

// --- the queue --------------------------------------------------------------------

void TRefreshCycle::QueueAllChannels() {
    ClearRefreshQueue();
    QueueFolderChannels(*m_doc.Root());
}

void TRefreshCycle::QueueFolderChannels(TFolder& folder) {
    if (m_refreshing)
        return;
    // Depth first without recursion: a folder's channels, then its first sub-folder's
    // channels and sub-folders, then its next sub-folder's.
    std::vector<TFolder*> pending{&folder};
    while (!pending.empty()) {
        TFolder* f = pending.back();
        pending.pop_back();
        if (f->Deleted || IsSearchItem(*f))
            continue;
        for (int i = 0; i < f->ChannelCount(); ++i) {
            TChannel* channel = f->Channels(i);
            if (!channel->Deleted)
                m_queue.push_back(channel);
        }
        for (int i = f->FolderCount() - 1; i >= 0; --i)
            pending.push_back(f->Folders(i));
    }
}

void TRefreshCycle::ClearRefreshQueue() {
    // A running refresh owns its queue; the commands that fill one are locked meanwhile.
    if (m_refreshing)
        return;
    m_queue.clear();
    m_handedOver = 0;
}

void TRefreshCycle::PushChannel(TChannel& channel) {
    if (!m_refreshing && !IsSearchItem(channel))
        m_queue.push_back(&channel);
}

QList<TChannel*> TRefreshCycle::Queue() const {
    return QList<TChannel*>(m_queue.begin(), m_queue.end());
}

void TRefreshCycle::StartRefresh() {
    if (Busy())
        return;
    BeginOperation(GetConstant(SStatusRefreshing));
    m_hooks.EnableCommands(false);
    m_updatedChannels = 0;
    m_hooks.ClearLines();
    m_refreshing = true;
    ++m_cycle;
    if (!m_validatorsLoaded) {
        m_validators.Load();
        m_validatorsLoaded = true;
    }
    handOverAhead();
    postNext();
}

void TRefreshCycle::postNext() {
    const quint64 cycle = m_cycle;
    QMetaObject::invokeMethod(
        this, [this, cycle] { refreshNextChannel(cycle); }, Qt::QueuedConnection);
}

void TRefreshCycle::refreshNextChannel(quint64 cycle) {
    if (cycle != m_cycle || !m_refreshing || m_current)
        return;
    if (m_queue.empty()) {
        finishRefresh();
        emit RefreshFinished();
        return;
    }
    TChannel* channel = m_queue.front();
    m_queue.pop_front();
    if (m_handedOver > 0)
        --m_handedOver;
    else
        handOver(*channel);
    m_hooks.ShowRefreshChannel(channel->Title());
    setRefreshProgress(0, 0);
    m_current = channel;
    m_currentBefore = {channel->Status, channel->UseAccountCredentials};
    m_currentRecordSaved = false;
    handOverAhead();
    // Its result may be there already; it is taken from the event loop all the same.
    QMetaObject::invokeMethod(
        this,
        [this, cycle] {
            if (cycle == m_cycle)
                takeResultIfReady();
        },
        Qt::QueuedConnection);
}

void TRefreshCycle::handOver(TChannel& channel) {
    const QByteArray url = ToSystemCodePage(channel.Url());
    TFetchJob job(url, &channel);
    // A channel without topics (new, cleared, or emptied) takes the whole feed, so that
    // everything it should hold can be stored again.
    if (channel.TopicCount > 0) {
        if (const auto v = m_validators.Find(channel.StorageName(), url)) {
            job.ETag = v->ETag;
            job.LastModified = v->LastModified;
        }
    }
    m_fetch.Enqueue(job);
}

void TRefreshCycle::handOverAhead() {
    while (m_fetch.Pending() < m_fetch.Window() && m_handedOver < int(m_queue.size()))
        handOver(*m_queue[m_handedOver++]);
}

void TRefreshCycle::takeResultIfReady() {
    if (!m_current || !m_fetch.NextReady())
        return;
    handleResult(m_fetch.TakeNext());
}

void TRefreshCycle::setRefreshProgress(quint32 position, quint32 maximum) {
    m_hooks.SetProgressBar(maximum >= position ? position : 0, maximum);
}

// --- one channel ------------------------------------------------------------------

void TRefreshCycle::handleResult(TFetchResult result) {
    TChannel& channel = *m_current;
    TChannelOutcome outcome;
    outcome.Channel = &channel;
    outcome.StatusCode = result.StatusCode;
    outcome.Reason = result.ErrorMessage;

    const auto answer = m_credentials.constFind(&channel);
    const bool refused = answer != m_credentials.cend() && *answer == CredentialsAnswer::Refused;
    if (answer != m_credentials.cend()) {
        if (*answer == CredentialsAnswer::Supplied)
            channel.UseAccountCredentials = true;
        m_credentials.erase(answer);
    }
    if (refused)
        channel.Status = TChannel::StatusNeedsCredentials;

    if (result.Succeeded()) {
        mergeDownloaded(channel, result, outcome);
    } else {
        // Only a password asked for in this download, and not available, makes state 2;
        // any other failure is a failed download, whatever the state was before. A
        // password the transfer kept back (an untrusted certificate, a redirect to
        // another host) was not available either.
        const bool needsCredentials =
            refused || (result.StatusCode == TUniversalDownloader::kUnauthorizedCode &&
                        !result.CredentialsOffered);
        channel.Status =
            needsCredentials ? TChannel::StatusNeedsCredentials : TChannel::StatusFailed;
        outcome.Outcome =
            needsCredentials ? TChannelOutcome::NeedsCredentials : TChannelOutcome::Failed;
        if (outcome.Reason.isEmpty())
            outcome.Reason = QStringLiteral("HTTP status %1").arg(result.StatusCode);
    }
    finishChannel(channel, outcome);
}

void TRefreshCycle::mergeDownloaded(TChannel& channel, const TFetchResult& result,
                                    TChannelOutcome& outcome) {
    if (result.NotModified && !m_configuration.AutoDelete &&
        m_currentBefore.Status == TChannel::StatusOk &&
        channel.UseAccountCredentials == m_currentBefore.UseAccountCredentials) {
        // The copy we have is current and nothing about the channel changes: the file is
        // not even opened.
        m_hooks.FlushTopicIndex();
        channel.Status = TChannel::StatusOk;
        m_currentRecordSaved = true;
        outcome.Outcome = TChannelOutcome::NotModified;
    } else {
        mergeInOneOperation(channel, result, outcome);
    }

    // Only the selected folder keeps its index in memory; the others are read again
    // when they are needed.
    if (m_hooks.SelectedFolder() != &channel)
        channel.ClearTopics(false);

    const QByteArray name = channel.StorageName();
    switch (outcome.Outcome) {
    case TChannelOutcome::Merged:
        m_validators.Remember(name, result.Job.Url, result.ETag, result.LastModified);
        break;
    case TChannelOutcome::NotModified:
        if (!result.ETag.isEmpty() || !result.LastModified.isEmpty()) {
            const auto kept = m_validators.Find(name, result.Job.Url);
            m_validators.Remember(
                name, result.Job.Url, result.ETag.isEmpty() && kept ? kept->ETag : result.ETag,
                result.LastModified.isEmpty() && kept ? kept->LastModified : result.LastModified);
        }
        break;
    default:
        // The next refresh fetches the whole feed and tries the merge again.
        m_validators.Forget(name);
        break;
    }
}

void TRefreshCycle::mergeInOneOperation(TChannel& channel, const TFetchResult& result,
                                        TChannelOutcome& outcome) {
    const bool notModified = result.NotModified;
    const quint8 statusBefore = channel.Status;
    bool readable = true;
    QString failure;
    try {
        m_doc.Operation([&] {
            // An unchanged feed is not merged, so its index is only needed for the
            // auto-delete.
            if (!notModified || m_configuration.AutoDelete)
                m_doc.EnsureIndexLoaded(channel);
            if (m_configuration.AutoDelete)
                m_doc.AutoDeleteOld(channel, qBound(1, m_configuration.AutoDeletePeriod, 31));
            m_hooks.FlushTopicIndex();
            int newTopics = 0;
            if (!notModified)
                readable = TChannelLoader::ImportChannel(QByteArrayView(result.Body), m_doc,
                                                         channel, newTopics, &failure);
            outcome.NewTopics = newTopics;
            if (newTopics > 0) {
                ++m_updatedChannels;
                addPopupLine(channel, newTopics);
            }
            channel.Status = TChannel::StatusOk;
            // The import changed the channel's properties in memory; they and the state
            // are saved in the same commit. An update that stored topics saved them
            // already, and an unchanged feed changed nothing.
            const bool propertiesChanged = !notModified && readable && newTopics == 0;
            if (propertiesChanged || channel.Status != m_currentBefore.Status ||
                channel.UseAccountCredentials != m_currentBefore.UseAccountCredentials) {
                m_doc.SaveChannel(channel);
            }
            m_currentRecordSaved = true;
        });
        outcome.Outcome = notModified ? TChannelOutcome::NotModified
                          : readable  ? TChannelOutcome::Merged
                                      : TChannelOutcome::Unreadable;
        if (!readable)
            outcome.Reason = failure;
    } catch (const std::exception& e) {
        // Whatever went wrong while merging is swallowed: the channel keeps its state and
        // the refresh goes on with the next one. Nothing is shown but the tree.
        channel.Status = statusBefore;
        m_currentRecordSaved = false;
        outcome.Outcome = TChannelOutcome::MergeFailed;
        outcome.Reason = ReasonOf(e);
    }
}

void TRefreshCycle::finishChannel(TChannel& channel, TChannelOutcome& outcome) {
    if (!m_currentRecordSaved &&
        (channel.Status != m_currentBefore.Status ||
         channel.UseAccountCredentials != m_currentBefore.UseAccountCredentials)) {
        try {
            m_doc.SaveChannel(channel);
        } catch (const std::exception&) {
            // The state is kept in memory and saved with the channel's next save; a
            // refresh shows nothing but the tree.
        }
    }
    m_hooks.UpdateFolderNodes(&channel);
    m_current = nullptr;
    emit ChannelRefreshed(outcome);
    postNext();
}

void TRefreshCycle::addPopupLine(TChannel& channel, int count) {
    TFolder* parent = channel.Parent();
    if (parent && parent != m_doc.Root())
        m_hooks.AddFolderChannelLine(channel.Title(), parent->Title(), count);
    else
        m_hooks.AddChannelLine(channel.Title(), count);
}

void TRefreshCycle::finishRefresh() {
    m_refreshing = false;
    EndOperation();
    m_hooks.EnableCommands(true);
    m_current = nullptr;
    if (m_updatedChannels > 0)
        NotifyNewContent();
    if (!m_hooks.GetPendingUrl().isEmpty())
        m_hooks.AddPendingChannel();
    else
        StartTimers();
    m_hooks.ResumeDownloads();
    m_hooks.ShowSelectedTopic();
    saveValidators();
}

void TRefreshCycle::saveValidators() {
    m_validators.Prune([this](const QByteArray& name) {
        const TFolder* item = m_doc.FolderByStorageName(name);
        return item && item->IsChannel();
    });
    try {
        m_validators.Save();
    } catch (const EFeedValidatorsError&) {
        // Without the file every channel is fetched in full next time; nothing is lost.
    }
}

// --- the busy bracket -------------------------------------------------------------

void TRefreshCycle::BeginOperation(const QString& statusText) {
    StopAutoRefresh();
    m_hooks.StopReadTimer();
    m_hooks.ShowOperationStatus(statusText);
    m_stopEvent = TNamedEvent::Open(kStopOperationEventName);
    // A stop request left over from an earlier operation must not stop this one.
    m_stopEvent->Reset();
}

void TRefreshCycle::EndOperation() {
    m_stopEvent.reset();
    m_hooks.HideOperationStatus();
    StartTimers();
}

// --- timers -----------------------------------------------------------------------

int TRefreshCycle::AutoRefreshInterval(const TConfiguration& configuration) {
    const int period = qBound(1, configuration.AutoRefreshPeriod, 100);
    const int seconds = configuration.AutoRefreshMeasure == 1 ? 3600 : 60;
    return period * seconds * 1000;
}

void TRefreshCycle::StartTimers() {
    if (!TBranding::Instance().AutoOpmlUrl.trimmed().isEmpty() && !m_brandedListDone) {
        m_autoDownloadOpmlTimer.setInterval(kOpmlFirstTryMs);
        m_autoDownloadOpmlTimer.start();
    }
    // Started again at the end of every operation, so the period counts from then.
    if (m_configuration.AutoRefresh) {
        m_autoRefreshTimer.setInterval(AutoRefreshInterval(m_configuration));
        m_autoRefreshTimer.start();
    }
}

void TRefreshCycle::StopAutoRefresh() {
    m_autoRefreshTimer.stop();
}

void TRefreshCycle::autoDownloadOpmlTimerTick() {
    if (m_offline) {
        m_autoDownloadOpmlTimer.setInterval(kOpmlOfflineRetryMs);
        return;
    }
    m_autoDownloadOpmlTimer.stop();
    RequestBrandedList();
}

void TRefreshCycle::RequestBrandedList() {
    if (m_brandedListDone)
        return;
    m_brandedListDone = true;
    m_hooks.RequestBrandedList();
}

void TRefreshCycle::NotifyNewContent() {
    if (m_configuration.PlayNewContentNotificationSound)
        m_hooks.PlayNewContentSound();
    if (m_configuration.NotifyOnNewContent) {
        m_hooks.SetCloseDelay(qBound(1, m_configuration.PopupTime, 60) * 1000);
        m_hooks.ShowPopup();
    }
}
