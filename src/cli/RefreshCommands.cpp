// subscribe and refresh: the refresh cycle of the desktop program, driven from the
// command line. The tool plays the window's part: the status bar and the tree become
// lines on stderr, the popup's lines go to stdout, the add-channel dialog is one
// download of the address given.
#include "CliCommand.h"
#include "StoreAddress.h"
#include "net/RefreshCycle.h"
#include "shell/ReaderConfig.h"
#include "shell/UIUtils.h"

#include <QEventLoop>
#include <QSet>

namespace {

constexpr int UnreadableFeed = 2;

TConfiguration& Configuration() {
    TConfiguration& configuration = TConfiguration::Instance();
    configuration.Load();
    return configuration;
}

bool IsSearchItem(const TFolder& item) {
    return dynamic_cast<const TSearchFolder*>(&item) || dynamic_cast<const TSearchChannel*>(&item);
}

class TCliRefreshHooks : public TRefreshHooks {
public:
    explicit TCliRefreshHooks(TConfiguration& configuration) : m_configuration(configuration) {}

    TFolder* Selected = nullptr;
    QStringList PopupLines;
    QString Error;
    int AddFailureCode = 0; // exit code of a failed add-channel download

    void ShowOperationStatus(const QString&) override {}
    void HideOperationStatus() override {}
    void ShowRefreshChannel(const QString&) override {}
    void SetProgressBar(quint32, quint32) override {}
    void EnableCommands(bool) override {}
    void StopReadTimer() override {}
    TFolder* SelectedFolder() override { return Selected; }
    void FlushTopicIndex() override {}
    void UpdateFolderNodes(TChannel*) override {}
    void ShowSelectedTopic() override {}
    void AddChannelNode(TChannel&) override {}
    void ShowError(const QString& message) override { Error = message; }
    void ClearLines() override { PopupLines.clear(); }
    void AddChannelLine(const QString& title, int count) override {
        PopupLines << PopupChannelLine(title, count);
    }
    void AddFolderChannelLine(const QString& title, const QString& folderTitle,
                              int count) override {
        PopupLines << PopupFolderChannelLine(title, folderTitle, count);
    }
    void SetCloseDelay(int) override {}
    void ShowPopup() override {}
    void PlayNewContentSound() override {}
    QString GetPendingUrl() override { return {}; }
    void AddPendingChannel() override {}
    void ResumeDownloads() override {}
    void RequestBrandedList() override {}

    // The dialog's download: every cache option, no certificate problem accepted, the
    // account's password only when the program is locked in to the service.
    TAddChannelAnswer ExecuteAddChannel(QByteArray& stream) override {
        TAddChannelAnswer answer;
        answer.Address = Address;
        TUniversalDownloader downloader;
        downloader.HttpAuthentication = authCustom;
        downloader.ObjectUri = Address.toUtf8();
        downloader.OnGetCustomHttpCredentials = [&](QString& user, QString& password) {
            if (!m_configuration.LockedInToService)
                return false;
            user = m_configuration.AccountUserName;
            password = m_configuration.AccountPassword;
            answer.UsedAccountCredentials = true;
            return true;
        };
        bool finished = false;
        QEventLoop loop;
        QObject::connect(&downloader, &TUniversalDownloader::DownloadedBytes, &loop,
                         [&](const QByteArray& bytes) { stream += bytes; });
        QObject::connect(&downloader, &TUniversalDownloader::DownloadFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        downloader.Download(); // a blank address raises; an unusable one has finished
        if (!finished)
            loop.exec();
        if (downloader.State() == dsSucceeded) {
            answer.Added = true;
            return answer;
        }
        const bool credentials = downloader.StatusCode() == TUniversalDownloader::kUnauthorizedCode;
        Error = GetConstant(credentials ? SInvalidChannelCredentials : SCannotDownloadChannel);
        if (!credentials) {
            const QString reason =
                downloader.ErrorMessage().isEmpty()
                    ? QStringLiteral("HTTP status %1").arg(downloader.StatusCode())
                    : downloader.ErrorMessage();
            Error += QStringLiteral(" (%1)").arg(reason);
        }
        AddFailureCode = 1;
        stream.clear();
        return answer;
    }

    QString Address; // what subscribe downloads

private:
    TConfiguration& m_configuration;
};

QString OutcomeText(const TChannelOutcome& o) {
    switch (o.Outcome) {
    case TChannelOutcome::Merged:
        return o.NewTopics == 1 ? QStringLiteral("1 new topic")
                                : QStringLiteral("%1 new topics").arg(o.NewTopics);
    case TChannelOutcome::NotModified:
        return QStringLiteral("not modified");
    case TChannelOutcome::Unreadable:
        return QStringLiteral("not a feed (%1)").arg(o.Reason);
    case TChannelOutcome::MergeFailed:
        return QStringLiteral("not merged: %1").arg(o.Reason);
    case TChannelOutcome::Failed:
        return QStringLiteral("failed: %1").arg(o.Reason);
    case TChannelOutcome::NeedsCredentials:
        return QStringLiteral("needs a user name and password");
    case TChannelOutcome::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

// --- subscribe --------------------------------------------------------------------

int Subscribe(CliArgs& args) {
    const std::optional<QString> folderAddress = args.Option(QStringLiteral("--folder"));
    const QString url = args.Positional(1, 1)[0].trimmed();
    if (url.isEmpty())
        throw CliError(QStringLiteral("the channel needs an address"), 2);
    TConfiguration& configuration = Configuration();
    TQuillmarDoc& doc = Document();
    TFolder* folder = folderAddress ? FindTargetFolder(doc, *folderAddress) : doc.Root();

    TCliRefreshHooks hooks(configuration);
    hooks.Selected = folder;
    hooks.Address = url;
    TRefreshCycle cycle(hooks, doc, configuration);
    TChannel* channel = cycle.Subscribe();
    if (!channel) {
        if (hooks.AddFailureCode != 0)
            throw CliError(QStringLiteral("%1: %2").arg(url, hooks.Error), hooks.AddFailureCode);
        throw CliError(QStringLiteral("%1: %2").arg(url, hooks.Error), UnreadableFeed);
    }
    Err() << channel->Title() << ": " << channel->TopicCount
          << (channel->TopicCount == 1 ? " topic\n" : " topics\n");
    for (const QString& line : std::as_const(hooks.PopupLines))
        Out() << line << '\n';
    Out() << QString::fromUtf8(channel->Path()) << '\n';
    return 0;
}

// --- refresh ----------------------------------------------------------------------

int Refresh(CliArgs& args) {
    int window = TFetchAhead::kDefaultWindow;
    if (const auto w = args.Option(QStringLiteral("--window"))) {
        bool ok = false;
        window = w->toInt(&ok);
        if (!ok || window < 1 || window > 64)
            throw CliError(QStringLiteral("--window takes a number from 1 to 64"), 2);
    }
    const int timeoutMs = args.MillisecondsOption(QStringLiteral("--timeout"),
                                                  TUniversalDownloader::kDefaultTimeoutMs);
    const QStringList items = args.Positional(0, 1000000);
    TConfiguration& configuration = Configuration();
    TQuillmarDoc& doc = Document();

    TCliRefreshHooks hooks(configuration);
    TRefreshCycle cycle(hooks, doc, configuration, window);
    cycle.FetchTimeoutMs = timeoutMs;
    if (items.isEmpty()) {
        cycle.QueueAllChannels();
    } else {
        // Each channel once, in the order the items name them.
        QList<TChannel*> channels;
        QSet<TChannel*> seen;
        for (const QString& address : items) {
            TFolder* item = FindItem(doc, address);
            if (IsSearchItem(*item))
                throw CliError(QStringLiteral("\"%1\" is in the search tree; only channels and "
                                              "folders are refreshed")
                                   .arg(address));
            cycle.ClearRefreshQueue();
            if (item->IsChannel())
                cycle.PushChannel(*static_cast<TChannel*>(item));
            else
                cycle.QueueFolderChannels(*item);
            for (TChannel* channel : cycle.Queue())
                if (!seen.contains(channel)) {
                    seen.insert(channel);
                    channels << channel;
                }
        }
        cycle.ClearRefreshQueue();
        for (TChannel* channel : std::as_const(channels))
            cycle.PushChannel(*channel);
    }

    const int total = int(cycle.Queue().size());
    int done = 0, refreshed = 0, failed = 0;
    QEventLoop loop;
    QObject::connect(&cycle, &TRefreshCycle::ChannelRefreshed, &loop,
                     [&](const TChannelOutcome& o) {
                         ++done;
                         if (o.Succeeded())
                             ++refreshed;
                         else
                             ++failed;
                         Err() << '[' << done << '/' << total << "] " << o.Channel->Title() << ": "
                               << OutcomeText(o) << '\n';
                         Err().flush();
                     });
    QObject::connect(&cycle, &TRefreshCycle::RefreshFinished, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    cycle.StartRefresh();
    loop.exec();

    for (const QString& line : std::as_const(hooks.PopupLines))
        Out() << line << '\n';
    Out() << refreshed << " refreshed, " << failed << " failed, " << cycle.UpdatedChannelCount()
          << " updated\n";
    return failed > 0 ? 1 : 0;
}

const CliRegistration regSubscribe{
    {QStringLiteral("subscribe"), QStringLiteral("URL [--folder FOLDER]"),
     QStringLiteral("Download a feed and subscribe to it"),
     QStringLiteral(
         "Downloads URL as the add-channel dialog does, makes a channel for it in FOLDER\n"
         "(the top of the tree when not given), and merges the feed's topics into it.\n"
         "Prints the popup's line when topics were stored, then the channel's storage\n"
         "path. A download that fails exits with 1; a document that is not a readable\n"
         "feed exits with 2 and leaves no channel behind.\n") +
         ItemHelp(),
     &Subscribe}};

const CliRegistration regRefresh{
    {QStringLiteral("refresh"), QStringLiteral("[ITEM...] [--window N] [--timeout SECONDS]"),
     QStringLiteral("Refresh channels from the network"),
     QStringLiteral(
         "Refreshes every channel of the tree in tree order, or the channels of the\n"
         "ITEMs in the order given (a folder stands for its channels and those of its\n"
         "sub-folders, in tree order), merging each feed's new topics. One line per channel goes to stderr; stdout\n"
         "gets the popup's lines (one per channel with new topics) and a final line:\n"
         "  N refreshed, N failed, N updated\n"
         "The exit code is 1 when any channel failed (a download that failed, a password\n"
         "asked for and not available, a document that is not a feed, a merge the\n"
         "document refused).\n\n"
         "Options:\n"
         "  --window N          feeds fetched ahead of the merge (default 6)\n"
         "  --timeout SECONDS   longest silence allowed from a server (default 30)\n\n") +
         ItemHelp(),
     &Refresh}};

} // namespace
